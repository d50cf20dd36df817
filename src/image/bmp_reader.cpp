#include "image/bmp_reader.h"

#include <cstdint>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "image/image_formats.h"
#include "platform/file.h"

namespace zelvo {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kLargestHeaderSize = 124;  // BITMAPV5HEADER
// The header area read in one go: the file header, the largest header and a full table.
// Bit-field masks after a 40-byte header (at most 16 bytes) lie inside it as well.
constexpr std::size_t kStagingSize = kFileHeaderSize + kLargestHeaderSize + 256 * 4;
constexpr std::size_t kMaskOffset = kFileHeaderSize + kDibHeaderSize;

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitFields = 3;
constexpr std::uint32_t kBiAlphaBitFields = 6;

// Where the bytes come from: a file (one read per region) or a buffer (the fuzz target).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to n bytes from `offset`; the count read (short at the end) or -1.
  virtual std::int64_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) = 0;
  virtual std::int64_t Size() = 0;
};

class FileSource : public ByteSource {
 public:
  explicit FileSource(ReadOnlyFile* file) : file_(file) {}
  std::int64_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
    if (!file_->Seek(offset)) return -1;
    return file_->Read(out, n);
  }
  std::int64_t Size() override { return file_->Size(); }

 private:
  ReadOnlyFile* file_;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::int64_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
    if (offset >= size_) return 0;
    std::size_t count = std::min<std::uint64_t>(n, size_ - offset);
    if (count > 0) std::memcpy(out, data_ + offset, count);
    return static_cast<std::int64_t>(count);
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(size_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// A file name without an extension is looked for with ".bmp". Empty when the result
// would not fit a path buffer.
std::string PreparePath(const char* path) { return WithDefaultExtension(path); }

// The header area of a file, decoded and checked.
struct BmpLayout {
  DibHeader header;          // the file's values (core headers already converted)
  std::uint8_t table[1024];  // colour table as four-byte entries, zero past the file
  int colorCount = 0;
  std::uint32_t offBits = 0;
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue for bit-field files
  std::uint64_t rows = 0;
  std::uint64_t fileStride = 0;  // bytes of one row as the file stores it
};

bool IsWindowsHeaderSize(std::uint32_t size) {
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// Decodes and checks the header area. False for anything the readers cannot turn into
// a correct picture: such a file is refused like an unreadable one.
bool ParseHeaderArea(const std::uint8_t* staging, std::size_t got, BmpLayout* out) {
  if (got < kFileHeaderSize + 4 || staging[0] != 'B' || staging[1] != 'M') return false;
  out->offBits = LoadU32(staging + 10);
  std::uint32_t headerSize = LoadU32(staging + kFileHeaderSize);
  std::memset(out->table, 0, sizeof out->table);
  DibHeader& h = out->header;
  if (headerSize == kCoreHeaderSize) {
    if (got < kFileHeaderSize + kCoreHeaderSize) return false;
    const std::uint8_t* core = staging + kFileHeaderSize;
    InitDibHeader(&h);
    h.width = LoadU16(core + 4);
    h.height = LoadU16(core + 6);
    h.bitCount = LoadU16(core + 10);
    h.xPelsPerMeter = 3790;
    h.yPelsPerMeter = 3800;
    out->colorCount = DibColorCount(h.bitCount);
    const std::uint8_t* src = core + kCoreHeaderSize;
    for (int i = 0; i < out->colorCount && h.bitCount <= 8; ++i) {
      out->table[i * 4] = src[i * 3];
      out->table[i * 4 + 1] = src[i * 3 + 1];
      out->table[i * 4 + 2] = src[i * 3 + 2];
    }
  } else {
    // OS/2 2.x headers (16 to 64 bytes) share the leading fields; the missing ones are
    // zero. Longer Windows headers are read as their first 40 bytes. Other sizes belong
    // to no known version and are refused.
    if (headerSize < 16 || (headerSize > 64 && headerSize != 108 && headerSize != kLargestHeaderSize)) return false;
    if (got < kFileHeaderSize + headerSize) return false;
    std::uint8_t info[kDibHeaderSize] = {};
    std::memcpy(info, staging + kFileHeaderSize, std::min<std::uint32_t>(headerSize, kDibHeaderSize));
    h = LoadDibHeader(info);
    out->colorCount = DibColorCount(h.bitCount);
    // The table follows the header, whatever its length.
    std::memcpy(out->table, staging + kFileHeaderSize + headerSize, sizeof out->table);
    if (h.clrUsed != 0 && h.clrImportant != 0) {
      for (std::uint32_t i = h.clrUsed; i < 256; ++i) std::memset(out->table + i * 4, 255, 3);
      h.clrUsed = 0;
      h.clrImportant = 0;
    }
    if (h.compression == kBiBitFields || h.compression == kBiAlphaBitFields) {
      // With OS/2 headers compression 3 means Huffman coding, not bit fields.
      if (!IsWindowsHeaderSize(headerSize) || (h.bitCount != 16 && h.bitCount != 32)) return false;
      for (int i = 0; i < 3; ++i) out->masks[i] = LoadU32(staging + kMaskOffset + 4 * i);
    }
  }

  switch (h.bitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default: return false;
  }
  switch (h.compression) {
    case kBiRgb: case kBiBitFields: case kBiAlphaBitFields: break;
    // Run-length data is stored bottom-up only, in its own bit count.
    case kBiRle8: if (h.bitCount != 8 || h.height < 0) return false; break;
    case kBiRle4: if (h.bitCount != 4 || h.height < 0) return false; break;
    default: return false;  // JPEG, PNG, RLE24 and unknown kinds cannot be decoded here
  }
  if (h.width < 0) return false;
  DibGeometry geometry;
  if (!CheckedDibGeometry(h.width, h.height, h.bitCount, &geometry)) return false;
  out->rows = geometry.rows;
  out->fileStride = geometry.stride;
  if (geometry.bytes + DibPixelOffset(h.bitCount) + 1 > kMaxDibBlock) return false;
  return true;
}

bool ReadHeaderArea(ByteSource& source, BmpLayout* layout) {
  std::uint8_t staging[kStagingSize] = {};
  std::int64_t got = source.ReadAt(0, staging, sizeof staging);
  if (got <= 0) return false;
  return ParseHeaderArea(staging, static_cast<std::size_t>(got), layout);
}

PackedDib HeaderOnly(ByteSource& source) {
  BmpLayout layout;
  if (!ReadHeaderArea(source, &layout)) return PackedDib();
  PackedDib dib = PackedDib::Allocate(DibPixelOffset(layout.header.bitCount));
  if (!dib) return dib;
  dib.set_header(layout.header);
  std::memcpy(dib.colors(), layout.table, 4 * static_cast<std::size_t>(layout.colorCount));
  return dib;
}

struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
};

Channel MakeChannel(std::uint32_t mask) {
  Channel c;
  c.mask = mask;
  if (mask == 0) return c;
  while (((mask >> c.shift) & 1u) == 0) ++c.shift;
  std::uint32_t v = mask >> c.shift;
  while (v != 0) {
    ++c.bits;
    v >>= 1;
  }
  return c;
}

// Widens a channel to 8 bits by repeating its bits, so full scale stays full scale.
std::uint8_t Widen(const Channel& c, std::uint32_t pixel) {
  if (c.bits == 0) return 0;
  std::uint32_t v = (pixel & c.mask) >> c.shift;
  if (c.bits >= 8) return static_cast<std::uint8_t>(v >> (c.bits - 8));
  std::uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    int shift = 8 - filled - c.bits;
    out |= shift >= 0 ? v << shift : v >> -shift;
    filled += c.bits;
  }
  return static_cast<std::uint8_t>(out);
}

