#include "convert/codec_posix.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <sys/prctl.h>

#include "image/av_calls_posix.h"

#include "convert/av_owners_posix.h"
#include "convert/avi_file_posix.h"
#include "convert/bgr_rows_posix.h"
#include "convert/codec_settings_posix.h"
#include "image/av_image_reader_posix.h"
#include "image/packed_dib.h"
#include "platform/messages_posix.h"

namespace zelvo {

namespace {

// Slices of an FFV1 frame when it is coded on several cores: 2 x 2, a count FFV1 accepts
// for every frame size. Slices one to three pixels wide or high decode wrongly in
// libavcodec 5.1, so smaller frames keep the single slice; they are quick anyway.
constexpr int kFfv1Slices = 4;
constexpr int kFfv1MinSlicedSide = 32;
constexpr int kH264Lookahead = 10;

constexpr unsigned In(Container c) { return 1u << static_cast<unsigned>(c); }
constexpr unsigned kEveryContainer =
    In(Container::kAvi) | In(Container::kMkv) | In(Container::kMp4) | In(Container::kMov);
constexpr unsigned kNotMp4 = kEveryContainer & ~In(Container::kMp4);

struct CodecEntry {
  CodecInfo info;
  AVCodecID id;
  unsigned containers;  // In(...) of each container that holds the codec
};

const CodecEntry kCodecs[] = {
    {{"dib", "DIB ", N_("Full frames (uncompressed)"), true},
     AV_CODEC_ID_NONE,
     In(Container::kAvi) | In(Container::kMov)},
    {{"mjpeg", "MJPG", "Motion JPEG", false}, AV_CODEC_ID_MJPEG, kEveryContainer},
    {{"ffv1", "FFV1", N_("FFV1 (lossless)"), true}, AV_CODEC_ID_FFV1, kNotMp4},
    {{"huffyuv", "HFYU", N_("HuffYUV (lossless)"), true}, AV_CODEC_ID_HUFFYUV, kNotMp4},
    {{"mpeg4", "FMP4", "MPEG-4 Part 2", false}, AV_CODEC_ID_MPEG4, kEveryContainer},
    {{"h264", "H264", "H.264", false}, AV_CODEC_ID_H264, kEveryContainer},
};

struct ContainerNames {
  Container container;
  const char* name;   // -f and the extension
  const char* label;  // in sentences
};

const ContainerNames kContainerNames[] = {
    {Container::kAvi, "avi", "AVI"}, {Container::kMkv, "mkv", "MKV"}, {Container::kMp4, "mp4", "MP4"},
    {Container::kMov, "mov", "MOV"}};

const ContainerNames& NamesOf(Container container) {
  for (const ContainerNames& e : kContainerNames) {
    if (e.container == container) return e;
  }
  return kContainerNames[0];
}

const CodecEntry* FindEntry(const std::string& name) {
  for (const CodecEntry& e : kCodecs) {
    if (name == e.info.name) return &e;
  }
  return nullptr;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// Reads one line; false at the end of the input. Overlong lines are consumed whole.
bool ReadLine(std::FILE* in, std::string* line) {
  line->clear();
  char chunk[256];
  bool any = false;
  while (std::fgets(chunk, sizeof chunk, in)) {
    any = true;
    line->append(chunk);
    if (!line->empty() && line->back() == '\n') break;
  }
  return any;
}

// Parses a whole decimal number within [low, high].
bool ParseNumber(const std::string& text, long low, long high, long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

enum class Answer { kValue, kDefault, kCancel };

// Asks until the answer is empty (the default), a number in range, or a cancel.
Answer AskNumber(std::FILE* in, std::FILE* out, const char* prompt, long low, long high,
                 long* value) {
  for (;;) {
    std::fputs(prompt, out);
    std::fflush(out);
    std::string line;
    if (!ReadLine(in, &line)) return Answer::kCancel;
    line = Trim(line);
    if (line.empty()) return Answer::kDefault;
    if (Lower(line) == "q") return Answer::kCancel;
    if (ParseNumber(line, low, high, value)) return Answer::kValue;
    std::fprintf(out, "  %s\n", FormatText(Tr("Enter a number from %ld to %ld."), low, high).c_str());
  }
}

}  // namespace

const char* ContainerName(Container container) { return NamesOf(container).name; }
const char* ContainerLabel(Container container) { return NamesOf(container).label; }

bool ParseContainerName(const std::string& text, Container* container) {
  const std::string t = Lower(text);
  for (const ContainerNames& e : kContainerNames) {
    if (t == e.name) {
      *container = e.container;
      return true;
    }
  }
  return false;
}

bool ContainerFromPath(const std::string& path, Container* container) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  // A name that is only an extension (".avi") is taken as one, as ffmpeg takes it and as
  // -o took ".avi" before there were other containers.
  if (dot == std::string::npos || (slash != std::string::npos && dot <= slash)) return false;
  return ParseContainerName(path.substr(dot + 1), container);
}

bool CodecFitsContainer(const std::string& codec, Container container) {
  const CodecEntry* entry = FindEntry(codec);
  return entry && (entry->containers & In(container)) != 0;
}

bool CodecWantsEvenSize(const std::string& codec) { return codec == "mpeg4" || codec == "h264"; }

bool PadToCodecSize(const std::string& codec, int* width, int* height) {
  if (!CodecWantsEvenSize(codec) || ((*width & 1) == 0 && (*height & 1) == 0)) return false;
  // INT_MAX is odd: such a side is refused later as too large, not wrapped here.
  if (*width < INT_MAX) *width += *width & 1;
  if (*height < INT_MAX) *height += *height & 1;
  return true;
}

std::vector<CodecInfo> ListCodecs(Container container) {
  std::vector<CodecInfo> list;
  for (const CodecEntry& e : kCodecs) {
    if ((e.containers & In(container)) == 0) continue;
    if (e.id == AV_CODEC_ID_NONE || (LoadLibav() && avcodec_find_encoder(e.id))) list.push_back(e.info);
  }
  return list;
}

bool ParseCodecName(const std::string& text, std::string* name) {
  const std::string t = Lower(Trim(text));
  for (const CodecEntry& e : kCodecs) {
    if (t == e.info.name || t == Trim(Lower(e.info.fourcc))) {
      *name = e.info.name;
      return true;
    }
  }
  if (t == "xvid" || t == "divx") {  // other FOURCCs of the same MPEG-4 Part 2 streams
    *name = "mpeg4";
    return true;
  }
  return false;
}

bool ChooseCodecOnTerminal(std::FILE* in, std::FILE* out, CodecChoice* choice, Container container) {
  const std::vector<CodecInfo> codecs = ListCodecs(container);
  std::string missing;
  if (!LoadLibav(&missing)) std::fprintf(out, "%s\n", missing.c_str());  // why only full frames, or none
  if (codecs.empty()) return false;
  std::fprintf(out, "%s\n", Tr("Choose a codec:"));
  for (std::size_t i = 0; i < codecs.size(); ++i) {
    std::fprintf(out, "  %zu) %-8s [%s] %s\n", i + 1, codecs[i].name, codecs[i].fourcc,
                 Tr(codecs[i].description));
  }
  // The command line's settings come along: what it gave is not asked again.
  CodecChoice result = *choice;
  // Full frames first, as the dialog preselects them; a container without them offers its
  // first codec instead.
  const bool fullFrames = std::string(codecs[0].name) == "dib";
  for (;;) {
    if (fullFrames)
      std::fputs(Tr("Number (Enter = full frames, q = cancel): "), out);
    else
      std::fputs(FormatText(Tr("Number (Enter = %s, q = cancel): "), codecs[0].name).c_str(), out);
    std::fflush(out);
    std::string line;
    if (!ReadLine(in, &line)) return false;
    line = Trim(line);
    if (line.empty()) {
      result.codec = codecs[0].name;
      break;
    }
    if (Lower(line) == "q") return false;
    long number = 0;
    if (ParseNumber(line, 1, static_cast<long>(codecs.size()), &number)) {
      result.codec = codecs[static_cast<std::size_t>(number - 1)].name;
      break;
    }
    std::string name;
    if (ParseCodecName(line, &name) &&
        std::any_of(codecs.begin(), codecs.end(), [&](const CodecInfo& c) { return name == c.name; })) {
      result.codec = name;
      break;
    }
    std::fprintf(out, "  %s\n", FormatText(Tr("Enter a number from 1 to %zu."), codecs.size()).c_str());
  }
  // Only what the codec uses is asked for; a quality is not, where a data rate is given.
  long value = 0;
  Answer a = Answer::kDefault;
  if (result.quality < 0 && result.dataRate <= 0 && CodecUses(result.codec, CodecSetting::kQuality)) {
    a = AskNumber(in, out, Tr("Quality 0-100 (Enter = default): "), 0, 100, &value);
    if (a == Answer::kCancel) return false;
    if (a == Answer::kValue) result.quality = static_cast<int>(value);
  }
  if (result.keyFrameEvery <= 0 && CodecUses(result.codec, CodecSetting::kKeyFrames)) {
    a = AskNumber(in, out, Tr("Key frame interval (frames, Enter = default): "), 0, INT_MAX, &value);
    if (a == Answer::kCancel) return false;
    if (a == Answer::kValue) result.keyFrameEvery = static_cast<int>(value);
  }
  if (result.dataRate <= 0 && CodecUses(result.codec, CodecSetting::kDataRate)) {
    // Bounded so that the rate in bits per second stays far inside 64 bits.
    a = AskNumber(in, out, Tr("Data rate (KB/s, Enter = none): "), 0, 1 << 24, &value);
    if (a == Answer::kCancel) return false;
    if (a == Answer::kValue) result.dataRate = static_cast<int>(value);
  }
  *choice = result;
  return true;
}

namespace {

// Row alignment of the pictures handed to the encoders, enough for any SIMD code in them.
constexpr int kPictureAlign = 64;

// Points `frame` at a picture buffer from the pool, laid out for the encoder.
bool NewPicture(AVBufferPool* pool, const AVCodecContext* c, AVFrame* frame) {
  av_frame_unref(frame);
  frame->format = c->pix_fmt;
  frame->width = c->width;
  frame->height = c->height;
  frame->buf[0] = av_buffer_pool_get(pool);
  return frame->buf[0] != nullptr && av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data, c->pix_fmt,
                                                          c->width, c->height, kPictureAlign) >= 0;
}

}  // namespace

struct VideoEncoder::State {
  // Picture buffers come back here when the encoder lets go of them: an encoder on frame
  // threads, or one that keeps its last input as a reference, still holds the previous
  // picture when the next canvas arrives.
  AvOwner<AVBufferPool> pictures;
  AvOwner<AVCodecContext> context;
  AvOwner<AVFrame> frame;
  AvOwner<AVFrame> source;  // the canvas, lent to the scaler
  AvOwner<AVPacket> packet;
  AvOwner<SwsContext> scaler;  // null where the rows are only reordered, or until first used
  int scalerThreads = 1;
  void (*reorderRow)(const std::uint8_t*, std::uint8_t*, int) = nullptr;
  std::int64_t nextPts = 0;
  bool drained = false;
};

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

void VideoEncoder::Close() {
  state_.reset();
  fourcc_ = 0;
  container_ = Container::kAvi;
}

namespace {

// Lossless codecs take the RGB layout that loses nothing; lossy ones the 4:2:0 layout
// every player decodes (full-range for JPEG). AV_PIX_FMT_NONE, with the reason in *error,
// when none suits or the size does not.
AVPixelFormat ChooseFormat(const CodecEntry& entry, const AVCodec* codec, int width, int height, std::string* error) {
  AVPixelFormat format = AV_PIX_FMT_NONE;
  if (entry.info.lossless) {
    int loss = 0;
    format = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_BGR24, 0, &loss);
    if (loss != 0) format = AV_PIX_FMT_NONE;
  } else if (codec->pix_fmts) {
    // Full range only where JPEG defines it; libx264 also lists the full-range layout,
    // which players of H.264 show with washed-out or crushed levels unless they honour the
    // stream's range flag.
    const AVPixelFormat wanted = entry.id == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
      if (*p == wanted) format = *p;
    }
  }
  if (format == AV_PIX_FMT_NONE) {
    *error = FormatText(Tr("No pixel format suits %s."), entry.info.name);
    return AV_PIX_FMT_NONE;
  }
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  // JPEG codes partial blocks itself; the other 4:2:0 encoders refuse odd sizes or would
  // need a padded (so differently sized) picture. Refused here, before any file exists.
  if (entry.id != AV_CODEC_ID_MJPEG && descriptor &&
      (((descriptor->log2_chroma_w > 0) && (width & 1)) || ((descriptor->log2_chroma_h > 0) && (height & 1)))) {
    *error = FormatText(Tr("%s takes only frames of even width and height (%dx%d)."), entry.info.name, width,
                        height);
    return AV_PIX_FMT_NONE;
  }
  return format;
}

