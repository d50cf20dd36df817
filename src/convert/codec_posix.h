#pragma once
// The codec choice of the Linux build, its equivalent of the compressor choice dialog:
// full frames (uncompressed 24-bit DIB, written without any codec) or one of the
// libavcodec encoders, with quality, key-frame spacing, data rate and the encoder's own
// options, for the container the movie goes into. The command line fills a CodecChoice
// directly; the terminal chooser asks for one.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct AVCodecParameters;
struct AVFrame;

namespace zelvo {

// The files the Linux program writes: its own AVI writer, or libavformat's muxers.
enum class Container { kAvi, kMkv, kMp4, kMov };

// "avi", "mkv", "mp4" or "mov", as -f and the extensions name them.
const char* ContainerName(Container container);
// "AVI", "MKV", "MP4" or "MOV", as sentences name them.
const char* ContainerLabel(Container container);
// The container a name of -f gives (any case); false for others.
bool ParseContainerName(const std::string& text, Container* container);
// The container a file name's extension gives (.avi, .mkv, .mp4, .mov, any case, also as the
// whole name); false for any other extension or none.
bool ContainerFromPath(const std::string& path, Container* container);

// Whether `codec` (a canonical name) can go into `container`. AVI takes every codec.
// Matroska takes all but full frames: it has no raw RGB track of its own, and the AVI-style
// one (a bottom-up DIB in a VfW header) is shown upside down by libavformat. MP4 takes
// only the lossy codecs: it registers no FFV1, HuffYUV or raw RGB. QuickTime takes them
// all, full frames as raw BGR24 ('24BG', rows top-down).
bool CodecFitsContainer(const std::string& codec, Container container);
// Whether frames of odd width or height must be padded to even for `codec`: the 4:2:0
// encoders other than JPEG (mpeg4, h264) refuse odd sizes.
bool CodecWantsEvenSize(const std::string& codec);
// The frame size `codec` is opened at for width x height: one black column and/or row
// added where the codec wants even sizes. True when the size changed.
bool PadToCodecSize(const std::string& codec, int* width, int* height);

struct CodecChoice {
  std::string codec = "dib";  // dib, mjpeg, ffv1, huffyuv, mpeg4, h264
  int quality = -1;           // 0 (smallest) to 100 (best); -1 = the codec's default
  int keyFrameEvery = 0;      // a key frame at least every N frames; 0 = the codec's default
  int dataRate = 0;           // target in kilobytes per second (1 KB = 1024 bytes); 0 = none
  std::string options;        // encoder options "key=value:key=value"
  int threads = 0;            // encoder threads; 0 = one per core, 1 = a single thread
};

struct CodecInfo {
  const char* name;         // as given on the command line
  const char* fourcc;       // the stream's fccHandler
  const char* description;  // in English: print it through Tr
  bool lossless;
};

// The codecs this system can write into `container`, full frames first (where it takes
// them); h264 only when libavcodec has an H.264 encoder.
std::vector<CodecInfo> ListCodecs(Container container = Container::kAvi);
// Recognises a codec name or its FOURCC, in any case ("MJPG", "dib", "HFYU"); writes the
// canonical name. False for anything else. Availability is checked when encoding starts.
bool ParseCodecName(const std::string& text, std::string* name);
// Asks on `out` for a codec by number among those `container` takes (Enter keeps the
// first: full frames where the container takes them), then for those of quality, key
// frames and data rate that the codec uses and *choice does not give already: *choice
// comes in with the command line's settings, which the chosen codec gets as -c would give
// them. False when the input ends or the user types q: like cancelling the dialog, the
// caller creates nothing (and *choice is left as it was).
bool ChooseCodecOnTerminal(std::FILE* in, std::FILE* out, CodecChoice* choice,
                           Container container = Container::kAvi);

// The fixed quantiser, 2 (best) to 31 (smallest), that the MPEG-family encoders and MJPEG
// get for the choice's quality: 3 when none is chosen. 0 when a data rate paces the encoder.
int FixedQuantiser(const CodecChoice& choice);
// Whether the choice's MJPEG frames may be made straight from 4:2:0 JPEG files
// (jpeg_transcode_posix.h) instead of by the encoder: MJPEG at a fixed quantiser, with no
// encoder options that could change how a frame is coded. Such a choice needs no check
// by its encoder: it takes every size and setting.
bool TakesReadyMjpeg(const CodecChoice& choice);
// A video stream's format: the BITMAPINFOHEADER of a width x height picture of `bits` with
// the FOURCC, biSize counting the codec's `extra` bytes that follow it.
std::vector<std::uint8_t> StreamFormatOf(std::uint32_t fourcc, int width, int height, int bits,
                                         const std::uint8_t* extra = nullptr, std::size_t extraSize = 0);

// Whether the choice can write frames of width x height at rate / scale frames per second,
// found by opening its encoder once, before any question is asked or file created. False
// with the reason in the user's language in *why: full frames given encoder options, an
// option the encoder does not know or a value it refuses, or a frame size it cannot take
// (then *why also names the codecs that take that size), or a codec `container` cannot hold.
bool CheckCodecChoice(const CodecChoice& choice, int width, int height, int scale, int rate, std::string* why,
                      Container container = Container::kAvi);

// One compressed frame with its place in time, counted in frames from 0: presentation
// (pts) and decoding (dts) order are the same while no B-frames are coded.
struct EncodedPacket {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  bool key = false;
  std::int64_t pts = 0;
  std::int64_t dts = 0;
};

// One libavcodec encoder fed with bottom-up BGR24 canvases.
class VideoEncoder {
 public:
  // Receives each compressed frame; false stops the encoding (a failed write).
  using PacketSink = std::function<bool(const std::uint8_t* data, std::size_t size, bool key)>;
  // The same with the frame's timestamps, for containers that store them.
  using TimedPacketSink = std::function<bool(const EncodedPacket& packet)>;

