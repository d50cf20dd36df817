#pragma once
// The formats the Linux program reads through libavcodec's image decoders, as entries of
// the table of formats: JPEG, TIFF, WebP, TGA, GIF, DPX, OpenEXR, PPM, PGM, PBM, PAM, QOI,
// SGI and JPEG 2000. zelvo.exe has no libavcodec and reads BMP and PNG only.
#include <vector>

#include "image/image_formats.h"

namespace zelvo {

// The entries, in the order their signatures are tried (TGA, which has none, is known by
// its extensions). For AddFrameFormats at the program's start, which loads no library:
// libavcodec is loaded by the first frame of these formats, and a frame whose decoder
// this system lacks fails then (FrameFailure::kNoDecoder).
std::vector<ImageFormat> LibavImageFormats();

}  // namespace zelvo
