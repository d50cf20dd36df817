#pragma once
// The sound track of a movie: any audio file libavformat reads (WAV, FLAC, MP3, Ogg, ...),
// decoded, resampled and handed out in what the container stores: 16-bit PCM for AVI,
// FLAC for MKV, AAC for MP4 and MOV (libavcodec's own encoder). The writer asks for the
// sound up to the end of each video frame it has written, so the two streams interleave
// in steps of about one frame, and the sound stops where the video does.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/codec_posix.h"

struct AVCodecParameters;
struct AVPacket;

namespace zelvo {

enum class SoundFailure {
  kNone,
  kCannotOpen,    // the file cannot be opened or is not a regular file (error: errno)
  kNotReadable,   // libavformat recognises no format in it (error: AVERROR), or cannot be loaded (0)
  kNoAudio,       // it holds no audio stream this system decodes
  kCannotDecode,  // decoding or resampling failed (error: AVERROR)
  kCannotEncode,  // the container's sound encoder refused (error: AVERROR)
  kNoMemory,
  kStopped,  // the sink refused a piece; its own failure says why (no message here)
};

struct SoundResult {
  SoundFailure failure = SoundFailure::kNone;
  int error = 0;        // errno or AVERROR code, as the failure says; 0 when none applies
  std::string message;  // one sentence in the user's language naming the file and reason
  explicit operator bool() const { return failure == SoundFailure::kNone; }
};

// A piece of the track: PCM bytes (AVI), or one encoded packet. Times count samples at
// sampleRate() from the start of the track; an encoder's priming makes the first pts
// negative.
struct SoundPacket {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::int64_t pts = 0;
  std::int64_t duration = 0;
  const AVPacket* packet = nullptr;  // the encoder's packet with its side data; null for PCM
};

// Whether `path` can be a sound track: a regular file in a format libavformat reads with
// an audio stream this system decodes. What the command line checks before anything is
// converted (its failure is a usage error).
SoundResult CheckSoundFile(const char* path);

class SoundSource {
 public:
  // Receives each piece; false stops the reading (a failed write): the call then returns
  // kStopped.
  using Sink = std::function<bool(const SoundPacket& packet)>;

  SoundSource();
  ~SoundSource();
  SoundSource(const SoundSource&) = delete;
  SoundSource& operator=(const SoundSource&) = delete;

  // Opens `path` for a `container` movie of rate / scale frames per second. The sound keeps
  // its sample rate (AAC: 48000 Hz when the encoder has not the file's), one channel
  // stays one, more become two.
  SoundResult Open(const char* path, Container container, int scale, int rate);

  int sampleRate() const { return sampleRate_; }
  int channels() const { return channels_; }
  // AVI's stream format: a WAVEFORMATEX of 16-bit PCM (18 bytes, little-endian).
  std::vector<std::uint8_t> WaveFormat() const;
  // For a libavformat container: codec, sample rate, channels and the encoder's headers.
  // False when nothing is open or the source is PCM.
  bool FillParameters(AVCodecParameters* parameters) const;

  // Hands out the sound from where the last call stopped up to the end of video frame
  // `frames` - 1 (time frames * scale / rate): for AVI one PCM chunk of those samples,
  // otherwise the encoded packets completed so far. Nothing when the file has ended.
  SoundResult ReadUntilFrame(std::int64_t frames, const Sink& sink);
  // At the video's end: encodes what ReadUntilFrame has taken but not yet encoded and
  // hands out the encoder's last packets. Nothing after the last frame is read.
  SoundResult Finish(const Sink& sink);
  // Samples handed out (PCM) or given to the encoder so far.
  std::int64_t samplesTaken() const { return taken_; }

 private:
  struct State;
  SoundResult Fail(SoundFailure failure, int error);
  bool FillFifo(std::int64_t samples, SoundResult* result);
  bool EncodeFrom(std::int64_t count, const Sink& sink, SoundResult* result);
  bool Collect(const Sink& sink, SoundResult* result);

  std::unique_ptr<State> state_;
  std::string path_;
  Container container_ = Container::kAvi;
  int scale_ = 1;
  int rate_ = 1;
  int sampleRate_ = 0;
  int channels_ = 0;
  std::int64_t taken_ = 0;
};

}  // namespace zelvo
