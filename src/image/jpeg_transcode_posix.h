#pragma once
// MJPEG frames made straight from JPEG files. A JPEG in 4:2:0 YCbCr (as cameras write) is
// already what an MJPEG frame holds: its DCT coefficients are requantised to the encoder's
// tables and entropy-coded again, without decoding the picture. That skips the inverse and
// the forward DCT and the pixels in between (about half of the work), keeps no picture in
// memory, and loses less than the way through pixels, whose rounding to 8 bits is a second
// loss. The tables are libavcodec's MJPEG tables at a fixed quantiser, with its rounding,
// so a frame made here and one its encoder makes of the same picture agree in size and
// quality. Such frames travel from the readers to the Linux AVI writer behind a 40-byte
// header whose compression is kMjpegFourcc, only while the writer offers to take them
// (OfferMjpegFrames); the writer decodes any it cannot take (another size) to BGR.
#include <cstddef>
#include <cstdint>

#include "image/packed_dib.h"

namespace zelvo {

constexpr std::uint32_t kMjpegFourcc = 'M' | 'J' << 8 | 'P' << 16 | 'G' << 24;

// libavcodec's MJPEG quantisation table at fixed quantiser `qscale` (2 to 31), in natural
// order: MPEG-1's intra matrix times qscale / 8, the DC step 8, luma and chroma alike.
void MjpegQuantTable(int qscale, std::uint16_t table[64]);

// From now on the readers may hand over finished frames of width x height for quantiser
// `qscale`. qscale 0 (or no size) withdraws the offer.
void OfferMjpegFrames(int qscale, int width = 0, int height = 0);
// The memory a read under the current offer may hold at once, for the reader to ask of its
// budget before transcoding: the coefficients of a whole frame, and as much again for the
// frame made and for reading the file the usual way when it is not taken. 0: no offer.
std::uint64_t MjpegOfferBytes();

// The finished MJPEG frame made of `jpeg` (a whole JPEG file, shown as stored: the caller
// keeps files that EXIF turns) when an offer stands and the file suits it: 8-bit YCbCr
// 4:2:0 of the offered size, read without a single warning. An empty block otherwise, and
// the caller reads the file as usual.
PackedDib TranscodeToMjpeg(const std::uint8_t* jpeg, std::size_t size);

// The frame a TranscodeToMjpeg block holds, and its size; null for any other block.
const std::uint8_t* MjpegFrameOf(const PackedDib& dib, std::size_t* size);

}  // namespace zelvo
