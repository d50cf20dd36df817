#include "image/bmp_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
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
using BmpStaging = std::uint8_t[kStagingSize];
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

// Decodes and checks the header area. kDamaged for anything the readers cannot turn into a
// correct picture, kTooLarge for a picture no frame may hold.
FrameFailure ParseHeaderArea(const std::uint8_t* staging, std::size_t got, BmpLayout* out) {
  constexpr FrameFailure kDamaged = FrameFailure::kDamaged;
  if (got < kFileHeaderSize + 4 || staging[0] != 'B' || staging[1] != 'M') return kDamaged;
  out->offBits = LoadU32(staging + 10);
  std::uint32_t headerSize = LoadU32(staging + kFileHeaderSize);
  std::memset(out->table, 0, sizeof out->table);
  DibHeader& h = out->header;
  if (headerSize == kCoreHeaderSize) {
    if (got < kFileHeaderSize + kCoreHeaderSize) return kDamaged;
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
    if (headerSize < 16 || (headerSize > 64 && headerSize != 108 && headerSize != kLargestHeaderSize)) return kDamaged;
    if (got < kFileHeaderSize + headerSize) return kDamaged;
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
      if (!IsWindowsHeaderSize(headerSize) || (h.bitCount != 16 && h.bitCount != 32)) return kDamaged;
      for (int i = 0; i < 3; ++i) out->masks[i] = LoadU32(staging + kMaskOffset + 4 * i);
    }
  }

  switch (h.bitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default: return kDamaged;
  }
  switch (h.compression) {
    case kBiRgb: case kBiBitFields: case kBiAlphaBitFields: break;
    // Run-length data is stored bottom-up only, in its own bit count.
    case kBiRle8: if (h.bitCount != 8 || h.height < 0) return kDamaged; break;
    case kBiRle4: if (h.bitCount != 4 || h.height < 0) return kDamaged; break;
    default: return kDamaged;  // JPEG, PNG, RLE24 and unknown kinds cannot be decoded here
  }
  if (h.width < 0 || h.height < -static_cast<std::int64_t>(INT32_MAX)) return kDamaged;
  DibGeometry geometry;
  if (!CheckedDibGeometry(h.width, h.height, h.bitCount, &geometry)) return FrameFailure::kTooLarge;
  out->rows = geometry.rows;
  out->fileStride = geometry.stride;
  if (geometry.bytes + DibPixelOffset(h.bitCount) + 1 > kMaxDibBlock) return FrameFailure::kTooLarge;
  return FrameFailure::kNone;
}

// A failed read of the file, with the system's reason.
FrameRead ReadError() { return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO); }

FrameRead ReadHeaderArea(ByteSource& source, BmpLayout* layout) {
  BmpStaging staging = {};
  errno = 0;
  std::int64_t got = source.ReadAt(0, staging, sizeof staging);
  if (got < 0) return ReadError();
  return FrameRead::Failed(ParseHeaderArea(staging, static_cast<std::size_t>(got), layout));
}

// The header of the block the readers make for `layout` (40 bytes, bottom-up, plain rows;
// bit fields that are not a plain 16- or 32-bit layout become 32-bit blue, green, red,
// unused), whether the rows need that conversion, and the block's size.
struct BlockPlan {
  DibHeader header;
  DibGeometry geometry;
  bool convert = false;
  std::uint64_t bytes = 0;
};

BlockPlan PlanBlock(const BmpLayout& layout) {
  BlockPlan plan;
  DibHeader& out = plan.header;
  out = layout.header;
  if (out.compression == kBiBitFields || out.compression == kBiAlphaBitFields) {
    const std::uint32_t* m = layout.masks;
    const bool plain16 = out.bitCount == 16 && m[0] == 0x7C00 && m[1] == 0x03E0 && m[2] == 0x001F;
    const bool plain32 = out.bitCount == 32 && m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF;
    plan.convert = !plain16 && !plain32;
  }
  out.size = kDibHeaderSize;  // the block holds a 40-byte header, whatever the file had
  out.height = static_cast<std::int32_t>(layout.rows);
  out.compression = kBiRgb;
  out.sizeImage = 0;
  if (plan.convert) out.bitCount = 32;
  // Checked by ParseHeaderArea at the file's bit count; 32 bits a pixel may still pass the limit.
  if (CheckedDibGeometry(out.width, out.height, out.bitCount, &plan.geometry)) {
    plan.bytes = DibPixelOffset(out.bitCount) + plan.geometry.bytes + 1;
  }
  return plan;
}

