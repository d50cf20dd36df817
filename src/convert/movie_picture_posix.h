#pragma once
// The picture each frame of a Linux movie becomes, for every container: drawn unscaled at
// the top left of the first frame's size, padded with black to an even size where the
// codec takes no other, or (--size) scaled to fit inside one size for every frame. A frame
// that already has the picture's shape (24 bits, bottom-up) is taken from its own block.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "convert/frame_canvas.h"
#include "convert/frame_fit_posix.h"
#include "convert/frame_writer.h"
#include "image/packed_dib.h"

namespace zelvo {

class MoviePicture {
 public:
  using NoticeSink = std::function<void(const std::string& text)>;

  // Sizes the picture for a movie whose first frame is width x height (a negative height
  // is a top-down frame of that size): fitWidth x fitHeight when both are given, else the
  // frame's size made even where `codec` wants it, which `notice` is told in the user's
  // language. False when the size is not a canvas this system can hold.
  bool Start(int width, int height, int fitWidth, int fitHeight, const std::string& codec, const NoticeSink& notice);
  int width() const { return width_; }
  int height() const { return height_; }
  // Bytes between the picture's rows, and in the whole picture.
  std::size_t stride() const { return static_cast<std::size_t>(geometry_.stride); }
  std::size_t bytes() const { return static_cast<std::size_t>(geometry_.bytes); }

  // Sets *rows to the image as the next picture: bottom-up rows stride() apart, valid until
  // the next call or as long as the image lives. kNotDrawn when the image cannot be drawn,
  // kNoMemory when there is no memory for the canvas.
  WriteFailure Paint(const PackedDib& image, const std::uint8_t** rows);
  // The canvas, made on first use (frames of the picture's exact shape never need it).
  FrameCanvas& canvas();
  // Lets the canvas and the scaler go.
  void Reset();

 private:
  bool EnsureCanvas();

  int width_ = 0;
  int height_ = 0;
  bool fit_ = false;
  DibGeometry geometry_;
  FrameCanvas canvas_;
  FrameFitter fitter_;
};

}  // namespace zelvo
