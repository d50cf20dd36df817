#include "image/png_layout.h"

#include <algorithm>

namespace zelvo::png {
namespace {

int DecodedBits(int colorType, int bitDepth, bool background) {
  int depth = bitDepth == 16 ? 8 : bitDepth;
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      return depth;
    case PNG_COLOR_TYPE_RGB:
      return 24;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      // Composited over the background it is one grey byte; without one it is widened to
      // blue, green, red, alpha so that it draws as a 32-bit pixel with alpha dropped.
      return background ? 8 : 32;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return background ? 24 : 32;
    default:
      return 0;
  }
}

}  // namespace

bool PlanLayout(PngLayout* layout) {
  layout->decodedBits = DecodedBits(layout->colorType, layout->bitDepth, layout->background);
  // Windows draws no 2-bit bitmaps (StretchDIBits draws nothing for them), so 2-bit rows are
  // stored as 4-bit ones with the same indices.
  layout->storedBits = layout->decodedBits == 2 ? 4 : layout->decodedBits;
  if (layout->decodedBits == 0 || layout->width == 0 || layout->height == 0) return false;
  DibGeometry geometry;  // the picture and one zero row of slack
  if (!CheckedDibGeometry(layout->width, std::int64_t{layout->height} + 1, layout->storedBits, &geometry)) return false;
  layout->stride = geometry.stride;
  layout->blockSize = geometry.bytes + static_cast<std::uint64_t>(DibPixelOffset(layout->storedBits));
  return layout->blockSize <= kMaxDibBlock;
}

void WriteHeader(PackedDib* dib, const PngLayout& layout) {
  DibHeader header;
  InitDibHeader(&header);
  header.width = static_cast<std::int32_t>(layout.width);
  header.height = static_cast<std::int32_t>(layout.height);
  header.bitCount = static_cast<std::uint16_t>(layout.storedBits);
  dib->set_header(header);
}

std::size_t FilteredRowSize(const PngLayout& layout) {
  return std::size_t{layout.width} * static_cast<std::size_t>(layout.storedBits / 8) + 1;
}

std::uint64_t IdatChunkLimit(const PngLayout& layout) {
  return std::max<std::uint64_t>(kMaxChunkBytes, std::uint64_t{layout.height} * FilteredRowSize(layout));
}

}  // namespace zelvo::png