std::uint32_t EntryFourcc(const CodecEntry& entry) {
  const char* f = entry.info.fourcc;
  return MakeFourcc(f[0], f[1], f[2], f[3]);
}

// The cores the encoder and the colour conversion share: the choice's, else all of them.
int ThreadCount(const CodecChoice& choice) { return choice.threads > 0 ? choice.threads : av_cpu_count(); }

// Size, pace, key frames, quality or data rate, and threads of the encoder about to open.
void ConfigureContext(AVCodecContext* c, const CodecEntry& entry, const CodecChoice& choice, int scale, int rate) {
  // The file keeps scale and rate exactly; the encoder only paces its rate control by
  // them, and MPEG-4 Part 2 takes no denominator above 65535, so an odd rate such as
  // 119999/1000 is approximated here.
  av_reduce(&c->time_base.num, &c->time_base.den, scale, rate, 65535);
  c->framerate = AVRational{c->time_base.den, c->time_base.num};
  c->max_b_frames = 0;  // AVI holds frames in decoding order with no timestamps
  c->codec_tag = EntryFourcc(entry);
  if (choice.keyFrameEvery > 0) c->gop_size = choice.keyFrameEvery;
  if (choice.dataRate > 0) {
    c->bit_rate = static_cast<std::int64_t>(choice.dataRate) * 1024 * 8;
  } else if (!entry.info.lossless) {
    if (entry.id == AV_CODEC_ID_H264) {
      // CRF 0 (best) .. 51 (smallest); 18 when none is chosen, which x264 counts as
      // visually lossless (its own default 23 falls below 35 dB on sharp edges).
      const double crf = choice.quality < 0 ? 18.0 : (100 - choice.quality) * 51.0 / 100.0;
      av_opt_set_double(c->priv_data, "crf", crf, 0);
    } else {
      // Fixed quantiser 2 (best) .. 31 (smallest); 3 when none is chosen, which keeps
      // ordinary pictures well above 35 dB. The MPEG-family encoders read a fixed
      // quantiser from each frame's quality field, so Encode copies it there too.
      c->flags |= AV_CODEC_FLAG_QSCALE;
      c->global_quality = FF_QP2LAMBDA * FixedQuantiser(choice);
    }
  }
  // Every core, as ffmpeg does by default: frame threads where the encoder has them
  // (MJPEG, HuffYUV: each frame is coded alone, so the bytes do not change), slice threads
  // otherwise (MPEG-4), and x264's own threads for H.264.
  c->thread_count = choice.threads > 0 ? choice.threads : 0;
  c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  // x264 looks 40 frames ahead by default and holds each of them, with its analysis, in
  // memory: 190 MB of a 1920x1080 job's 440. Ten frames (its own "veryfast" depth) keep
  // the size and PSNR of files at a given CRF within a few tenths of a percent here, and the
  // user's options may ask for more.
  if (entry.id == AV_CODEC_ID_H264) {
    av_opt_set_int(c->priv_data, "rc-lookahead", kH264Lookahead, 0);
    // x264 also keeps frames for a look-ahead thread to run ahead of the encoding threads:
    // with it off the look-ahead runs between them, on the same frames in the same order,
    // so the stream keeps every byte, for 30 MB less at 1920x1080.
    av_opt_set(c->priv_data, "x264-params", "sync-lookahead=0", 0);
  }
  // FFV1 codes one slice unless told otherwise, which leaves slice threads idle. Four
  // slices (FFV1 version 3) let two to four cores share each frame; the stream decodes to
  // the same pixels. A slice count in the user's options is applied after this one.
  if (entry.id == AV_CODEC_ID_FFV1 && ThreadCount(choice) > 1 && c->width >= kFfv1MinSlicedSide &&
      c->height >= kFfv1MinSlicedSide) {
    c->slices = kFfv1Slices;
  }
}

