#include "image/png_stream.h"

#include <png.h>

#include <algorithm>

namespace zelvo::png {

bool FillSource(PngSource* source) {
  if (source->position < source->filled) return true;
  std::int64_t got = source->file->Read(source->buffer, kReadBufferSize);
  if (got <= 0) return false;
  source->filled = static_cast<std::size_t>(got);
  source->position = 0;
  return true;
}

bool ReadSource(PngSource* source, std::uint8_t* destination, std::size_t length) {
  while (length > 0) {
    // What the buffer would only pass through (the image data gathered whole) is read
    // straight into place.
    if (source->position == source->filled && length >= kReadBufferSize) {
      const std::int64_t got = source->file->Read(destination, length);
      if (got <= 0) return false;
      destination += got;
      length -= static_cast<std::size_t>(got);
      continue;
    }
    if (!FillSource(source)) return false;
    std::size_t take = std::min(length, source->filled - source->position);
    std::memcpy(destination, source->buffer + source->position, take);
    source->position += take;
    destination += take;
    length -= take;
  }
  return true;
}

std::uint32_t LoadBigEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

bool ReadChunkHeader(PngSource* source, ChunkHeader* header) {
  std::uint8_t bytes[8];
  if (!ReadSource(source, bytes, sizeof bytes)) return false;
  header->length = LoadBigEndian32(bytes);
  std::memcpy(header->type, bytes + 4, 4);
  if (header->length > PNG_UINT_31_MAX) return false;
  for (std::uint8_t c : header->type) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

bool CrcMatches(PngSource* source, std::uint32_t crc) {
  std::uint8_t stored[4];
  return ReadSource(source, stored, sizeof stored) && LoadBigEndian32(stored) == crc;
}

bool SkipChunk(PngSource* source, const ChunkHeader& header) {
  std::uint32_t crc = header.TypeCrc();
  for (std::uint32_t left = header.length; left > 0;) {
    if (!FillSource(source)) return false;
    std::size_t take = std::min<std::size_t>(left, source->filled - source->position);
    crc = static_cast<std::uint32_t>(crc32(crc, source->buffer + source->position, static_cast<uInt>(take)));
    source->position += take;
    left -= static_cast<std::uint32_t>(take);
  }
  return CrcMatches(source, crc);
}

}  // namespace zelvo::png