void FlipRows(std::uint8_t* pixels, std::uint64_t stride, std::uint64_t rows) {
  if (stride == 0) return;  // rows of nothing: a zero-width image may claim 2^31 of them
  for (std::uint64_t top = 0, bottom = rows - 1; rows > 0 && top < bottom; ++top, --bottom) {
    std::swap_ranges(pixels + top * stride, pixels + (top + 1) * stride, pixels + bottom * stride);
  }
}

// How many bytes the file holds from the pixel data on; false when its size is unknown.
bool PixelBytesPresent(ByteSource& source, const BmpLayout& layout, std::uint64_t* present) {
  const std::int64_t fileSize = source.Size();
  if (fileSize < 0) return false;
  *present = static_cast<std::uint64_t>(fileSize) > layout.offBits
                 ? static_cast<std::uint64_t>(fileSize) - layout.offBits : 0;
  return true;
}

// Expands the run-length data after the header area. *cutShort: the file ends before the
// data size its header states.
bool ReadRunLengths(ByteSource& source, const BmpLayout& layout, std::uint8_t* pixels, bool* cutShort) {
  std::uint64_t rest = 0;
  if (!PixelBytesPresent(source, layout, &rest)) return false;
  *cutShort = rest < layout.header.sizeImage;
  rest = std::min<std::uint64_t>(rest, kMaxDibBlock);
  std::vector<std::uint8_t> input;
  try {
    input.resize(static_cast<std::size_t>(rest));
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::int64_t got = source.ReadAt(layout.offBits, input.data(), input.size());
  if (got < 0) return false;
  return layout.header.compression == kBiRle8
             ? ExpandRle8(input.data(), static_cast<std::size_t>(got), pixels, layout.header)
             : ExpandRle4(input.data(), static_cast<std::size_t>(got), pixels, layout.header);
}

// Converts bit-field pixels of any masks into 32-bit blue, green, red, unused rows of
// `stride` bytes. Only the rows the file really holds are staged; pixels past the end of
// a short file stay zero, as in a plain read.
bool ReadBitFieldRows(ByteSource& source, const BmpLayout& layout, std::int32_t width, std::uint64_t stride,
                      std::uint8_t* pixels, bool* cutShort) {
  std::uint64_t present = 0;
  if (!PixelBytesPresent(source, layout, &present)) return false;
  const std::uint64_t wanted = layout.fileStride * layout.rows;
  *cutShort = present < wanted;
  std::vector<std::uint8_t> raw;
  try {
    raw.resize(static_cast<std::size_t>(std::min(wanted, present)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::int64_t got = source.ReadAt(layout.offBits, raw.data(), raw.size());
  if (got < 0) return false;
  const Channel red = MakeChannel(layout.masks[0]);
  const Channel green = MakeChannel(layout.masks[1]);
  const Channel blue = MakeChannel(layout.masks[2]);
  const std::uint64_t bytesPerPixel = layout.header.bitCount / 8;
  const std::uint64_t held = static_cast<std::uint64_t>(got);
  for (std::uint64_t r = 0; width > 0 && r < layout.rows && r * layout.fileStride < held; ++r) {
    const std::uint8_t* in = raw.data() + r * layout.fileStride;
    const std::uint64_t count =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(width), (held - r * layout.fileStride) / bytesPerPixel);
    std::uint8_t* row = pixels + r * stride;
    for (std::uint64_t x = 0; x < count; ++x) {
      std::uint32_t value = layout.header.bitCount == 16 ? LoadU16(in + 2 * x) : LoadU32(in + 4 * x);
      row[4 * x] = Widen(blue, value);
      row[4 * x + 1] = Widen(green, value);
      row[4 * x + 2] = Widen(red, value);
    }
  }
  return true;
}

PackedDib FullImage(ByteSource& source, bool* cutShort) {
  bool shortFile = false;
  if (cutShort == nullptr) cutShort = &shortFile;
  *cutShort = false;
  BmpLayout layout;
  if (!ReadHeaderArea(source, &layout)) return PackedDib();
  DibHeader out = layout.header;
  const std::uint32_t compression = out.compression;
  const bool bitFields = compression == kBiBitFields || compression == kBiAlphaBitFields;
  // Bit fields that already say what a plain 16- or 32-bit image means are passed on;
  // any other layout is converted to 32-bit blue, green, red, unused.
  bool convert = false;
  if (bitFields) {
    const std::uint32_t* m = layout.masks;
    bool plain16 = out.bitCount == 16 && m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F;
    bool plain32 = out.bitCount == 32 && m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF;
    convert = !plain16 && !plain32;
  }
  out.size = kDibHeaderSize;  // the block holds a 40-byte header, whatever the file had
  out.height = static_cast<std::int32_t>(layout.rows);
  out.compression = kBiRgb;
  out.sizeImage = 0;
  if (convert) out.bitCount = 32;
  DibGeometry geometry;
  if (!CheckedDibGeometry(out.width, out.height, out.bitCount, &geometry)) return PackedDib();
  PackedDib dib = PackedDib::Allocate(DibPixelOffset(out.bitCount) + geometry.bytes + 1);
  if (!dib) return dib;
  dib.set_header(out);
  std::memcpy(dib.colors(), layout.table, 4 * static_cast<std::size_t>(layout.colorCount));
  std::uint8_t* pixels = dib.pixels();

  if (compression == kBiRle8 || compression == kBiRle4) {
    // Run-length files are always bottom-up.
    return ReadRunLengths(source, layout, pixels, cutShort) ? std::move(dib) : PackedDib();
  }
  if (!convert) {
    // A short file leaves the rest of the rows zero.
    const std::int64_t got = source.ReadAt(layout.offBits, pixels, static_cast<std::size_t>(geometry.bytes));
    if (got < 0) return PackedDib();
    *cutShort = static_cast<std::uint64_t>(got) < geometry.bytes;
  } else if (!ReadBitFieldRows(source, layout, out.width, geometry.stride, pixels, cutShort)) {
    return PackedDib();
  }
  if (layout.header.height < 0) FlipRows(pixels, geometry.stride, layout.rows);
  return dib;
}

// Pixel area geometry for an expander; false when the header does not suit.
bool RleArea(const DibHeader& header, int bits, std::uint64_t* stride, std::uint64_t* total) {
  DibGeometry geometry;
  if (header.bitCount != bits || header.height < 0) return false;
  if (!CheckedDibGeometry(header.width, header.height, bits, &geometry)) return false;
  *stride = geometry.stride;
  *total = geometry.bytes;
  return true;
}

}  // namespace

bool ExpandRle8(const std::uint8_t* in, std::size_t inLength, std::uint8_t* pixels, const DibHeader& header) {
  std::uint64_t stride = 0;
  std::uint64_t total = 0;
  if (!RleArea(header, 8, &stride, &total)) return false;
  // Pixels the stream never sets are zero.
  std::memset(pixels, 0, static_cast<std::size_t>(total));
  std::uint64_t p = 0;
  std::uint64_t line = 0;
  std::size_t i = 0;
  while (i + 1 < inLength) {
    const std::uint8_t first = in[i];
    const std::uint8_t second = in[i + 1];
    if (first > 0) {
      if (p + first < total) {
        std::memset(pixels + p, second, first);
        p += first;
        i += 2;
        continue;
      }
      std::memset(pixels + p, second, static_cast<std::size_t>(total - p));
      return true;
    }
    if (second == 0) {  // end of line
      ++line;
      std::uint64_t t = line * stride;
      if (t >= total) {  // past the last row: nothing more can be placed
        std::memset(pixels + p, 0, static_cast<std::size_t>(total - p));
        return true;
      }
      if (t > p) std::memset(pixels + p, 0, static_cast<std::size_t>(t - p));
      p = t;
      i += 2;
    } else if (second == 1) {  // end of bitmap
      std::memset(pixels + p, 0, static_cast<std::size_t>(total - p));
      return true;
    } else if (second == 2) {  // delta
      if (i + 3 >= inLength) return true;
      const std::uint64_t dx = in[i + 2];
      const std::uint64_t dy = in[i + 3];
      const std::uint64_t s = dx + dy * stride;
      if (p + s < total) {
        std::memset(pixels + p, 0, static_cast<std::size_t>(s));
        p += s;
        line += dy;
        i += 4;
        continue;
      }
      std::memset(pixels + p, 0, static_cast<std::size_t>(total - p));
      return true;
    } else {  // absolute run, padded to an even length
      const std::size_t m = second;
      const std::size_t available = std::min(m, inLength - (i + 2));
      if (p + m < total && available == m) {
        std::memcpy(pixels + p, in + i + 2, m);
        p += m;
        i += 2 + m + (m & 1);
        continue;
      }
      std::size_t fit = static_cast<std::size_t>(std::min<std::uint64_t>(available, total - p));
      std::memcpy(pixels + p, in + i + 2, fit);
      return true;
    }
  }
  return true;
}

bool ExpandRle4(const std::uint8_t* in, std::size_t inLength, std::uint8_t* pixels, const DibHeader& header) {
  std::uint64_t stride = 0;
  std::uint64_t total = 0;
  if (!RleArea(header, 4, &stride, &total)) return false;
  std::memset(pixels, 0, static_cast<std::size_t>(total));
  const std::uint64_t limit = total * 2;  // pixels (nibbles) in the area
  // A pixel at an even position starts its byte afresh (low nibble cleared); one at an
  // odd position is merged into the low nibble.
  auto put = [pixels](std::uint64_t x, std::uint8_t nibble) {
    std::uint8_t& b = pixels[x / 2];
    if ((x & 1) == 0) {
      b = static_cast<std::uint8_t>(nibble << 4);
    } else {
      b = static_cast<std::uint8_t>(b | nibble);
    }
  };
  std::uint64_t x = 0;
  std::uint64_t line = 0;
  std::size_t i = 0;
  while (i + 1 < inLength) {
    const std::uint8_t first = in[i];
    const std::uint8_t second = in[i + 1];
    if (first > 0) {
      for (unsigned k = 0; k < first; ++k) {
        if (x >= limit) return true;
        put(x++, (k & 1) == 0 ? second >> 4 : second & 0x0F);
      }
      i += 2;
    } else if (second == 0) {  // end of line: the new line's first byte starts clear
      ++line;
      x = 2 * stride * line;
      if (x >= limit) return true;
      pixels[x / 2] = 0;
      i += 2;
    } else if (second == 1) {  // end of bitmap
      return true;
    } else if (second == 2) {  // delta
      if (i + 3 >= inLength) return true;
      x += in[i + 2] + 2 * stride * in[i + 3];
      line += in[i + 3];
      if (x >= limit) return true;
      i += 4;
    } else {  // absolute run: two pixels a byte, data padded to an even byte count
      const std::size_t m = second;
      const std::size_t dataBytes = (m + 1) / 2;
      for (std::size_t k = 0; k < m; ++k) {
        if (x >= limit || i + 2 + k / 2 >= inLength) return true;
        const std::uint8_t data = in[i + 2 + k / 2];
        put(x++, (k & 1) == 0 ? data >> 4 : data & 0x0F);
      }
      i += 2 + dataBytes + (dataBytes & 1);
    }
  }
  return true;
}

PackedDib ReadBmpHeaderFromMemory(const std::uint8_t* data, std::size_t size) {
  MemorySource source(data, size);
  return HeaderOnly(source);
}

PackedDib ReadBmpFromMemory(const std::uint8_t* data, std::size_t size, bool* cutShort) {
  MemorySource source(data, size);
  return FullImage(source, cutShort);
}

bool IsBmpFile(const char* path) {
  std::string prepared = PreparePath(path);
  if (prepared.empty()) return false;
  ReadOnlyFile file(prepared.c_str());
  if (!file.is_open()) return false;
  std::uint8_t staging[kStagingSize];
  std::int64_t got = file.Read(staging, sizeof staging);
  return got > 54 && staging[0] == 'B' && staging[1] == 'M';
}

PackedDib ReadBmpHeader(const char* path) {
  std::string prepared = PreparePath(path);
  if (prepared.empty()) return PackedDib();
  ReadOnlyFile file(prepared.c_str());
  if (!file.is_open()) return PackedDib();
  FileSource source(&file);
  return HeaderOnly(source);
}

PackedDib ReadBmp(const char* path, bool* cutShort) {
  std::string prepared = PreparePath(path);
  if (prepared.empty()) return PackedDib();
  ReadOnlyFile file(prepared.c_str());
  if (!file.is_open()) return PackedDib();
  FileSource source(&file);
  return FullImage(source, cutShort);
}

}  // namespace zelvo
