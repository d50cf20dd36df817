#pragma once
// Writes PNG fixtures through libpng's write API: every colour type and bit depth, with or
// without a bKGD chunk, plain or Adam7-interlaced, from samples the test chooses.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvo {
namespace test {

struct PngPicture {
  int width = 0;
  int height = 0;
  int colorType = 0;  // 0 grey, 2 truecolour, 3 indexed, 4 grey + alpha, 6 truecolour + alpha
  int bitDepth = 8;
  bool interlaced = false;
  // libpng's PNG_FILTER_* mask for the rows; 0 leaves the choice to libpng.
  int filters = 0;
  // Largest IDAT chunk libpng writes; 0 keeps its default.
  std::size_t idatSize = 0;
  // width * height * PngChannels(colorType) samples, top row first, channels in file order
  // (grey or red, green, blue, then alpha), each within the bit depth's range.
  std::vector<std::uint16_t> samples;
  std::vector<std::uint8_t> palette;  // red, green, blue triples for colour type 3
  bool hasBackground = false;
  // Grey level, palette index, or red, green, blue, at the file's bit depth.
  std::uint16_t background[3] = {0, 0, 0};
};

int PngChannels(int colorType);
// The encoded file; empty when libpng refused the picture.
std::vector<std::uint8_t> EncodePng(const PngPicture& picture);
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool WritePngFile(const std::string& path, const PngPicture& picture);

}  // namespace test
}  // namespace zelvo
