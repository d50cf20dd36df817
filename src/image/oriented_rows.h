#pragma once
// A picture's rows placed in a 24-bit bottom-up block as the picture is shown: a JPEG's EXIF
// orientation says how its stored rows are turned for display (a camera held upright).
// Shared by the readers that decode such pictures row by row.
#include <cstddef>
#include <cstdint>

namespace zelvo {

// The block of a width x height picture turned by `orientation`: the 40-byte header and
// 24-bit rows; 0 when it would pass kMaxDibBlock.
std::uint64_t DibBlockBytes(int width, int height, int orientation);

// Where a stored row's pixels are shown: stored pixel x of row y goes to column
// u = ux * x + uy * y + u0 and row v = vx * x + vy * y + v0 of the frame (rows from the top).
struct Placement {
  int ux, uy, u0;
  int vx, vy, v0;
};

// The placement of EXIF orientation 1 to 8 (anything else: as stored) for a picture stored
// width x height.
Placement PlacementFor(int orientation, int width, int height);

// Copies stored row y (`width` BGR pixels at `from`) to where it is shown in the block's
// rows at `pixels`, bottom-up, `dibStride` bytes apart, `outHeight` rows of the turned frame.
void PlaceRow(const std::uint8_t* from, int y, int width, const Placement& p, std::uint8_t* pixels,
              std::size_t dibStride, int outHeight);

}  // namespace zelvo
