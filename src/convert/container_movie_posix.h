#pragma once
// A whole MKV, MP4 or MOV movie on the job's descriptor: the canvas of each frame encoded
// with the chosen codec (or stored as full frames where the container takes them), the
// sound track interleaved about one frame at a time and cut at the video's end. What a
// FrameWriter for these containers forwards to; the AVI path keeps AviSaver.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "convert/codec_posix.h"
#include "convert/container_file_posix.h"
#include "convert/sound_source_posix.h"

namespace zelvo {

class ContainerMovie {
 public:
  ContainerMovie();
  ~ContainerMovie();  // discards an unfinished movie
  ContainerMovie(const ContainerMovie&) = delete;
  ContainerMovie& operator=(const ContainerMovie&) = delete;

  // Opens the encoder for width x height (a size the codec takes: see PadToCodecSize) at
  // rate / scale frames per second, the sound file `soundPath` (null: no sound), and starts
  // the file on `fd` (see ContainerFile::Open: borrowed, empty, read-write). On failure
  // nothing stays open: kUnsupported when the codec does not fit the container, kEncode
  // with the encoder's reason below its sentence, kSound with the sound's, or the file's.
  ContainerResult Open(int fd, Container container, const CodecChoice& choice, int width, int height, int scale,
                       int rate, const char* soundPath);
  // Appends the canvas (rows bottom-up, `stride` bytes apart) as the next frame, then the
  // sound up to that frame's end. After a failure every later call fails.
  ContainerResult WriteFrame(const std::uint8_t* bottomUpBgr, std::size_t stride);
  // Drains the encoders and completes the file; the sound ends with the last frame.
  ContainerResult Finish();
  void Discard();

  std::int64_t frames() const { return frames_; }

 private:
  ContainerResult SoundFailed(const SoundResult& sound);
  ContainerResult PassSound(bool last);

  VideoEncoder encoder_;
  std::unique_ptr<SoundSource> sound_;
  ContainerFile file_;
  bool fullFrames_ = false;
  bool open_ = false;
  ContainerResult failure_;  // the first failure, handed out again afterwards
  std::int64_t frames_ = 0;
};

}  // namespace zelvo
