#include "convert/container_movie_posix.h"

#include "platform/messages_posix.h"

namespace zelvo {

namespace {

ContainerResult Result(ContainerFailure failure, int error, std::string message) {
  ContainerResult result;
  result.failure = failure;
  result.error = error;
  result.message = std::move(message);
  return result;
}

}  // namespace

ContainerMovie::ContainerMovie() = default;
ContainerMovie::~ContainerMovie() { Discard(); }

void ContainerMovie::Discard() {
  file_.Discard();
  sound_.reset();
  encoder_.Close();
  open_ = false;
  frames_ = 0;
}

ContainerResult ContainerMovie::SoundFailed(const SoundResult& sound) {
  return Result(ContainerFailure::kSound, sound.error, sound.message);
}

ContainerResult ContainerMovie::Open(int fd, Container container, const CodecChoice& choice, int width, int height,
                                     int scale, int rate, const char* soundPath) {
  Discard();
  failure_ = ContainerResult();
  if (!CodecFitsContainer(choice.codec, container)) {
    return Result(
        ContainerFailure::kUnsupported, 0,
        FormatText(Tr("%s files cannot hold the codec %s."), ContainerLabel(container), choice.codec.c_str()));
  }
  fullFrames_ = choice.codec == "dib";
  if (!fullFrames_) {
    std::string why;
    if (!encoder_.Open(choice, width, height, scale, rate, &why, container)) {
      return Result(ContainerFailure::kEncode, 0,
                    std::string(Tr("Could not create the compressed stream.")) + "\n" + why);
    }
  }
  if (soundPath) {
    sound_ = std::make_unique<SoundSource>();
    const SoundResult opened = sound_->Open(soundPath, container, scale, rate);
    if (!opened) {
      const ContainerResult result = SoundFailed(opened);
      Discard();
      return result;
    }
  }
  ContainerVideo video;
  video.width = width;
  video.height = height;
  video.scale = scale;
  video.rate = rate;
  video.encoder = fullFrames_ ? nullptr : &encoder_;
  const ContainerResult started = file_.Open(fd, container, video, sound_.get());
  if (!started) {
    Discard();
    return started;
  }
  open_ = true;
  return ContainerResult();
}

// The sound up to the end of the frames written so far; at the end also what the sound
// encoder still holds.
ContainerResult ContainerMovie::PassSound(bool last) {
  if (!sound_) return ContainerResult();
  ContainerResult written;
  const SoundSource::Sink sink = [&](const SoundPacket& piece) {
    written = file_.WriteSound(piece);
    return static_cast<bool>(written);
  };
  SoundResult sound = sound_->ReadUntilFrame(frames_, sink);
  if (sound && last) sound = sound_->Finish(sink);
  if (!written) return written;
  return sound ? ContainerResult() : SoundFailed(sound);
}

ContainerResult ContainerMovie::WriteFrame(const std::uint8_t* bottomUpBgr, std::size_t stride) {
  if (!open_) return Result(ContainerFailure::kWrite, 0, Tr("The movie is not open."));
  if (!failure_) return failure_;
  ContainerResult written;
  if (fullFrames_) {
    written = file_.WriteFullFrame(bottomUpBgr, stride);
  } else {
    const bool encoded = encoder_.Encode(bottomUpBgr, stride, [&](const EncodedPacket& packet) {
      written = file_.WriteVideo(packet);
      return static_cast<bool>(written);
    });
    if (!encoded && written)
      written = Result(ContainerFailure::kEncode, 0, Tr("Could not create the compressed stream."));
  }
  ++frames_;
  if (written) written = PassSound(false);
  if (!written) failure_ = written;
  return written;
}

ContainerResult ContainerMovie::Finish() {
  if (!open_) return Result(ContainerFailure::kFinish, 0, Tr("The movie is not open."));
  ContainerResult result = failure_;
  if (result && !fullFrames_) {
    const bool drained = encoder_.Drain([&](const EncodedPacket& packet) {
      result = file_.WriteVideo(packet);
      return static_cast<bool>(result);
    });
    if (!drained && result)
      result = Result(ContainerFailure::kEncode, 0, Tr("Could not create the compressed stream."));
  }
  if (result) result = PassSound(true);
  if (result) result = file_.Finish();
  const std::int64_t frames = frames_;
  Discard();
  frames_ = result ? frames : 0;
  return result;
}

}  // namespace zelvo
