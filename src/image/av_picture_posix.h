#pragma once
// A decoded libavcodec picture as the frame it becomes: a bottom-up 24-bit BGR packed DIB,
// converted by libswscale with the settings ffmpeg converts with.
#include <cstdint>

#include "image/frame_read.h"
#include "image/oriented_rows.h"  // DibBlockBytes: the block PictureToDib makes

struct AVFrame;

namespace zelvo {

// The picture turned upright by `orientation`, an EXIF orientation from 1 (as stored) to 8.
// Fails (kTooLarge) when the frame would pass kMaxDibBlock, (kNoMemory) when its memory
// cannot be had, or (kDamaged) when libswscale cannot convert the decoder's pixel format.
FrameRead PictureToDib(const AVFrame* picture, int orientation);
// The colour matrix (libswscale's coefficients) the picture is converted to BGR with: its
// own, or BT.601's where it names none that libswscale knows.
const int* PictureMatrix(const AVFrame* picture);
// Lets this thread's scaler and band memory go.
void ReleaseConversionMemory();

}  // namespace zelvo
