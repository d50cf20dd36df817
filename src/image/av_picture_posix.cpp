#include "image/av_picture_posix.h"

#include "image/av_deep_rows_posix.h"
#include "image/oriented_rows.h"

#include "image/av_calls_posix.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
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
  ~ScalerCache() {
    if (context != nullptr) sws_freeContext(context);  // none where libav was never loaded
  }
};

thread_local ScalerCache t_scaler;
thread_local std::vector<std::uint8_t> t_band;

// Bicubic, as ffmpeg's own conversions default to, so that a frame comes out as ffmpeg
// shows the file (the size stays; the flags pick the colour conversion's rounding).
SwsContext* ScalerFor(const AVFrame* picture) {
  ScalerCache& cache = t_scaler;
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
  const int* table = PictureMatrix(picture);
  if (picture->color_range != AVCOL_RANGE_UNSPECIFIED) fullRange = picture->color_range == AVCOL_RANGE_JPEG;
  sws_setColorspaceDetails(cache.context, table, fullRange, table, rgbFullRange, brightness, contrast, saturation);
  return cache.context;
}

// libswscale's converters write whole groups of pixels, up to several dozen bytes past a
// row's end, and some write two rows at a time: a row written straight into the block
// could spoil its neighbour. So the picture is converted a band of rows at a time into
// this thread's band memory, where every row has that much room, and each converted row is
// then copied to its place. A band stays in the cache between the two steps.
constexpr std::size_t kRowRoom = 64;
// Stored rows handed to the scaler per call: a multiple of every chroma subsampling's
// height, as the scaler wants its input slices.
constexpr int kBandRows = 32;
// Rows one call may give back beyond its band: a scaler whose chroma filter reaches ahead
// holds rows back until the rows below arrive, and hands them out with the next band.
constexpr int kBandLag = 32;

// Converts the picture as stored into the block's rows, turned by `orientation`.
FrameFailure ConvertInBands(SwsContext* scaler, const AVFrame* picture, int orientation, std::uint8_t* pixels,
                            std::size_t dibStride, int outHeight) {
  std::vector<std::uint8_t>& band = t_band;
  const int width = picture->width;
  const int height = picture->height;
  const std::size_t stride = ((static_cast<std::size_t>(width) * kBgrBytes + 63) & ~std::size_t{63}) + kRowRoom;
  try {
    const std::size_t bytes = stride * (kBandRows + kBandLag);
    if (band.size() < bytes) band.resize(bytes);
  } catch (const std::bad_alloc&) {
    return FrameFailure::kNoMemory;
  }
  const Placement placement = PlacementFor(orientation, width, height);
  const int lines[4] = {static_cast<int>(stride), 0, 0, 0};
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
  if (desc == nullptr) return FrameFailure::kDamaged;
  int done = 0;  // stored rows converted so far
  for (int y = 0; y < height; y += kBandRows) {
    // The scaler takes each slice from its first row: planes of subsampled chroma from the
    // matching row of theirs, and a palette as it is.
    const std::uint8_t* slice[4] = {};
    for (int i = 0; i < 4 && picture->data[i] != nullptr; ++i) {
      const bool palette = i == 1 && (desc->flags & AV_PIX_FMT_FLAG_PAL);
      const int row = palette ? 0 : (i == 1 || i == 2) ? y >> desc->log2_chroma_h : y;
      slice[i] = picture->data[i] + static_cast<std::ptrdiff_t>(row) * picture->linesize[i];
    }
    // The scaler writes row r at destination + r * stride: the destination is placed so
    // that the next row it gives back, row `done`, lands at the start of the band.
    std::uint8_t* destination[4] = {
        reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(band.data()) - done * stride), nullptr,
        nullptr, nullptr};
    const int made =
        sws_scale(scaler, slice, picture->linesize, y, std::min(kBandRows, height - y), destination, lines);
    if (made < 0 || made > kBandRows + kBandLag || made > height - done) return FrameFailure::kDamaged;
    for (int r = 0; r < made; ++r) {
      PlaceRow(band.data() + r * stride, done + r, width, placement, pixels, dibStride, outHeight);
    }
    done += made;
  }
  return done == height ? FrameFailure::kNone : FrameFailure::kDamaged;
}

// A deep picture (see av_deep_rows_posix.h), row by row through this thread's band memory.
FrameFailure ConvertDeep(const AVFrame* picture, int orientation, std::uint8_t* pixels, std::size_t dibStride,
                         int outHeight) {
  std::vector<std::uint8_t>& row = t_band;
  const std::size_t rowBytes = static_cast<std::size_t>(picture->width) * kBgrBytes;
  try {
    if (row.size() < 2 * rowBytes) row.resize(2 * rowBytes);  // the row and its scratch
  } catch (const std::bad_alloc&) {
    return FrameFailure::kNoMemory;
  }
  const Placement placement = PlacementFor(orientation, picture->width, picture->height);
  for (int y = 0; y < picture->height; ++y) {
    DeepRowToBgr(picture, y, row.data(), row.data() + rowBytes);
    PlaceRow(row.data(), y, picture->width, placement, pixels, dibStride, outHeight);
  }
  return FrameFailure::kNone;
}

}  // namespace

const int* PictureMatrix(const AVFrame* picture) {
  int matrix = picture->colorspace;
  if (matrix < 1 || matrix > 10 || matrix == AVCOL_SPC_YCGCO) matrix = AVCOL_SPC_BT470BG;
  return sws_getCoefficients(matrix);
}

void ReleaseConversionMemory() {
  if (t_scaler.context != nullptr) sws_freeContext(t_scaler.context);
  t_scaler.context = nullptr;
  std::vector<std::uint8_t>().swap(t_band);
}

FrameRead PictureToDib(const AVFrame* picture, int orientation) {
  const int width = picture->width;
  const int height = picture->height;
  if (width <= 0 || height <= 0) return FrameRead::Failed(FrameFailure::kDamaged);
  if (orientation < 1 || orientation > 8) orientation = 1;
  const bool across = orientation >= 5;  // width and height trade places
  const int outWidth = across ? height : width;
  const int outHeight = across ? width : height;
  const std::uint64_t bytes = DibBlockBytes(width, height, orientation);
  if (bytes == 0) return FrameRead::Failed(FrameFailure::kTooLarge);
  const bool deep = IsDeepRgbFormat(picture->format);
  SwsContext* scaler = deep ? nullptr : ScalerFor(picture);
  if (!deep && scaler == nullptr) return FrameRead::Failed(FrameFailure::kDamaged);
  PackedDib dib = PackedDib::AllocateForOverwrite(bytes);
  if (!dib) return FrameRead::Failed(FrameFailure::kNoMemory);
  dib.set_header(MakeDibHeader(outWidth, outHeight, 24, 0));
  std::uint8_t* pixels = dib.pixels();
  const std::size_t stride = static_cast<std::size_t>(DibStride(outWidth, 24));
  const FrameFailure failure = deep ? ConvertDeep(picture, orientation, pixels, stride, outHeight)
                                    : ConvertInBands(scaler, picture, orientation, pixels, stride, outHeight);
  if (failure != FrameFailure::kNone) return FrameRead::Failed(failure);
  const std::size_t used = static_cast<std::size_t>(outWidth) * kBgrBytes;
  for (int row = 0; row < outHeight; ++row) std::memset(pixels + row * stride + used, 0, stride - used);
  FrameRead read;
  read.image = std::move(dib);
  return read;
}

}  // namespace zelvo
