#include "image/jpeg_reader_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "image/av_image_reader_posix.h"
#include "image/av_jpeg_yuv_posix.h"
#include "image/jpeg_markers.h"
#include "image/jpeg_session_posix.h"
#include "image/oriented_rows.h"
#include "image/packed_dib.h"

namespace zelvo {
namespace {

constexpr int kBgrBytes = 3;
constexpr int kCmykBytes = 4;
// Rows asked of libjpeg at once: it gives at most one band of blocks (8 rows times the
// largest vertical sampling factor, at most 4) a call.
constexpr int kBandRows = 32;
// libjpeg's working memory may not pass this, as a libav decoder's picture may not.
constexpr std::uint64_t kMostWorkingBytes = kMaxDibBlock;

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

FrameRead ReadWithLibavFromStart(const ImageFormat& format, const FrameSource& frame) {
  errno = 0;
  if (!frame.file.Seek(0)) return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO);
  return ReadWithLibav(format.decoder, frame);
}

// How the picture is decoded and where its rows go.
struct Layout {
  J_COLOR_SPACE out = JCS_EXT_BGR;  // or JCS_CMYK or JCS_YCCK as stored, combined with K here
  int orientation = 1;
  int width = 0, height = 0;        // as stored
  int outWidth = 0, outHeight = 0;  // as shown
  bool direct = false;              // rows decoded straight into the frame's rows
};

// Where libjpeg shows the file's chroma as ffmpeg does: where chroma is not subsampled, or
// halved across (4:2:2) or both ways (4:2:0), which libswscale's unscaled conversion repeats
// as libjpeg repeats it. ffmpeg interpolates the chroma of 4:4:0, 4:1:1 and other layouts
// (libjpeg differs there by dozens of levels at sharp edges), so those go to libavcodec.
// libjpeg also takes at most 10 blocks to a unit. `whole`: no component subsampled.
bool ChromaShownAlike(const jpeg_decompress_struct& info, bool* whole) {
  const jpeg_component_info* c = info.comp_info;
  *whole = true;
  if (info.num_components == 1) return true;
  int blocks = c[0].h_samp_factor * c[0].v_samp_factor;
  for (int i = 1; i < info.num_components; ++i) {
    if (c[i].h_samp_factor != c[1].h_samp_factor || c[i].v_samp_factor != c[1].v_samp_factor) return false;
    blocks += c[i].h_samp_factor * c[i].v_samp_factor;
  }
  if (blocks > D_MAX_BLOCKS_IN_MCU || c[0].h_samp_factor % c[1].h_samp_factor != 0 ||
      c[0].v_samp_factor % c[1].v_samp_factor != 0)
    return false;
  const int across = c[0].h_samp_factor / c[1].h_samp_factor;
  const int down = c[0].v_samp_factor / c[1].v_samp_factor;
  *whole = across == 1 && down == 1;
  return *whole || (across == 2 && (down == 1 || down == 2));
}

// The colour space ffmpeg's decoder reads the file in, where libjpeg shows it alike: grey;
// three components in YCbCr, or in RGB when an Adobe segment says so (transform 0) or
// their ids are ffmpeg's other RGB mark ('Q', 'F', 'A'), unsubsampled; four unsubsampled
// components in Adobe CMYK or YCCK. JCS_UNKNOWN for the rest, which go to libavcodec.
J_COLOR_SPACE ColourSpaceOf(const jpeg_decompress_struct& info) {
  bool whole = false;
  if (!ChromaShownAlike(info, &whole)) return JCS_UNKNOWN;
  const bool adobe = info.saw_Adobe_marker;
  switch (info.num_components) {
    case 1:
      return JCS_GRAYSCALE;
    case 3: {
      const jpeg_component_info* c = info.comp_info;
      const bool marked = c[0].component_id == 'Q' && c[1].component_id == 'F' && c[2].component_id == 'A';
      return whole && ((adobe && info.Adobe_transform == 0) || marked) ? JCS_RGB : JCS_YCbCr;
    }
    case 4:
      if (!whole || !adobe) return JCS_UNKNOWN;
      return info.Adobe_transform == 0 ? JCS_CMYK : info.Adobe_transform == 2 ? JCS_YCCK : JCS_UNKNOWN;
    default:
      return JCS_UNKNOWN;
  }
}

// The first EXIF orientation among the APP1 segments libjpeg kept; 1 when none gives one.
int OrientationOf(const jpeg_decompress_struct& info) {
  for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next) {
    if (m->marker != JPEG_APP0 + 1) continue;
    const int orientation = ExifOrientation(m->data, m->data_length);
    if (orientation != 0) return orientation;
  }
  return 1;
}

