#pragma once
// How a PNG picture is stored as a packed DIB, decided from its header before any pixel is
// read: shared by the libpng path and the direct path, so both produce the same block.
#include <png.h>

#include <cstddef>
#include <cstdint>

#include "image/packed_dib.h"

namespace zelvo::png {

// Ancillary chunks are kept in memory up to this size. The reader needs none of them
// beyond the few bytes of bKGD, tRNS and the colour-space chunks, so a file cannot make
// it hold megabytes of text or profiles.
constexpr png_alloc_size_t kMaxChunkBytes = 1 << 20;

// What the stored image looks like, decided from the IHDR and the presence of bKGD before
// libpng is asked for any transformation.
struct PngLayout {
  std::uint32_t width;
  std::uint32_t height;
  int bitDepth;
  int colorType;
  bool background;
  int decodedBits;  // bits per pixel of the rows libpng delivers
  int storedBits;   // bits per pixel of the PackedDib
  std::uint64_t stride;
  std::uint64_t blockSize;
};

// Fills in the layout and checks in 64-bit arithmetic that the block fits kMaxDibBlock.
bool PlanLayout(PngLayout* layout);
// The block's header: the picture's size at the stored bit count, bottom-up.
void WriteHeader(PackedDib* dib, const PngLayout& layout);
// Bytes of one filtered row of an 8-bit truecolour picture: the filter type byte and the pixels.
std::size_t FilteredRowSize(const PngLayout& layout);
// The longest IDAT chunk taken: libpng refuses, or in newer versions only warns about,
// chunks longer than the image data could need.
std::uint64_t IdatChunkLimit(const PngLayout& layout);

}  // namespace zelvo::png