FrameRead HeaderOnly(ByteSource& source) {
  BmpLayout layout;
  FrameRead read = ReadHeaderArea(source, &layout);
  if (!read) return read;
  read.bytes = PlanBlock(layout).bytes;
  if (read.bytes == 0 || read.bytes > kMaxDibBlock) return FrameRead::Failed(FrameFailure::kTooLarge);
  read.image = PackedDib::Allocate(DibPixelOffset(layout.header.bitCount));
  if (!read.image) return FrameRead::Failed(FrameFailure::kNoMemory);
  read.image.set_header(layout.header);
  std::memcpy(read.image.colors(), layout.table, 4 * static_cast<std::size_t>(layout.colorCount));
  return read;
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

// Reverses the order of `rows` rows of `stride` bytes.
void FlipRows(std::uint8_t* pixels, std::uint64_t stride, std::uint64_t rows) {
  if (stride == 0) return;  // rows of nothing: a zero-width image may claim 2^31 of them
  for (std::uint64_t top = 0, bottom = rows - 1; rows > 0 && top < bottom; ++top, --bottom) {
    std::swap_ranges(pixels + top * stride, pixels + (top + 1) * stride, pixels + bottom * stride);
  }
}

// How many bytes the file holds from the pixel data on.
FrameRead PixelBytesPresent(ByteSource& source, const BmpLayout& layout, std::uint64_t* present) {
  errno = 0;
  const std::int64_t fileSize = source.Size();
  if (fileSize < 0) return ReadError();
  *present = static_cast<std::uint64_t>(fileSize) > layout.offBits
                 ? static_cast<std::uint64_t>(fileSize) - layout.offBits : 0;
  return FrameRead();
}

// `size` bytes from `offset` into a buffer of file data, which the file's size bounds.
FrameRead ReadIntoBuffer(ByteSource& source, std::uint64_t offset, std::uint64_t size, std::vector<std::uint8_t>* out,
                         std::int64_t* got) {
  try {
    out->resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return FrameRead::Failed(FrameFailure::kNoMemory);
  }
  errno = 0;
  *got = source.ReadAt(offset, out->data(), out->size());
  return *got < 0 ? ReadError() : FrameRead();
}

// Expands the run-length data after the header area. *cutShort: the file ends before the
// data size its header states.
FrameRead ReadRunLengths(ByteSource& source, const BmpLayout& layout, std::uint8_t* pixels, bool* cutShort) {
  std::uint64_t rest = 0;
  FrameRead read = PixelBytesPresent(source, layout, &rest);
  if (!read) return read;
  *cutShort = rest < layout.header.sizeImage;
  std::vector<std::uint8_t> input;
  std::int64_t got = 0;
  read = ReadIntoBuffer(source, layout.offBits, std::min<std::uint64_t>(rest, kMaxDibBlock), &input, &got);
  if (!read) return read;
  const bool expanded = layout.header.compression == kBiRle8
                            ? ExpandRle8(input.data(), static_cast<std::size_t>(got), pixels, layout.header)
                            : ExpandRle4(input.data(), static_cast<std::size_t>(got), pixels, layout.header);
  return expanded ? FrameRead() : FrameRead::Failed(FrameFailure::kDamaged);
}

// Converts bit-field pixels of any masks into 32-bit blue, green, red, unused rows of
// `stride` bytes, bottom-up. Only the rows the file really holds are staged; pixels past
// the end of a short file stay zero, as in a plain read.
FrameRead ReadBitFieldRows(ByteSource& source, const BmpLayout& layout, std::int32_t width, std::uint64_t stride,
                           std::uint8_t* pixels, bool* cutShort) {
  std::uint64_t present = 0;
  FrameRead read = PixelBytesPresent(source, layout, &present);
  if (!read) return read;
  const std::uint64_t wanted = layout.fileStride * layout.rows;
  *cutShort = present < wanted;
  std::vector<std::uint8_t> raw;
  std::int64_t got = 0;
  read = ReadIntoBuffer(source, layout.offBits, std::min(wanted, present), &raw, &got);
  if (!read) return read;
  const Channel red = MakeChannel(layout.masks[0]);
  const Channel green = MakeChannel(layout.masks[1]);
  const Channel blue = MakeChannel(layout.masks[2]);
  const std::uint64_t bytesPerPixel = layout.header.bitCount / 8;
  const std::uint64_t held = static_cast<std::uint64_t>(got);
  for (std::uint64_t r = 0; width > 0 && r < layout.rows && r * layout.fileStride < held; ++r) {
    const std::uint8_t* in = raw.data() + r * layout.fileStride;
    const std::uint64_t count =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(width), (held - r * layout.fileStride) / bytesPerPixel);
    std::uint8_t* row = pixels + (layout.header.height < 0 ? layout.rows - 1 - r : r) * stride;
    for (std::uint64_t x = 0; x < count; ++x) {
      std::uint32_t value = layout.header.bitCount == 16 ? LoadU16(in + 2 * x) : LoadU32(in + 4 * x);
      row[4 * x] = Widen(blue, value);
      row[4 * x + 1] = Widen(green, value);
      row[4 * x + 2] = Widen(red, value);
    }
  }
  return FrameRead();
}

