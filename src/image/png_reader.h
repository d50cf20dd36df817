#pragma once
// PNG images through libpng, handed over as the same PackedDib the BMP reader produces.
#include "image/packed_dib.h"

namespace zelvo {

// True when the file opens and its first 4 bytes are the start of the PNG signature.
bool IsPngFile(const char* path);
// Header and colour table with an all-zero pixel area of the full size.
PackedDib ReadPngHeader(const char* path);
// The complete image, bottom-up rows.
PackedDib ReadPng(const char* path);

}  // namespace zelvo
