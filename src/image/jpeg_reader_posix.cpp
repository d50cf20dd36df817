#include "image/jpeg_reader_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "image/av_image_reader_posix.h"
#include "image/av_jpeg_yuv_posix.h"
#include "image/jpeg_layout_posix.h"
#include "image/jpeg_markers.h"
#include "image/jpeg_pixels.h"
#include "image/jpeg_session_posix.h"
#include "image/jpeg_transcode_posix.h"
#include "image/oriented_rows.h"
#include "image/packed_dib.h"

namespace zelvo {
namespace {

constexpr int kBgrBytes = 3;
// Rows asked of libjpeg at once: it gives at most one band of blocks (8 rows times the
// largest vertical sampling factor, at most 4) a call.
constexpr int kBandRows = 32;

// The whole file of this thread's last frame: kept for the next frame, whose pages are
// then already mapped. Stored rows on their way to their place (turned, or CMYK) too.
thread_local std::vector<std::uint8_t> t_file;
thread_local std::vector<std::uint8_t> t_rows;

struct JpegBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// The whole open file, from where frame_reader left it (its start), into `buffer`, which
// only ever grows.
FrameRead Load(const FrameSource& frame, std::vector<std::uint8_t>* buffer, JpegBytes* bytes) {
  errno = 0;
  const std::int64_t length = frame.file.Size();
  if (length < 0) return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO);
  if (static_cast<std::uint64_t>(length) > kMaxImageFileBytes) return FrameRead::Failed(FrameFailure::kTooLarge);
  try {
    if (buffer->size() < static_cast<std::size_t>(length)) buffer->resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return FrameRead::Failed(FrameFailure::kNoMemory);
  }
  errno = 0;
  // Read returns short only at the end: a file that shrank since its size was taken.
  const std::int64_t got = frame.file.Read(buffer->data(), static_cast<std::size_t>(length));
  if (got < 0) return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO);
  bytes->data = buffer->data();
  bytes->size = static_cast<std::size_t>(got);
  return FrameRead();
}

// What a read has already been granted: asked again, within it.
class HeldBudget : public FrameBudget {
 public:
  explicit HeldBudget(std::uint64_t bytes) : bytes_(bytes) {}
  bool Reserve(std::uint64_t bytes) override { return bytes <= bytes_; }

 private:
  std::uint64_t bytes_;
};

FrameRead ReadWithLibavFromStart(const ImageFormat& format, const FrameSource& frame) {
  errno = 0;
  if (!frame.file.Seek(0)) return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO);
  return ReadWithLibav(format.decoder, frame);
}

// Row memory beside the frame's block: one zero row at least (the black of rows the data
// did not reach), a band of stored rows where they are placed or converted.
std::size_t RowBytes(const JpegLayout& layout) {
  const std::size_t row = static_cast<std::size_t>(layout.width) * kCmykBytes;
  return layout.direct ? row : row * kBandRows;
}

PackedDib HeaderOnly(int width, int height) {
  PackedDib dib = PackedDib::Allocate(kDibHeaderSize);
  if (dib) dib.set_header(MakeDibHeader(width, height, 24, 0));
  return dib;
}

// Where the stored rows go: the frame's rows, and this thread's row memory.
struct Rows {
  JpegLayout layout;
  Placement placement;
  std::uint8_t* pixels;    // the frame's rows, bottom-up
  std::size_t stride;      // of the frame's rows
  std::uint8_t* band;      // stored rows on their way (a zero row where rows are direct)
  std::size_t bandStride;  // of the band's rows
};

// The frame's row where stored row y is shown, for a picture not turned across.
std::uint8_t* DirectRow(const Rows& rows, int y) {
  const int o = rows.layout.orientation;
  const int shown = o == 3 || o == 4 ? rows.layout.height - 1 - y : y;
  return rows.pixels + static_cast<std::size_t>(rows.layout.outHeight - 1 - shown) * rows.stride;
}

// Puts decoded stored row y, at `row`, in its place.
void Place(const Rows& rows, std::uint8_t* row, int y) {
  const JpegLayout& l = rows.layout;
  if (l.direct) {
    if (l.orientation == 2 || l.orientation == 3) MirrorBgr(row, l.width);
    return;
  }
  if (l.out == JCS_CMYK) CmykToBgr(row, l.width);
  if (l.out == JCS_YCCK) YcckToBgr(row, l.width);
  PlaceRow(row, y, l.width, rows.placement, rows.pixels, rows.stride, l.outHeight);
}

