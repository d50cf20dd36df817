#pragma once
// What the conversion job needs of an AVI writer. The Windows AviSaver (Video for Windows,
// GDI canvas) and the Linux AviSaver (own RIFF writer, libavcodec, portable canvas) both
// implement it, so the job is written once.
#include "image/packed_dib.h"
#include "platform/output_file.h"

namespace zelvo {

// How a writer's step ended: the one way writers report failure.
enum class WriteFailure {
  kNone,
  kStopped,    // the user cancelled the codec choice, or the writer has shown its own message
  kNotDrawn,   // the image could not be drawn onto the canvas
  kSystem,     // the system refused a write: `error` says why (an errno value; 0 when unknown)
  kSizeLimit,  // the file would grow past what its format can hold
  kNoMemory,   // memory for the canvas or the encoder could not be had
};
struct WriteResult {
  WriteFailure kind = WriteFailure::kNone;
  int error = 0;

  explicit operator bool() const { return kind == WriteFailure::kNone; }
  static WriteResult Failed(WriteFailure kind, int error = 0) { return WriteResult{kind, error}; }
};

class FrameWriter {
 public:
  virtual ~FrameWriter() = default;
  // Asks for the codec (the compressor choice dialog, or its terminal equivalent), then
  // starts the movie in the job's open temporary file `output` (the Windows writer opens
  // it by its path, the Linux one writes through its descriptor): one video stream of
  // width x |height|, dwScale `scale`, dwRate `rate`, and a 24-bit canvas of that size.
  virtual WriteResult Begin(int width, int height, const OutputFile& output, int scale, int rate) = 0;
  // Copies the image unscaled into the canvas's top-left corner and appends the canvas as
  // the next key frame. A writer may append a frame that is exactly its canvas (24 bits,
  // bottom-up, the canvas's size) straight from the image's block.
  virtual WriteResult Append(const PackedDib& image) = 0;
  // Completes the movie. A failure leaves a file that is no valid AVI, to be discarded.
  virtual WriteResult Finish() = 0;
};

}  // namespace zelvo