// x264 prints its refusal of an unknown preset, tune or profile straight to the terminal, past
// libav's log: the names are checked here first, against x264's own lists.
bool CheckX264Names(const AVCodec* codec, const CodecEntry& entry, const AVDictionary* options, std::string* error) {
  if (std::strcmp(codec->name, "libx264") != 0) return true;
  static const char kPresets[] = "ultrafast superfast veryfast faster fast medium slow slower veryslow placebo";
  static const char kTunes[] = "film animation grain stillimage psnr ssim fastdecode zerolatency";
  static const char kProfiles[] = "baseline main high high10 high422 high444";
  for (const auto& [key, names] :
       {std::pair{"preset", kPresets}, std::pair{"tune", kTunes}, std::pair{"profile", kProfiles}}) {
    const AVDictionaryEntry* given = av_dict_get(options, key, nullptr, 0);
    if (given == nullptr) continue;
    // x264 takes several tunes joined by ',' '+' '/' '.' or '-'.
    std::string value = given->value;
    for (char& ch : value) if (std::strchr(",+/.-", ch) != nullptr) ch = ' ';
    std::size_t at = 0;
    bool known = !value.empty();
    while (known && (at = value.find_first_not_of(' ', at)) != std::string::npos) {
      const std::size_t end = std::min(value.find(' ', at), value.size());
      const std::string word = " " + value.substr(at, end - at) + " ";
      known = (" " + std::string(names) + " ").find(word) != std::string::npos;
      at = end;
    }
    if (!known) {
      *error = FormatText(Tr("The %s encoder has no %s '%s' (%s)."), entry.info.name, key, given->value, names);
      return false;
    }
  }
  return true;
}

