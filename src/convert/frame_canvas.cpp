#include "convert/frame_canvas.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zelvo {

std::uint64_t CanvasStride(std::int64_t width) {
  if (width <= 0) return 0;
  return ((static_cast<std::uint64_t>(width) * 24 + 31) / 32) * 4;
}

bool FrameCanvas::Create(int width, int height) {
  Reset();
  if (width <= 0 || height <= 0) return false;
  const std::uint64_t stride = CanvasStride(width);
  const std::uint64_t total = stride * static_cast<std::uint64_t>(height);
  if (stride > kMaxDibBlock || total > kMaxDibBlock) return false;
  try {
    bits_.assign(static_cast<std::size_t>(total), 0);
  } catch (const std::bad_alloc&) {
    Reset();
    return false;
  }
  width_ = width;
  height_ = height;
  stride_ = static_cast<std::size_t>(stride);
  return true;
}

void FrameCanvas::Reset() {
  std::vector<std::uint8_t>().swap(bits_);
  width_ = 0;
  height_ = 0;
  stride_ = 0;
}

namespace {

// The 5-bit channel scaled to 0..255 by repeating its top bits in the low ones, so 0
// stays black and 31 becomes full 255, as GDI reads a 5-5-5 DIB.
inline std::uint8_t Widen5(unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); }

// One source row of `count` pixels into BGR triples.
void ConvertRow(const std::uint8_t* src, std::uint8_t* dst, int count, int bits,
                const std::uint8_t* table) {
  switch (bits) {
    case 1:
    case 2:
    case 4:
    case 8: {
      const int perByte = 8 / bits;
      const unsigned mask = (1u << bits) - 1;
      for (int x = 0; x < count; ++x) {
        const int shift = 8 - bits * (x % perByte + 1);
        const unsigned index = (src[x / perByte] >> shift) & mask;
        const std::uint8_t* entry = table + 4 * index;
        dst[0] = entry[0];
        dst[1] = entry[1];
        dst[2] = entry[2];
        dst += 3;
      }
      break;
    }
    case 16:
      for (int x = 0; x < count; ++x) {
        const unsigned v = src[2 * x] | (static_cast<unsigned>(src[2 * x + 1]) << 8);
        dst[0] = Widen5(v & 0x1f);
        dst[1] = Widen5((v >> 5) & 0x1f);
        dst[2] = Widen5((v >> 10) & 0x1f);
        dst += 3;
      }
      break;
    case 24:
      std::memcpy(dst, src, static_cast<std::size_t>(count) * 3);
      break;
    case 32:
      for (int x = 0; x < count; ++x) {
        dst[0] = src[4 * x];
        dst[1] = src[4 * x + 1];
        dst[2] = src[4 * x + 2];
        dst += 3;
      }
      break;
  }
}

}  // namespace

int DrawPackedDib(FrameCanvas& canvas, const PackedDib& image) {
  if (canvas.empty() || !image || image.size() < static_cast<std::size_t>(kDibHeaderSize)) {
    return 1;
  }
  const DibHeader header = LoadDibHeader(image.data());
  const int bits = header.bitCount;
  if (header.compression != 0) return 1;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
      bits != 32) {
    return 1;
  }
  if (header.width < 0) return 1;
  if (header.width == 0 || header.height == 0) return 0;  // nothing to cover

  const bool topDown = header.height < 0;
  const std::int64_t rows = topDown ? -static_cast<std::int64_t>(header.height) : header.height;
  const std::uint64_t srcStride =
      ((static_cast<std::uint64_t>(header.width) * static_cast<unsigned>(bits) + 31) / 32) * 4;
  const std::uint64_t offset = static_cast<std::uint64_t>(DibPixelOffset(bits));
  // Checked before any pixel is touched: a header that promises more rows than the block
  // holds is refused instead of being read past its end.
  if (offset > image.size() ||
      static_cast<std::uint64_t>(rows) > (image.size() - offset) / srcStride) {
    return 1;
  }
  const std::uint8_t* table = image.data() + kDibHeaderSize;
  const std::uint8_t* pixels = image.data() + offset;

  const int columns = static_cast<int>(std::min<std::int64_t>(header.width, canvas.width()));
  const int covered = static_cast<int>(std::min<std::int64_t>(rows, canvas.height()));
  for (int y = 0; y < covered; ++y) {  // y counts picture rows from the top
    const std::int64_t srcRow = topDown ? y : rows - 1 - y;
    const std::size_t dstRow = static_cast<std::size_t>(canvas.height() - 1 - y);
    ConvertRow(pixels + static_cast<std::uint64_t>(srcRow) * srcStride,
               canvas.data() + dstRow * canvas.stride(), columns, bits, table);
  }
  return 0;
}

}  // namespace zelvo
