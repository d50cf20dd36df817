#pragma once
// JPEG frames through libjpeg-turbo, without libavcodec: a JPEG job then never loads
// libavcodec's library pages, and libjpeg-turbo decodes faster. The picture comes out as
// ffmpeg shows it as closely as libjpeg allows (the same accurate integer IDCT family,
// chroma repeated rather than interpolated as libswscale's unscaled conversion repeats it,
// CMYK and YCCK combined with K as ffmpeg's decoder does), turned upright by its EXIF
// orientation, bottom-up 24-bit BGR decoded straight into the frame's rows.
//
// Files libjpeg-turbo does not read but libavcodec may (12-bit samples, lossless and
// hierarchical JPEG, colour layouts the two decoders show differently) go to the libav
// reader, and so does every JPEG while a writer takes JPEG frames in their own YUV
// (av_jpeg_yuv_posix.h): that writer loads libavcodec anyway, and its frames stay the
// ones ffmpeg hands its encoder.
#include <cstddef>
#include <cstdint>

#include "image/frame_read.h"
#include "image/image_formats.h"

namespace zelvo {

// The table of formats' JPEG reader (format.decoder is the libav decoder of the files it
// hands on). Sizes are checked, and frame.budget asked for the frame's block and libjpeg's
// working memory, before either is allocated. A file that ends inside its picture is read
// with the rows the data did not reach black and cutShort set; a damaged one fails
// (kDamaged), as one declaring a picture larger than a frame may be (kTooLarge). libjpeg's
// own messages are never shown. Safe on several threads at once; each thread keeps its
// file and row memory for its next frame.
FrameRead ReadJpeg(const ImageFormat& format, const FrameSource& frame);
// The picture of the JPEG in the `size` bytes at `data`, as ReadJpeg reads a file, for
// JPEG data that comes in memory (a finished MJPEG frame a writer cannot take); kDamaged
// for data libjpeg does not read.
FrameRead DecodeJpeg(const std::uint8_t* data, std::size_t size);

}  // namespace zelvo