// Opens the configured encoder with the user's "key=value:key=value" options; false, with
// the reason in *error, when they cannot be read, one is unknown, or the encoder refuses.
bool OpenWithOptions(AVCodecContext* c, const AVCodec* codec, const CodecEntry& entry, const std::string& text,
                     std::string* error) {
  AVDictionary* rawOptions = nullptr;
  if (!text.empty() && av_dict_parse_string(&rawOptions, text.c_str(), "=", ":", 0) < 0) {
    av_dict_free(&rawOptions);
    *error = FormatText(Tr("The encoder options cannot be read: %s"), text.c_str());
    return false;
  }
  if (!CheckX264Names(codec, entry, rawOptions, error)) {
    av_dict_free(&rawOptions);
    return false;
  }
  KeptLibavLines said;
  const int opened = avcodec_open2(c, codec, &rawOptions);
  AvOwner<AVDictionary> options(rawOptions);
  if (opened < 0) {
    const std::string why = said.Last().empty() ? AvErrorText(opened) : said.Last();
    *error = FormatText(Tr("The %s encoder could not be opened: %s"), entry.info.name, why.c_str());
    return false;
  }
  if (const AVDictionaryEntry* unknown = av_dict_get(options.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
    *error = FormatText(Tr("The %s encoder has no option %s."), entry.info.name, unknown->key);
    return false;
  }
  return true;
}

// The colour conversion from the bottom-up BGR24 canvas into the encoder's format.
SwsContext* MakeScaler(int width, int height, AVPixelFormat format, int threads) {
  SwsContext* scaler = sws_alloc_context();
  if (!scaler || av_opt_set_int(scaler, "srcw", width, 0) < 0 || av_opt_set_int(scaler, "srch", height, 0) < 0 ||
      av_opt_set_int(scaler, "src_format", AV_PIX_FMT_BGR24, 0) < 0 || av_opt_set_int(scaler, "dstw", width, 0) < 0 ||
      av_opt_set_int(scaler, "dsth", height, 0) < 0 || av_opt_set_int(scaler, "dst_format", format, 0) < 0 ||
      av_opt_set_int(scaler, "sws_flags", SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, 0) < 0 ||
      av_opt_set_int(scaler, "threads", threads, 0) < 0 || sws_init_context(scaler, nullptr, nullptr) < 0) {
    sws_freeContext(scaler);
    return nullptr;
  }
  return scaler;
}

}  // namespace

