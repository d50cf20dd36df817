#include "convert/avi_saver_posix.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "image/av_calls_posix.h"

#include "convert/av_owners_posix.h"
#include "image/av_jpeg_yuv_posix.h"
#include "image/jpeg_reader_posix.h"
#include "image/jpeg_transcode_posix.h"
#include "platform/messages_posix.h"

namespace zelvo {

namespace {


constexpr char kCaption[] = "AviSaver";
// The Windows writer's sentences, in English; the catalog gives them back in Japanese.
constexpr char kCannotCompress[] = N_("Could not create the compressed stream.");
constexpr char kCannotSetFormat[] = N_("Could not set the format of the stream.");
constexpr char kCannotMakeCanvas[] = N_("Could not create the frame canvas.");

// The uncompressed stream's format: the canvas itself as a 24-bit bottom-up DIB.
std::vector<std::uint8_t> FullFrameFormat(int width, int height, std::uint64_t bytes) {
  std::vector<std::uint8_t> out(kDibHeaderSize, 0);
  StoreDibHeader(out.data(), MakeDibHeader(width, height, 24, static_cast<std::uint32_t>(bytes)));
  return out;
}

}  // namespace

void AviSaver::PrintMessage(const char* /*caption*/, const char* text) {
  std::fprintf(stderr, "AviSaver: %s\n", text);
}

AviSaver::AviSaver(Chooser chooser, MessageSink messages, MovieOptions options)
    : chooser_(std::move(chooser)), messages_(std::move(messages)), options_(std::move(options)) {}

AviSaver::~AviSaver() { Finish(); }

void AviSaver::Message(const char* msgid, const std::string& detail) {
  if (!messages_) return;
  std::string text = Tr(msgid);
  if (!detail.empty()) text += "\n" + detail;
  messages_(kCaption, text.c_str());
}

WriteResult AviSaver::Begin(int width, int height, const OutputFile& output, int scale, int rate) {
  Finish();
  CodecChoice choice;
  if (!chooser_ || !chooser_(&choice)) return WriteResult::Failed(WriteFailure::kStopped);  // cancelled: nothing said
  choice_ = choice;
  const WriteResult started = Start(width, height, output.descriptor(), scale, rate);
  if (!started) {
    encoder_.Close();
    sound_.reset();
    picture_.Reset();
  }
  return started;
}

bool AviSaver::OpenSound(int scale, int rate, AviSoundStream* stream) {
  sound_ = std::make_unique<SoundSource>();
  const SoundResult opened = sound_->Open(options_.soundPath.c_str(), Container::kAvi, scale, rate);
  if (!opened) {
    if (messages_) messages_(kCaption, opened.message.c_str());
    return false;
  }
  stream->sampleRate = static_cast<std::uint32_t>(sound_->sampleRate());
  stream->blockAlign = static_cast<std::uint32_t>(sound_->channels()) * 2;
  stream->format = sound_->WaveFormat();
  return true;
}

WriteResult AviSaver::Start(int width, int height, int fd, int scale, int rate) {
  const WriteResult stopped = WriteResult::Failed(WriteFailure::kStopped);
  if (width <= 0 || height == 0 || height == INT_MIN || scale <= 0 || rate <= 0) {
    Message(kCannotSetFormat);
    return stopped;
  }
  // The picture's size check comes first: it also bounds every size written to the file.
  // The canvas itself is made when a frame needs drawing: frames of its exact shape are
  // written from their own blocks and never need it.
  if (!picture_.Start(width, height, options_.fitWidth, options_.fitHeight, choice_.codec, options_.notice)) {
    Message(kCannotMakeCanvas);
    return stopped;
  }
  const int pictureWidth = picture_.width();
  const int pictureHeight = picture_.height();

  AviVideoStream stream;
  stream.width = pictureWidth;
  stream.height = pictureHeight;
  stream.scale = static_cast<std::uint32_t>(scale);
  stream.rate = static_cast<std::uint32_t>(rate);
  compressed_ = choice_.codec != "dib";
  readyMjpeg_ = TakesReadyMjpeg(choice_);
  scale_ = scale;
  rate_ = rate;
  if (readyMjpeg_) {
    stream.handler = kMjpegFourcc;
    stream.format = StreamFormatOf(kMjpegFourcc, pictureWidth, pictureHeight, 24);
  } else if (compressed_) {
    // Prepared before anything is written, so a codec that refuses the frame size or an
    // option leaves the file empty.
    std::string detail;
    if (!encoder_.Open(choice_, pictureWidth, pictureHeight, scale, rate, &detail)) {
      Message(kCannotCompress, detail);
      return stopped;
    }
    stream.handler = encoder_.fourcc();
    stream.format = encoder_.StreamFormat();
  } else {
    stream.handler = MakeFourcc('D', 'I', 'B', ' ');
    stream.format = FullFrameFormat(pictureWidth, pictureHeight, picture_.bytes());
  }
  AviSoundStream sound;
  if (!options_.soundPath.empty() && !OpenSound(scale, rate, &sound)) return stopped;

  file_.set_segment_limit(segmentLimit_);
  const WriteResult created = file_.Create(fd, stream, sound_ ? &sound : nullptr);
  if (created.kind == WriteFailure::kSystem && created.error == EINVAL) {
    Message(kCannotSetFormat);
    return stopped;
  }
  if (!created) return created;  // the job names the output and the system's reason
  open_ = true;
  failure_ = WriteResult();
  nextFrame_ = 0;
  // JPEG frames of the movie's size are then read finished, or in the encoder's own YUV.
  framesAsRead_ = options_.fitWidth == 0 && pictureWidth == width && pictureHeight == (height < 0 ? -height : height);
  if (framesAsRead_) {
    if (readyMjpeg_) OfferMjpegFrames(FixedQuantiser(choice_), pictureWidth, pictureHeight);
    if (compressed_ && encoder_.TakesJpegYuv()) OfferJpegYuv(pictureWidth, pictureHeight);
  }
  return WriteResult();
}

bool AviSaver::EnsureEncoder() {
  if (encoder_.open()) return true;
  std::string detail;
  if (!encoder_.Open(choice_, picture_.width(), picture_.height(), scale_, rate_, &detail)) {
    Message(kCannotCompress, detail);
    return false;
  }
  if (framesAsRead_ && encoder_.TakesJpegYuv()) OfferJpegYuv(picture_.width(), picture_.height());
  return true;
}

FrameCanvas& AviSaver::canvas() { return picture_.canvas(); }

WriteResult AviSaver::Append(const PackedDib& image) {
  if (!open_) return WriteResult::Failed(WriteFailure::kSystem, EBADF);
  std::size_t frameSize = 0;
  if (const std::uint8_t* frame = MjpegFrameOf(image, &frameSize)) return AppendMjpeg(image, frame, frameSize);
  if (image && image.size() >= static_cast<std::size_t>(kDibHeaderSize) &&
      image.header().compression == kJpegYuvFourcc) {
    AvOwner<AVFrame> planes(av_frame_alloc());
    if (!planes) return WriteResult::Failed(WriteFailure::kNoMemory);
    if (ViewJpegYuvDib(image, planes.get())) return AppendJpegYuv(image, planes.get());
  }
  const std::uint8_t* rows = nullptr;
  const WriteFailure painted = picture_.Paint(image, &rows);
  if (painted == WriteFailure::kNone) return WriteRows(rows);
  ++nextFrame_;
  if (painted == WriteFailure::kNotDrawn) return WriteResult::Failed(WriteFailure::kNotDrawn);
  if (failure_) failure_ = WriteResult::Failed(painted);
  return failure_;
}

// A frame in JPEG's YUV goes to an encoder that takes it as it is; any other writer, or a
// frame of another size, gets the BGR frame the reader would have made.
WriteResult AviSaver::AppendJpegYuv(const PackedDib& image, const AVFrame* planes) {
  if (readyMjpeg_ && !EnsureEncoder()) return FailFrame(WriteFailure::kStopped);
  if (compressed_ && encoder_.TakesJpegYuv() && planes->width == picture_.width() &&
      planes->height == picture_.height()) {
    return WriteFrame(
        [this, planes](const VideoEncoder::PacketSink& sink) { return encoder_.EncodePlanes(planes, sink); });
  }
  const FrameRead bgr = JpegYuvToBgr(image);
  if (!bgr) {
    ++nextFrame_;
    return WriteResult::Failed(bgr.failure == FrameFailure::kNoMemory ? WriteFailure::kNoMemory : WriteFailure::kNotDrawn);
  }
  return Append(bgr.image);
}

// A finished MJPEG frame of the picture's size is written as it is, after the frames the
// encoder still holds, so that the order stays the frames' own; the encoder opens again
// for the next frame that needs it.
WriteResult AviSaver::AppendMjpeg(const PackedDib& image, const std::uint8_t* frame, std::size_t size) {
  const DibHeader header = image.header();
  if (!readyMjpeg_ || header.width != picture_.width() || header.height != picture_.height()) {
    const FrameRead bgr = DecodeJpeg(frame, size);
    if (!bgr) {
      ++nextFrame_;
      return WriteResult::Failed(bgr.failure == FrameFailure::kNoMemory ? WriteFailure::kNoMemory
                                                                        : WriteFailure::kNotDrawn);
    }
    return Append(bgr.image);
  }
  if (failure_ && encoder_.open()) {
    WriteResult drained;
    if (!DrainEncoder(&drained)) {
      ++nextFrame_;
      return failure_ = drained;
    }
    encoder_.Close();
  }
  return WriteFrame(nullptr, frame, size);
}

WriteResult AviSaver::FailFrame(WriteFailure kind) {
  ++nextFrame_;
  if (failure_) failure_ = WriteResult::Failed(kind);
  return failure_;
}

bool AviSaver::DrainEncoder(WriteResult* result) {
  WriteResult written;
  const bool drained = encoder_.Drain([this, &written](const std::uint8_t* data, std::size_t size, bool key) {
    written = WriteVideo(data, size, key);
    return static_cast<bool>(written);
  });
  *result = !drained && written ? WriteResult::Failed(WriteFailure::kSystem) : written;
  return static_cast<bool>(*result);
}

WriteResult AviSaver::PassSound(bool last) {
  if (!sound_) return WriteResult();
  WriteResult written;
  const SoundSource::Sink sink = [this, &written](const SoundPacket& piece) {
    written = file_.WriteSound(piece.data, piece.size);
    return static_cast<bool>(written);
  };
  SoundResult sound = sound_->ReadUntilFrame(file_.frames(), sink);
  if (sound && last) sound = sound_->Finish(sink);
  if (!written) return written;  // the job names the output and the system's reason
  if (sound) return WriteResult();
  if (messages_) messages_(kCaption, sound.message.c_str());
  return WriteResult::Failed(WriteFailure::kStopped);  // its message has been sent
}

WriteResult AviSaver::WriteVideo(const std::uint8_t* data, std::size_t size, bool key) {
  const WriteResult written = file_.WriteFrame(data, size, key);
  // The sound follows each frame in the file, not each frame handed to an encoder that
  // holds some back: the two streams stay about one frame apart.
  return written ? PassSound(false) : written;
}

// Appends `rows` (bottom-up rows of the picture's shape) as the next frame.
WriteResult AviSaver::WriteRows(const std::uint8_t* rows) {
  if (readyMjpeg_ && !EnsureEncoder()) return FailFrame(WriteFailure::kStopped);
  if (compressed_) {
    return WriteFrame([this, rows](const VideoEncoder::PacketSink& sink) {
      return encoder_.Encode(rows, picture_.stride(), sink);
    });
  }
  return WriteFrame(nullptr, rows, picture_.bytes());
}

WriteResult AviSaver::WriteFrame(const Encoding& encode, const std::uint8_t* data, std::size_t size) {
  ++nextFrame_;  // the next frame goes to the following index whatever happens here
  if (!failure_) return failure_;
  // The container's verdict on a compressed frame's packets; the encoder only learns yes or no.
  WriteResult written;
  auto sink = [this, &written](const std::uint8_t* data, std::size_t size, bool key) {
    written = WriteVideo(data, size, key);
    return static_cast<bool>(written);
  };
  if (encode) {
    if (!encode(sink) && written) {
      written = WriteResult::Failed(WriteFailure::kSystem);  // the encoder's own failure: no reason to tell
    }
  } else {
    written = WriteVideo(data, size, true);
  }
  failure_ = written;
  return written;
}

WriteResult AviSaver::Finish() {
  if (!open_) return WriteResult();
  WriteResult finished = failure_;
  if (compressed_ && finished && encoder_.open()) DrainEncoder(&finished);
  if (finished) finished = PassSound(true);
  if (finished) finished = file_.Finish();
  file_.Discard();  // the headers keep claiming no frames when the movie failed
  OfferJpegYuv(0, 0);
  OfferMjpegFrames(0);
  encoder_.Close();
  sound_.reset();
  picture_.Reset();
  open_ = false;
  compressed_ = false;
  readyMjpeg_ = false;
  nextFrame_ = 0;
  return finished;
}

}  // namespace zelvo
