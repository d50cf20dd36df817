#include "image/oriented_rows.h"

#include <cstring>

#include "image/packed_dib.h"

namespace zelvo {
namespace {

constexpr int kBgrBytes = 3;

}  // namespace

std::uint64_t DibBlockBytes(int width, int height, int orientation) {
  const bool across = orientation >= 5 && orientation <= 8;  // width and height trade places
  DibGeometry geometry;
  if (!CheckedDibGeometry(across ? height : width, across ? width : height, 24, &geometry)) return 0;
  const std::uint64_t bytes = kDibHeaderSize + geometry.bytes;
  return bytes <= kMaxDibBlock ? bytes : 0;
}

// EXIF orientations: 2 mirrored, 3 turned half way, 4 upside down, 5 mirrored across the
// diagonal (transposed), 6 stored turned left (shown turned right), 7 transversed, 8 stored
// turned right.
Placement PlacementFor(int orientation, int width, int height) {
  switch (orientation) {
    case 2: return {-1, 0, width - 1, 0, 1, 0};
    case 3: return {-1, 0, width - 1, 0, -1, height - 1};
    case 4: return {1, 0, 0, 0, -1, height - 1};
    case 5: return {0, 1, 0, 1, 0, 0};
    case 6: return {0, -1, height - 1, 1, 0, 0};
    case 7: return {0, -1, height - 1, -1, 0, width - 1};
    case 8: return {0, 1, 0, -1, 0, width - 1};
    default: return {1, 0, 0, 0, 1, 0};
  }
}

void PlaceRow(const std::uint8_t* from, int y, int width, const Placement& p, std::uint8_t* pixels,
              std::size_t dibStride, int outHeight) {
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(dibStride);
  const std::ptrdiff_t u = std::ptrdiff_t{p.uy} * y + p.u0;
  const std::ptrdiff_t v = std::ptrdiff_t{p.vy} * y + p.v0;
  std::uint8_t* to = pixels + (outHeight - 1 - v) * stride + u * kBgrBytes;
  const std::ptrdiff_t step = std::ptrdiff_t{p.ux} * kBgrBytes - std::ptrdiff_t{p.vx} * stride;
  if (step == kBgrBytes) {
    std::memcpy(to, from, static_cast<std::size_t>(width) * kBgrBytes);
    return;
  }
  for (int x = 0; x < width; ++x, from += kBgrBytes, to += step) std::memcpy(to, from, kBgrBytes);
}

}  // namespace zelvo