bool VideoEncoder::Open(const CodecChoice& choice, int width, int height, int scale, int rate,
                        std::string* error, Container container) {
  Close();
  std::string dummy;
  if (!error) error = &dummy;
  const CodecEntry* entry = FindEntry(choice.codec);
  if (!entry || entry->id == AV_CODEC_ID_NONE) {
    *error = FormatText(Tr("Unknown codec: %s"), choice.codec.c_str());
    return false;
  }
  if (!LoadLibav(error)) return false;
  const AVCodec* codec = avcodec_find_encoder(entry->id);
  if (!codec) {
    *error = FormatText(Tr("This system's libavcodec has no %s encoder."), entry->info.name);
    return false;
  }
  if (width <= 0 || height <= 0 || scale <= 0 || rate <= 0) {
    *error = Tr("The frame size or the frame rate is not valid.");
    return false;
  }
  const AVPixelFormat format = ChooseFormat(*entry, codec, width, height, error);
  if (format == AV_PIX_FMT_NONE) return false;

  // Encoders report statistics at the information level; a command-line tool shows only
  // their errors.
  if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_ERROR);

  auto state = std::make_unique<State>();
  state->context.reset(avcodec_alloc_context3(codec));
  state->frame.reset(av_frame_alloc());
  state->source.reset(av_frame_alloc());
  state->packet.reset(av_packet_alloc());
  if (!state->context || !state->frame || !state->source || !state->packet) {
    *error = Tr("The encoder ran out of memory.");
    return false;
  }
  AVCodecContext* c = state->context.get();
  c->width = width;
  c->height = height;
  c->pix_fmt = format;
  ConfigureContext(c, *entry, choice, scale, rate);
  if (container != Container::kAvi) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // x264 asks for transparent huge pages for each of its pictures, which rounds every one
  // up to whole 2 MiB pages: 13 MiB more at 1920x1080, for no speed measured here. The
  // setting is the process's; nothing else here asks for huge pages.
  if (entry->id == AV_CODEC_ID_H264) prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
  if (!OpenWithOptions(c, codec, *entry, choice.options, error)) return false;

  const int pictureBytes = av_image_get_buffer_size(format, width, height, kPictureAlign);
  if (pictureBytes > 0) {
    state->pictures.reset(av_buffer_pool_init(static_cast<std::size_t>(pictureBytes) + AV_INPUT_BUFFER_PADDING_SIZE,
                                              nullptr));
  }
  if (!state->pictures || !NewPicture(state->pictures.get(), c, state->frame.get())) {
    *error = Tr("The encoder ran out of memory.");
    return false;
  }
  // The lossless codecs' layouts only reorder the canvas's bytes, which bgr_rows_posix does
  // several times faster than libswscale: that time runs beside the encoder on every frame.
  // The colour conversion into 4:2:0 costs as much as a fast encoder, so it runs on every
  // core, in horizontal bands.
  if (format == AV_PIX_FMT_RGB24) state->reorderRow = BgrRowToRgb24;
  if (format == AV_PIX_FMT_BGR0) state->reorderRow = BgrRowToBgr0;
  // The scaler is made with the first canvas: frames that come in the encoder's own YUV
  // (EncodePlanes) never need its memory.
  state->scalerThreads = ThreadCount(choice);
  if (!state->reorderRow && sws_isSupportedOutput(format) <= 0) {
    *error = Tr("The pixel format conversion could not be prepared.");
    return false;
  }
  state_ = std::move(state);
  fourcc_ = EntryFourcc(*entry);
  container_ = container;
  return true;
}

