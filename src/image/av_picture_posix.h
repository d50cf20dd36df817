#pragma once
// A decoded libavcodec picture as the frame it becomes: a bottom-up 24-bit BGR packed DIB,
// converted by libswscale with the settings ffmpeg converts with.
#include "image/image_formats.h"

struct AVFrame;

namespace zelvo {

// The picture turned upright by `orientation`, an EXIF orientation from 1 (as stored) to 8.
// Fails (kTooLarge) when the frame would pass kMaxDibBlock, (kNoMemory) when its memory
// cannot be had, or (kDamaged) when libswscale cannot convert the decoder's pixel format.
ImageRead PictureToDib(const AVFrame* picture, int orientation);
// Lets this thread's scaler and band memory go.
void ReleaseConversionMemory();

}  // namespace zelvo
