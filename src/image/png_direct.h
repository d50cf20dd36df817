#pragma once
// The direct path for plain truecolour frames.
//
// Rendered frames are nearly always 8-bit RGB or RGBA, not interlaced, without a
// background colour. For them the reader inflates and unfilters the image data itself,
// straight into the block: libpng's call per row, its copy of each row, its separate pass
// that swaps red and blue and its byte-at-a-time Sub filter cost about a tenth of the
// frame's CPU time. Zlib is fed from the read-ahead buffer without a copy and fills many
// rows per call.
//
// libpng keeps the last word: this path returns only what libpng would return for the
// same file, byte for byte. Whatever it does not fully expect (another colour type, a
// critical chunk besides IHDR, IDAT and IEND, a bKGD chunk, a CRC mismatch, damaged or
// surplus image data, a file that ends early) makes it give up, and the whole file goes
// to libpng, which then accepts or refuses it as before.
#include <cstddef>
#include <cstdint>

#include "image/packed_dib.h"
#include "image/png_layout.h"
#include "image/png_stream.h"

namespace zelvo::png {

// The whole file behind `source`, from its start, into *dib; false leaves it to libpng.
bool DecodePlainTruecolour(PngSource* source, PackedDib* dib);

// For the inflaters: unfilters `count` filtered rows (each a filter type byte and the row)
// into the block, starting at picture row `y` from the top. False on a filter type libpng
// would refuse.
bool UnfilterRows(const std::uint8_t* rows, std::size_t count, std::uint32_t y, const PngLayout& layout,
                  PackedDib* dib);

}  // namespace zelvo::png