bool VideoEncoder::FillParameters(AVCodecParameters* parameters) const {
  if (!state_ || !parameters || avcodec_parameters_from_context(parameters, state_->context.get()) < 0) return false;
  parameters->codec_tag = 0;
  return true;
}

std::vector<std::uint8_t> StreamFormatOf(std::uint32_t fourcc, int width, int height, int bits,
                                         const std::uint8_t* extra, std::size_t extraSize) {
  std::vector<std::uint8_t> out(kDibHeaderSize + (extra ? extraSize : 0), 0);
  const std::uint64_t image = static_cast<std::uint64_t>(width) * static_cast<unsigned>(height) *
                              static_cast<unsigned>(bits) / 8;
  DibHeader header = MakeDibHeader(width, height, bits, image > 0xffffffffu ? 0 : static_cast<std::uint32_t>(image));
  header.size = static_cast<std::uint32_t>(out.size());  // biSize counts the codec data
  header.compression = fourcc;
  StoreDibHeader(out.data(), header);
  if (extra && extraSize) std::memcpy(out.data() + kDibHeaderSize, extra, extraSize);
  return out;
}

std::vector<std::uint8_t> VideoEncoder::StreamFormat() const {
  if (!state_) return std::vector<std::uint8_t>();
  const AVCodecContext* c = state_->context.get();
  const std::size_t extra = c->extradata && c->extradata_size > 0 ? static_cast<std::size_t>(c->extradata_size) : 0;
  return StreamFormatOf(fourcc_, c->width, c->height, c->bits_per_coded_sample > 0 ? c->bits_per_coded_sample : 24,
                        c->extradata, extra);
}