// Sets the decoding up as ffmpeg decodes: the accurate integer IDCT, and chroma repeated
// (libswscale's unscaled YUV to RGB repeats it; libjpeg's default would interpolate it).
// False for a file to leave to libavcodec.
bool Plan(jpeg_decompress_struct* info, Layout* layout) {
  const J_COLOR_SPACE space = ColourSpaceOf(*info);
  if (space == JCS_UNKNOWN) return false;
  info->jpeg_color_space = space;
  // Four components come as stored: ffmpeg combines them with K in its own way.
  info->out_color_space = space == JCS_CMYK || space == JCS_YCCK ? space : JCS_EXT_BGR;
  info->dct_method = JDCT_ISLOW;
  info->do_fancy_upsampling = FALSE;
  info->mem->max_memory_to_use = static_cast<long>(kMostWorkingBytes);
  layout->out = info->out_color_space;
  layout->orientation = OrientationOf(*info);
  layout->width = static_cast<int>(info->image_width);
  layout->height = static_cast<int>(info->image_height);
  const bool across = layout->orientation >= 5;
  layout->outWidth = across ? layout->height : layout->width;
  layout->outHeight = across ? layout->width : layout->height;
  layout->direct = layout->out == JCS_EXT_BGR && !across;
  return true;
}

// Row memory beside the frame's block: one zero row at least (the black of rows the data
// did not reach), a band of stored rows where they are placed or converted.
std::size_t RowBytes(const Layout& layout) {
  const std::size_t row = static_cast<std::size_t>(layout.width) * kCmykBytes;
  return layout.direct ? row : row * kBandRows;
}

// What libjpeg holds while it decodes: a file of several scans keeps every block's
// coefficients; every file an iMCU row of samples per component, and again upsampled.
std::uint64_t WorkingBytes(jpeg_decompress_struct* info, const Layout& layout) {
  const bool buffered = jpeg_has_multiple_scans(info);
  std::uint64_t bytes = RowBytes(layout);
  for (int c = 0; c < info->num_components; ++c) {
    const jpeg_component_info& comp = info->comp_info[c];
    const std::uint64_t across = (std::uint64_t{comp.width_in_blocks} + comp.h_samp_factor - 1) / comp.h_samp_factor *
                                 comp.h_samp_factor;
    const std::uint64_t down = (std::uint64_t{comp.height_in_blocks} + comp.v_samp_factor - 1) / comp.v_samp_factor *
                               comp.v_samp_factor;
    if (buffered) bytes += across * down * sizeof(JBLOCK);
    bytes += 2 * across * DCTSIZE * std::uint64_t{static_cast<unsigned>(info->max_v_samp_factor)} * DCTSIZE;
  }
  return bytes;
}

PackedDib HeaderOnly(int width, int height) {
  PackedDib dib = PackedDib::Allocate(kDibHeaderSize);
  if (dib) dib.set_header(MakeDibHeader(width, height, 24, 0));
  return dib;
}

