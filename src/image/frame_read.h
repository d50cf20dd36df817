#pragma once
// How reading a frame ends, whichever reader of the table of formats read it: the picture,
// or why there is none; the budget a reader asks before it requests memory for a picture;
// and the frame as the reader gets it, opened once by frame_reader.
#include <cstdint>

#include "image/packed_dib.h"
#include "platform/file.h"

namespace zelvo {

struct ImageFormat;

// Why a frame has no image.
enum class FrameFailure {
  kNone,
  kUnreadable,  // the file cannot be opened or read: `error` is the system's reason
  kNotAFile,    // a folder, pipe, device or socket stands at the frame's name
  kNotImage,    // the content is of no format the table knows
  kDamaged,     // its format's reader cannot make a picture of its header or data
  kTooLarge,    // the picture declares more than any frame may hold (kMaxDibBlock)
  kNoMemory,    // the memory for the picture could not be had
  kNoDecoder,   // its format's decoder is missing on this system (or its library cannot be loaded)
};

struct FrameRead {
  FrameFailure failure = FrameFailure::kNone;
  int error = 0;            // an errno value, for kUnreadable
  PackedDib image;          // the picture (a header read: its header and colour table)
  bool cutShort = false;    // the file ends before its pixels do: read, the missing part black
  std::uint64_t bytes = 0;  // the memory the whole picture takes, once its header is known
  const ImageFormat* format = nullptr;  // the format its content was recognised as

  explicit operator bool() const { return failure == FrameFailure::kNone; }
  static FrameRead Failed(FrameFailure failure, int error = 0) {
    FrameRead read;
    read.failure = failure;
    read.error = error;
    return read;
  }
};

// Asked by a reader once a frame's header is read and before any memory for its picture
// is requested, once per read, with the bytes the picture will take: false gives the read
// up (kNoMemory). The read-ahead feed bounds its memory with it.
class FrameBudget {
 public:
  virtual bool Reserve(std::uint64_t bytes) = 0;

 protected:
  ~FrameBudget() = default;
};

// A frame as frame_reader hands it to its format's reader.
struct FrameSource {
  ReadOnlyFile& file;   // the frame, a regular file opened once, at offset 0
  const char* path;     // its name, for messages and its extension; never opened again
  bool headerOnly;      // the header and colour table (enough for the size), not the pixels
  FrameBudget* budget;  // null: no bound
};

}  // namespace zelvo