  VideoEncoder();
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  // Opens the chosen encoder (not "dib") for width x height frames at rate / scale frames
  // per second. False, with a sentence for the user in *error, when the codec is unknown
  // or not built in, the frame size does not suit it, an option is not understood, or the
  // encoder refuses the settings. A `container` other than AVI gets the codec's headers
  // once for the whole stream (what MKV, MP4 and MOV store), not in each key frame.
  bool Open(const CodecChoice& choice, int width, int height, int scale, int rate,
            std::string* error, Container container = Container::kAvi);
  bool open() const { return state_ != nullptr; }
  std::uint32_t fourcc() const { return fourcc_; }
  Container container() const { return container_; }
  // The stream's codec, size and headers for a libavformat container, with no codec tag
  // (the muxer picks its own). False when the encoder is not open.
  bool FillParameters(AVCodecParameters* parameters) const;
  // The stream format: a BITMAPINFOHEADER with the FOURCC, followed by the codec's data.
  std::vector<std::uint8_t> StreamFormat() const;
  // Encodes one canvas (rows bottom-up, `stride` bytes apart) and hands out what the
  // encoder produced so far.
  bool Encode(const std::uint8_t* bottomUpBgr, std::size_t stride, const PacketSink& sink);
  bool Encode(const std::uint8_t* bottomUpBgr, std::size_t stride, const TimedPacketSink& sink);
  // Whether the encoder works in JPEG's full-range 4:2:0 YUV (MJPEG), which EncodePlanes takes.
  bool TakesJpegYuv() const;
  // Encodes one picture given as planes (top row first) in the encoder's own pixel format
  // and size; false for any other format or size.
  bool EncodePlanes(const AVFrame* planes, const PacketSink& sink);
  // Hands out the frames the encoder still holds. Called once at the end.
  bool Drain(const PacketSink& sink);
  bool Drain(const TimedPacketSink& sink);
  void Close();

 private:
  struct State;
  // Sends the picture filled in state_->frame and hands out what the encoder produced.
  bool Send(const TimedPacketSink& sink);
  std::unique_ptr<State> state_;
  std::uint32_t fourcc_ = 0;
  Container container_ = Container::kAvi;
};

}  // namespace zelvo