// Plain rows straight into the block. The rows a short file lacks stay as the zeroed block
// left them and are never touched, so that a file far shorter than its header claims
// costs memory for what it holds, not for what it claims: a top-down file's rows are read
// into the last rows of the block, in file order, and only those are put upside down.
FrameRead ReadPlainRows(ByteSource& source, const BmpLayout& layout, const DibGeometry& geometry,
                        std::uint64_t present, std::uint8_t* pixels, bool* cutShort) {
  const std::uint64_t wanted = std::min(present, geometry.bytes);
  const bool topDown = layout.header.height < 0;
  const std::uint64_t rowsHeld = geometry.stride == 0 ? 0 : (wanted + geometry.stride - 1) / geometry.stride;
  std::uint8_t* into = topDown ? pixels + (geometry.rows - rowsHeld) * geometry.stride : pixels;
  errno = 0;
  const std::int64_t got = source.ReadAt(layout.offBits, into, static_cast<std::size_t>(wanted));
  if (got < 0) return ReadError();
  *cutShort = static_cast<std::uint64_t>(got) < geometry.bytes;
  if (topDown) FlipRows(into, geometry.stride, rowsHeld);
  return FrameRead();
}

FrameRead FullImage(ByteSource& source, FrameBudget* budget) {
  BmpLayout layout;
  FrameRead read = ReadHeaderArea(source, &layout);
  if (!read) return read;
  const BlockPlan plan = PlanBlock(layout);
  if (plan.bytes == 0 || plan.bytes > kMaxDibBlock) return FrameRead::Failed(FrameFailure::kTooLarge);
  read.bytes = plan.bytes;
  if (budget != nullptr && !budget->Reserve(plan.bytes)) return FrameRead::Failed(FrameFailure::kNoMemory);
  std::uint64_t present = 0;
  read = PixelBytesPresent(source, layout, &present);
  if (!read) return read;
  read.bytes = plan.bytes;
  const std::uint32_t compression = layout.header.compression;
  const bool plainRows = compression != kBiRle8 && compression != kBiRle4 && !plan.convert;
  // A file that holds every row overwrites the whole pixel area: its block need not be
  // zeroed first. Any other starts zeroed (pages the system zeroes when first touched).
  const bool complete = plainRows && present >= plan.geometry.bytes;
  read.image = complete ? PackedDib::AllocateForOverwrite(plan.bytes) : PackedDib::Allocate(plan.bytes);
  if (!read.image) return FrameRead::Failed(FrameFailure::kNoMemory);
  PackedDib& dib = read.image;
  dib.set_header(plan.header);
  std::memcpy(dib.colors(), layout.table, 4 * static_cast<std::size_t>(layout.colorCount));
  std::uint8_t* pixels = dib.pixels();
  if (complete) pixels[plan.geometry.bytes] = 0;  // the slack byte after the rows
  FrameRead filled;
  if (!plainRows && !plan.convert) {
    filled = ReadRunLengths(source, layout, pixels, &read.cutShort);  // always bottom-up
  } else if (plan.convert) {
    filled = ReadBitFieldRows(source, layout, plan.header.width, plan.geometry.stride, pixels, &read.cutShort);
  } else {
    filled = ReadPlainRows(source, layout, plan.geometry, present, pixels, &read.cutShort);
  }
  if (!filled) return filled;
  return read;
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
  // Pixels the stream skips are zero. The area arrives zeroed, so only what was written
  // before (below `high`) needs clearing: a short stream that claims a huge area never
  // touches the memory it does not fill.
  std::uint64_t high = 0;
  auto clear = [&](std::uint64_t from, std::uint64_t to) {
    if (from < high) std::memset(pixels + from, 0, static_cast<std::size_t>(std::min(to, high) - from));
  };
  auto fill = [&](std::uint64_t from, std::uint8_t value, std::uint64_t count) {
    std::memset(pixels + from, value, static_cast<std::size_t>(count));
    high = std::max(high, from + count);
  };
  std::uint64_t p = 0;
  std::uint64_t line = 0;
  std::size_t i = 0;
  while (i + 1 < inLength) {
    const std::uint8_t first = in[i];
    const std::uint8_t second = in[i + 1];
    if (first > 0) {
      if (p + first < total) {
        fill(p, second, first);
        p += first;
        i += 2;
        continue;
      }
      fill(p, second, total - p);
      return true;
    }
    if (second == 0) {  // end of line
      ++line;
      std::uint64_t t = line * stride;
      if (t >= total) {  // past the last row: nothing more can be placed
        clear(p, total);
        return true;
      }
      if (t > p) clear(p, t);
      p = t;
      i += 2;
    } else if (second == 1) {  // end of bitmap
      clear(p, total);
      return true;
    } else if (second == 2) {  // delta
      if (i + 3 >= inLength) return true;
      const std::uint64_t dx = in[i + 2];
      const std::uint64_t dy = in[i + 3];
      const std::uint64_t s = dx + dy * stride;
      if (p + s < total) {
        clear(p, p + s);
        p += s;
        line += dy;
        i += 4;
        continue;
      }
      clear(p, total);
      return true;
    } else {  // absolute run, padded to an even length
      const std::size_t m = second;
      const std::size_t available = std::min(m, inLength - (i + 2));
      if (p + m < total && available == m) {
        std::memcpy(pixels + p, in + i + 2, m);
        high = std::max<std::uint64_t>(high, p + m);
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
  const std::uint64_t limit = total * 2;  // pixels (nibbles) in the area
  std::uint64_t high = 0;                 // bytes at or past it were never written: still zero
  // A pixel at an even position starts its byte afresh (low nibble cleared); one at an
  // odd position is merged into the low nibble.
  auto put = [pixels, &high](std::uint64_t x, std::uint8_t nibble) {
    std::uint8_t& b = pixels[x / 2];
    if ((x & 1) == 0) {
      b = static_cast<std::uint8_t>(nibble << 4);
    } else {
      b = static_cast<std::uint8_t>(b | nibble);
    }
    high = std::max(high, x / 2 + 1);
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
      if (x / 2 < high) pixels[x / 2] = 0;
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
  return HeaderOnly(source).image;
}

PackedDib ReadBmpFromMemory(const std::uint8_t* data, std::size_t size, bool* cutShort) {
  MemorySource source(data, size);
  FrameRead read = FullImage(source, nullptr);
  if (cutShort != nullptr) *cutShort = read.cutShort;
  return std::move(read.image);
}

bool IsBmpHead(const std::uint8_t* head, std::size_t size) { return size > 54 && head[0] == 'B' && head[1] == 'M'; }

bool IsBmpFile(const char* path) {
  const std::string named = WithDefaultExtension(path);
  ReadOnlyFile file;
  if (named.empty() || !file.Open(named.c_str())) return false;
  std::uint8_t head[kSignatureBytes];
  const std::int64_t got = file.Read(head, sizeof head);
  return got > 0 && IsBmpHead(head, static_cast<std::size_t>(got));
}

FrameRead ReadBmpFile(ReadOnlyFile& file, bool headerOnly, FrameBudget* budget) {
  FileSource source(&file);
  return headerOnly ? HeaderOnly(source) : FullImage(source, budget);
}

namespace {

FrameRead ReadBmpPath(const char* path, bool headerOnly) {
  const std::string named = WithDefaultExtension(path);
  ReadOnlyFile file;
  if (named.empty() || !file.Open(named.c_str())) return FrameRead::Failed(FrameFailure::kUnreadable);
  return ReadBmpFile(file, headerOnly, nullptr);
}

}  // namespace

PackedDib ReadBmpHeader(const char* path) { return ReadBmpPath(path, true).image; }

PackedDib ReadBmp(const char* path, bool* cutShort) {
  FrameRead read = ReadBmpPath(path, false);
  if (cutShort != nullptr) *cutShort = read.cutShort;
  return std::move(read.image);
}

}  // namespace zelvo
