#include "image/jpeg_markers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Entry {
  std::uint16_t tag, type;
  std::uint32_t count, value;
};

// An APP1 segment's data: "Exif\0\0", a TIFF header of the byte order given whose IFD0 is at
// `ifd` (padding before it), and the entries.
Bytes Exif(bool bigEndian, std::initializer_list<Entry> entries, std::uint32_t ifd = 8) {
  Bytes b = {'E', 'x', 'i', 'f', 0, 0};
  const std::size_t tiff = b.size();
  auto put = [&](std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      b.push_back(static_cast<std::uint8_t>(v >> (bigEndian ? 8 * (bytes - 1 - i) : 8 * i)));
    }
  };
  const std::uint8_t order = bigEndian ? 'M' : 'I';
  b.push_back(order);
  b.push_back(order);
  put(42, 2);
  put(ifd, 4);
  while (b.size() < tiff + ifd && ifd < 64) b.push_back(0);
  put(static_cast<std::uint32_t>(entries.size()), 2);
  for (const Entry& e : entries) {
    put(e.tag, 2);
    put(e.type, 2);
    put(e.count, 4);
    if (e.type == 3) {
      put(e.value, 2);  // a short sits at the start of the value field
      put(0, 2);
    } else {
      put(e.value, 4);
    }
  }
  put(0, 4);  // no next IFD
  return b;
}

TEST(ExifOrientation, ReadsIfd0InEitherByteOrderAndChecksEveryOffset) {
  const Entry width{0x0100, 4, 1, 640};
  struct Case {
    const char* what;
    Bytes segment;
    int orientation;
  } cases[] = {
      {"big-endian short", Exif(true, {{0x0112, 3, 1, 6}}), 6},
      {"little-endian short", Exif(false, {{0x0112, 3, 1, 8}}), 8},
      {"little-endian long", Exif(false, {{0x0112, 4, 1, 3}}), 3},
      {"after another tag, IFD0 further on", Exif(true, {width, {0x0112, 3, 1, 5}}, 20), 5},
      {"no orientation tag", Exif(false, {width}), 0},
      {"a value past 8", Exif(true, {{0x0112, 3, 1, 9}}), 0},
      {"no value", Exif(true, {{0x0112, 3, 0, 6}}), 0},
      {"a type other than short or long", Exif(true, {{0x0112, 2, 1, 6}}), 0},
      {"IFD0 past the end", Exif(true, {{0x0112, 3, 1, 6}}, 0xFFFFFFF0u), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExifOrientation(c.segment.data(), c.segment.size()), c.orientation) << c.what;
  }
  Bytes whole = Exif(false, {width, {0x0112, 3, 1, 6}});
  // Cut anywhere before the orientation entry ends, the segment gives none; never a read past it.
  for (std::size_t size = 0; size + 4 < whole.size(); ++size) {
    const Bytes cut(whole.begin(), whole.begin() + size);
    EXPECT_EQ(ExifOrientation(cut.data(), cut.size()), 0) << size;
  }
  EXPECT_EQ(ExifOrientation(whole.data(), whole.size()), 6);
  // Not EXIF: another APP1 (XMP), a TIFF header of no byte order.
  const std::string xmp = "http://ns.adobe.com/xap/1.0/";
  EXPECT_EQ(ExifOrientation(reinterpret_cast<const std::uint8_t*>(xmp.data()), xmp.size()), 0);
  whole[6] = 'X';
  EXPECT_EQ(ExifOrientation(whole.data(), whole.size()), 0);
}

}  // namespace
}  // namespace zelvo
