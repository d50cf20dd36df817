#pragma once
// One libjpeg decompress object with the error handling C++ needs around it. libjpeg ends
// a failed call by calling error_exit, which must not return: here it jumps back (longjmp)
// to the step that made the call, which then returns false. A step therefore holds no
// object with a destructor, nor calls anything that does. libjpeg's messages are kept as
// facts (the error's code, whether the data ran out) and never printed.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

#include "image/frame_read.h"

namespace zelvo {

// What libjpeg said while it worked: plain data, written from its callbacks.
struct JpegErrors {
  jpeg_error_mgr manager;  // first, so that libjpeg's pointer to it leads here
  std::jmp_buf exit;
  bool ranOut;        // the data ended before the picture did; libjpeg goes on as if blank
  bool tooManyScans;  // more scans than any real progressive file has (see kMostJpegScans)
};

struct JpegSession {
  jpeg_decompress_struct info;
  JpegErrors errors;
  jpeg_progress_mgr progress;
};

// A progressive file may hold any number of scans, each going over the whole picture: a
// few kilobytes of them would keep a reader busy for minutes. Real files have about ten.
constexpr int kMostJpegScans = 500;

// A step run by JpegDecompressor::Run: it calls libjpeg on `session`, which leaves it by
// longjmp on an error, so it holds no object with a destructor.
using JpegStep = void (*)(JpegSession* session, void* context);

// Owns one libjpeg decompress object, destroyed with it. Not copyable or movable: libjpeg
// holds pointers into it.
class JpegDecompressor {
 public:
  JpegDecompressor();
  ~JpegDecompressor();
  JpegDecompressor(const JpegDecompressor&) = delete;
  JpegDecompressor& operator=(const JpegDecompressor&) = delete;

  // Creates the object over the `size` bytes at `data` (kept, not copied: they outlive the
  // decompressor), keeps the APP1 segments (EXIF) and reads the header up to the first
  // scan. False when libjpeg refused: see Unsupported and Failure.
  bool Open(const std::uint8_t* data, std::size_t size);
  // Runs `step` with `context`; false when libjpeg ended it with an error.
  bool Run(JpegStep step, void* context);

  jpeg_decompress_struct& info() { return session_.info; }
  bool ranOut() const { return session_.errors.ranOut; }
  // After a refusal: true when libjpeg cannot read this kind of JPEG (12-bit samples, a
  // lossless or hierarchical process, a layout it does not implement) rather than finding
  // the file damaged.
  bool Unsupported() const;
  // After a refusal: why there is no picture, in the readers' terms.
  FrameFailure Failure() const;

 private:
  JpegSession session_;
};

}  // namespace zelvo
