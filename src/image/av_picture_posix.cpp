#include "image/av_picture_posix.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

namespace zelvo {
namespace {

constexpr int kBgrBytes = 3;

// A scaler is costly to set up and a run's frames share their size and format: each reader
// thread keeps its own for the next frame.
struct ScalerCache {
  SwsContext* context = nullptr;
  ScalerCache() = default;
  ScalerCache(const ScalerCache&) = delete;
  ScalerCache& operator=(const ScalerCache&) = delete;
  ~ScalerCache() { sws_freeContext(context); }
};

// Bicubic, as ffmpeg's own conversions default to, so that a frame comes out as ffmpeg
// shows the file (the size stays; the flags pick the colour conversion's rounding).
SwsContext* ScalerFor(const AVFrame* picture) {
  static thread_local ScalerCache cache;
  const AVPixelFormat format = static_cast<AVPixelFormat>(picture->format);
  if (sws_isSupportedInput(format) <= 0) return nullptr;
  cache.context = sws_getCachedContext(cache.context, picture->width, picture->height, format, picture->width,
                                       picture->height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (cache.context == nullptr) return nullptr;
  // The picture's own colour matrix and range, as ffmpeg's scale filter takes them from
  // the frame: a full-range picture in a format that does not say so (a CMYK JPEG's YUVA)
  // keeps its levels.
  int* toRgb = nullptr;
  int* fromRgb = nullptr;
  int fullRange = 0, rgbFullRange = 0, brightness = 0, contrast = 0, saturation = 0;
  sws_getColorspaceDetails(cache.context, &toRgb, &fullRange, &fromRgb, &rgbFullRange, &brightness, &contrast,
                           &saturation);
  int matrix = picture->colorspace;
  if (matrix < 1 || matrix > 10 || matrix == AVCOL_SPC_YCGCO) matrix = AVCOL_SPC_BT470BG;
  const int* table = sws_getCoefficients(matrix);
  if (picture->color_range != AVCOL_RANGE_UNSPECIFIED) fullRange = picture->color_range == AVCOL_RANGE_JPEG;
  sws_setColorspaceDetails(cache.context, table, fullRange, table, rgbFullRange, brightness, contrast, saturation);
  return cache.context;
}

// Where the pixels of one output row come from in the upright-as-stored picture (top-down
// rows `stride` bytes apart): output pixel u of row v is at first + v * rowStep + u * step.
struct Walk {
  std::ptrdiff_t first;
  std::ptrdiff_t rowStep;
  std::ptrdiff_t step;
};

// EXIF orientations: 2 mirrored, 3 turned half way, 4 upside down, 5 mirrored across the
// diagonal (transposed), 6 stored turned left (shown turned right), 7 transversed, 8 stored
// turned right.
Walk WalkFor(int orientation, std::ptrdiff_t width, std::ptrdiff_t height, std::ptrdiff_t stride) {
  const std::ptrdiff_t lastRow = (height - 1) * stride;
  const std::ptrdiff_t lastColumn = (width - 1) * kBgrBytes;
  switch (orientation) {
    case 2: return {lastColumn, stride, -kBgrBytes};
    case 3: return {lastRow + lastColumn, -stride, -kBgrBytes};
    case 4: return {lastRow, -stride, kBgrBytes};
    case 5: return {0, kBgrBytes, stride};
    case 6: return {lastRow, kBgrBytes, -stride};
    case 7: return {lastRow + lastColumn, -kBgrBytes, -stride};
    case 8: return {lastColumn, -kBgrBytes, stride};
    default: return {0, stride, kBgrBytes};
  }
}

// libswscale's converters write whole groups of pixels, up to several dozen bytes past a
// row's end: each row gets that much room, and rows are written top-down, so that nothing
// spills onto a row already written. The picture is converted here and then copied into
// the block, which holds exactly its rows.
constexpr std::size_t kRowRoom = 64;

// The picture as stored, converted into this thread's scratch rows (kept for the next frame:
// pages already mapped cost nothing). Null when the memory cannot be had (*failure
// kNoMemory) or the conversion fails (kDamaged).
const std::uint8_t* ConvertUpright(const AVFrame* picture, std::size_t* stride, ImageFailure* failure) {
  static thread_local std::vector<std::uint8_t> upright;
  SwsContext* scaler = ScalerFor(picture);
  *failure = ImageFailure::kDamaged;
  if (scaler == nullptr) return nullptr;
  *stride = ((static_cast<std::size_t>(picture->width) * kBgrBytes + 63) & ~std::size_t{63}) + kRowRoom;
  try {
    const std::size_t bytes = *stride * static_cast<std::size_t>(picture->height);
    if (upright.size() < bytes) upright.resize(bytes);
  } catch (const std::bad_alloc&) {
    *failure = ImageFailure::kNoMemory;
    return nullptr;
  }
  std::uint8_t* destination[4] = {upright.data(), nullptr, nullptr, nullptr};
  const int lines[4] = {static_cast<int>(*stride), 0, 0, 0};
  if (sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, destination, lines) != picture->height) {
    return nullptr;
  }
  return upright.data();
}

// Copies the upright rows into the block's rows (bottom-up), turned by `orientation`.
void CopyTurned(const std::uint8_t* upright, std::size_t uprightStride, int orientation, int width, int height,
                std::uint8_t* pixels, std::size_t dibStride, int outWidth, int outHeight) {
  const std::size_t used = static_cast<std::size_t>(outWidth) * kBgrBytes;
  if (orientation == 1) {
    for (int v = 0; v < outHeight; ++v) {
      std::memcpy(pixels + static_cast<std::size_t>(outHeight - 1 - v) * dibStride, upright + v * uprightStride, used);
    }
    return;
  }
  const Walk walk = WalkFor(orientation, width, height, static_cast<std::ptrdiff_t>(uprightStride));
  for (int v = 0; v < outHeight; ++v) {
    const std::uint8_t* from = upright + walk.first + v * walk.rowStep;
    std::uint8_t* to = pixels + static_cast<std::size_t>(outHeight - 1 - v) * dibStride;
    for (int u = 0; u < outWidth; ++u, from += walk.step, to += kBgrBytes) std::memcpy(to, from, kBgrBytes);
  }
}

}  // namespace

ImageRead PictureToDib(const AVFrame* picture, int orientation) {
  ImageRead read;
  read.failure = ImageFailure::kDamaged;
  const int width = picture->width;
  const int height = picture->height;
  if (width <= 0 || height <= 0) return read;
  if (orientation < 1 || orientation > 8) orientation = 1;
  const bool across = orientation >= 5;  // width and height trade places
  const int outWidth = across ? height : width;
  const int outHeight = across ? width : height;
  DibGeometry geometry;
  if (!CheckedDibGeometry(outWidth, outHeight, 24, &geometry) || geometry.bytes + kDibHeaderSize > kMaxDibBlock) {
    read.failure = ImageFailure::kTooLarge;
    return read;
  }
  std::size_t uprightStride = 0;
  const std::uint8_t* upright = ConvertUpright(picture, &uprightStride, &read.failure);
  if (upright == nullptr) return read;
  PackedDib dib = PackedDib::AllocateForOverwrite(kDibHeaderSize + geometry.bytes);
  if (!dib) {
    read.failure = ImageFailure::kNoMemory;
    return read;
  }
  dib.set_header(MakeDibHeader(outWidth, outHeight, 24, 0));
  std::uint8_t* pixels = dib.pixels();
  const std::size_t stride = static_cast<std::size_t>(geometry.stride);
  CopyTurned(upright, uprightStride, orientation, width, height, pixels, stride, outWidth, outHeight);
  const std::size_t used = static_cast<std::size_t>(outWidth) * kBgrBytes;
  for (int row = 0; row < outHeight; ++row) std::memset(pixels + row * stride + used, 0, stride - used);
  read.image = std::move(dib);
  read.failure = ImageFailure::kNone;
  return read;
}

}  // namespace zelvo
