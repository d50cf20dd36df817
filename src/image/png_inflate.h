#pragma once
// Inflates the image data of a plain truecolour PNG for the direct path. Two back-ends, of
// which CMake builds one: png_inflate_libdeflate.cpp (the whole stream at once, where
// libdeflate is installed) and png_inflate_zlib.cpp (strip by strip through zlib).
#include <cstdint>

#include "image/packed_dib.h"
#include "image/png_layout.h"
#include "image/png_stream.h"

namespace zelvo::png {

// The rows of a plain truecolour file, from the first IDAT chunk (of `idatLength` bytes,
// its header already read) on, unfiltered into the block. When the back-end has read the
// header of the chunk after the image data, it is in *after and *haveAfter is true. False
// on anything libpng should judge instead.
bool InflateRows(PngSource* source, std::uint32_t idatLength, const PngLayout& layout, PackedDib* dib,
                 ChunkHeader* after, bool* haveAfter);

// The library the back-end inflates with and its version, for --version.
const char* InflaterLibrary();
const char* InflaterVersion();

}  // namespace zelvo::png
