#pragma once
// Reads a frame by its content, not its name, with the reader the table of formats
// (image/image_formats.h) gives for it. The frame is opened once: anything but a regular
// file is refused without waiting on it, and the reader gets the open file. Every read says
// in one FrameRead how it ended: the image, or why there is none.
#include "image/frame_read.h"
#include "image/image_formats.h"
#include "image/packed_dib.h"

namespace zelvo {

// What stands at `path` (a name without an extension taken with the default one), without
// reading its picture: its `format` when the table recognises the content; else why not
// (kUnreadable, kNotAFile, kNotImage, or kDamaged for a bitmap cut off in its header).
FrameRead ProbeFrame(const char* path);
// The header and colour table only: width, height and bit count in `image` and `bytes`.
// (The block may be of the picture's full size, all zero: memory the system lends only
// once it is written.)
FrameRead ReadFrameHeader(const char* path);
// The complete picture, bottom-up; `budget` is asked before its memory is requested.
FrameRead ReadFrame(const char* path, FrameBudget* budget = nullptr);

}  // namespace zelvo