namespace {

// Moves every finished packet from the encoder to the sink. EAGAIN / EOF end the loop.
bool Collect(AVCodecContext* c, AVPacket* packet, const VideoEncoder::TimedPacketSink& sink) {
  for (;;) {
    const int r = avcodec_receive_packet(c, packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    EncodedPacket out;
    out.data = packet->data;
    out.size = static_cast<std::size_t>(packet->size);
    out.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    out.pts = packet->pts;
    out.dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
    const bool ok = sink(out);
    av_packet_unref(packet);
    if (!ok) return false;
  }
}

// The bottom-up canvas through the scaler into `picture`. The scaler wants a counted
// reference; one that frees nothing lends it the canvas for this call.
bool Convert(SwsContext* scaler, AVFrame* source, const std::uint8_t* bottomUpBgr, std::size_t stride,
             AVFrame* picture) {
  source->format = AV_PIX_FMT_BGR24;
  source->width = picture->width;
  source->height = picture->height;
  source->data[0] = const_cast<std::uint8_t*>(bottomUpBgr) + (picture->height - 1) * stride;
  source->linesize[0] = -static_cast<int>(stride);
  source->buf[0] = av_buffer_create(const_cast<std::uint8_t*>(bottomUpBgr), stride * picture->height,
                                    [](void*, std::uint8_t*) {}, nullptr, AV_BUFFER_FLAG_READONLY);
  const bool converted = source->buf[0] != nullptr && sws_scale_frame(scaler, picture, source) >= 0;
  av_frame_unref(source);
  return converted;
}

VideoEncoder::TimedPacketSink Untimed(const VideoEncoder::PacketSink& sink) {
  return [&sink](const EncodedPacket& p) { return sink(p.data, p.size, p.key); };
}

}  // namespace

bool VideoEncoder::Encode(const std::uint8_t* bottomUpBgr, std::size_t stride, const PacketSink& sink) {
  return Encode(bottomUpBgr, stride, Untimed(sink));
}

bool VideoEncoder::Drain(const PacketSink& sink) { return Drain(Untimed(sink)); }

bool VideoEncoder::Encode(const std::uint8_t* bottomUpBgr, std::size_t stride, const TimedPacketSink& sink) {
  if (!state_ || state_->drained || !bottomUpBgr || stride > INT_MAX) return false;
  AVCodecContext* c = state_->context.get();
  AVFrame* f = state_->frame.get();
  // Every byte is rewritten below, so a picture the encoder still holds is replaced by a
  // free one from the pool instead of being copied (av_frame_make_writable would copy it).
  if (!av_frame_is_writable(f) && !NewPicture(state_->pictures.get(), c, f)) return false;
  // The canvas is bottom-up: start at its last stored row and step backwards, so the
  // encoder sees the picture top row first without an extra copy.
  if (state_->reorderRow) {
    for (int y = 0; y < c->height; ++y) {
      state_->reorderRow(bottomUpBgr + static_cast<std::size_t>(c->height - 1 - y) * stride,
                         f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0], c->width);
    }
  } else {
    if (!state_->scaler) state_->scaler.reset(MakeScaler(c->width, c->height, c->pix_fmt, state_->scalerThreads));
    if (!state_->scaler || !Convert(state_->scaler.get(), state_->source.get(), bottomUpBgr, stride, f)) return false;
  }
  return Send(sink);
}

