#pragma once
// MKV, MP4 and MOV files through libavformat, written to a descriptor the job has created
// and keeps: the writer never opens, reopens or closes the output by name. MP4 and MOV
// carry their index at the front (+faststart), so a file plays while it downloads; the
// second pass that moves the index reads the file back through the same descriptor.
//
// Video comes from a VideoEncoder opened for the same container (or, where the container
// takes them, full frames straight from the canvas); sound from a SoundSource opened for
// it. AVI keeps the project's own writer (avi_file_posix.h).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "convert/codec_posix.h"
#include "convert/sound_source_posix.h"

namespace zelvo {

enum class ContainerFailure {
  kNone,
  kUnsupported,  // the container cannot hold this codec, or is AVI (the project's own writer)
  kSetup,        // the muxer, a stream or the header could not be made (error: AVERROR or errno)
  kWrite,        // a packet could not be written (error: errno where the system refused)
  kFinish,       // the index, the faststart pass or the trailer failed (error as kWrite)
  kEncode,       // the video encoder refused the settings or a frame (ContainerMovie)
  kSound,        // the sound track failed (ContainerMovie; error and message from SoundResult)
};

struct ContainerResult {
  ContainerFailure failure = ContainerFailure::kNone;
  // errno when the system refused a read, write or seek on the descriptor or libavformat
  // passed one on (EBADF for a descriptor that cannot be read back); otherwise the AVERROR
  // code libavformat returned; 0 when neither applies.
  int error = 0;
  std::string message;  // one sentence in the user's language, with the reason
  explicit operator bool() const { return failure == ContainerFailure::kNone; }
};

struct ContainerVideo {
  int width = 0;  // the frames' size
  int height = 0;
  int scale = 1;  // rate / scale frames per second, stored exactly (30000/1001 stays so)
  int rate = 15;
  // Opened with VideoEncoder::Open(..., container); null for full frames (WriteFullFrame).
  const VideoEncoder* encoder = nullptr;
};

class ContainerFile {
 public:
  ContainerFile();
  ~ContainerFile();  // discards an unfinished file
  ContainerFile(const ContainerFile&) = delete;
  ContainerFile& operator=(const ContainerFile&) = delete;

  // Starts a `container` file on `fd`, which must be empty, open for reading and writing
  // (MP4 and MOV read it back) and stay open until Finish or Discard; it is borrowed, never
  // closed. `sound` (may be null) is an open SoundSource of the same container. Writes the
  // header. On failure nothing stays open, and what was written is the caller's to discard.
  ContainerResult Open(int fd, Container container, const ContainerVideo& video, const SoundSource* sound);
  // The next encoded frame, as the encoder's TimedPacketSink receives it.
  ContainerResult WriteVideo(const EncodedPacket& packet);
  // The next frame as full frames (rows bottom-up, `stride` bytes apart), where the
  // container takes them; stored as top-down BGR24 rows.
  ContainerResult WriteFullFrame(const std::uint8_t* bottomUpBgr, std::size_t stride);
  // The next piece of sound, as the SoundSource's sink receives it.
  ContainerResult WriteSound(const SoundPacket& packet);
  // Writes what the muxer still holds, the index (moved to the front for MP4 and MOV) and
  // the trailer. After any failure the file is not valid and is to be discarded.
  ContainerResult Finish();
  // Stops without completing the file.
  void Discard();

  bool is_open() const { return state_ != nullptr; }
  std::int64_t frames() const { return frames_; }

 private:
  struct State;
  ContainerResult Failed(ContainerFailure failure, int code);
  ContainerResult Write(void* packet);

  std::unique_ptr<State> state_;
  Container container_ = Container::kMkv;
  std::int64_t frames_ = 0;
};

}  // namespace zelvo
