#pragma once
// What the conversion job needs of an AVI writer. The Windows AviSaver (Video for Windows,
// GDI canvas) and the Linux AviSaver (own RIFF writer, libavcodec, portable canvas) both
// implement it, so the job is written once.
#include "image/packed_dib.h"

namespace zelvo {

enum class FrameOutcome { kWritten, kNotDrawn, kNotWritten };

class FrameWriter {
 public:
  virtual ~FrameWriter() = default;
  // Asks for the codec (the compressor choice dialog, or its terminal equivalent), then
  // creates `path` with one video stream of width x height, dwScale `scale`, dwRate
  // `rate`, and a 24-bit canvas of that size. False when the user cancelled (nothing is
  // created, nothing shown) or a step failed (its message has been shown).
  virtual bool Open(int width, int height, const char* path, int scale, int rate) = 0;
  // Copies the image unscaled into the canvas's top-left corner. 0 drawn, 1 failed.
  virtual int DrawPackedDib(const PackedDib& image) = 0;
  // Appends the canvas as the next key frame. False when the write failed.
  virtual bool WriteFrame() = 0;
  // DrawPackedDib, then WriteFrame: what the job does with each frame. A writer may append
  // a frame that is exactly its canvas (24 bits, bottom-up, the canvas's size) straight
  // from the image's block and save the copy.
  virtual FrameOutcome DrawAndWrite(const PackedDib& image) {
    if (DrawPackedDib(image) != 0) return FrameOutcome::kNotDrawn;
    return WriteFrame() ? FrameOutcome::kWritten : FrameOutcome::kNotWritten;
  }
  // True when the last failed WriteFrame was refused because the file would pass the
  // container's size limit (Video for Windows stops at 2 GiB), not because of the disk.
  virtual bool PastSizeLimit() const { return false; }
  // The system's reason (an errno value) for the last failed WriteFrame or Close, so the
  // user learns why (a full disk, a file size limit); 0 when the writer cannot tell.
  virtual int LastError() const { return 0; }
  // Completes and closes the file. False when completing it failed (the file is then
  // not a valid AVI and must be discarded).
  virtual bool Close() = 0;
};

}  // namespace zelvo
