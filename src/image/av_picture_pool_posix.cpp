#include "image/av_picture_pool_posix.h"

#include "image/av_calls_posix.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>

namespace zelvo {
namespace {

// The widest alignment libavcodec's SIMD code asks of a row (AVX-512), and the bytes past a
// plane that its readers may touch.
constexpr int kStrideAlign = 64;
constexpr std::size_t kPlaneSlack = 16 + kStrideAlign - 1;

// One pool per plane, for pictures of one decoder, format and size.
struct PlanePools {
  AVCodecID codec = AV_CODEC_ID_NONE;
  int format = AV_PIX_FMT_NONE;
  int width = 0;
  int height = 0;
  int linesize[4] = {};
  AVBufferPool* pools[4] = {};

  PlanePools() = default;
  PlanePools(const PlanePools&) = delete;
  PlanePools& operator=(const PlanePools&) = delete;
  // A pool goes once the last picture taken from it is freed. Pools exist only where
  // libav is loaded; a thread's empty set calls nothing.
  ~PlanePools() { Release(); }
  void Release() {
    for (AVBufferPool*& pool : pools) {
      if (pool != nullptr) av_buffer_pool_uninit(&pool);
    }
    codec = AV_CODEC_ID_NONE;
    format = AV_PIX_FMT_NONE;
  }
};

// Lays the planes out as libavcodec's default allocator does: the size the decoder works
// in (whole blocks), rows widened until every plane's row is aligned. Returns 0 or libav's
// error.
int Layout(AVCodecContext* context, const AVFrame* frame, int linesize[4], std::size_t sizes[4]) {
  const AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
  int width = frame->width;
  int height = frame->height;
  int align[AV_NUM_DATA_POINTERS];
  avcodec_align_dimensions2(context, &width, &height, align);
  bool unaligned = true;
  while (unaligned) {
    const int result = av_image_fill_linesizes(linesize, format, width);
    if (result < 0) return result;
    width += width & ~(width - 1);  // the next try doubles the alignment of the width
    unaligned = false;
    for (int i = 0; i < 4; ++i) unaligned = unaligned || linesize[i] % kStrideAlign != 0;
  }
  ptrdiff_t linesizes[4];
  for (int i = 0; i < 4; ++i) linesizes[i] = linesize[i];
  const int result = av_image_fill_plane_sizes(sizes, format, height, linesizes);
  if (result < 0) return result;
  for (int i = 0; i < 4; ++i) {
    if (sizes[i] > INT_MAX - kPlaneSlack) return AVERROR(EINVAL);
  }
  return 0;
}

int Plan(AVCodecContext* context, const AVFrame* frame, PlanePools* plan) {
  plan->Release();
  std::size_t sizes[4] = {};
  const int result = Layout(context, frame, plan->linesize, sizes);
  if (result < 0) return result;
  for (int i = 0; i < 4; ++i) {
    if (sizes[i] == 0) continue;
    // Cleared once, when the pool first hands a block out, as libavcodec's own pools are.
    plan->pools[i] = av_buffer_pool_init(sizes[i] + kPlaneSlack, av_buffer_allocz);
    if (plan->pools[i] == nullptr) return AVERROR(ENOMEM);
  }
  plan->codec = context->codec_id;
  plan->format = frame->format;
  plan->width = frame->width;
  plan->height = frame->height;
  return 0;
}

thread_local PlanePools t_pools;

}  // namespace

void ReleasePictureBuffers() { t_pools.Release(); }

std::int64_t PictureBufferBytes(AVCodecContext* context, const AVFrame* frame) {
  int linesize[4] = {};
  std::size_t sizes[4] = {};
  const int result = Layout(context, frame, linesize, sizes);
  if (result < 0) return result;
  std::int64_t bytes = 0;
  for (std::size_t size : sizes) bytes += size != 0 ? static_cast<std::int64_t>(size + kPlaneSlack) : 0;
  return bytes;
}

int TakePictureBuffers(AVCodecContext* context, AVFrame* frame) {
  PlanePools& pools = t_pools;
  if (pools.codec != context->codec_id || pools.format != frame->format || pools.width != frame->width ||
      pools.height != frame->height) {
    const int result = Plan(context, frame, &pools);
    if (result < 0) {
      pools.Release();
      return result;
    }
  }
  for (int i = 0; i < 4 && pools.pools[i] != nullptr; ++i) {
    frame->buf[i] = av_buffer_pool_get(pools.pools[i]);
    if (frame->buf[i] == nullptr) {
      av_frame_unref(frame);
      return AVERROR(ENOMEM);
    }
    frame->data[i] = frame->buf[i]->data;
    frame->linesize[i] = pools.linesize[i];
  }
  frame->extended_data = frame->data;
  return 0;
}

}  // namespace zelvo
