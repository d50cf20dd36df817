#include "image/jpeg_pixels.h"

#include <algorithm>

namespace zelvo {
namespace {

constexpr int kBgrBytes = 3;

// JPEG's full-range YCbCr to RGB, in 16.16 fixed point.
constexpr int kCrToR = 91881;   // 1.402
constexpr int kCbToG = 22554;   // 0.344136
constexpr int kCrToG = 46802;   // 0.714136
constexpr int kCbToB = 116130;  // 1.772
int FixedRound(int value) { return (value + 32768) >> 16; }
std::uint8_t Clamp(int value) { return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// ffmpeg's scaling by K: x * k / 255, as x * k * 257 >> 16 (arithmetic shift: x may be
// negative, a chroma's distance from grey).
int TimesK(int x, int k) { return x * k * 257 >> 16; }

}  // namespace

// Each pixel's bytes are read before its BGR is written: the BGR of pixel x ends before
// the 4 bytes of pixel x + 1 begin.
void CmykToBgr(std::uint8_t* row, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t* from = row + x * kCmykBytes;
    const int c = from[0], m = from[1], y = from[2], k = from[3];
    std::uint8_t* to = row + x * kBgrBytes;
    to[0] = static_cast<std::uint8_t>(TimesK(y, k));
    to[1] = static_cast<std::uint8_t>(TimesK(m, k));
    to[2] = static_cast<std::uint8_t>(TimesK(c, k));
  }
}

// libjpeg's own way, K times the colour it converts the YCC to, clamps that colour before
// it is scaled: out of gamut it differs from ffmpeg's picture by dozens of levels.
void YcckToBgr(std::uint8_t* row, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t* from = row + x * kCmykBytes;
    const int k = from[3];
    const int luma = TimesK(255 - from[0], k);
    const int cb = TimesK(128 - from[1], k);
    const int cr = TimesK(128 - from[2], k);
    std::uint8_t* to = row + x * kBgrBytes;
    to[0] = Clamp(luma + FixedRound(kCbToB * cb));
    to[1] = Clamp(luma - FixedRound(kCbToG * cb + kCrToG * cr));
    to[2] = Clamp(luma + FixedRound(kCrToR * cr));
  }
}

void MirrorBgr(std::uint8_t* row, int width) {
  for (int a = 0, b = width - 1; a < b; ++a, --b) {
    std::swap_ranges(row + a * kBgrBytes, row + (a + 1) * kBgrBytes, row + b * kBgrBytes);
  }
}

}  // namespace zelvo
