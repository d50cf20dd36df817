#pragma once
// Windows bitmap files: uncompressed, RLE8, RLE4 and bit-field files, core or
// information headers (and their longer versions).
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/frame_read.h"
#include "image/packed_dib.h"
#include "platform/file.h"

namespace zelvo {

// The BMP signature: a file's first `size` bytes are more than 54 and begin "BM".
bool IsBmpHead(const std::uint8_t* head, std::size_t size);
// True when the file at WithDefaultExtension(path) opens and IsBmpHead.
bool IsBmpFile(const char* path);

// The table of formats' BMP reader, over a file frame_reader has opened: the header (with
// the colour table, height and compression as the file has them) or the complete image,
// uncompressed, bottom-up, positive height. A file that ends before the pixel data its header promises
// is still read (what is missing stays black, cutShort set); the rows it lacks are never
// touched, so such a file costs memory for what it holds. `budget` is asked for the block
// before it is made.
FrameRead ReadBmpFile(ReadOnlyFile& file, bool headerOnly, FrameBudget* budget);

// The same readers by name (WithDefaultExtension) and over a whole file image already in
// memory (bytes 0 to size - 1 of the file, which the fuzz target uses): empty when unreadable.
PackedDib ReadBmpHeader(const char* path);
PackedDib ReadBmp(const char* path, bool* cutShort = nullptr);
PackedDib ReadBmpHeaderFromMemory(const std::uint8_t* data, std::size_t size);
PackedDib ReadBmpFromMemory(const std::uint8_t* data, std::size_t size, bool* cutShort = nullptr);

// Expand run-length data `in` into `pixels`: a pixel area of `stride * rows` bytes plus
// one spare byte, all zero on entry. Pixels the stream does not set stay zero, and bytes
// past the last one it reaches are not touched. They never write outside that area; false
// when the header does not suit the format (bit count, negative height).
bool ExpandRle8(const std::uint8_t* in, std::size_t inLength, std::uint8_t* pixels, const DibHeader& header);
bool ExpandRle4(const std::uint8_t* in, std::size_t inLength, std::uint8_t* pixels, const DibHeader& header);

}  // namespace zelvo
