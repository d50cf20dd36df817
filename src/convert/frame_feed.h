#pragma once
// Where the conversion job's frames come from, in frame order: read when the job asks for
// them (zelvo.exe's one-frame-at-a-time worker, and `zelvo --threads 1`), or decoded
// ahead on a few reader threads while the job draws, encodes and writes the frame before.
#include <climits>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/packed_dib.h"
#include "platform/path_buffer.h"

namespace zelvo {

// One frame as the job receives it.
struct FeedFrame {
  PackedDib image;        // empty when the frame could not be read
  bool cutShort = false;  // a BMP that ends before its pixels do (read, the rest black)
};

// The frames a job walks through: from the first frame's name towards `last`, as
// NextFrameName names them, `count` frames of (about) the first frame's size.
struct FrameWalk {
  const char* firstPath = "";
  int first = -1;
  int last = -1;
  int count = 0;
  int width = 0;
  int height = 0;
};

class FrameFeed {
 public:
  virtual ~FrameFeed() = default;
  // The frame at `path`, the job's cursor: called once per frame, in the walk's order.
  virtual FeedFrame Take(const char* path) = 0;
};

// Reads each frame when it is taken: one image in memory at a time.
class DirectFeed : public FrameFeed {
 public:
  FeedFrame Take(const char* path) override;
};

// How many frames `readers` threads may hold ahead of the job: one under way per reader
// keeps every core busy while the job writes its frame; small frames may fill up to 64
// slots within a few megabytes, so readers are woken in batches rather than once per frame.
int ReadAheadDepth(int readers, int width, int height);

// The frames of a walk decoded ahead on `readers` threads. At most `depth` frames are
// claimed but not yet taken, so memory stays bounded whatever the walk's length; a frame
// that cannot be read keeps the readers from going past it, so they stop promptly while
// the job reports it. The destructor stops the readers and waits for them (each finishes
// at most the frame it is decoding). Frames beyond `count`, or a path the walk did not
// produce, are read when taken.
class ReadAheadFeed : public FrameFeed {
 public:
  ReadAheadFeed(const FrameWalk& walk, int readers, int depth);
  ~ReadAheadFeed() override;
  ReadAheadFeed(const ReadAheadFeed&) = delete;
  ReadAheadFeed& operator=(const ReadAheadFeed&) = delete;

  FeedFrame Take(const char* path) override;

  // How many frames were decoded and waiting at most at one time, for tests of the bound.
  int MostWaiting();
  int readers() const { return static_cast<int>(threads_.size()); }

 private:
  struct Slot {
    std::string path;
    FeedFrame frame;
    bool ready = false;
  };
  void ReaderMain();
  void Store(int index, FeedFrame frame);
  bool MayClaim() const;

  std::mutex mutex_;
  std::condition_variable readerWake_;
  std::condition_variable frameReady_;
  std::vector<Slot> slots_;  // frame i lives in slot i % depth while claimed
  char walk_[kPathSize] = {};  // the name of the next frame to claim
  int first_;
  int last_;
  int count_;
  int claimed_ = 0;
  int taken_ = 0;
  int waiting_ = 0;
  int mostWaiting_ = 0;
  int failedAt_ = INT_MAX;
  int readersWaiting_ = 0;
  int readerCount_ = 1;
  bool consumerWaiting_ = false;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zelvo