// Stored rows from `y` on, which the file's data did not reach: black, as the libav reader
// leaves them.
void Blacken(const Rows& rows, int y) {
  std::memset(rows.band, 0, static_cast<std::size_t>(rows.layout.width) * kBgrBytes);
  for (; y < rows.layout.height; ++y) {
    PlaceRow(rows.band, y, rows.layout.width, rows.placement, rows.pixels, rows.stride, rows.layout.outHeight);
  }
}

// The pixels of the `count` rows at `band` (`bytes` a pixel, as libjpeg gives them) that
// the data reached, in the band of blocks in which it ran out: libjpeg decodes the units
// past the end as blank (every sample 128), which end the rows. Units of `unit` pixels.
int ReachedWidth(JSAMPROW* band, int count, int width, int bytes, int unit) {
  int reached = width;
  while (reached > 0) {
    const int from = (reached - 1) / unit * unit;
    for (int i = 0; i < count; ++i) {
      const std::uint8_t* p = band[i] + from * bytes;
      const auto written = [](std::uint8_t b) { return b != CENTERJSAMPLE; };
      if (std::any_of(p, p + (reached - from) * bytes, written)) return reached;
    }
    reached = from;
  }
  return 0;
}

// Run under the decompressor (see JpegStep): decodes every row into its place.
void DecodeRows(JpegSession* session, void* context) {
  const Rows& rows = *static_cast<const Rows*>(context);
  jpeg_decompress_struct& info = session->info;
  jpeg_start_decompress(&info);
  // A file of several scans is read whole by now: running out there left its picture
  // coarser, not missing.
  const bool ranOutBefore = session->errors.ranOut;
  JSAMPROW band[kBandRows];
  const int bytes = rows.layout.out == JCS_EXT_BGR ? kBgrBytes : kCmykBytes;
  int reached = -1;  // once the data has run out: the pixels of its band's rows it reached
  int end = rows.layout.height;
  while (static_cast<int>(info.output_scanline) < end) {
    const int y = static_cast<int>(info.output_scanline);
    const int want = std::min(kBandRows, end - y);
    for (int i = 0; i < want; ++i) {
      band[i] = rows.layout.direct ? DirectRow(rows, y + i) : rows.band + i * rows.bandStride;
    }
    const int got = static_cast<int>(jpeg_read_scanlines(&info, band, static_cast<JDIMENSION>(want)));
    if (got <= 0) break;
    if (reached < 0 && session->errors.ranOut && !ranOutBefore) {
      // The band of blocks these rows begin is the one the data ended in: the rest of the
      // picture is black, as the libav reader leaves it.
      reached = ReachedWidth(band, got, rows.layout.width, bytes, info.max_h_samp_factor * DCTSIZE);
      const int bandRows = info.max_v_samp_factor * DCTSIZE;
      end = std::min(end, (y / bandRows + 1) * bandRows);
    }
    if (reached >= 0) {
      const std::size_t lost = static_cast<std::size_t>(rows.layout.width - reached) * bytes;
      for (int i = 0; i < got; ++i) std::memset(band[i] + reached * bytes, 0, lost);
    }
    for (int i = 0; i < got; ++i) Place(rows, band[i], y + i);
  }
  if (info.output_scanline < info.output_height) Blacken(rows, static_cast<int>(info.output_scanline));
}

// The picture of an opened file, laid out by `layout`, into read->image.
FrameFailure DecodePicture(JpegDecompressor* decoder, const JpegLayout& layout, std::uint64_t block, FrameRead* read) {
  std::vector<std::uint8_t>& band = t_rows;
  try {
    if (band.size() < RowBytes(layout)) band.resize(RowBytes(layout));
  } catch (const std::bad_alloc&) {
    return FrameFailure::kNoMemory;
  }
  PackedDib dib = PackedDib::AllocateForOverwrite(block);
  if (!dib) return FrameFailure::kNoMemory;
  dib.set_header(MakeDibHeader(layout.outWidth, layout.outHeight, 24, 0));
  const std::size_t stride = static_cast<std::size_t>(DibStride(layout.outWidth, 24));
  Rows rows{layout,      PlacementFor(layout.orientation, layout.width, layout.height), dib.pixels(), stride,
            band.data(), static_cast<std::size_t>(layout.width) * kCmykBytes};
  if (!decoder->Run(DecodeRows, &rows)) return decoder->Failure();
  const std::size_t used = static_cast<std::size_t>(layout.outWidth) * kBgrBytes;
  for (int y = 0; y < layout.outHeight; ++y) std::memset(dib.pixels() + y * stride + used, 0, stride - used);
  read->image = std::move(dib);
  return FrameFailure::kNone;
}

