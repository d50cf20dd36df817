#pragma once
// The libpng path: every PNG the direct path does not take (palette, grey, 16-bit,
// interlaced, with a background colour or anything unusual), and the final judge of
// damaged files.
#include "image/packed_dib.h"
#include "image/png_stream.h"

namespace zelvo::png {

// Decodes the file behind `source` from its start into *dib: with `readRows` the whole
// picture, else the header and colour table over an all-zero pixel area. False when libpng
// refuses the file or no block can hold it; the block is then left for the caller to drop.
bool DecodeWithLibpng(PngSource* source, bool readRows, PackedDib* dib);

}  // namespace zelvo::png
