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
// The same image through the direct path for plain 8-bit RGB and RGBA files only; null
// where ReadPng would hand the file to libpng. ReadPng is what frames are read with; this
// shows which files take the fast path.
PackedDib ReadPlainTruecolourPng(const char* path);

}  // namespace zelvo
