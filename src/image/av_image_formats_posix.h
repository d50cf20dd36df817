#pragma once
// The formats the Linux program reads through libavcodec's image decoders, as entries of
// the table of formats: JPEG, TIFF, WebP, TGA, GIF, DPX, OpenEXR, PPM, PGM, PBM, PAM, QOI,
// SGI and JPEG 2000. zelvo.exe has no libavcodec and reads BMP and PNG only.
#include <vector>

#include "image/image_formats.h"

namespace zelvo {

// The entries whose decoder this system's libavcodec has, in the order their signatures
// are tried (TGA, which has none, is known by its extensions). For AddFrameFormats; also
// sets up the filter that keeps the decoders' log lines from the terminal.
std::vector<ImageFormat> LibavImageFormats();

}  // namespace zelvo
