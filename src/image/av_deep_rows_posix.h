#pragma once
// Pictures of more than 8 bits a sample, RGB or grey: 16-bit and 10-bit integers, and the
// floats of OpenEXR. Their rows go straight to BGR, each sample rounded to the nearest
// 8-bit level. libswscale takes such RGB through its YUV pipeline, which costs most of a
// 16-bit TIFF frame's time and leaves samples a level off here and there.
#include <cstdint>

struct AVFrame;

namespace zelvo {

// True when `format` (an AVPixelFormat) is one of them.
bool IsDeepRgbFormat(int format);
// Stored row y of such a picture as BGR into `out` (picture->width * 3 bytes), through
// `scratch` (as many bytes): the caller's memory, so that nothing here can fail.
void DeepRowToBgr(const AVFrame* picture, int y, std::uint8_t* out, std::uint8_t* scratch);

}  // namespace zelvo
