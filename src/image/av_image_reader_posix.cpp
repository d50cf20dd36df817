#include "image/av_image_reader_posix.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string.h>  // memmem
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "image/av_picture_pool_posix.h"
#include "image/av_picture_posix.h"
#include "platform/file.h"

namespace zelvo {
namespace {

// What one decode learns besides its picture.
struct DecodeState {
  bool sizeRefused = false;  // the picture is larger than a frame may be
};

// The decode under way on this thread, if any. The decoder runs on the thread that reads
// the frame, so what it logs there belongs to that frame.
thread_local DecodeState* t_decoding = nullptr;

// The whole file of this thread's last frame, with libavcodec's padding: kept for the next
// frame, whose pages are then already mapped.
thread_local std::vector<std::uint8_t> t_file;

// Decoders report damage on libav's log, which would put their lines among the progress
// line and the program's own messages. While a frame is decoded they are dropped: the
// failure comes back as the decode's result, said in the program's words. The one line
// that matters is kept as a fact: libavutil's size check ("Picture size %ux%u ...") refused
// a picture of a real width and height, too many pixels for a frame.
void LogLine(void* object, int level, const char* form, std::va_list args) {
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
  av_log_default_callback(object, level, form, args);
}

// Marks the calling thread's decode for LogLine while it lives.
class QuietDecode {
 public:
  explicit QuietDecode(DecodeState* state) {
    FilterDecoderLogs();
    t_decoding = state;
  }
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
// leaves the rest of its picture unwritten. Pictures beyond kMaxDecodedBytes are refused
// here, before their memory is taken.
int BlackPicture(AVCodecContext* context, AVFrame* frame, int /*flags*/) {
  const AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
  const int bytes = av_image_get_buffer_size(format, frame->width, frame->height, 1);
  if (bytes < 0 || static_cast<std::uint64_t>(bytes) > kMaxDecodedBytes) {
    static_cast<DecodeState*>(context->opaque)->sizeRefused = true;
    return AVERROR(EINVAL);
  }
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

ImageFailure FailureOf(int error, const DecodeState& state) {
  if (error == AVERROR(ENOMEM)) return ImageFailure::kNoMemory;
  return state.sizeRefused ? ImageFailure::kTooLarge : ImageFailure::kDamaged;
}

// The EXIF orientation (1 to 8) a JPEG decoder found, 1 when there is none.
int Orientation(const AVFrame* picture) {
  const AVDictionaryEntry* entry = av_dict_get(picture->metadata, "Orientation", nullptr, 0);
  const int value = entry != nullptr ? std::atoi(entry->value) : 1;
  return value >= 1 && value <= 8 ? value : 1;
}

// True when a JPEG ends before its end-of-image marker: no FF D9 follows the first scan,
// whose entropy-coded data can hold no such pair. Markers before the scan are stepped over
// by their lengths, so an embedded thumbnail's own end marker does not count.
bool JpegEndsEarly(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 2;
  while (at + 4 <= size) {
    if (data[at] != 0xFF) return false;  // not a marker: the decoder judges the file
    const std::uint8_t marker = data[at + 1];
    if (marker == 0xFF) {
      ++at;  // fill byte
      continue;
    }
    if (marker == 0xDA) return memmem(data + at + 2, size - at - 2, "\xFF\xD9", 2) == nullptr;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      at += 2;
      continue;
    }
    at += 2 + (std::size_t{data[at + 2]} << 8 | data[at + 3]);
  }
  return false;
}

// The whole file with the zero padding libavcodec reads past a packet's end, into `buffer`,
// which only ever grows.
bool ReadWholeFile(const char* path, std::vector<std::uint8_t>* buffer, std::size_t* size, ImageFailure* failure) {
  *failure = ImageFailure::kDamaged;
  ReadOnlyFile file(path);
  if (!file.is_open()) return false;
  const std::int64_t length = file.Size();
  if (length < 0) return false;
  if (static_cast<std::uint64_t>(length) > kMaxImageFileBytes) {
    *failure = ImageFailure::kTooLarge;
    return false;
  }
  const std::size_t want = static_cast<std::size_t>(length);
  try {
    if (buffer->size() < want + AV_INPUT_BUFFER_PADDING_SIZE) buffer->resize(want + AV_INPUT_BUFFER_PADDING_SIZE);
  } catch (const std::bad_alloc&) {
    *failure = ImageFailure::kNoMemory;
    return false;
  }
  std::size_t got = 0;
  while (got < want) {
    const std::int64_t n = file.Read(buffer->data() + got, want - got);
    if (n < 0) return false;
    if (n == 0) break;  // the file shrank since its size was taken
    got += static_cast<std::size_t>(n);
  }
  std::memset(buffer->data() + got, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  *size = got;
  return true;
}

// A job reads its first frame's header twice (the codec check and the writer's size), and
// a decoder gives no size without the whole picture: the size of the last header read is
// kept, for the same file unchanged (same inode, size and modification time).
struct HeaderMemo {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  timespec modified{};
  int width = 0;
  int height = 0;
  bool Matches(const char* other, const struct stat& now) const {
    return path == other && device == now.st_dev && inode == now.st_ino && size == now.st_size &&
           modified.tv_sec == now.st_mtim.tv_sec && modified.tv_nsec == now.st_mtim.tv_nsec;
  }
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

void FilterDecoderLogs() {
  static std::once_flag installed;
  std::call_once(installed, [] { av_log_set_callback(LogLine); });
}

ImageRead ReadWithLibav(int codecId, const char* path) {
  std::vector<std::uint8_t>& buffer = t_file;
  ImageRead read;
  std::size_t size = 0;
  if (!ReadWholeFile(path, &buffer, &size, &read.failure)) return read;
  const AVCodecID id = static_cast<AVCodecID>(codecId);
  DecodeState state;
  std::unique_ptr<AVFrame, FrameFree> picture(av_frame_alloc());
  if (!picture) {
    read.failure = ImageFailure::kNoMemory;
    return read;
  }
  QuietDecode quiet(&state);
  const int result = Decode(id, buffer.data(), size, &state, picture.get());
  if (result < 0) {
    read.failure = FailureOf(result, state);
    return read;
  }
  const bool jpeg = id == AV_CODEC_ID_MJPEG;
  read = PictureToDib(picture.get(), jpeg ? Orientation(picture.get()) : 1);
  read.cutShort = read.image && jpeg && JpegEndsEarly(buffer.data(), size);
  return read;
}

ImageRead ReadHeaderWithLibav(int codecId, const char* path) {
  ImageRead read;
  struct stat before;
  const bool known = ::stat(path, &before) == 0;
  {
    std::lock_guard<std::mutex> lock(g_headerMutex);
    if (known && g_header.Matches(path, before)) {
      read.image = HeaderOnly(g_header.width, g_header.height);
      read.failure = read.image ? ImageFailure::kNone : ImageFailure::kNoMemory;
      return read;
    }
  }
  read = ReadWithLibav(codecId, path);
  ReleasePictureBuffers();
  ReleaseConversionMemory();
  std::vector<std::uint8_t>().swap(t_file);
  if (!read.image) return read;
  const int width = GetDibWidth(read.image);
  const int height = GetDibHeight(read.image);
  read.image = HeaderOnly(width, height);
  read.failure = read.image ? ImageFailure::kNone : ImageFailure::kNoMemory;
  std::lock_guard<std::mutex> lock(g_headerMutex);
  if (known) g_header = HeaderMemo{path, before.st_dev, before.st_ino, before.st_size, before.st_mtim, width, height};
  return read;
}

}  // namespace zelvo
