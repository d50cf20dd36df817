#pragma once
// How the JPEG reader has libjpeg decode a file whose header it has read, so that the
// picture comes out as ffmpeg shows it, and where its rows go; or that the file is one to
// leave to libavcodec.
#include <cstddef>
#include <cstdint>

#include "image/jpeg_session_posix.h"
#include "image/packed_dib.h"

namespace zelvo {

struct JpegLayout {
  J_COLOR_SPACE out = JCS_EXT_BGR;  // or JCS_CMYK or JCS_YCCK as stored, combined with K here
  int orientation = 1;              // EXIF, 1 to 8
  int width = 0, height = 0;        // as stored
  int outWidth = 0, outHeight = 0;  // as shown
  bool direct = false;              // rows decoded straight into the frame's rows
};

// Sets the decoding of `info` (its header read) up as ffmpeg decodes: the colour space
// ffmpeg's decoder reads it in, the accurate integer IDCT, chroma repeated as libswscale's
// unscaled YUV to RGB repeats it, and working memory bounded; fills *layout, with the EXIF
// orientation of the APP1 segments libjpeg kept. False for a file libjpeg would show
// otherwise than ffmpeg (4:4:0, 4:1:1 and other chroma layouts, CMYK without an Adobe
// segment, two components, ...), which goes to libavcodec.
bool PlanJpegLayout(jpeg_decompress_struct* info, JpegLayout* layout);

// The first EXIF orientation (1 to 8) among the APP1 segments libjpeg kept of `info`; 1
// when none gives one.
int JpegOrientation(const jpeg_decompress_struct& info);
// What libjpeg holds while it decodes the file, and `rowBytes` of the reader's own rows
// beside it: a file of several scans keeps every block's coefficients, every file a band
// of blocks' samples per component, and again upsampled.
std::uint64_t JpegWorkingBytes(jpeg_decompress_struct* info, std::uint64_t rowBytes);

// The most working memory a file may need, as a libav decoder's picture may not pass it.
constexpr std::uint64_t kMostJpegWorkingBytes = kMaxDibBlock;

}  // namespace zelvo
