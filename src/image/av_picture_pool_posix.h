#pragma once
// The memory a decoder paints its picture into, kept by each reader thread from frame to
// frame. Every file gets a decoder of its own, and a decoder's own pool would go with it:
// each frame would then map megabytes of fresh pages and hand them back, which costs more
// than the decoding of many formats.
#include <cstdint>

struct AVCodecContext;
struct AVFrame;

namespace zelvo {

// Fills the planes of `frame` (its format, width and height set) as libavcodec's default
// allocator would, from this thread's pools: kept while frames keep their format and size.
// Returns 0 or libav's error.
int TakePictureBuffers(AVCodecContext* context, AVFrame* frame);
// The bytes of picture memory TakePictureBuffers lays out for `frame`: what the decoder
// holds while it paints and its reader thread keeps for the next frame. Negative: libav's
// error for a format or size it cannot lay out.
std::int64_t PictureBufferBytes(AVCodecContext* context, const AVFrame* frame);
// Lets this thread's pools go (each once its last picture is freed).
void ReleasePictureBuffers();

}  // namespace zelvo
