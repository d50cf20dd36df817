#pragma once
// The frame canvas without a graphics system: a 24-bit bottom-up pixel area of the output
// frame size, and the reading of an uncompressed packed DIB onto it that the Windows
// canvas gets from StretchDIBits. Both builds' tests use it to know what a frame must
// look like; the Linux writer hands its bytes to the AVI file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/packed_dib.h"

namespace zelvo {

class FrameCanvas {
 public:
  FrameCanvas() = default;
  FrameCanvas(FrameCanvas&&) noexcept = default;
  FrameCanvas& operator=(FrameCanvas&&) noexcept = default;
  FrameCanvas(const FrameCanvas&) = delete;
  FrameCanvas& operator=(const FrameCanvas&) = delete;

  // Makes an all-zero (black) canvas of width x height. False, leaving the canvas empty,
  // when a side is not positive, a row or the whole frame would not fit in 32 bits, the
  // frame exceeds kMaxDibBlock, or the memory cannot be had.
  bool Create(int width, int height);
  void Reset();

  bool empty() const { return bits_.empty(); }
  int width() const { return width_; }
  int height() const { return height_; }
  // ((24 * width + 31) / 32) * 4: rows padded to whole 32-bit words.
  std::size_t stride() const { return stride_; }
  std::size_t bytes() const { return bits_.size(); }
  // Rows bottom-up, as in a DIB: storage row 0 is the bottom row of the picture.
  std::uint8_t* data() { return bits_.data(); }
  const std::uint8_t* data() const { return bits_.data(); }

 private:
  std::vector<std::uint8_t> bits_;
  int width_ = 0;
  int height_ = 0;
  std::size_t stride_ = 0;
};

// Stride of a 24-bit row of `width` pixels in checked 64-bit arithmetic (0 for width <= 0).
std::uint64_t CanvasStride(std::int64_t width);

// Copies the image unscaled into the canvas's top-left corner, converted to 24 bits:
// indexed depths (1, 2, 4, 8 bits) through the colour table, 16 bits as x-5-5-5 with each
// channel widened by repeating its top bits, 24 bits as is, 32 bits by its first three
// bytes. Rows are bottom-up (a negative height is read top-down). What the image does not
// cover turns black, so no earlier frame shows through; what lies outside the canvas is clipped.
// 0 = drawn (also when nothing was covered), 1 = the image cannot be drawn: an empty
// canvas, a block too short for its header, a compressed image, an unknown bit count, a
// negative width, or pixel rows beyond the end of the block.
int DrawPackedDib(FrameCanvas& canvas, const PackedDib& image);

}  // namespace zelvo
