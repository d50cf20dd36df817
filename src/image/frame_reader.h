#pragma once
// Reads a frame by its content, not its name: the BMP probe first, the PNG probe second.
// Every read says in one FrameRead how it ended: the image, or why there is none.
#include <cstdint>

#include "image/packed_dib.h"

namespace zelvo {

enum class FrameFormat { kNone, kBmp, kPng };

// Why a frame has no image.
enum class FrameFailure {
  kNone,
  kUnreadable,  // the file cannot be opened or read: `error` is the system's reason
  kNotAFile,    // a folder, pipe, device or socket stands at the frame's name
  kNotImage,    // the content is of no format the readers know
  kDamaged,     // a BMP or PNG whose header or data the reader cannot make a picture of
  kTooLarge,    // the picture declares more than any frame may hold (kMaxDibBlock)
  kNoMemory,    // the memory for the picture could not be had
};

struct FrameRead {
  FrameFailure failure = FrameFailure::kNone;
  int error = 0;            // an errno value, for kUnreadable
  PackedDib image;          // the picture (a header read: its header and colour table)
  bool cutShort = false;    // a BMP that ends before its pixels do: read, the missing part black
  std::uint64_t bytes = 0;  // the block the whole picture takes, once its header is known

  explicit operator bool() const { return failure == FrameFailure::kNone; }
  static FrameRead Failed(FrameFailure failure, int error = 0) {
    FrameRead read;
    read.failure = failure;
    read.error = error;
    return read;
  }
};

// Asked by ReadFrame once a frame's header is read and before any memory for its picture
// is requested, with the bytes the picture will take: false gives the read up (kNoMemory).
// The read-ahead feed bounds its memory with it.
class FrameBudget {
 public:
  virtual bool Reserve(std::uint64_t bytes) = 0;

 protected:
  ~FrameBudget() = default;
};

// Which reader accepts the file at `path` (BMP probe first).
FrameFormat ProbeFrame(const char* path);
// The header and colour table only: width, height and bit count in `image` and `bytes`,
// without decoding the pixels. (The block may be of the picture's full size, all zero:
// memory the system lends only once it is written.)
FrameRead ReadFrameHeader(const char* path);
// The complete picture, bottom-up.
FrameRead ReadFrame(const char* path, FrameBudget* budget = nullptr);

}  // namespace zelvo