// The picture of `bytes` through libjpeg; no picture and *handOn set for a file to leave
// to libavcodec.
FrameRead DecodeWithLibjpeg(const JpegBytes& bytes, bool headerOnly, FrameBudget* budget, bool* handOn) {
  JpegDecompressor decoder;
  if (!decoder.Open(bytes.data, bytes.size)) {
    *handOn = decoder.Unsupported();
    return FrameRead::Failed(decoder.Failure());
  }
  JpegLayout layout;
  if (!PlanJpegLayout(&decoder.info(), &layout)) {
    *handOn = true;
    return FrameRead::Failed(FrameFailure::kDamaged);
  }
  const std::uint64_t block = DibBlockBytes(layout.width, layout.height, layout.orientation);
  const std::uint64_t working = JpegWorkingBytes(&decoder.info(), RowBytes(layout));
  if (block == 0 || working > kMostJpegWorkingBytes) return FrameRead::Failed(FrameFailure::kTooLarge);
  FrameRead read;
  read.bytes = block + working;
  if (headerOnly) {
    read.image = HeaderOnly(layout.outWidth, layout.outHeight);
    return read.image ? std::move(read) : FrameRead::Failed(FrameFailure::kNoMemory);
  }
  if (budget != nullptr && !budget->Reserve(read.bytes)) return FrameRead::Failed(FrameFailure::kNoMemory);
  const FrameFailure failure = DecodePicture(&decoder, layout, block, &read);
  if (failure != FrameFailure::kNone) return FrameRead::Failed(failure);
  read.cutShort = decoder.ranOut() || JpegEndsEarly(bytes.data, bytes.size);
  return read;
}

FrameRead Decode(const ImageFormat& format, const FrameSource& frame, const JpegBytes& bytes) {
  bool handOn = false;
  FrameRead read = DecodeWithLibjpeg(bytes, frame.headerOnly, frame.budget, &handOn);
  return handOn ? ReadWithLibavFromStart(format, frame) : FrameRead(std::move(read));
}

}  // namespace

FrameRead ReadJpeg(const ImageFormat& format, const FrameSource& frame) {
  std::vector<std::uint8_t> headerFile;  // a header read keeps nothing for later frames
  JpegBytes bytes;
  FrameRead loaded = Load(frame, frame.headerOnly ? &headerFile : &t_file, &bytes);
  if (!loaded) return loaded;
  // A writer that takes finished MJPEG frames gets this file's own coefficients,
  // requantised (jpeg_transcode_posix.h). The budget is asked once for the read, enough
  // for the file's picture as well should the writer not take it.
  const std::uint64_t held = frame.headerOnly ? 0 : MjpegOfferBytes();
  HeldBudget budget(held);
  FrameSource source = frame;
  if (held != 0) {
    if (frame.budget != nullptr && !frame.budget->Reserve(held)) return FrameRead::Failed(FrameFailure::kNoMemory);
    FrameRead ready;
    ready.image = TranscodeToMjpeg(bytes.data, bytes.size);
    if (ready.image) {
      ready.bytes = ready.image.size();
      return ready;
    }
    if (frame.budget != nullptr) source.budget = &budget;
  }
  if (JpegYuvOffered()) return ReadWithLibavFromStart(format, source);
  return Decode(format, source, bytes);
}

FrameRead DecodeJpeg(const std::uint8_t* data, std::size_t size) {
  bool handOn = false;
  FrameRead read = DecodeWithLibjpeg(JpegBytes{data, size}, false, nullptr, &handOn);
  return handOn ? FrameRead::Failed(FrameFailure::kDamaged) : FrameRead(std::move(read));
}

}  // namespace zelvo
