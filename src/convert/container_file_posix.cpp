#include "convert/container_file_posix.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "image/av_calls_posix.h"

#include "convert/av_owners_posix.h"
#include "convert/descriptor_io_posix.h"
#include "platform/messages_posix.h"

namespace zelvo {

namespace {

// errno values stay below this; libavformat's own codes are tags far beyond it.
constexpr int kLargestErrno = 4096;

bool FaststartContainer(Container c) { return c == Container::kMp4 || c == Container::kMov; }

// What the faststart pass's callbacks reach through the muxer's opaque pointer.
struct ReadBack {
  int fd = -1;
  int error = 0;  // errno of its first failed read
};

}  // namespace

struct ContainerFile::State {
  ReadBack readBack;
  DescriptorIo io;  // outlives the muxer, which writes through it until freed
  AvOutput format;
  AvOwner<AVPacket> packet;
  AVRational frameTime = {1, 1};  // one frame, in seconds
  AVRational soundTime = {1, 1};  // one sample
  int videoStream = -1;
  int soundStream = -1;
  bool fullFrames = false;
  bool failed = false;
  std::vector<std::uint8_t> rows;  // a full frame turned top-down
};

namespace {

// movenc's faststart pass reads the finished file back "by name": it gets the same
// descriptor instead, read with pread, so no name is ever opened again.
int OpenBack(AVFormatContext* s, AVIOContext** pb, const char* /*url*/, int flags, AVDictionary** /*options*/) {
  if (flags & AVIO_FLAG_WRITE) return AVERROR(EPERM);
  *pb = OpenDescriptorIo(static_cast<const ReadBack*>(s->opaque)->fd, false);
  return *pb ? 0 : AVERROR(ENOMEM);
}

int CloseBack(AVFormatContext* s, AVIOContext* pb) {
  ReadBack* readBack = static_cast<ReadBack*>(s->opaque);
  if (readBack->error == 0) readBack->error = DescriptorIoError(pb);
  CloseDescriptorIo(&pb);
  return 0;
}

}  // namespace

ContainerFile::ContainerFile() = default;
ContainerFile::~ContainerFile() { Discard(); }

void ContainerFile::Discard() {
  state_.reset();
  frames_ = 0;
}

ContainerResult ContainerFile::Failed(ContainerFailure failure, int code) {
  ContainerResult result;
  result.failure = failure;
  // The system's reason when it refused a read or write: libavformat passes it on only as
  // its own code, or not at all.
  int error = 0;
  if (state_) {
    error = DescriptorIoError(state_->io.get());
    if (error == 0) error = state_->readBack.error;
    state_->failed = true;
  }
  // AVERROR(e) is -e: such a code is the system's errno as well.
  if (error == 0 && code < 0 && code > -kLargestErrno) error = -code;
  result.error = error != 0 ? error : code;
  const std::string reason = error != 0 ? std::strerror(error) : AvErrorText(code);
  const char* display = ContainerLabel(container_);
  switch (failure) {
    case ContainerFailure::kUnsupported:
      result.message = FormatText(Tr("%s files cannot hold this codec."), display);
      break;
    case ContainerFailure::kSetup:
      result.message = FormatText(Tr("The %s file could not be started: %s"), display, reason.c_str());
      break;
    case ContainerFailure::kWrite:
      result.message = FormatText(Tr("The %s file could not be written: %s"), display, reason.c_str());
      break;
    default: result.message = FormatText(Tr("The %s file could not be completed: %s"), display, reason.c_str()); break;
  }
  return result;
}

ContainerResult ContainerFile::Open(int fd, Container container, const ContainerVideo& video,
                                    const SoundSource* sound) {
  Discard();
  container_ = container;
  const char* muxerName = container == Container::kMkv   ? "matroska"
                          : container == Container::kMp4 ? "mp4"
                          : container == Container::kMov ? "mov"
                                                         : nullptr;  // AVI has the project's own writer
  std::string missing;
  if (!LoadLibav(&missing)) {  // Failed would ask libav for its reason
    ContainerResult result;
    result.failure = ContainerFailure::kSetup;
    result.message = missing;
    return result;
  }
  const AVOutputFormat* muxer = muxerName ? av_guess_format(muxerName, nullptr, nullptr) : nullptr;
  if (!muxer) return Failed(ContainerFailure::kUnsupported, AVERROR_MUXER_NOT_FOUND);
  if (video.encoder ? video.encoder->container() != container : !CodecFitsContainer("dib", container)) {
    return Failed(ContainerFailure::kUnsupported, AVERROR(EINVAL));
  }
  if (video.width <= 0 || video.height <= 0 || video.scale <= 0 || video.rate <= 0) {
    return Failed(ContainerFailure::kSetup, AVERROR(EINVAL));
  }
  const int mode = fcntl(fd, F_GETFL);
  if (mode < 0) return Failed(ContainerFailure::kSetup, AVERROR(errno));
  // The faststart pass reads what was written.
  if (FaststartContainer(container) && (mode & O_ACCMODE) != O_RDWR)
    return Failed(ContainerFailure::kSetup, AVERROR(EBADF));

  auto state = std::make_unique<State>();
  state->readBack.fd = fd;
  state->io.reset(OpenDescriptorIo(fd, true));
  state->packet.reset(av_packet_alloc());
  AVFormatContext* format = nullptr;
  if (!state->io || !state->packet || avformat_alloc_output_context2(&format, muxer, nullptr, nullptr) < 0) {
    return Failed(ContainerFailure::kSetup, AVERROR(ENOMEM));
  }
  state->format.reset(format);
  format->pb = state->io.get();
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  format->opaque = &state->readBack;
  format->io_open = OpenBack;
  format->io_close2 = CloseBack;

  AVStream* v = avformat_new_stream(format, nullptr);
  if (!v) return Failed(ContainerFailure::kSetup, AVERROR(ENOMEM));
  if (video.encoder) {
    if (!video.encoder->FillParameters(v->codecpar)) return Failed(ContainerFailure::kSetup, AVERROR(EINVAL));
  } else {
    v->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    v->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
    v->codecpar->format = AV_PIX_FMT_BGR24;
    v->codecpar->width = video.width;
    v->codecpar->height = video.height;
    v->codecpar->bits_per_coded_sample = 24;
    state->fullFrames = true;
  }
  av_reduce(&state->frameTime.num, &state->frameTime.den, video.scale, video.rate, INT_MAX);
  v->time_base = state->frameTime;
  v->avg_frame_rate = v->r_frame_rate = av_inv_q(state->frameTime);
  state->videoStream = v->index;
  if (sound) {
    AVStream* a = avformat_new_stream(format, nullptr);
    if (!a) return Failed(ContainerFailure::kSetup, AVERROR(ENOMEM));
    if (!sound->FillParameters(a->codecpar)) return Failed(ContainerFailure::kUnsupported, AVERROR(EINVAL));
    state->soundTime = AVRational{1, sound->sampleRate()};
    a->time_base = state->soundTime;
    state->soundStream = a->index;
  }

  AVDictionary* rawOptions = nullptr;
  if (FaststartContainer(container)) av_dict_set(&rawOptions, "movflags", "+faststart", 0);
  state_ = std::move(state);
  const int r = avformat_write_header(format, &rawOptions);
  AvOwner<AVDictionary> options(rawOptions);
  if (r < 0) {
    ContainerResult result = Failed(ContainerFailure::kSetup, r);
    Discard();
    return result;
  }
  return ContainerResult();
}

ContainerResult ContainerFile::Write(void* rawPacket) {
  AVPacket* packet = static_cast<AVPacket*>(rawPacket);
  AVFormatContext* format = state_->format.get();
  // With sound, libavformat orders the two streams by time; video alone goes straight out.
  const int r = state_->soundStream >= 0 ? av_interleaved_write_frame(format, packet) : av_write_frame(format, packet);
  av_packet_unref(packet);
  if (r < 0 || DescriptorIoError(state_->io.get()) != 0) return Failed(ContainerFailure::kWrite, r);
  return ContainerResult();
}

ContainerResult ContainerFile::WriteVideo(const EncodedPacket& encoded) {
  if (!state_ || state_->failed || state_->fullFrames) return Failed(ContainerFailure::kWrite, AVERROR(EINVAL));
  AVPacket* packet = state_->packet.get();
  av_packet_unref(packet);
  packet->data = const_cast<std::uint8_t*>(encoded.data);
  packet->size = static_cast<int>(encoded.size);
  packet->flags = encoded.key ? AV_PKT_FLAG_KEY : 0;
  packet->pts = encoded.pts;
  packet->dts = encoded.dts;
  packet->duration = 1;
  packet->stream_index = state_->videoStream;
  av_packet_rescale_ts(packet, state_->frameTime, state_->format->streams[state_->videoStream]->time_base);
  ++frames_;
  return Write(packet);
}

ContainerResult ContainerFile::WriteFullFrame(const std::uint8_t* bottomUpBgr, std::size_t stride) {
  if (!state_ || state_->failed || !state_->fullFrames || !bottomUpBgr)
    return Failed(ContainerFailure::kWrite, AVERROR(EINVAL));
  const AVCodecParameters* p = state_->format->streams[state_->videoStream]->codecpar;
  const std::size_t row = static_cast<std::size_t>(p->width) * 3;
  const std::size_t height = static_cast<std::size_t>(p->height);
  try {
    state_->rows.resize(row * height);
  } catch (const std::bad_alloc&) {
    return Failed(ContainerFailure::kWrite, AVERROR(ENOMEM));
  }
  for (std::size_t y = 0; y < height; ++y) {
    std::memcpy(state_->rows.data() + y * row, bottomUpBgr + (height - 1 - y) * stride, row);
  }
  EncodedPacket encoded;
  encoded.data = state_->rows.data();
  encoded.size = state_->rows.size();
  encoded.key = true;
  encoded.pts = encoded.dts = frames_;
  state_->fullFrames = false;  // WriteVideo takes it as an encoded frame
  ContainerResult result = WriteVideo(encoded);
  if (state_) state_->fullFrames = true;
  return result;
}

ContainerResult ContainerFile::WriteSound(const SoundPacket& piece) {
  if (!state_ || state_->failed || state_->soundStream < 0 || !piece.packet) {
    return Failed(ContainerFailure::kWrite, AVERROR(EINVAL));
  }
  AVPacket* packet = state_->packet.get();
  av_packet_unref(packet);
  // A reference keeps the encoder's side data: FLAC's final stream header comes that way.
  const int r = av_packet_ref(packet, piece.packet);
  if (r < 0) return Failed(ContainerFailure::kWrite, r);
  packet->stream_index = state_->soundStream;
  av_packet_rescale_ts(packet, state_->soundTime, state_->format->streams[state_->soundStream]->time_base);
  return Write(packet);
}

ContainerResult ContainerFile::Finish() {
  if (!state_) return Failed(ContainerFailure::kFinish, AVERROR(EINVAL));
  if (state_->failed) {
    ContainerResult result = Failed(ContainerFailure::kFinish, AVERROR(EIO));
    Discard();
    return result;
  }
  AVFormatContext* format = state_->format.get();
  int r = state_->soundStream >= 0 ? av_interleaved_write_frame(format, nullptr) : 0;
  if (r >= 0) r = av_write_trailer(format);
  if (r >= 0) {
    avio_flush(format->pb);
    r = format->pb->error;
  }
  ContainerResult result;
  if (r < 0 || DescriptorIoError(state_->io.get()) != 0 || state_->readBack.error != 0) {
    result = Failed(ContainerFailure::kFinish, r < 0 ? r : AVERROR(EIO));
  }
  state_.reset();
  return result;
}

}  // namespace zelvo
