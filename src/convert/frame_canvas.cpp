#include "convert/frame_canvas.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zelvo {

std::uint64_t CanvasStride(std::int64_t width) {
  std::uint64_t stride = 0;
  return width > 0 && CheckedDibStride(width, 24, &stride) ? stride : 0;
}

bool FrameCanvas::Create(int width, int height) {
  Reset();
  DibGeometry geometry;
  if (width <= 0 || height <= 0 || !CheckedDibGeometry(width, height, 24, &geometry)) return false;
  try {
    bits_.assign(static_cast<std::size_t>(geometry.bytes), 0);
  } catch (const std::bad_alloc&) {
    Reset();
    return false;
  }
  width_ = width;
  height_ = height;
  stride_ = static_cast<std::size_t>(geometry.stride);
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

namespace {

// Blackens what a frame of columns x rows (picture rows from the top) leaves uncovered, so
// that no pixel of an earlier, larger frame shows through a smaller one.
void ClearUncovered(FrameCanvas& canvas, int columns, int rows) {
  const std::size_t covered = static_cast<std::size_t>(columns) * 3;
  for (int y = 0; y < canvas.height(); ++y) {
    std::uint8_t* row = canvas.data() + static_cast<std::size_t>(canvas.height() - 1 - y) * canvas.stride();
    const std::size_t from = y < rows ? covered : 0;
    if (from < static_cast<std::size_t>(canvas.width()) * 3) std::memset(row + from, 0, canvas.width() * 3 - from);
  }
}

}  // namespace

int DrawPackedDib(FrameCanvas& canvas, const PackedDib& image) {
  if (canvas.empty()) return 1;
  DibView view;
  switch (ViewDrawableDib(image, &view)) {
    case DibDrawable::kNo: return 1;
    case DibDrawable::kNothing:
      ClearUncovered(canvas, 0, 0);
      return 0;
    case DibDrawable::kYes: break;
  }
  const std::int64_t rows = static_cast<std::int64_t>(view.geometry.rows);
  const int columns = static_cast<int>(std::min<std::int64_t>(view.header.width, canvas.width()));
  const int covered = static_cast<int>(std::min<std::int64_t>(rows, canvas.height()));
  for (int y = 0; y < covered; ++y) {  // y counts picture rows from the top
    const std::int64_t srcRow = view.topDown ? y : rows - 1 - y;
    const std::size_t dstRow = static_cast<std::size_t>(canvas.height() - 1 - y);
    ConvertRow(view.pixels + static_cast<std::uint64_t>(srcRow) * view.geometry.stride,
               canvas.data() + dstRow * canvas.stride(), columns, view.header.bitCount, view.colors);
  }
  if (columns < canvas.width() || covered < canvas.height()) ClearUncovered(canvas, columns, covered);
  return 0;
}

}  // namespace zelvo
