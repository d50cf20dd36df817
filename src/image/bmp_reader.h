#pragma once
// Windows bitmap files: uncompressed, RLE8, RLE4 and bit-field files, core or
// information headers (and their longer versions).
#include <cstddef>
#include <cstdint>

#include "image/packed_dib.h"

namespace zelvo {

// True when the file opens, its first read yields more than 54 bytes and begins "BM".
// A path without extension gets ".bmp" appended first (as for the readers).
bool IsBmpFile(const char* path);
// Header and colour table; the height keeps the file's sign, compression its value.
PackedDib ReadBmpHeader(const char* path);
// The complete image: uncompressed, bottom-up, positive height. A file that ends before
// the pixel data its header promises is still read (what is missing stays black); then
// *cutShort, when given, is set.
PackedDib ReadBmp(const char* path, bool* cutShort = nullptr);

// The same two readers over a whole file image already in memory (bytes 0 to size - 1 of
// the file); the file readers and the fuzz target share this one decoder.
PackedDib ReadBmpHeaderFromMemory(const std::uint8_t* data, std::size_t size);
PackedDib ReadBmpFromMemory(const std::uint8_t* data, std::size_t size, bool* cutShort = nullptr);

// Expand run-length data `in` into `pixels` (a pixel area of `stride * rows` bytes plus one
// spare byte). They never write outside that area; false when the header does not suit
// the format (bit count, negative height).
bool ExpandRle8(const std::uint8_t* in, std::size_t inLength, std::uint8_t* pixels, const DibHeader& header);
bool ExpandRle4(const std::uint8_t* in, std::size_t inLength, std::uint8_t* pixels, const DibHeader& header);

}  // namespace zelvo
