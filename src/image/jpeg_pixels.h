#pragma once
// Rows of JPEG pixels as libjpeg gives them, brought to the frame's 24-bit BGR in place:
// four-component files combined with K as ffmpeg's decoder combines them, and rows mirrored
// for the EXIF orientations that mirror them.
#include <cstdint>

namespace zelvo {

constexpr int kCmykBytes = 4;

// Adobe CMYK as stored (inverted: 255 is no ink), `width` pixels of 4 bytes at `row`, to
// 3-byte BGR from the row's start: each colour times K, c * k * 257 >> 16.
void CmykToBgr(std::uint8_t* row, int width);
// Adobe YCCK as stored, the same way: the inverted luma and the chroma's distance from
// grey scaled by K, then JPEG's full-range YCbCr to RGB.
void YcckToBgr(std::uint8_t* row, int width);
// The `width` BGR pixels at `row` in the opposite order.
void MirrorBgr(std::uint8_t* row, int width);

}  // namespace zelvo
