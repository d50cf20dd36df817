#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "image/bmp_reader.h"

namespace zelvo {
namespace {

constexpr std::uint8_t kGuard = 0xAB;

DibHeader RleHeader(int width, int height, int bits) {
  DibHeader h;
  InitDibHeader(&h);
  h.width = width;
  h.height = height;
  h.bitCount = static_cast<std::uint16_t>(bits);
  h.compression = bits == 8 ? 1 : 2;
  return h;
}

struct RleCase {
  const char* name;
  int width;
  int height;
  std::vector<std::uint8_t> stream;
  std::vector<std::uint8_t> area;  // the expected pixel area, stride * height bytes
};

// Expands into a zeroed area (as the reader's fresh block is) followed by a guard region
// after its spare byte, so a write past either shows up even without a sanitizer.
std::vector<std::uint8_t> Expand(int bits, const RleCase& c, bool* ok) {
  const std::size_t total = static_cast<std::size_t>(DibStride(c.width, bits)) * c.height;
  std::vector<std::uint8_t> buffer(total + 1 + 16, kGuard);
  std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(total), 0);
  DibHeader h = RleHeader(c.width, c.height, bits);
  *ok = bits == 8 ? ExpandRle8(c.stream.data(), c.stream.size(), buffer.data(), h)
                  : ExpandRle4(c.stream.data(), c.stream.size(), buffer.data(), h);
  for (std::size_t i = total; i < buffer.size(); ++i) {
    EXPECT_EQ(buffer[i], kGuard) << c.name << ": byte " << i << " past the area was written";
  }
  buffer.resize(total);
  return buffer;
}

void RunCases(int bits, const std::vector<RleCase>& cases) {
  for (const auto& c : cases) {
    bool ok = false;
    std::vector<std::uint8_t> area = Expand(bits, c, &ok);
    EXPECT_TRUE(ok) << c.name;
    EXPECT_EQ(area, c.area) << c.name;
  }
}

TEST(Rle8Expander, ExpandsCodesAndStopsAtAreaEnd) {
  RunCases(8, {
      {"run, end of line, end of bitmap", 4, 2, {0x03, 0x41, 0x00, 0x00, 0x00, 0x01},
       {0x41, 0x41, 0x41, 0, 0, 0, 0, 0}},
      {"odd absolute run is padded", 8, 1, {0x00, 0x03, 0x11, 0x22, 0x33, 0x00, 0x02, 0x77, 0x00, 0x01},
       {0x11, 0x22, 0x33, 0x77, 0x77, 0, 0, 0}},
      {"even absolute run is not padded", 8, 1, {0x00, 0x04, 0x11, 0x22, 0x33, 0x44, 0x01, 0x55},
       {0x11, 0x22, 0x33, 0x44, 0x55, 0, 0, 0}},
      {"delta skips pixels and a row", 4, 3, {0x00, 0x02, 0x02, 0x01, 0x01, 0x99},
       {0, 0, 0, 0, 0, 0, 0x99, 0, 0, 0, 0, 0}},
      {"run spills into the next row", 4, 2, {0x06, 0x41, 0x00, 0x01},
       {0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0, 0}},
      {"end of line after a spill moves back to the row start", 4, 3,
       {0x06, 0x41, 0x00, 0x00, 0x01, 0x55, 0x00, 0x00, 0x01, 0x66},
       {0x41, 0x41, 0x41, 0x41, 0x55, 0, 0, 0, 0x66, 0, 0, 0}},
      {"stream without end of bitmap leaves zero", 4, 2, {0x02, 0x07}, {0x07, 0x07, 0, 0, 0, 0, 0, 0}},
      {"end of line after the last row stops", 4, 1, {0x02, 0x11, 0x00, 0x00, 0x00, 0x00, 0x01, 0x22},
       {0x11, 0x11, 0, 0}},
      {"run past the end fills up to the end", 4, 1, {0xFF, 0x33, 0x01, 0x44}, {0x33, 0x33, 0x33, 0x33}},
      {"delta past the end stops", 4, 1, {0x01, 0x05, 0x00, 0x02, 0x00, 0x05, 0x01, 0x22}, {0x05, 0, 0, 0}},
      {"absolute run past the end copies what fits", 4, 1, {0x00, 0x06, 1, 2, 3, 4, 5, 6}, {1, 2, 3, 4}},
      {"absolute run cut by the stream end", 8, 1, {0x00, 0x05, 0x01, 0x02}, {1, 2, 0, 0, 0, 0, 0, 0}},
      {"delta cut by the stream end", 4, 1, {0x01, 0x09, 0x00, 0x02, 0x01}, {0x09, 0, 0, 0}},
      {"odd trailing byte ignored", 4, 1, {0x01, 0x09, 0x03}, {0x09, 0, 0, 0}},
      {"zero height writes nothing", 4, 0, {0x05, 0x09, 0x00, 0x00, 0x00, 0x02, 0x01, 0x01}, {}},
  });
}

TEST(Rle8Expander, RefusesHeadersThatDoNotSuit) {
  const std::vector<std::uint8_t> stream = {0x02, 0x11, 0x00, 0x01};
  std::vector<std::uint8_t> buffer(64, kGuard);
  DibHeader wrongBits = RleHeader(4, 2, 4);
  DibHeader topDown = RleHeader(4, -2, 8);
  DibHeader negativeWidth = RleHeader(-4, 2, 8);
  DibHeader huge = RleHeader(0x7FFFFFFF, 0x7FFFFFFF, 8);
  for (const DibHeader* h : {&wrongBits, &topDown, &negativeWidth, &huge}) {
    EXPECT_FALSE(ExpandRle8(stream.data(), stream.size(), buffer.data(), *h));
  }
  for (std::uint8_t b : buffer) EXPECT_EQ(b, kGuard);
}

TEST(Rle4Expander, ExpandsCodesNibbleByNibble) {
  RunCases(4, {
      {"run of five at an even pixel", 8, 1, {0x05, 0x12}, {0x12, 0x12, 0x10, 0x00}},
      {"run of five at an odd pixel", 8, 1, {0x01, 0x30, 0x05, 0x12}, {0x31, 0x21, 0x21, 0x00}},
      {"run of four at an odd pixel", 8, 1, {0x01, 0x30, 0x04, 0x12}, {0x31, 0x21, 0x20, 0x00}},
      {"absolute run of five takes six bytes", 8, 1, {0x00, 0x05, 0x12, 0x34, 0x50, 0x00, 0x01, 0xF0},
       {0x12, 0x34, 0x5F, 0x00}},
      {"absolute run of four takes four bytes", 8, 1, {0x00, 0x04, 0x12, 0x34, 0x02, 0x77}, {0x12, 0x34, 0x77, 0x00}},
      {"absolute run of three at an odd pixel", 8, 1, {0x01, 0x90, 0x00, 0x03, 0xAB, 0xC0},
       {0x9A, 0xBC, 0x00, 0x00}},
      {"absolute run of four at an odd pixel", 8, 1, {0x01, 0x90, 0x00, 0x04, 0xAB, 0xCD},
       {0x9A, 0xBC, 0xD0, 0x00}},
      {"run spills into the next row", 8, 2, {0x0A, 0x12, 0x00, 0x01},
       {0x12, 0x12, 0x12, 0x12, 0x12, 0x00, 0x00, 0x00}},
      {"end of line clears the spilled row's first byte", 8, 2, {0x0A, 0x12, 0x00, 0x00, 0x00, 0x01},
       {0x12, 0x12, 0x12, 0x12, 0x00, 0x00, 0x00, 0x00}},
      {"delta moves across pixels and rows", 8, 2, {0x00, 0x02, 0x03, 0x01, 0x01, 0x70},
       {0, 0, 0, 0, 0x00, 0x07, 0x00, 0x00}},
      {"end of line after the last row stops", 8, 1, {0x02, 0x11, 0x00, 0x00, 0x02, 0x22}, {0x11, 0, 0, 0}},
      {"run past the end stops at the end", 8, 1, {0xFF, 0x56, 0x02, 0x77}, {0x56, 0x56, 0x56, 0x56}},
      {"delta past the end stops", 8, 1, {0x01, 0x50, 0x00, 0x02, 0x00, 0x03, 0x02, 0x11}, {0x50, 0, 0, 0}},
      {"absolute run past the end stops at the end", 2, 1, {0x00, 0x0A, 1, 2, 3, 4, 5, 6}, {0x01, 0x02, 0x03, 0x04}},
      {"absolute run cut by the stream end", 8, 1, {0x00, 0x07, 0x12}, {0x12, 0, 0, 0}},
      {"stream without end of bitmap leaves zero", 8, 2, {0x03, 0x44}, {0x44, 0x40, 0, 0, 0, 0, 0, 0}},
  });
}

TEST(Rle4Expander, RefusesHeadersThatDoNotSuit) {
  const std::vector<std::uint8_t> stream = {0x02, 0x11, 0x00, 0x01};
  std::vector<std::uint8_t> buffer(64, kGuard);
  DibHeader wrongBits = RleHeader(4, 2, 8);
  DibHeader topDown = RleHeader(4, -2, 4);
  DibHeader negativeWidth = RleHeader(-4, 2, 4);
  DibHeader huge = RleHeader(0x7FFFFFFF, 0x7FFFFFFF, 4);
  for (const DibHeader* h : {&wrongBits, &topDown, &negativeWidth, &huge}) {
    EXPECT_FALSE(ExpandRle4(stream.data(), stream.size(), buffer.data(), *h));
  }
  for (std::uint8_t b : buffer) EXPECT_EQ(b, kGuard);
}

}  // namespace
}  // namespace zelvo
