#pragma once
// Builds BMP files byte by byte for the reader tests: every header kind (core, 40-byte,
// OS/2 2.x, v2 to v5), any bit count, colour tables, bit-field masks, raw or run-length
// payloads, bottom-up or top-down. Nothing here interprets pixels; the bytes given are
// the bytes written.
#include <cstdint>
#include <string>
#include <vector>

#include "image/packed_dib.h"

namespace zelvo {
namespace test {

struct BmpDescription {
  std::uint32_t headerSize = 40;  // 12 writes a core header; 16..124 an information header
  std::int32_t width = 1;
  std::int32_t height = 1;
  std::uint16_t planes = 1;
  std::uint16_t bitCount = 24;
  std::uint32_t compression = 0;
  std::uint32_t clrUsed = 0;
  std::uint32_t clrImportant = 0;
  // Colour entries as 0xRRGGBB; written as 3 bytes (core) or 4 bytes (others).
  std::vector<std::uint32_t> palette;
  // Red, green, blue (and alpha) masks: after a 40-byte header, inside longer ones.
  std::vector<std::uint32_t> masks;
  std::vector<std::uint8_t> payload;  // pixel rows as stored, or the run-length stream
  std::int64_t offBits = -1;          // -1: right after the table
};

std::vector<std::uint8_t> BuildBmp(const BmpDescription& desc);

// Rows of `bytesPerRow` meaningful bytes padded with `pad` to the 4-byte stride.
std::vector<std::uint8_t> PadRows(const std::vector<std::vector<std::uint8_t>>& rows, std::uint8_t pad = 0);

// A 24-bit BMP that declares width x height and holds only 16 bytes of pixels, each
// `mark`: a file far shorter than its header claims.
std::string ShortBmp(int width, int height, int mark);

// A fresh file in the test's temporary folder holding `bytes`; returns its path.
std::string WriteTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes);

// What the frame canvas shows for a packed DIB: top-down R,G,B triples, width * height * 3
// bytes. Indexed pixels through the table, 16 bits as 5-5-5, 24 bits, and the first
// three bytes of 32-bit pixels. Empty for a block it cannot draw.
std::vector<std::uint8_t> RenderRgb(const PackedDib& dib);

}  // namespace test
}  // namespace zelvo
