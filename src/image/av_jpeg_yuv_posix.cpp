#include "image/av_jpeg_yuv_posix.h"

#include "image/av_calls_posix.h"

#include <atomic>
#include <cstring>

#include "image/av_picture_posix.h"

namespace zelvo {
namespace {

// The offered width in the high half, the height in the low half; 0: no offer.
std::atomic<std::uint64_t> g_offer{0};

std::uint64_t OfferOf(int width, int height) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(width)) << 32 | static_cast<std::uint32_t>(height);
}

// The planes' sizes: luma width x height, each chroma plane half of it, rounded up.
struct Planes {
  std::size_t lumaStride = 0, lumaRows = 0, chromaStride = 0, chromaRows = 0;
  std::uint64_t Bytes() const { return lumaStride * lumaRows + 2 * chromaStride * chromaRows; }
};
Planes PlanesOf(int width, int height) {
  Planes p;
  p.lumaStride = static_cast<std::size_t>(width);
  p.lumaRows = static_cast<std::size_t>(height);
  p.chromaStride = (p.lumaStride + 1) / 2;
  p.chromaRows = (p.lumaRows + 1) / 2;
  return p;
}

}  // namespace

void OfferJpegYuv(int width, int height) {
  g_offer.store(width > 0 && height > 0 ? OfferOf(width, height) : 0, std::memory_order_relaxed);
}

bool JpegYuvOffered() { return g_offer.load(std::memory_order_relaxed) != 0; }

bool TakesJpegYuv(const AVFrame* picture) {
  const std::uint64_t offer = g_offer.load(std::memory_order_relaxed);
  if (offer == 0 || offer != OfferOf(picture->width, picture->height)) return false;
  // Full range as libswscale takes it: said by the format (yuvj) unless the picture says
  // otherwise, or by the picture.
  const bool fullRange = (picture->format == AV_PIX_FMT_YUVJ420P && picture->color_range != AVCOL_RANGE_MPEG) ||
                         (picture->format == AV_PIX_FMT_YUV420P && picture->color_range == AVCOL_RANGE_JPEG);
  return fullRange && PictureMatrix(picture) == sws_getCoefficients(SWS_CS_ITU601);
}

PackedDib MakeJpegYuvDib(const AVFrame* picture) {
  const Planes p = PlanesOf(picture->width, picture->height);
  PackedDib dib = PackedDib::AllocateForOverwrite(kDibHeaderSize + p.Bytes());
  if (!dib) return dib;
  DibHeader header = MakeDibHeader(picture->width, picture->height, 12, static_cast<std::uint32_t>(p.Bytes()));
  header.compression = kJpegYuvFourcc;
  dib.set_header(header);
  std::uint8_t* to = dib.data() + kDibHeaderSize;
  const std::size_t strides[3] = {p.lumaStride, p.chromaStride, p.chromaStride};
  const std::size_t rows[3] = {p.lumaRows, p.chromaRows, p.chromaRows};
  for (int i = 0; i < 3; ++i) {
    for (std::size_t y = 0; y < rows[i]; ++y, to += strides[i]) {
      std::memcpy(to, picture->data[i] + static_cast<std::ptrdiff_t>(y) * picture->linesize[i], strides[i]);
    }
  }
  return dib;
}

bool ViewJpegYuvDib(const PackedDib& dib, AVFrame* view) {
  if (!dib || dib.size() < static_cast<std::size_t>(kDibHeaderSize)) return false;
  const DibHeader header = dib.header();
  if (header.compression != kJpegYuvFourcc || header.width <= 0 || header.height <= 0) return false;
  const Planes p = PlanesOf(header.width, header.height);
  if (dib.size() - kDibHeaderSize < p.Bytes()) return false;
  view->format = AV_PIX_FMT_YUVJ420P;
  view->width = header.width;
  view->height = header.height;
  view->color_range = AVCOL_RANGE_JPEG;
  view->colorspace = AVCOL_SPC_BT470BG;
  std::uint8_t* at = const_cast<std::uint8_t*>(dib.data()) + kDibHeaderSize;
  view->data[0] = at;
  view->data[1] = at + p.lumaStride * p.lumaRows;
  view->data[2] = view->data[1] + p.chromaStride * p.chromaRows;
  view->linesize[0] = static_cast<int>(p.lumaStride);
  view->linesize[1] = view->linesize[2] = static_cast<int>(p.chromaStride);
  return true;
}

FrameRead JpegYuvToBgr(const PackedDib& dib) {
  AVFrame* view = av_frame_alloc();
  if (view == nullptr) return FrameRead::Failed(FrameFailure::kNoMemory);
  FrameRead read = ViewJpegYuvDib(dib, view) ? PictureToDib(view, 1) : FrameRead::Failed(FrameFailure::kDamaged);
  av_frame_free(&view);
  return read;
}

}  // namespace zelvo