bool VideoEncoder::TakesJpegYuv() const {
  return state_ && state_->context->pix_fmt == AV_PIX_FMT_YUVJ420P;
}

bool VideoEncoder::EncodePlanes(const AVFrame* planes, const PacketSink& sink) {
  if (!state_ || state_->drained || !planes) return false;
  AVCodecContext* c = state_->context.get();
  AVFrame* f = state_->frame.get();
  if (planes->format != c->pix_fmt || planes->width != c->width || planes->height != c->height) return false;
  if (!av_frame_is_writable(f) && !NewPicture(state_->pictures.get(), c, f)) return false;
  av_image_copy(f->data, f->linesize, const_cast<const std::uint8_t**>(planes->data), planes->linesize, c->pix_fmt,
                c->width, c->height);
  return Send(Untimed(sink));
}

bool VideoEncoder::Send(const TimedPacketSink& sink) {
  AVCodecContext* c = state_->context.get();
  AVFrame* f = state_->frame.get();
  f->pts = state_->nextPts++;
  if (c->flags & AV_CODEC_FLAG_QSCALE) f->quality = c->global_quality;
  if (avcodec_send_frame(c, f) < 0) return false;
  return Collect(c, state_->packet.get(), sink);
}

bool VideoEncoder::Drain(const TimedPacketSink& sink) {
  if (!state_ || state_->drained) return false;
  state_->drained = true;
  if (avcodec_send_frame(state_->context.get(), nullptr) < 0) return false;
  return Collect(state_->context.get(), state_->packet.get(), sink);
}

int FixedQuantiser(const CodecChoice& choice) {
  if (choice.dataRate > 0) return 0;
  return std::clamp(choice.quality < 0 ? 3 : 31 - (choice.quality * 29 + 50) / 100, 2, 31);
}

bool TakesReadyMjpeg(const CodecChoice& choice) {
  return choice.codec == "mjpeg" && FixedQuantiser(choice) != 0 && choice.options.empty();
}

bool CheckCodecChoice(const CodecChoice& choice, int width, int height, int scale, int rate, std::string* why,
                      Container container) {
  std::string unused;
  if (!why) why = &unused;
  if (!CodecFitsContainer(choice.codec, container)) {
    *why = FormatText(Tr("%s files cannot hold the codec %s."), ContainerLabel(container), choice.codec.c_str());
    return false;
  }
  if (choice.codec == "dib") {
    if (choice.options.empty()) return true;
    *why = Tr("Full frames (dib) take no encoder options.");
    return false;
  }
  // Opening the encoder would load libavcodec for a job that may never need it.
  if (TakesReadyMjpeg(choice) && container == Container::kAvi) return true;
  VideoEncoder encoder;
  if (encoder.Open(choice, width, height, scale, rate, why, container)) return true;
  // The size is to blame when the same settings open at the next even size.
  const bool odd = (width & 1) != 0 || (height & 1) != 0;
  if (!odd || !encoder.Open(choice, width + (width & 1), height + (height & 1), scale, rate, nullptr, container)) {
    return false;
  }
  std::string others;
  for (const CodecInfo& info : ListCodecs(container)) {
    CodecChoice plain;
    plain.codec = info.name;
    if (plain.codec != "dib" && !encoder.Open(plain, width, height, scale, rate, nullptr, container)) continue;
    others += others.empty() ? info.name : std::string(", ") + info.name;
  }
  *why += " " + FormatText(Tr("Codecs that take any size: %s."), others.c_str());
  return false;
}

}  // namespace zelvo
