#pragma once
// The byte stream the PNG readers share: a file served from one read-ahead buffer, and its
// chunks (header, data, CRC) as the direct path and its inflaters take them.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/file.h"

namespace zelvo::png {

// libpng asks for its data in many small pieces (8-byte chunk headers, 4-byte CRCs, IDAT
// slices of a few KiB); serving them from one buffer turns hundreds of system calls per
// frame into one per 64 KiB.
constexpr std::size_t kReadBufferSize = 64 * 1024;

// The io pointer handed to libpng, and the direct path's input: the open file and the
// read-ahead buffer. Plain data, because libpng's error path leaves its read callback by
// longjmp.
struct PngSource {
  ReadOnlyFile* file;
  std::uint8_t* buffer;
  std::size_t filled;
  std::size_t position;
};

// Makes at least one unread byte available; false at the end of the file or on an error.
bool FillSource(PngSource* source);
// Copies the next `length` bytes; false when the file ends first.
bool ReadSource(PngSource* source, std::uint8_t* destination, std::size_t length);

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
std::uint32_t LoadBigEndian32(const std::uint8_t* p);

// One chunk's length and type, as read from the file.
struct ChunkHeader {
  std::uint32_t length;
  std::uint8_t type[4];
  bool Is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
  // Critical chunks have an upper-case first letter.
  bool critical() const { return (type[0] & 0x20) == 0; }
  std::uint32_t TypeCrc() const { return static_cast<std::uint32_t>(crc32(0, type, 4)); }
};

// A chunk header libpng would take: a length below 2^31 and a type of four ASCII letters.
bool ReadChunkHeader(PngSource* source, ChunkHeader* header);
// Reads the 4-byte CRC that follows a chunk's data; true when it is `crc`.
bool CrcMatches(PngSource* source, std::uint32_t crc);
// Passes over a chunk's data, checking its CRC.
bool SkipChunk(PngSource* source, const ChunkHeader& header);

}  // namespace zelvo::png
