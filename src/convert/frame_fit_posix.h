#pragma once
// One size for every frame: each image scaled to fit inside the canvas keeping its aspect
// ratio, centred, with black bars where it does not reach (libswscale, bicubic). The
// canvas is the job's 24-bit bottom-up one (frame_canvas.h).
#include <memory>
#include <string>

#include "convert/frame_canvas.h"
#include "image/packed_dib.h"

namespace zelvo {

// Parses "WxH" (or "WXH"): two whole numbers from 1 to 65535. False for anything else.
bool ParseFrameSize(const std::string& text, int* width, int* height);

// Where an image of width x height goes in a box of boxWidth x boxHeight: as large as the
// box allows with the image's aspect ratio (rounded to whole pixels, at least one), centred
// (an odd leftover puts the extra pixel right and below).
struct FitBox {
  int x = 0;  // from the left
  int y = 0;  // from the top
  int width = 0;
  int height = 0;
};
FitBox FitInside(int width, int height, int boxWidth, int boxHeight);

class FrameFitter {
 public:
  FrameFitter();
  ~FrameFitter();
  FrameFitter(const FrameFitter&) = delete;
  FrameFitter& operator=(const FrameFitter&) = delete;

  // Draws `image` onto the canvas at FitInside's place, black around it: scaled unless it
  // already has that size. Each colour channel is scaled alone, so a flat colour stays
  // exactly that colour. 0 drawn, 1 the image cannot be drawn (what DrawPackedDib refuses)
  // or the scaler cannot be prepared; the canvas is then unchanged.
  int Draw(FrameCanvas& canvas, const PackedDib& image);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zelvo
