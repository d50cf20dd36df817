#pragma once
// A JPEG frame in its decoder's own YUV: the planes of a full-range 4:2:0 picture in the
// JPEG colour matrix, packed one after the other behind a 40-byte header whose compression
// is kJpegYuvFourcc. Handed so to an MJPEG encoder that takes the same YUV, the frame is
// encoded as it was decoded: going to BGR and back costs two colour conversions, twice the
// memory, and some 4 dB of the picture. Such blocks live only between the readers and the
// Linux writer, and only while a writer offers to take them (OfferJpegYuv); anything else
// that receives one makes BGR of it with JpegYuvToBgr, pixel for pixel as the reader would.
#include <cstdint>

#include "image/frame_read.h"
#include "image/packed_dib.h"

struct AVFrame;

namespace zelvo {

constexpr std::uint32_t kJpegYuvFourcc = 'J' | 'Y' << 8 | 'U' << 16 | 'V' << 24;

// Lets the readers hand over pictures of width x height in JPEG's YUV from now on; 0 x 0
// withdraws the offer. One offer holds for the whole program (a job's writer makes it).
void OfferJpegYuv(int width, int height);
// Whether a writer offers to take such pictures now, of whatever size.
bool JpegYuvOffered();
// Whether `picture`, as decoded, may be handed over: the offered size, 4:2:0 of the full
// range, and a colour matrix that converts to BGR as JPEG's does.
bool TakesJpegYuv(const AVFrame* picture);
// The block of such a picture (empty when the memory cannot be had).
PackedDib MakeJpegYuvDib(const AVFrame* picture);
// Points *view (format, size, colour and planes, no buffers) at the planes of a block
// made by MakeJpegYuvDib. False for any other block, or one too short for its header.
bool ViewJpegYuvDib(const PackedDib& dib, AVFrame* view);
// The frame as the reader makes it of the same picture in BGR.
FrameRead JpegYuvToBgr(const PackedDib& dib);

}  // namespace zelvo
