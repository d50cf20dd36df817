#pragma once
// The Windows AVI writer: one output file with one video stream through Video for Windows
// (AVIFile and the installed compressors), and the frame canvas, a 24-bit DIB section
// selected into a memory DC. GDI draws each frame straight into the section's memory,
// which WriteFrame hands to the compressing stream without a copy.
#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <string>

#include "convert/frame_writer.h"
#include "image/packed_dib.h"
#include "platform/handles_win32.h"

namespace zelvo {

// Asks for the compressor: `compressor` arrives preset (full frames, the default quality)
// and leaves with the choice and its settings. TRUE when accepted, FALSE when cancelled.
// `format` is the frame format the codec will be given; `owner` is the window the choice
// belongs to (null: none).
using CompressorChooser = BOOL (*)(HWND owner, BITMAPINFOHEADER* format, COMPVARS* compressor);

// The system's compressor choice dialog, offering the compressors that take `format`, with
// the key-frame and data-rate fields; modal over `owner`, which stays disabled if it was.
BOOL ChooseCompressorDialog(HWND owner, BITMAPINFOHEADER* format, COMPVARS* compressor);

class AviSaver : public FrameWriter {
 public:
  // AVIFileInit calls of all writers not yet matched by their AVIFileExit.
  static int LibraryUses();
  // Video for Windows writes AVI 1.0 files, whose offsets end at 2 GiB: past it AVIFile
  // drops every later write and the index, and the file is lost.
  static constexpr std::uint64_t kAviSizeLimit = std::uint64_t{1} << 31;

  // `owner` owns the compressor dialog and the writer's messages when the job opens the
  // writer through FrameWriter (null: none, as in a batch); `chooser` asks for the codec.
  explicit AviSaver(HWND owner = nullptr, CompressorChooser chooser = ChooseCompressorDialog)
      : owner_(owner), chooser_(chooser) {}
  ~AviSaver() override;
  AviSaver(const AviSaver&) = delete;
  AviSaver& operator=(const AviSaver&) = delete;

  // Asks for the compressor, creates `path` with one stream of width x |height| (rows
  // bottom-up), dwScale `scale`, dwRate `rate`, and the canvas. The file is an AVI file
  // whatever its name's extension (none, ".tmp", ".wav"). Returns the canvas's memory DC,
  // owned by the writer; null when the user cancelled (nothing created, no message) or a
  // step failed (its message shown, owned by `owner`).
  HDC Open(HWND owner, int width, int height, const char* path, int scale, int rate);
  bool Open(int width, int height, const char* path, int scale, int rate);
  int DrawPackedDib(const PackedDib& image);
  // Refuses (false, PastSizeLimit() true) the first frame that would take the finished
  // file past the size limit, and every frame after it.
  bool WriteFrame();
  bool PastSizeLimit() const { return pastSizeLimit_; }
  // The largest finished file this writer lets grow, kAviSizeLimit unless a test lowers it;
  // kept by Open and Close.
  void SetSizeLimit(std::uint64_t bytes) { sizeLimit_ = bytes; }
  // False when the finished file holds less than the frames the stream accepted (a write
  // that the disk or a file size limit refused after the library buffered it).
  bool Close();

  // The job's writer: Open on the output's temporary path, DrawPackedDib and WriteFrame,
  // Close. The messages of Open's failures are shown by Open itself.
  WriteResult Begin(int width, int height, const OutputFile& output, int scale, int rate) override;
  WriteResult Append(const PackedDib& image) override;
  WriteResult Finish() override;

  // What the open writer holds, for callers that look at the canvas and the stream set-up.
  HDC canvasDc() const { return memoryDc_.get(); }
  const unsigned char* canvasBits() const { return static_cast<const unsigned char*>(bitmap_.bits()); }
  int frameWidth() const { return frameWidth_; }
  int frameHeight() const { return frameHeight_; }
  int frameBytes() const { return frameBytes_; }
  int nextFrame() const { return nextFrame_; }
  const AVICOMPRESSOPTIONS& compressOptions() const { return compressOptions_; }
  const AVISTREAMINFOA& streamInfo() const { return streamInfo_; }

 private:
  // The parts of Open: the stream's format from the frame size (false when no canvas of
  // that size can exist), the codec the user chooses (false when cancelled), the file with
  // its stream and compressing stream, and the canvas. Each failing step has shown its
  // message; what it acquired is released on its way out.
  bool SetFrameFormat(int width, int height, int scale, int rate);
  bool ChooseCodec(HWND owner);
  bool OpenStreams(HWND owner, const char* path, AviFile* file, AviStream* stream, AviStream* compressed);
  bool CreateCanvas(HWND owner, DibSection* bitmap, MemoryDc* memoryDc);
  bool ReleaseStreamsAndFile();

  const HWND owner_;
  const CompressorChooser chooser_;
  // Close releases these in turn: the compressing stream, the stream and the file (which
  // completes it), the canvas (its DC gives the bitmap back first), the codec, the
  // library. Declared in the reverse order, so that the owners alone would release them
  // the same way.
  AviFileLibrary library_;  // this writer's AVIFileInit, matched by one AVIFileExit
  COMPVARS compressor_ = {};
  DibSection bitmap_;
  MemoryDc memoryDc_;  // the canvas: bitmap_ selected into it
  AviFile file_;
  AviStream stream_;
  AviStream compressedStream_;

  AVICOMPRESSOPTIONS compressOptions_ = {};
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  int frameBytes_ = 0;
  int nextFrame_ = 0;
  // What the stream accepted, and where: the AVIFile library may buffer its writes and drop
  // a failed one silently, so Close compares the finished file with this.
  std::string path_;
  std::uint64_t acceptedBytes_ = 0;
  // The size the file would have if closed now (headers, frames, index), checked against
  // the limit before each frame is written.
  std::uint64_t finishedBytes_ = 0;
  std::uint64_t sizeLimit_ = kAviSizeLimit;
  bool pastSizeLimit_ = false;
  BITMAPINFOHEADER format_ = {};
  AVISTREAMINFOA streamInfo_ = {};
};

// Copies the image unscaled into the top-left corner of the DC's bitmap (the canvas),
// converted to 24 bits as GDI reads an uncompressed DIB. 2-bit images, which GDI does not
// draw, are widened through their colour table first. 0 drawn, 1 failed (nothing read
// outside the image's block).
int DrawPackedDib(HDC canvas, const PackedDib& image);

}  // namespace zelvo
