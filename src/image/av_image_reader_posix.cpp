#include "image/av_image_reader_posix.h"

#include "image/av_calls_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "image/av_jpeg_yuv_posix.h"
#include "image/av_picture_pool_posix.h"
#include "image/av_picture_posix.h"
#include "image/jpeg_markers.h"
#include "platform/file.h"
#include "platform/messages_posix.h"

namespace zelvo {

// Keeps one line for the innermost KeptLibavLines of this thread.
void KeepLibavLine(const std::string& line);

namespace {

// What one decode learns besides its picture, and the budget it asks.
struct DecodeState {
  FrameBudget* budget = nullptr;
  bool mayTurn = false;      // a JPEG, whose EXIF orientation may trade width and height
  bool sizeRefused = false;  // the picture is larger than a frame may be
  bool reserved = false;     // the memory the read holds is known (and the budget asked)
  bool refused = false;      // the budget said no
  std::uint64_t bytes = 0;   // what the read holds: the frame's block and the decoder's picture
};

// Asks the budget, once per read, for the frame's block and the decoder's picture of
// `frame`'s format and size; false when the picture may not be had.
bool AskBudget(AVCodecContext* context, const AVFrame* frame, DecodeState* state) {
  if (state->reserved) return true;
  state->reserved = true;
  // The orientation is read with the picture: a JPEG's block is counted turned or not,
  // whichever is larger (they differ by row padding alone).
  std::uint64_t block = DibBlockBytes(frame->width, frame->height, 1);
  if (state->mayTurn) block = std::max(block, DibBlockBytes(frame->width, frame->height, 6));
  const std::int64_t picture = PictureBufferBytes(context, frame);
  if (block == 0 || picture < 0) {
    state->sizeRefused = true;
    return false;
  }
  state->bytes = block + static_cast<std::uint64_t>(picture);
  state->refused = state->budget != nullptr && !state->budget->Reserve(state->bytes);
  return !state->refused;
}

// The decode under way on this thread, if any. The decoder runs on the thread that reads
// the frame, so what it logs there belongs to that frame.
thread_local DecodeState* t_decoding = nullptr;

// The lines kept on this thread, if any (see KeptLibavLines).
thread_local KeptLibavLines* t_kept = nullptr;

// The whole file of this thread's last frame, with libavcodec's padding: kept for the next
// frame, whose pages are then already mapped.
thread_local std::vector<std::uint8_t> t_file;

// Marks the calling thread's decode for LibavLogFilter while it lives.
class QuietDecode {
 public:
  explicit QuietDecode(DecodeState* state) { t_decoding = state; }
  ~QuietDecode() { t_decoding = nullptr; }
  QuietDecode(const QuietDecode&) = delete;
  QuietDecode& operator=(const QuietDecode&) = delete;
};

struct ContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// Black, not whatever the memory held: a decoder that stops early (a JPEG cut short)
// leaves the rest of its picture unwritten. Pictures beyond kMaxDecodedBytes, or whose
// frame would pass kMaxDibBlock, are refused here, and the budget is asked, before their
// memory is taken.
int BlackPicture(AVCodecContext* context, AVFrame* frame, int /*flags*/) {
  DecodeState* state = static_cast<DecodeState*>(context->opaque);
  const AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
  const int bytes = av_image_get_buffer_size(format, frame->width, frame->height, 1);
  if (bytes < 0 || static_cast<std::uint64_t>(bytes) > kMaxDecodedBytes) {
    state->sizeRefused = true;
    return AVERROR(EINVAL);
  }
  if (!AskBudget(context, frame, state)) return state->refused ? AVERROR(ENOMEM) : AVERROR(EINVAL);
  const int result = TakePictureBuffers(context, frame);
  if (result < 0) return result;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  // Only YUV of the video range keeps black at 16; full-range YUV (yuvj), grey, RGB and
  // palette pictures are black at 0.
  const bool videoRange = desc != nullptr && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) &&
                          desc->nb_components >= 3 && std::strncmp(desc->name, "yuvj", 4) != 0 &&
                          frame->color_range != AVCOL_RANGE_JPEG;
  ptrdiff_t linesizes[4];
  for (int i = 0; i < 4; ++i) linesizes[i] = frame->linesize[i];
  if (av_image_fill_black(frame->data, linesizes, format, videoRange ? AVCOL_RANGE_MPEG : AVCOL_RANGE_JPEG,
                          frame->width, frame->height) < 0) {
    // Float and palette pictures, which it does not fill: zero is black for them.
    std::size_t sizes[4] = {};
    if (av_image_fill_plane_sizes(sizes, format, frame->height, linesizes) < 0) return AVERROR(EINVAL);
    for (int i = 0; i < 4; ++i) {
      if (frame->data[i] != nullptr) std::memset(frame->data[i], 0, sizes[i]);
    }
  }
  return 0;
}

FrameFailure FailureOf(int error, const DecodeState& state) {
  if (state.refused || error == AVERROR(ENOMEM)) return FrameFailure::kNoMemory;
  return state.sizeRefused ? FrameFailure::kTooLarge : FrameFailure::kDamaged;
}

// The EXIF orientation (1 to 8) a JPEG decoder found, 1 when there is none.
int Orientation(const AVFrame* picture) {
  const AVDictionaryEntry* entry = av_dict_get(picture->metadata, "Orientation", nullptr, 0);
  const int value = entry != nullptr ? std::atoi(entry->value) : 1;
  return value >= 1 && value <= 8 ? value : 1;
}

// The whole open file, from its start, with the zero padding libavcodec reads past a
// packet's end, into `buffer`, which only ever grows. *size: the bytes read.
FrameRead ReadWholeFile(ReadOnlyFile& file, std::vector<std::uint8_t>* buffer, std::size_t* size) {
  errno = 0;
  const std::int64_t length = file.Size();
  if (length < 0) return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO);
  if (static_cast<std::uint64_t>(length) > kMaxImageFileBytes) return FrameRead::Failed(FrameFailure::kTooLarge);
  const std::size_t want = static_cast<std::size_t>(length);
  try {
    if (buffer->size() < want + AV_INPUT_BUFFER_PADDING_SIZE) buffer->resize(want + AV_INPUT_BUFFER_PADDING_SIZE);
  } catch (const std::bad_alloc&) {
    return FrameRead::Failed(FrameFailure::kNoMemory);
  }
  errno = 0;
  // Read returns short only at the end: a file that shrank since its size was taken.
  const std::int64_t got = file.Read(buffer->data(), want);
  if (got < 0) return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO);
  std::memset(buffer->data() + got, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  *size = static_cast<std::size_t>(got);
  return FrameRead();
}