// Where the stored rows go: the frame's rows, and this thread's row memory.
struct Rows {
  Layout layout;
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

void Mirror(std::uint8_t* row, int width) {
  for (int a = 0, b = width - 1; a < b; ++a, --b) {
    std::uint8_t* p = row + a * kBgrBytes;
    std::uint8_t* q = row + b * kBgrBytes;
    for (int i = 0; i < kBgrBytes; ++i) std::swap(p[i], q[i]);
  }
}

// JPEG's full-range YCbCr to RGB, in 16.16 fixed point.
constexpr int kCrToR = 91881;  // 1.402
constexpr int kCbToG = 22554;  // 0.344136
constexpr int kCrToG = 46802;  // 0.714136
constexpr int kCbToB = 116130; // 1.772
int FixedRound(int value) { return (value + 32768) >> 16; }
std::uint8_t Clamp(int value) { return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// Adobe CMYK as stored (inverted: 255 is no ink) to BGR in place, as ffmpeg's decoder
// combines each colour with K: c * k * 257 >> 16.
void CmykToBgr(std::uint8_t* row, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t* from = row + x * kCmykBytes;
    const unsigned c = from[0], m = from[1], y = from[2], k = from[3];
    std::uint8_t* to = row + x * kBgrBytes;
    to[0] = static_cast<std::uint8_t>(y * k * 257 >> 16);
    to[1] = static_cast<std::uint8_t>(m * k * 257 >> 16);
    to[2] = static_cast<std::uint8_t>(c * k * 257 >> 16);
  }
}

// Adobe YCCK as stored to BGR in place, as ffmpeg shows it: its decoder scales the inverted
// luma and the chroma's distance from grey by K (x * k * 257 >> 16), and the YCbCr that makes
// is converted with JPEG's full-range matrix. (libjpeg's own way, K times the colour, clamps
// the colour before it is scaled, which differs by dozens of levels out of gamut.)
void YcckToBgr(std::uint8_t* row, int width) {
  for (int x = 0; x < width; ++x) {
    const std::uint8_t* from = row + x * kCmykBytes;
    const int k = from[3];
    const int luma = (255 - from[0]) * k * 257 >> 16;
    const int cb = (128 - from[1]) * k * 257 >> 16;
    const int cr = (128 - from[2]) * k * 257 >> 16;
    std::uint8_t* to = row + x * kBgrBytes;
    to[0] = Clamp(luma + FixedRound(kCbToB * cb));
    to[1] = Clamp(luma - FixedRound(kCbToG * cb + kCrToG * cr));
    to[2] = Clamp(luma + FixedRound(kCrToR * cr));
  }
}

// Puts decoded stored row y, at `row`, in its place.
void Place(const Rows& rows, std::uint8_t* row, int y) {
  const Layout& l = rows.layout;
  if (l.direct) {
    if (l.orientation == 2 || l.orientation == 3) Mirror(row, l.width);
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
      if (std::any_of(p, p + (reached - from) * bytes, [](std::uint8_t b) { return b != CENTERJSAMPLE; })) return reached;
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
    for (int i = 0; i < want; ++i) band[i] = rows.layout.direct ? DirectRow(rows, y + i) : rows.band + i * rows.bandStride;
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
FrameFailure DecodePicture(JpegDecompressor* decoder, const Layout& layout, std::uint64_t block, FrameRead* read) {
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
  Rows rows{layout, PlacementFor(layout.orientation, layout.width, layout.height), dib.pixels(), stride,
                  band.data(), static_cast<std::size_t>(layout.width) * kCmykBytes};
  if (!decoder->Run(DecodeRows, &rows)) return decoder->Failure();
  const std::size_t used = static_cast<std::size_t>(layout.outWidth) * kBgrBytes;
  for (int y = 0; y < layout.outHeight; ++y) std::memset(dib.pixels() + y * stride + used, 0, stride - used);
  read->image = std::move(dib);
  return FrameFailure::kNone;
}

FrameRead Decode(const ImageFormat& format, const FrameSource& frame, const JpegBytes& bytes) {
  JpegDecompressor decoder;
  if (!decoder.Open(bytes.data, bytes.size)) {
    return decoder.Unsupported() ? ReadWithLibavFromStart(format, frame) : FrameRead::Failed(decoder.Failure());
  }
  Layout layout;
  if (!Plan(&decoder.info(), &layout)) return ReadWithLibavFromStart(format, frame);
  const std::uint64_t block = DibBlockBytes(layout.width, layout.height, layout.orientation);
  const std::uint64_t working = WorkingBytes(&decoder.info(), layout);
  if (block == 0 || working > kMostWorkingBytes) return FrameRead::Failed(FrameFailure::kTooLarge);
  FrameRead read;
  read.bytes = block + working;
  if (frame.headerOnly) {
    read.image = HeaderOnly(layout.outWidth, layout.outHeight);
    return read.image ? std::move(read) : FrameRead::Failed(FrameFailure::kNoMemory);
  }
  if (frame.budget != nullptr && !frame.budget->Reserve(read.bytes)) return FrameRead::Failed(FrameFailure::kNoMemory);
  const FrameFailure failure = DecodePicture(&decoder, layout, block, &read);
  if (failure != FrameFailure::kNone) return FrameRead::Failed(failure);
  read.cutShort = decoder.ranOut() || JpegEndsEarly(bytes.data, bytes.size);
  return read;
}

}  // namespace

FrameRead ReadJpeg(const ImageFormat& format, const FrameSource& frame) {
  std::vector<std::uint8_t> headerFile;  // a header read keeps nothing for later frames
  JpegBytes bytes;
  FrameRead loaded = Load(frame, frame.headerOnly ? &headerFile : &t_file, &bytes);
  if (!loaded) return loaded;
  // A writer that takes this file's JPEG data as it is would take `bytes` here.
  if (JpegYuvOffered()) return ReadWithLibavFromStart(format, frame);
  return Decode(format, frame, bytes);
}

}  // namespace zelvo
