#include "image/jpeg_markers.h"

#include <cstring>

namespace zelvo {
namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShort = 3;  // TIFF field types the tag comes in
constexpr std::uint16_t kLong = 4;
constexpr std::size_t kIfdEntryBytes = 12;

// The TIFF data inside EXIF, read in its own byte order; every read is bounds-checked.
struct TiffBytes {
  const std::uint8_t* data;
  std::size_t size;
  bool bigEndian;

  bool Has(std::size_t at, std::size_t count) const { return at <= size && count <= size - at; }
  std::uint32_t U16(std::size_t at) const {
    return bigEndian ? std::uint32_t{data[at]} << 8 | data[at + 1] : std::uint32_t{data[at + 1]} << 8 | data[at];
  }
  std::uint32_t U32(std::size_t at) const {
    return bigEndian ? U16(at) << 16 | U16(at + 2) : U16(at + 2) << 16 | U16(at);
  }
};

int OrientationOfEntry(const TiffBytes& tiff, std::size_t entry) {
  const std::uint32_t type = tiff.U16(entry + 2);
  if (tiff.U32(entry + 4) == 0) return 0;  // no value
  // A value of one short or long sits in the entry's own four bytes.
  const std::uint32_t value = type == kShort ? tiff.U16(entry + 8) : type == kLong ? tiff.U32(entry + 8) : 0;
  return value >= 1 && value <= 8 ? static_cast<int>(value) : 0;
}

}  // namespace

bool JpegEndsEarly(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return false;  // not a marker: the decoder judges the file
    const std::uint8_t marker = data[at + 1];
    if (marker == 0xFF) {
      ++at;  // fill byte
      continue;
    }
    if (marker == 0xDA) {
      // Looked for from the end, where a whole file has it: the scan is not read again.
      for (std::size_t i = size - 1; i >= at + 3; --i) {
        if (data[i] == 0xD9 && data[i - 1] == 0xFF) return false;
      }
      return true;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    at += 2 + (std::size_t{data[at + 2]} << 8 | data[at + 3]);
  }
  return false;
}

int ExifOrientation(const std::uint8_t* segment, std::size_t size) {
  constexpr std::size_t kExifHead = 6;
  if (size < kExifHead || std::memcmp(segment, "Exif\0\0", kExifHead) != 0) return 0;
  TiffBytes tiff{segment + kExifHead, size - kExifHead, false};
  if (!tiff.Has(0, 8)) return 0;
  if (std::memcmp(tiff.data, "MM\0*", 4) == 0) {
    tiff.bigEndian = true;
  } else if (std::memcmp(tiff.data, "II*\0", 4) != 0) {
    return 0;
  }
  const std::size_t ifd = tiff.U32(4);
  if (!tiff.Has(ifd, 2)) return 0;
  const std::size_t entries = tiff.U16(ifd);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t entry = ifd + 2 + i * kIfdEntryBytes;
    if (!tiff.Has(entry, kIfdEntryBytes)) return 0;
    if (tiff.U16(entry) == kOrientationTag) return OrientationOfEntry(tiff, entry);
  }
  return 0;
}

}  // namespace zelvo
