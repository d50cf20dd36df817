#pragma once
// One image file through one libavcodec decoder: the whole file is one packet, the
// decoder's picture becomes a bottom-up 24-bit BGR packed DIB through libswscale, as
// ffmpeg converts it. Alpha is dropped, deeper samples are brought to 8 bits, OpenEXR's
// linear light is shown as sRGB and a JPEG's EXIF orientation is applied.
#include <cstdint>

#include "image/image_formats.h"
#include "image/packed_dib.h"

namespace zelvo {

// Files longer than this are refused before they are read: no frame of a video needs one.
constexpr std::uint64_t kMaxImageFileBytes = kMaxDibBlock;
// The largest picture a decoder may allocate, in bytes of its own pixel format (a 16-bit
// RGBA or a float picture takes several times the 24-bit frame), and in pixels: the
// frame it becomes must fit kMaxDibBlock. Both are checked before the memory is taken.
constexpr std::uint64_t kMaxDecodedBytes = kMaxDibBlock;
constexpr std::int64_t kMaxDecodedPixels = static_cast<std::int64_t>(kMaxDibBlock / 3);

// Routes libav's log through a filter that drops what decoders say while a frame is read
// on that thread (other lines go on to libav's own output). Done by the first read too;
// the program does it at its start, before other threads may log.
void FilterDecoderLogs();

// Reads the file at `path` with libavcodec's decoder `codecId` (an AVCodecID). The
// decoder runs on the calling thread (frames are read on several threads at once) and
// says nothing on the terminal: its failures come back as ImageRead::failure.
ImageRead ReadWithLibav(int codecId, const char* path);
// The header alone (a block of the 40-byte header: the picture's size, 24 bits). The
// decoders hand out no size without the picture, so the picture is decoded, and the memory
// the calling thread keeps for its next frame let go: a header is read on a thread that
// reads no frames afterwards when readers read ahead. The size is kept for the next header
// read of the same unchanged file.
ImageRead ReadHeaderWithLibav(int codecId, const char* path);

}  // namespace zelvo
