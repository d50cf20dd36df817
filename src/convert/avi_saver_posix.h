#pragma once
// The Linux AVI writer behind the conversion job: a codec choice in place of the
// compressor dialog, the project's own AVI container, libavcodec for compressed streams,
// the portable 24-bit canvas, and a sound track of 16-bit PCM interleaved with the frames.
// Messages carry the Windows writer's sentences, in the user's language through the
// message catalog, and caption "AviSaver".
#include <functional>
#include <memory>
#include <string>

#include "convert/avi_file_posix.h"
#include "convert/codec_posix.h"
#include "convert/frame_canvas.h"
#include "convert/frame_writer.h"
#include "convert/movie_options_posix.h"
#include "convert/movie_picture_posix.h"
#include "convert/sound_source_posix.h"

struct AVFrame;

namespace zelvo {

class AviSaver : public FrameWriter {
 public:
  // Fills the choice; false = the user cancelled (nothing is created, nothing shown).
  using Chooser = std::function<bool(CodecChoice*)>;
  using MessageSink = std::function<void(const char* caption, const char* text)>;

  // Prints "AviSaver: <text>" on standard error.
  static void PrintMessage(const char* caption, const char* text);

  // `options` adds a sound track and one size for every frame (its container is AVI).
  explicit AviSaver(Chooser chooser, MessageSink messages = PrintMessage, MovieOptions options = MovieOptions());
  ~AviSaver() override;  // completes a movie still under way
  AviSaver(const AviSaver&) = delete;
  AviSaver& operator=(const AviSaver&) = delete;

  // Completes any earlier movie, asks the chooser, prepares the encoder and the sound and
  // starts the movie in the output's temporary file, through its descriptor. A negative
  // height is taken as its absolute value (rows stay bottom-up). The picture is sized as
  // MoviePicture says. kStopped when cancelled (silently) or when a step failed (its
  // message has been sent).
  WriteResult Begin(int width, int height, const OutputFile& output, int scale, int rate) override;
  // Draws the image onto the canvas and appends the canvas, then the sound up to the end of
  // the frames in the file; a frame exactly the canvas's shape is encoded or written from
  // its own block, one in JPEG's YUV of that size (av_jpeg_yuv_posix.h) goes as it is
  // to an encoder in the same YUV, and a finished MJPEG frame (jpeg_transcode_posix.h) is
  // written as it is. The frame index advances also when the write fails, and
  // after a failure every later frame fails the same way.
  WriteResult Append(const PackedDib& image) override;
  // Completes the movie, the sound cut at the video's end; nothing to do when none is under
  // way. On a failure of a frame or the completion the file claims no frames and is to be
  // removed.
  WriteResult Finish() override;

  // The canvas, made on first use (frames of its exact shape never need it).
  FrameCanvas& canvas();
  int nextFrame() const { return nextFrame_; }
  const CodecChoice& choice() const { return choice_; }
  // Passed to the container; tests use it to reach AVIX segments with small files.
  void set_segment_limit(std::uint64_t bytes) { segmentLimit_ = bytes; }

 private:
  // Writes the movie into `fd`; Begin's work once the chooser has been asked.
  WriteResult Start(int width, int height, int fd, int scale, int rate);
  // Opens the sound track into *stream; false when it failed (its message has been sent).
  bool OpenSound(int scale, int rate, AviSoundStream* stream);
  // Writes a compressed frame's packet, then the sound up to the frames in the file.
  WriteResult WriteVideo(const std::uint8_t* data, std::size_t size, bool key);
  // The sound up to the end of the frames in the file; at the end also what is left.
  WriteResult PassSound(bool last);
  // Fills the encoder with one frame and hands what it makes to the sink.
  using Encoding = std::function<bool(const VideoEncoder::PacketSink& sink)>;
  WriteResult AppendJpegYuv(const PackedDib& image, const AVFrame* planes);
  WriteResult AppendMjpeg(const PackedDib& image, const std::uint8_t* frame, std::size_t size);
  WriteResult WriteRows(const std::uint8_t* rows);
  // Opens the encoder where it waited for the first frame the readers did not finish.
  bool EnsureEncoder();
  // Appends the next frame: what `encode` makes, or `size` bytes of `data` as they are (a
  // key frame).
  WriteResult WriteFrame(const Encoding& encode, const std::uint8_t* data = nullptr, std::size_t size = 0);
  // Counts the frame as failed: the first failure stands for every later frame.
  WriteResult FailFrame(WriteFailure kind);
  // Writes what the encoder still holds; false when that failed (in *result).
  bool DrainEncoder(WriteResult* result);
  // Sends the sentence `msgid` in the user's language, followed by `detail` on its own lines.
  void Message(const char* msgid, const std::string& detail = std::string());

  Chooser chooser_;
  MessageSink messages_;
  MovieOptions options_;
  CodecChoice choice_;
  AviFile file_;
  VideoEncoder encoder_;
  std::unique_ptr<SoundSource> sound_;
  bool compressed_ = false;
  // MJPEG whose frames the readers may finish themselves: the encoder opens only for a
  // frame they did not, at the movie's scale and rate.
  bool readyMjpeg_ = false;
  int scale_ = 0, rate_ = 0;
  bool framesAsRead_ = false;  // the frames' own size is the picture's: readers may hand over their own forms
  bool open_ = false;
  WriteResult failure_;  // the first failed frame's; every later one fails alike
  MoviePicture picture_;
  int nextFrame_ = 0;
  std::uint64_t segmentLimit_ = AviFile::kDefaultSegmentLimit;
};

}  // namespace zelvo
