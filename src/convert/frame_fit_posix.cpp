#include "convert/frame_fit_posix.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "convert/av_owners_posix.h"

#include "image/av_calls_posix.h"

namespace zelvo {

namespace {

constexpr int kMaxSide = 65535;

bool ParseSide(const std::string& text, int* side) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < 1 || v > kMaxSide) return false;
  *side = static_cast<int>(v);
  return true;
}

}  // namespace

bool ParseFrameSize(const std::string& text, int* width, int* height) {
  const std::size_t x = text.find_first_of("xX");
  int w = 0, h = 0;
  if (x == std::string::npos || !ParseSide(text.substr(0, x), &w) || !ParseSide(text.substr(x + 1), &h)) return false;
  *width = w;
  *height = h;
  return true;
}

FitBox FitInside(int width, int height, int boxWidth, int boxHeight) {
  FitBox box;
  if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return box;
  const std::int64_t w = width, h = height, bw = boxWidth, bh = boxHeight;
  if (w * bh <= bw * h) {  // as tall as the box
    box.height = boxHeight;
    box.width = static_cast<int>((2 * w * bh + h) / (2 * h));
  } else {  // as wide as the box
    box.width = boxWidth;
    box.height = static_cast<int>((2 * h * bw + w) / (2 * w));
  }
  if (box.width < 1) box.width = 1;
  if (box.height < 1) box.height = 1;
  box.x = (boxWidth - box.width) / 2;
  box.y = (boxHeight - box.height) / 2;
  return box;
}

struct FrameFitter::State {
  AvOwner<SwsContext> scaler;
  FrameCanvas converted;           // an image of another depth, as 24 bits
  std::vector<std::uint8_t> from;  // three planes (B, G, R) of the image, top-down
  std::vector<std::uint8_t> to;    // the same, scaled
};

FrameFitter::FrameFitter() : state_(std::make_unique<State>()) {}
FrameFitter::~FrameFitter() = default;

int FrameFitter::Draw(FrameCanvas& canvas, const PackedDib& image) {
  if (canvas.empty()) return 1;
  DibView view;
  switch (ViewDrawableDib(image, &view)) {
    case DibDrawable::kNo: return 1;
    case DibDrawable::kNothing: return DrawPackedDib(canvas, image);  // all black
    case DibDrawable::kYes: break;
  }
  const int width = view.header.width;
  const int height = static_cast<int>(view.geometry.rows);
  const FitBox box = FitInside(width, height, canvas.width(), canvas.height());
  if (box.width == width && box.height == height && box.x == 0 && box.y == 0) return DrawPackedDib(canvas, image);

  // The image's rows as 24-bit BGR, top row first: a 24-bit image's own block, any other
  // depth through the canvas's converter.
  const std::uint8_t* top;
  std::ptrdiff_t step;
  State& s = *state_;
  if (view.header.bitCount == 24) {
    top = view.topDown ? view.pixels : view.pixels + (view.geometry.rows - 1) * view.geometry.stride;
    step = view.topDown ? static_cast<std::ptrdiff_t>(view.geometry.stride)
                        : -static_cast<std::ptrdiff_t>(view.geometry.stride);
  } else {
    if ((s.converted.width() != width || s.converted.height() != height) && !s.converted.Create(width, height))
      return 1;
    if (DrawPackedDib(s.converted, image) != 0) return 1;
    top = s.converted.data() + (height - 1) * s.converted.stride();
    step = -static_cast<std::ptrdiff_t>(s.converted.stride());
  }

  const std::size_t fromPlane = static_cast<std::size_t>(width) * height;
  const std::size_t toPlane = static_cast<std::size_t>(box.width) * box.height;
  if (!LoadLibav()) return 1;
  SwsContext* scaler =
      sws_getCachedContext(s.scaler.release(), width, height, AV_PIX_FMT_GRAY8, box.width, box.height, AV_PIX_FMT_GRAY8,
                           SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  s.scaler.reset(scaler);
  if (!scaler) return 1;
  try {
    s.from.resize(fromPlane * 3);
    s.to.resize(toPlane * 3);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = top + y * step;
    for (int c = 0; c < 3; ++c) {
      std::uint8_t* plane = s.from.data() + c * fromPlane + static_cast<std::size_t>(y) * width;
      for (int x = 0; x < width; ++x) plane[x] = row[3 * x + c];
    }
  }
  for (int c = 0; c < 3; ++c) {
    const std::uint8_t* src[4] = {s.from.data() + c * fromPlane, nullptr, nullptr, nullptr};
    std::uint8_t* dst[4] = {s.to.data() + c * toPlane, nullptr, nullptr, nullptr};
    const int srcStride[4] = {width, 0, 0, 0};
    const int dstStride[4] = {box.width, 0, 0, 0};
    if (sws_scale(scaler, src, srcStride, 0, height, dst, dstStride) != box.height) return 1;
  }
  std::memset(canvas.data(), 0, canvas.bytes());
  for (int y = 0; y < box.height; ++y) {
    std::uint8_t* row = canvas.data() + static_cast<std::size_t>(canvas.height() - 1 - box.y - y) * canvas.stride() +
                        static_cast<std::size_t>(box.x) * 3;
    for (int c = 0; c < 3; ++c) {
      const std::uint8_t* plane = s.to.data() + c * toPlane + static_cast<std::size_t>(y) * box.width;
      for (int x = 0; x < box.width; ++x) row[3 * x + c] = plane[x];
    }
  }
  return 0;
}

}  // namespace zelvo
