#pragma once
// The Linux writer behind the conversion job for MKV, MP4 and MOV: the same codec choice,
// picture and sound as the AVI writer, written through libavformat (ContainerMovie) into
// the job's temporary file by its descriptor. MakeMovieWriter picks the writer of a
// container.
#include <functional>
#include <memory>

#include "convert/codec_posix.h"
#include "convert/container_movie_posix.h"
#include "convert/frame_writer.h"
#include "convert/movie_options_posix.h"
#include "convert/movie_picture_posix.h"

namespace zelvo {

class ContainerSaver : public FrameWriter {
 public:
  // Fills the choice; false = the user cancelled (nothing is created, nothing shown).
  using Chooser = std::function<bool(CodecChoice*)>;
  using MessageSink = std::function<void(const char* caption, const char* text)>;

  // Prints "zelvo: <text>" on standard error.
  static void PrintMessage(const char* caption, const char* text);

  // `options.container` is MKV, MP4 or MOV.
  ContainerSaver(MovieOptions options, Chooser chooser, MessageSink messages = PrintMessage);
  ~ContainerSaver() override;  // discards a movie still under way
  ContainerSaver(const ContainerSaver&) = delete;
  ContainerSaver& operator=(const ContainerSaver&) = delete;

  // Asks the chooser, sizes the picture (MoviePicture), opens the encoder and the sound and
  // writes the file's header through the output's descriptor. kStopped when cancelled
  // (silently) or when a step failed (its message has been sent); kSystem with the errno
  // value when the system refused a write; kNoMemory.
  WriteResult Begin(int width, int height, const OutputFile& output, int scale, int rate) override;
  // Draws the image as the next picture and writes it, then the sound up to its end. After
  // a failure every later frame fails the same way.
  WriteResult Append(const PackedDib& image) override;
  // Completes the file (for MP4 and MOV the index moved to the front); nothing to do when
  // no movie is under way. After any failure the file is to be removed.
  WriteResult Finish() override;

 private:
  // The failure as the job takes it: the system's reason for the job to name with the
  // output, or the movie's message sent here and kStopped.
  WriteResult Failed(const ContainerResult& result);

  MovieOptions options_;
  Chooser chooser_;
  MessageSink messages_;
  ContainerMovie movie_;
  MoviePicture picture_;
  bool open_ = false;
};

// The job's writer for `options.container`: the project's own AVI writer or a
// ContainerSaver, both asking `chooser` for the codec.
std::unique_ptr<FrameWriter> MakeMovieWriter(const MovieOptions& options, std::function<bool(CodecChoice*)> chooser);

}  // namespace zelvo