// A job reads its first frame's header twice (the codec check and the writer's size), and
// a decoder gives no size without the whole picture: the outcome of the last header read
// is kept, for the same file unchanged (ReadOnlyFile::Version).
struct HeaderMemo {
  std::string path;
  std::string version;
  int width = 0;
  int height = 0;
  std::uint64_t bytes = 0;
};
std::mutex g_headerMutex;
HeaderMemo g_header;

// A block of the header alone, as the BMP reader's header is: what callers of a header
// read look at is the size.
PackedDib HeaderOnly(int width, int height) {
  PackedDib dib = PackedDib::Allocate(kDibHeaderSize);
  if (dib) dib.set_header(MakeDibHeader(width, height, 24, 0));
  return dib;
}

// Decodes the one picture of `data` (followed by the zero padding) into *picture.
// Returns 0 or libav's error.
int Decode(AVCodecID id, std::uint8_t* data, std::size_t size, DecodeState* state, AVFrame* picture) {
  const AVCodec* codec = avcodec_find_decoder(id);
  if (codec == nullptr || size > static_cast<std::size_t>(INT32_MAX)) return AVERROR_INVALIDDATA;
  std::unique_ptr<AVCodecContext, ContextFree> context(avcodec_alloc_context3(codec));
  std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
  if (!context || !packet) return AVERROR(ENOMEM);
  // Frames are decoded on several reader threads at once, one frame each: the decoder's
  // own frame or slice threads would only compete with them for the same cores.
  context->thread_count = 1;
  context->max_pixels = kMaxDecodedPixels;
  context->opaque = state;
  context->get_buffer2 = BlackPicture;
  AVDictionary* options = nullptr;
  // OpenEXR holds linear light: shown as sRGB, as ffmpeg -apply_trc iec61966_2_1 shows it.
  if (id == AV_CODEC_ID_EXR) av_dict_set(&options, "apply_trc", "iec61966_2_1", 0);
  int result = avcodec_open2(context.get(), codec, &options);
  av_dict_free(&options);
  if (result < 0) return result;
  // The packet lends the buffer: it outlives the decoder, which is freed on return.
  packet->buf = av_buffer_create(data, static_cast<int>(size) + AV_INPUT_BUFFER_PADDING_SIZE,
                                 [](void*, std::uint8_t*) {}, nullptr, 0);
  if (packet->buf == nullptr) return AVERROR(ENOMEM);
  packet->data = data;
  packet->size = static_cast<int>(size);
  packet->flags = AV_PKT_FLAG_KEY;
  result = avcodec_send_packet(context.get(), packet.get());
  if (result < 0) return result;
  result = avcodec_receive_frame(context.get(), picture);
  if (result == AVERROR(EAGAIN)) {
    // A decoder that holds its picture back until it knows no more data follows.
    avcodec_send_packet(context.get(), nullptr);
    result = avcodec_receive_frame(context.get(), picture);
  }
  return result == AVERROR_EOF ? AVERROR_INVALIDDATA : result;
}

}  // namespace

