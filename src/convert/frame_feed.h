#pragma once
// Where the conversion job's frames come from, in frame order: read when the job asks for
// them (zelvo.exe's one-frame-at-a-time worker, and `zelvo --threads 1`), or decoded
// ahead on a few reader threads while the job draws, encodes and writes the frame before.
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "image/frame_reader.h"

namespace zelvo {

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
  virtual FrameRead Take(const char* path) = 0;
};

// Reads each frame when it is taken: one image in memory at a time.
class DirectFeed : public FrameFeed {
 public:
  FrameRead Take(const char* path) override;
};

// How many frames `readers` threads may hold ahead of the job: one under way per reader
// keeps every core busy while the job writes its frame; small frames may fill up to 64
// slots within a few megabytes, so readers are woken in batches rather than once per frame.
int ReadAheadDepth(int readers, int width, int height);

// The bytes of memory decoding ahead may take, for frames of width x height: the larger of
// two such frames (at four bytes a pixel) and 256 MiB.
std::uint64_t ReadAheadBudget(int width, int height);

// The frames of a walk decoded ahead on `readers` threads, in frame order and within two
// bounds: at most `depth` frames are claimed but not yet taken, and the memory they take
// stays within `budget` bytes (a frame being decoded counts twice, for its picture and its
// decoder's working memory; a reader's memory between frames counts as well). Readers
// learn a frame's size from its header before its picture is made and wait until it fits;
// the frame the job waits for is always read, even one larger than the whole budget, and
// frames are let in strictly in walk order, so nothing ever waits on a later frame.
//
// A frame that cannot be read keeps the readers from going past it, so they stop promptly
// while the job reports it. One that failed for want of memory is read again when the job
// takes it, alone: the readers pause, the frames decoded after it are dropped (to be read
// again later), and only then is it read, so whether a job succeeds never depends on how
// many readers it has. The destructor stops the readers and waits for them (each finishes
// at most the frame it is decoding). Frames beyond `count`, or a path the walk did not
// produce, are read when taken.
class ReadAheadFeed : public FrameFeed {
 public:
  ReadAheadFeed(const FrameWalk& walk, int readers, int depth, std::uint64_t budget);
  ~ReadAheadFeed() override;
  ReadAheadFeed(const ReadAheadFeed&) = delete;
  ReadAheadFeed& operator=(const ReadAheadFeed&) = delete;

  FrameRead Take(const char* path) override;

  // How many frames were decoded and waiting at most at one time, and the most bytes held
  // at one time, for tests of the bounds.
  int MostWaiting();
  std::uint64_t MostReserved();
  int readers() const { return static_cast<int>(threads_.size()); }

 private:
  struct Slot {
    std::string path;
    FrameRead frame;
    bool ready = false;
    bool admitted = false;  // its share of the budget is settled (taken, or none needed)
    std::uint64_t held = 0;  // bytes of the budget it holds
  };
  // The frames a reader has claimed at once.
  struct Batch;
  // The budget's side of one frame being read: Reserve waits for the frame's turn.
  class Admission;

  void ReaderMain(int reader);
  // True when it is frame `index`'s turn and `need` bytes of the budget fit (or nothing is held).
  bool MayAdmit(int index, std::uint64_t need) const;
  // Waits until MayAdmit, then takes `need`; false when the readers must stop or pause instead.
  bool Admit(int index, std::uint64_t need, std::unique_lock<std::mutex>& lock);
  // Hands over the frames of `batch` read so far, up to its `upTo`th.
  void StoreBatch(Batch* batch, int upTo);
  // Marks frame `index` admitted and lets the frames after it have their turn.
  void Settle(int index);
  void Store(int index, FrameRead frame, std::uint64_t decoding);
  bool MayClaim() const;
  // Ends reader `reader`'s thread, which takes its decoders' per-thread memory with it, and
  // starts a fresh one in its place; false (the reader goes on) when no thread can be made.
  bool Replace(int reader);
  // The job's side of a frame that failed for want of memory: see the class comment.
  FrameRead ReadAlone(int index, const char* path, std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable readerWake_;
  std::condition_variable frameReady_;
  std::condition_variable admitted_;
  std::vector<Slot> slots_;  // frame i lives in slot i % depth while claimed
  std::string walk_;  // the name of the next frame to claim
  int first_;
  int last_;
  int count_;
  int claimed_ = 0;
  int taken_ = 0;
  int nextAdmitted_ = 0;  // frames before it are settled
  int decoding_ = 0;      // readers inside ReadFrame
  int waiting_ = 0;
  int mostWaiting_ = 0;
  int failedAt_ = INT_MAX;
  int readersWaiting_ = 0;
  int readerCount_ = 1;
  int run_ = 1;  // frames a reader claims at once
  std::uint64_t budget_;
  std::uint64_t keep_;  // a reader ends after a frame larger than this (see Replace)
  std::uint64_t reserved_ = 0;
  std::uint64_t mostReserved_ = 0;
  bool consumerWaiting_ = false;
  bool paused_ = false;  // the job reads a frame alone
  bool stop_ = false;
  std::vector<std::vector<FrameRead>> batches_;  // each reader's frames between two locks
  std::vector<std::thread> threads_;
  std::vector<std::thread> retired_;  // each reader's ended thread, joined by its successor
};

}  // namespace zelvo
