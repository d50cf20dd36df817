#pragma once
// PNG images through libpng, handed over as the same PackedDib the BMP reader produces.
#include <cstddef>
#include <cstdint>

#include "image/frame_read.h"
#include "image/packed_dib.h"
#include "platform/file.h"

namespace zelvo {

// The PNG signature as libpng's probe compares it: the first 4 bytes of `head`.
bool IsPngHead(const std::uint8_t* head, std::size_t size);
// True when the file opens and IsPngHead.
bool IsPngFile(const char* path);

// The table of formats' PNG reader, over a file frame_reader has opened: the size its IHDR
// declares is checked and asked of `budget` (the largest block the picture may take)
// before libpng or the direct path runs; then the header and colour table with an all-zero
// pixel area of the full size, or the complete image, bottom-up rows. libpng tells no
// reason for a refusal: the size, the memory at hand, or else damage.
FrameRead ReadPngFile(ReadOnlyFile& file, bool headerOnly, FrameBudget* budget);

// The same by name: header and colour table, the complete image; empty when unreadable.
PackedDib ReadPngHeader(const char* path);
PackedDib ReadPng(const char* path);
// The same image through the direct path for plain 8-bit RGB and RGBA files only; null
// where ReadPng would hand the file to libpng. ReadPng is what frames are read with; this
// shows which files take the fast path.
PackedDib ReadPlainTruecolourPng(const char* path);

}  // namespace zelvo