// Decoders report damage on libav's log, which would put their lines among the progress
// line and the program's own messages. While a frame is decoded they are dropped: the
// failure comes back as the decode's result, said in the program's words. The one line
// that matters is kept as a fact: libavutil's size check ("Picture size %ux%u ...") refused
// a picture of a real width and height, too many pixels for a frame.
void LibavLogFilter(void* object, int level, const char* form, std::va_list args) {
  if (DecodeState* state = t_decoding) {
    if (form != nullptr && std::strncmp(form, "Picture size %ux%u", 18) == 0) {
      std::va_list size;
      va_copy(size, args);
      const unsigned width = va_arg(size, unsigned);
      const unsigned height = va_arg(size, unsigned);
      va_end(size);
      if (width > 0 && height > 0) state->sizeRefused = true;
    }
    return;
  }
  if (t_kept != nullptr) {
    if (level <= AV_LOG_ERROR && form != nullptr) {
      char line[512];
      std::vsnprintf(line, sizeof line, form, args);
      KeepLibavLine(line);
    }
    return;
  }
  av_log_default_callback(object, level, form, args);
}

void KeepLibavLine(const std::string& line) {
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '.' || text.back() == ' ')) text.pop_back();
  if (!text.empty()) t_kept->last_ = text;
}

KeptLibavLines::KeptLibavLines() : outer_(t_kept) { t_kept = this; }

KeptLibavLines::~KeptLibavLines() { t_kept = outer_; }

namespace {

FrameRead ReadPicture(AVCodecID id, ReadOnlyFile& file, FrameBudget* budget) {
  std::vector<std::uint8_t>& buffer = t_file;
  std::size_t size = 0;
  FrameRead read = ReadWholeFile(file, &buffer, &size);
  if (!read) return read;
  const bool jpeg = id == AV_CODEC_ID_MJPEG;
  DecodeState state;
  state.budget = budget;
  state.mayTurn = jpeg;
  std::unique_ptr<AVFrame, FrameFree> picture(av_frame_alloc());
  if (!picture) return FrameRead::Failed(FrameFailure::kNoMemory);
  QuietDecode quiet(&state);
  const int result = Decode(id, buffer.data(), size, &state, picture.get());
  if (result < 0) return FrameRead::Failed(FailureOf(result, state));
  // A picture an encoder takes in its own YUV (see av_jpeg_yuv_posix.h) stays so, upright.
  const int orientation = jpeg ? Orientation(picture.get()) : 1;
  if (orientation == 1 && TakesJpegYuv(picture.get())) {
    read.image = MakeJpegYuvDib(picture.get());
    if (!read.image) return FrameRead::Failed(FrameFailure::kNoMemory);
  } else {
    read = PictureToDib(picture.get(), orientation);
  }
  read.bytes = state.bytes;
  read.cutShort = read.image && jpeg && JpegEndsEarly(buffer.data(), size);
  return read;
}

// The header, as the memo or a decode of the whole picture gives it.
FrameRead ReadHeader(AVCodecID id, const FrameSource& frame) {
  const std::string version = frame.file.Version();
  FrameRead read;
  {
    std::lock_guard<std::mutex> lock(g_headerMutex);
    if (!version.empty() && g_header.version == version && g_header.path == frame.path) {
      read.image = HeaderOnly(g_header.width, g_header.height);
      read.bytes = g_header.bytes;
      return read.image ? std::move(read) : FrameRead::Failed(FrameFailure::kNoMemory);
    }
  }
  read = ReadPicture(id, frame.file, nullptr);
  ReleasePictureBuffers();
  ReleaseConversionMemory();
  std::vector<std::uint8_t>().swap(t_file);
  if (!read) return read;
  const int width = GetDibWidth(read.image);
  const int height = GetDibHeight(read.image);
  read.image = HeaderOnly(width, height);
  if (!read.image) return FrameRead::Failed(FrameFailure::kNoMemory);
  std::lock_guard<std::mutex> lock(g_headerMutex);
  if (!version.empty()) g_header = HeaderMemo{frame.path, version, width, height, read.bytes};
  return read;
}

}  // namespace

std::string DescribeMissingDecoder() {
  std::string why;
  return LoadLibav(&why) ? Tr("this system's libavcodec has no decoder for its format") : why;
}

FrameRead ReadWithLibav(int codecId, const FrameSource& frame) {
  const AVCodecID id = static_cast<AVCodecID>(codecId);
  if (!LoadLibav() || avcodec_find_decoder(id) == nullptr) return FrameRead::Failed(FrameFailure::kNoDecoder);
  return frame.headerOnly ? ReadHeader(id, frame) : ReadPicture(id, frame.file, frame.budget);
}

}  // namespace zelvo
