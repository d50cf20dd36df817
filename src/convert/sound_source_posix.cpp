#include "convert/sound_source_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "image/av_calls_posix.h"

#include "convert/av_owners_posix.h"
#include "convert/descriptor_io_posix.h"
#include "image/packed_dib.h"
#include "platform/messages_posix.h"

namespace zelvo {

namespace {

// FLAC's largest sample rate; AAC falls back to this common one when the encoder lacks the
// file's.
constexpr int kFlacMaxRate = 655350;
constexpr int kFallbackRate = 48000;
constexpr std::int64_t kAacBitsPerChannel = 96000;

struct Descriptor {
  int fd = -1;
  Descriptor() = default;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// A demuxer that names more files (playlists, segment lists) gets none of them: the sound
// is the one file the user named.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

// The file, its format and the decoder of its audio stream, declared in the order they
// depend on each other, so they are freed in reverse.
struct SoundInput {
  Descriptor file;
  DescriptorIo io;
  AvInput format;
  int stream = -1;
  AvOwner<AVCodecContext> decoder;
};

}  // namespace

struct SoundSource::State {
  SoundInput input;
  AvOwner<AVCodecContext> encoder;  // null for PCM
  AvOwner<SwrContext> resampler;
  AvOwner<AVAudioFifo> fifo;
  AvOwner<AVPacket> packet;
  AvOwner<AVFrame> decoded;
  AvOwner<AVFrame> converted;
  AVChannelLayout layout = {};
  AVSampleFormat sampleFormat = AV_SAMPLE_FMT_S16;
  std::vector<std::uint8_t> pcm;
  std::int64_t limit = 0;  // samples the video's length allows so far
  bool inputEnded = false;
  bool resamplerFlushed = false;
  bool finished = false;
  ~State() { av_channel_layout_uninit(&layout); }
};

namespace {

SoundResult Failure(SoundFailure failure, int error, std::string message) {
  SoundResult result;
  result.failure = failure;
  result.error = error;
  result.message = std::move(message);
  return result;
}

// Opens the file, its format and the decoder of its best audio stream into *state.
SoundResult OpenInput(const char* path, SoundInput* state) {
  const std::string name = path ? path : "";
  const std::string shown = TerminalSafe(name.c_str());  // a name can hold what a terminal obeys
  std::string missing;
  if (!LoadLibav(&missing)) return Failure(SoundFailure::kNotReadable, 0, missing);
  state->file.fd = open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (state->file.fd < 0) {
    const int error = errno;
    return Failure(SoundFailure::kCannotOpen, error,
                   FormatText(Tr("The sound file %s cannot be opened: %s"), shown.c_str(), std::strerror(error)));
  }
  struct stat st;
  // A FIFO or a device would block or never end; the non-blocking open above kept a FIFO
  // without a writer from hanging here.
  if (fstat(state->file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return Failure(SoundFailure::kCannotOpen, 0,
                   FormatText(Tr("The sound file %s is not a regular file."), shown.c_str()));
  }
  fcntl(state->file.fd, F_SETFL, fcntl(state->file.fd, F_GETFL) & ~O_NONBLOCK);
  state->io.reset(OpenDescriptorIo(state->file.fd, false));
  AVFormatContext* format = avformat_alloc_context();
  if (!state->io || !format) {
    avformat_free_context(format);
    return Failure(SoundFailure::kNoMemory, ENOMEM,
                   FormatText(Tr("The sound file %s needs more memory than there is."), shown.c_str()));
  }
  format->pb = state->io.get();
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  format->io_open = RefuseOpen;
  int r = avformat_open_input(&format, "", nullptr, nullptr);  // frees the context on failure
  if (r >= 0) {
    state->format.reset(format);
    r = avformat_find_stream_info(format, nullptr);
  }
  if (r < 0) {
    return Failure(SoundFailure::kNotReadable, r,
                   FormatText(Tr("The sound file %s is in no format this system reads: %s"), shown.c_str(),
                              AvErrorText(r).c_str()));
  }
  const AVCodec* codec = nullptr;
  state->stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (state->stream < 0 || !codec) {
    return Failure(SoundFailure::kNoAudio, state->stream < 0 ? state->stream : AVERROR_DECODER_NOT_FOUND,
                   FormatText(Tr("The file %s holds no sound this system can decode."), shown.c_str()));
  }
  const AVStream* stream = format->streams[state->stream];
  state->decoder.reset(avcodec_alloc_context3(codec));
  if (!state->decoder) {
    return Failure(SoundFailure::kNoMemory, ENOMEM,
                   FormatText(Tr("The sound file %s needs more memory than there is."), shown.c_str()));
  }
  r = avcodec_parameters_to_context(state->decoder.get(), stream->codecpar);
  state->decoder->pkt_timebase = stream->time_base;
  if (r >= 0) r = avcodec_open2(state->decoder.get(), codec, nullptr);
  if (r < 0 || state->decoder->sample_rate <= 0 || state->decoder->ch_layout.nb_channels <= 0) {
    return Failure(SoundFailure::kCannotDecode, r < 0 ? r : AVERROR_INVALIDDATA,
                   FormatText(Tr("The sound of %s cannot be decoded: %s"), shown.c_str(),
                              AvErrorText(r < 0 ? r : AVERROR_INVALIDDATA).c_str()));
  }
  return SoundResult();
}

// The sink refused a piece: its own failure says why.
SoundResult Stopped() { return Failure(SoundFailure::kStopped, 0, std::string()); }

// Whether the encoder lists `rate` (or lists none).
bool EncoderTakesRate(const AVCodec* codec, int rate) {
  if (!codec->supported_samplerates) return true;
  for (const int* r = codec->supported_samplerates; *r; ++r) {
    if (*r == rate) return true;
  }
  return false;
}

}  // namespace

SoundResult CheckSoundFile(const char* path) {
  SoundInput input;
  return OpenInput(path, &input);
}

SoundSource::SoundSource() = default;
SoundSource::~SoundSource() = default;

SoundResult SoundSource::Fail(SoundFailure failure, int error) {
  const std::string name = TerminalSafe(path_.c_str());
  switch (failure) {
    case SoundFailure::kNoMemory:
      return Failure(failure, error,
                     FormatText(Tr("The sound file %s needs more memory than there is."), name.c_str()));
    case SoundFailure::kCannotEncode:
      return Failure(failure, error,
                     FormatText(Tr("The sound of %s cannot be encoded: %s"), name.c_str(), AvErrorText(error).c_str()));
    default:
      return Failure(SoundFailure::kCannotDecode, error,
                     FormatText(Tr("The sound of %s cannot be decoded: %s"), name.c_str(), AvErrorText(error).c_str()));
  }
}

SoundResult SoundSource::Open(const char* path, Container container, int scale, int rate) {
  state_.reset();
  sampleRate_ = channels_ = 0;
  taken_ = 0;
  path_ = path ? path : "";
  if (scale <= 0 || rate <= 0)
    return Failure(SoundFailure::kCannotDecode, AVERROR(EINVAL), Tr("The frame rate is not valid."));
  std::string missing;
  if (!LoadLibav(&missing)) return Failure(SoundFailure::kNotReadable, 0, missing);  // before State, which frees through libav
  auto state = std::make_unique<State>();
  SoundResult opened = OpenInput(path, &state->input);
  if (!opened) return opened;
  container_ = container;
  scale_ = scale;
  rate_ = rate;

  const AVCodecContext* decoder = state->input.decoder.get();
  const int channels = std::min(decoder->ch_layout.nb_channels, 2);
  int sampleRate = decoder->sample_rate;
  av_channel_layout_default(&state->layout, channels);
  if (container != Container::kAvi) {
    // FLAC keeps what a deeper source holds up to 24 bits; AAC codes floating point.
    const bool flac = container == Container::kMkv;
    const AVCodec* codec = avcodec_find_encoder(flac ? AV_CODEC_ID_FLAC : AV_CODEC_ID_AAC);
    if (!codec) return Fail(SoundFailure::kCannotEncode, AVERROR_ENCODER_NOT_FOUND);
    if (flac ? sampleRate > kFlacMaxRate : !EncoderTakesRate(codec, sampleRate)) sampleRate = kFallbackRate;
    const bool deep = decoder->bits_per_raw_sample > 16 || av_get_bytes_per_sample(decoder->sample_fmt) > 2;
    state->sampleFormat = flac ? (deep ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16) : AV_SAMPLE_FMT_FLTP;
    state->encoder.reset(avcodec_alloc_context3(codec));
    if (!state->encoder) return Fail(SoundFailure::kNoMemory, ENOMEM);
    AVCodecContext* e = state->encoder.get();
    e->sample_fmt = state->sampleFormat;
    e->sample_rate = sampleRate;
    e->time_base = AVRational{1, sampleRate};
    if (av_channel_layout_copy(&e->ch_layout, &state->layout) < 0) return Fail(SoundFailure::kNoMemory, ENOMEM);
    if (flac && deep) e->bits_per_raw_sample = 24;
    if (!flac) e->bit_rate = kAacBitsPerChannel * channels;
    e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // every libavformat container here wants it
    const int r = avcodec_open2(e, codec, nullptr);
    if (r < 0) return Fail(SoundFailure::kCannotEncode, r);
  }

  AVChannelLayout inLayout = {};
  if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&inLayout, decoder->ch_layout.nb_channels);
  else if (av_channel_layout_copy(&inLayout, &decoder->ch_layout) < 0)
    return Fail(SoundFailure::kNoMemory, ENOMEM);
  SwrContext* resampler = nullptr;
  int r = swr_alloc_set_opts2(&resampler, &state->layout, state->sampleFormat, sampleRate, &inLayout,
                              decoder->sample_fmt, decoder->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  state->resampler.reset(resampler);
  if (r >= 0) r = swr_init(resampler);
  if (r < 0) return Fail(SoundFailure::kCannotDecode, r);
  state->fifo.reset(av_audio_fifo_alloc(state->sampleFormat, channels, 4096));
  state->packet.reset(av_packet_alloc());
  state->decoded.reset(av_frame_alloc());
  state->converted.reset(av_frame_alloc());
  if (!state->fifo || !state->packet || !state->decoded || !state->converted)
    return Fail(SoundFailure::kNoMemory, ENOMEM);
  sampleRate_ = sampleRate;
  channels_ = channels;
  state_ = std::move(state);
  return SoundResult();
}

std::vector<std::uint8_t> SoundSource::WaveFormat() const {
  std::vector<std::uint8_t> out(18, 0);
  const std::uint32_t block = static_cast<std::uint32_t>(channels_) * 2;
  StoreU16(&out[0], 1);  // WAVE_FORMAT_PCM
  StoreU16(&out[2], static_cast<std::uint16_t>(channels_));
  StoreU32(&out[4], static_cast<std::uint32_t>(sampleRate_));
  StoreU32(&out[8], static_cast<std::uint32_t>(sampleRate_) * block);
  StoreU16(&out[12], static_cast<std::uint16_t>(block));
  StoreU16(&out[14], 16);
  return out;  // cbSize 0
}

bool SoundSource::FillParameters(AVCodecParameters* parameters) const {
  if (!state_ || !state_->encoder || !parameters) return false;
  if (avcodec_parameters_from_context(parameters, state_->encoder.get()) < 0) return false;
  parameters->codec_tag = 0;
  return true;
}

// Decodes and resamples until the FIFO holds `samples` or the file has ended.
bool SoundSource::FillFifo(std::int64_t samples, SoundResult* result) {
  State& s = *state_;
  SoundInput& input = s.input;
  AVCodecContext* decoder = input.decoder.get();
  while (av_audio_fifo_size(s.fifo.get()) < samples && !s.resamplerFlushed) {
    int r = avcodec_receive_frame(decoder, s.decoded.get());
    if (r == AVERROR(EAGAIN)) {
      r = av_read_frame(input.format.get(), s.packet.get());
      if (r == AVERROR_EOF || (r < 0 && avio_feof(input.format->pb))) {
        s.inputEnded = true;
        r = avcodec_send_packet(decoder, nullptr);
      } else if (r >= 0) {
        if (s.packet->stream_index == input.stream) r = avcodec_send_packet(decoder, s.packet.get());
        av_packet_unref(s.packet.get());
        if (r == AVERROR_INVALIDDATA) r = 0;  // a damaged packet is skipped, as players do
      }
      if (r < 0 && r != AVERROR_EOF) {
        *result = Fail(SoundFailure::kCannotDecode, r);
        return false;
      }
      continue;
    }
    AVFrame* in = nullptr;
    if (r == AVERROR_EOF) {
      s.resamplerFlushed = true;  // the decoder is empty: what the resampler holds comes last
    } else if (r < 0) {
      *result = Fail(SoundFailure::kCannotDecode, r);
      return false;
    } else {
      in = s.decoded.get();
      // Decoders of formats without a channel map (WAV's plain header) leave the order
      // unspecified; the resampler was set up with the usual layout for that count.
      if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        const int count = in->ch_layout.nb_channels;
        av_channel_layout_uninit(&in->ch_layout);
        av_channel_layout_default(&in->ch_layout, count);
      }
    }
    AVFrame* out = s.converted.get();
    out->format = s.sampleFormat;
    out->sample_rate = sampleRate_;
    if (av_channel_layout_copy(&out->ch_layout, &s.layout) < 0) {
      *result = Fail(SoundFailure::kNoMemory, ENOMEM);
      return false;
    }
    r = swr_convert_frame(s.resampler.get(), out, in);
    if (in) av_frame_unref(in);
    if (r >= 0 && out->nb_samples > 0 &&
        av_audio_fifo_write(s.fifo.get(), reinterpret_cast<void**>(out->extended_data), out->nb_samples) <
            out->nb_samples) {
      r = AVERROR(ENOMEM);
    }
    av_frame_unref(out);
    if (r < 0) {
      *result = Fail(r == AVERROR(ENOMEM) ? SoundFailure::kNoMemory : SoundFailure::kCannotDecode, r);
      return false;
    }
  }
  return true;
}

// Hands every finished packet of the encoder to the sink.
bool SoundSource::Collect(const Sink& sink, SoundResult* result) {
  State& s = *state_;
  for (;;) {
    const int r = avcodec_receive_packet(s.encoder.get(), s.packet.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) {
      *result = Fail(SoundFailure::kCannotEncode, r);
      return false;
    }
    SoundPacket piece;
    piece.data = s.packet->data;
    piece.size = static_cast<std::size_t>(s.packet->size);
    piece.pts = s.packet->pts;
    piece.duration = s.packet->duration;
    piece.packet = s.packet.get();
    const bool ok = sink(piece);
    av_packet_unref(s.packet.get());
    if (!ok) return false;
  }
}

// Encodes `count` samples from the FIFO as one frame (padded with silence when the encoder
// takes no short last frame) and hands out what the encoder finished.
bool SoundSource::EncodeFrom(std::int64_t count, const Sink& sink, SoundResult* result) {
  AVCodecContext* e = state_->encoder.get();
  AvOwner<AVFrame> frame(av_frame_alloc());
  const bool padded = count < e->frame_size && !(e->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
  int r = frame ? 0 : AVERROR(ENOMEM);
  if (r == 0) {
    frame->format = e->sample_fmt;
    frame->sample_rate = e->sample_rate;
    frame->nb_samples = static_cast<int>(padded ? e->frame_size : count);
    r = av_channel_layout_copy(&frame->ch_layout, &e->ch_layout);
  }
  if (r == 0) r = av_frame_get_buffer(frame.get(), 0);
  if (r == 0 && padded) {
    r = av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, channels_, e->sample_fmt);
  }
  if (r < 0) {
    *result = Fail(SoundFailure::kNoMemory, r);
    return false;
  }
  av_audio_fifo_read(state_->fifo.get(), reinterpret_cast<void**>(frame->extended_data), static_cast<int>(count));
  frame->pts = taken_;
  taken_ += count;
  r = avcodec_send_frame(e, frame.get());
  if (r < 0) {
    *result = Fail(SoundFailure::kCannotEncode, r);
    return false;
  }
  return Collect(sink, result);
}

SoundResult SoundSource::ReadUntilFrame(std::int64_t frames, const Sink& sink) {
  SoundResult result;
  if (!state_ || state_->finished || frames < 0) return result;
  State& s = *state_;
  // Sample count at the end of the frame, rounded to the nearest: the sound ends within
  // half a sample of the video.
  const std::int64_t limit =
      av_rescale_rnd(frames, static_cast<std::int64_t>(scale_) * sampleRate_, rate_, AV_ROUND_NEAR_INF);
  if (limit <= s.limit) return result;
  s.limit = limit;
  if (!FillFifo(limit - taken_, &result)) return result;
  const std::int64_t available = std::min<std::int64_t>(limit - taken_, av_audio_fifo_size(s.fifo.get()));
  if (!s.encoder) {
    if (available <= 0) return result;
    const std::size_t bytes = static_cast<std::size_t>(available) * static_cast<std::size_t>(channels_) * 2;
    try {
      s.pcm.resize(bytes);
    } catch (const std::bad_alloc&) {
      return Fail(SoundFailure::kNoMemory, ENOMEM);
    }
    void* planes[1] = {s.pcm.data()};
    av_audio_fifo_read(s.fifo.get(), planes, static_cast<int>(available));
    SoundPacket piece;
    piece.data = s.pcm.data();
    piece.size = bytes;
    piece.pts = taken_;
    piece.duration = available;
    taken_ += available;
    if (!sink(piece)) return Stopped();
    return result;
  }
  const int frameSize = s.encoder->frame_size > 0 ? s.encoder->frame_size : 1024;
  while (std::min<std::int64_t>(limit - taken_, av_audio_fifo_size(s.fifo.get())) >= frameSize) {
    if (!EncodeFrom(frameSize, sink, &result)) return result ? Stopped() : result;
  }
  return result;
}

SoundResult SoundSource::Finish(const Sink& sink) {
  SoundResult result;
  if (!state_ || state_->finished) return result;
  State& s = *state_;
  s.finished = true;
  if (!s.encoder) return result;
  const std::int64_t rest = std::min<std::int64_t>(s.limit - taken_, av_audio_fifo_size(s.fifo.get()));
  const bool ok = (rest <= 0 || EncodeFrom(rest, sink, &result)) && [&] {
    const int r = avcodec_send_frame(s.encoder.get(), nullptr);
    if (r < 0) result = Fail(SoundFailure::kCannotEncode, r);
    return r >= 0;
  }() && Collect(sink, &result);
  if (!ok && result) return Stopped();
  return result;
}

}  // namespace zelvo
