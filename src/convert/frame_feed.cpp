#include "convert/frame_feed.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "sequence/sequence.h"

namespace zelvo {

FrameRead DirectFeed::Take(const char* path) { return ReadFrame(path); }

namespace {

constexpr int kMostRun = 16;  // frames a reader claims at once, at most

// Four bytes a pixel: the widest form a reader returns (32-bit PNG and BMP frames).
std::uint64_t FrameBytes(int width, int height) {
  return std::uint64_t{static_cast<unsigned>(width > 0 ? width : 1)} * static_cast<unsigned>(height > 0 ? height : 1) * 4;
}

}  // namespace

int ReadAheadDepth(int readers, int width, int height) {
  constexpr std::uint64_t kBudget = 16u << 20;  // bytes of decoded frames beyond the minimum
  constexpr int kMostSlots = 64;
  const int least = readers;
  const std::uint64_t fits = kBudget / FrameBytes(width, height);
  if (fits <= static_cast<std::uint64_t>(least)) return least;
  return fits >= kMostSlots ? kMostSlots : static_cast<int>(fits);
}

std::uint64_t ReadAheadBudget(int width, int height) {
  constexpr std::uint64_t kLeast = std::uint64_t{256} << 20;
  return std::max(kLeast, 2 * FrameBytes(width, height));
}

// The frames one reader has claimed at once, read in turn and stored together.
struct ReadAheadFeed::Batch {
  int start = 0;    // the first frame's index
  int claimed = 0;
  int stored = 0;   // frames handed over so far
  FrameRead* frames = nullptr;
  std::uint64_t* decoding = nullptr;  // what each holds of the budget while decoded
};

// One frame's reservation: asked by the reader (ReadFrame) once the frame's header is known.
class ReadAheadFeed::Admission : public FrameBudget {
 public:
  Admission(ReadAheadFeed* feed, Batch* batch, int k) : feed_(feed), batch_(batch), k_(k) {}
  bool Reserve(std::uint64_t bytes) override {
    // A frame larger than the whole budget is let in alone; it counts as the whole budget.
    const std::uint64_t need = 2 * std::min(bytes, feed_->budget_);
    std::unique_lock<std::mutex> lock(feed_->mutex_);
    // Never wait while holding frames read before this one: the wait may be for them.
    if (!feed_->MayAdmit(batch_->start + k_, need)) feed_->StoreBatch(batch_, k_);
    if (!feed_->Admit(batch_->start + k_, need, lock)) return false;
    batch_->decoding[k_] = need;
    return true;
  }

 private:
  ReadAheadFeed* feed_;
  Batch* batch_;
  int k_;
};

ReadAheadFeed::ReadAheadFeed(const FrameWalk& walk, int readers, int depth, std::uint64_t budget)
    : slots_(static_cast<std::size_t>(depth > 0 ? depth : 1)), first_(walk.first), last_(walk.last), count_(walk.count),
      budget_(budget) {
  walk_ = walk.firstPath;
  readerCount_ = readers > 0 ? readers : 1;
  // With many slots (small frames) each reader claims a run of frames at once, so the lock
  // is taken once per run rather than once per frame; with few (large frames) one at a time,
  // so the job never waits for a whole run to get its next frame.
  run_ = std::min(kMostRun, std::max(1, static_cast<int>(slots_.size()) / (4 * readerCount_)));
  // A quarter of the budget is the readers' own between frames (the PNG reader keeps a
  // frame's worth of buffers on each thread); the rest is for the frames.
  keep_ = budget_ / (4 * static_cast<std::uint64_t>(readerCount_));
  // Everything a reader needs is made here, on the job's thread, where a lack of memory is
  // the job's to report: a reader thread never asks for memory of its own.
  // Every name of a walk is as long as the first (the number keeps its width).
  for (Slot& slot : slots_) slot.path.reserve(walk_.size());
  batches_.resize(static_cast<std::size_t>(readerCount_));
  for (std::vector<FrameRead>& batch : batches_) batch.resize(static_cast<std::size_t>(run_));
  retired_.resize(static_cast<std::size_t>(readerCount_));
  threads_.reserve(static_cast<std::size_t>(readerCount_));
  for (int i = 0; i < readerCount_; ++i) {
    try {
      threads_.emplace_back(&ReadAheadFeed::ReaderMain, this, i);
    } catch (const std::system_error&) {
      break;  // fewer readers; with none at all every frame is read when taken
    }
  }
}

ReadAheadFeed::~ReadAheadFeed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  readerWake_.notify_all();
  admitted_.notify_all();
  // No reader replaces itself once stop_ is set, so the threads stay as they are now.
  for (std::thread& t : threads_) t.join();
  for (std::thread& t : retired_) {
    if (t.joinable()) t.join();
  }
}

bool ReadAheadFeed::MayClaim() const {
  return !paused_ && claimed_ < count_ && claimed_ < taken_ + static_cast<int>(slots_.size()) && claimed_ <= failedAt_;
}

bool ReadAheadFeed::MayAdmit(int index, std::uint64_t need) const {
  const std::uint64_t limit = budget_ - keep_ * static_cast<std::uint64_t>(readerCount_);
  // Its turn, and room for it; or nothing else held, which is where the frame the job
  // waits for always ends up, however large it is.
  return nextAdmitted_ == index && (reserved_ + need <= limit || reserved_ == 0);
}

bool ReadAheadFeed::Admit(int index, std::uint64_t need, std::unique_lock<std::mutex>& lock) {
  admitted_.wait(lock, [&] { return stop_ || paused_ || MayAdmit(index, need); });
  if (stop_ || paused_) return false;
  reserved_ += need;
  mostReserved_ = std::max(mostReserved_, reserved_);
  Settle(index);
  return true;
}

void ReadAheadFeed::Settle(int index) {
  slots_[static_cast<std::size_t>(index) % slots_.size()].admitted = true;
  while (nextAdmitted_ < claimed_ && slots_[static_cast<std::size_t>(nextAdmitted_) % slots_.size()].admitted) {
    ++nextAdmitted_;
  }
  admitted_.notify_all();
}

void ReadAheadFeed::ReaderMain(int reader) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The reader this thread replaces has ended its frame; its thread is gone once joined.
  std::thread predecessor = std::move(retired_[static_cast<std::size_t>(reader)]);
  if (predecessor.joinable()) {
    lock.unlock();
    predecessor.join();
    lock.lock();
  }
  std::uint64_t decoding[kMostRun] = {};
  Batch batch;
  batch.frames = batches_[static_cast<std::size_t>(reader)].data();
  batch.decoding = decoding;
  for (;;) {
    // A reader stays until the feed ends, even once every frame is claimed: a frame read
    // again alone sends the readers back to the frames after it.
    if (!stop_ && !MayClaim()) {
      ++readersWaiting_;
      readerWake_.wait(lock, [this] { return stop_ || MayClaim(); });
      --readersWaiting_;
    }
    if (stop_) return;
    batch.start = claimed_;
    batch.claimed = 0;
    batch.stored = 0;
    while (batch.claimed < run_ && MayClaim()) {
      Slot& slot = slots_[static_cast<std::size_t>(claimed_) % slots_.size()];
      slot.path = walk_;  // within the capacity reserved for it: no allocation
      slot.admitted = false;
      slot.held = 0;
      NextFrameName(&walk_, first_, last_);
      decoding[batch.claimed] = 0;
      ++claimed_;
      ++batch.claimed;
    }
    decoding_ += batch.claimed;
    lock.unlock();
    std::uint64_t largest = 0;
    for (int k = 0; k < batch.claimed; ++k) {
      const Slot& slot = slots_[static_cast<std::size_t>(batch.start + k) % slots_.size()];
      Admission admission(this, &batch, k);
      batch.frames[k] = ReadFrame(slot.path.c_str(), &admission);
      largest = std::max(largest, batch.frames[k].bytes);
    }
    lock.lock();
    StoreBatch(&batch, batch.claimed);
    if (largest > keep_ && !stop_ && Replace(reader)) return;
  }
}

void ReadAheadFeed::StoreBatch(Batch* batch, int upTo) {
  for (; batch->stored < upTo; ++batch->stored) {
    const int k = batch->stored;
    Store(batch->start + k, std::move(batch->frames[k]), batch->decoding[k]);
  }
}

bool ReadAheadFeed::Replace(int reader) {
  const std::size_t k = static_cast<std::size_t>(reader);
  if (retired_[k].joinable()) return false;
  retired_[k] = std::move(threads_[k]);
  try {
    threads_[k] = std::thread(&ReadAheadFeed::ReaderMain, this, reader);
    return true;
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  threads_[k] = std::move(retired_[k]);
  return false;
}

void ReadAheadFeed::Store(int index, FrameRead frame, std::uint64_t decoding) {
  Slot& slot = slots_[static_cast<std::size_t>(index) % slots_.size()];
  // A frame that failed before its size was known held nothing; the frames after it may go.
  if (!slot.admitted) Settle(index);
  reserved_ -= decoding;
  slot.held = frame.image ? decoding / 2 : 0;
  reserved_ += slot.held;
  --decoding_;
  if (!frame && index < failedAt_) failedAt_ = index;
  slot.frame = std::move(frame);
  slot.ready = true;
  if (++waiting_ > mostWaiting_) mostWaiting_ = waiting_;
  admitted_.notify_all();
  // Only the frame the job waits for is worth a wake-up; the others it finds ready.
  if (paused_ || (consumerWaiting_ && index == taken_)) frameReady_.notify_all();
}

FrameRead ReadAheadFeed::ReadAlone(int index, const char* path, std::unique_lock<std::mutex>& lock) {
  paused_ = true;
  admitted_.notify_all();
  frameReady_.wait(lock, [this] { return decoding_ == 0; });
  // Every frame after it is dropped, to be claimed and read again.
  for (int k = index + 1; k < claimed_; ++k) {
    Slot& slot = slots_[static_cast<std::size_t>(k) % slots_.size()];
    if (slot.ready) --waiting_;
    slot.frame = FrameRead();
    slot.ready = false;
    reserved_ -= slot.held;
    slot.held = 0;
  }
  if (claimed_ > index + 1) walk_ = slots_[static_cast<std::size_t>(index + 1) % slots_.size()].path;
  claimed_ = index + 1;
  nextAdmitted_ = index + 1;
  failedAt_ = INT_MAX;
  ++taken_;
  lock.unlock();
  FrameRead again = ReadFrame(path);
  lock.lock();
  paused_ = false;
  lock.unlock();
  readerWake_.notify_all();
  return again;
}

FrameRead ReadAheadFeed::Take(const char* path) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (taken_ < count_ && !threads_.empty()) {
    const int index = taken_;
    Slot& slot = slots_[static_cast<std::size_t>(index) % slots_.size()];
    if (!slot.ready) {
      consumerWaiting_ = true;
      frameReady_.wait(lock, [&] { return slot.ready; });
      consumerWaiting_ = false;
    }
    FrameRead frame = std::move(slot.frame);
    const bool expected = slot.path == path;
    slot.ready = false;
    --waiting_;
    reserved_ -= slot.held;
    slot.held = 0;
    admitted_.notify_all();
    if (expected && frame.failure == FrameFailure::kNoMemory) return ReadAlone(index, path, lock);
    ++taken_;
    // A caller that goes on past a failed frame lets the readers go on as well.
    if (index == failedAt_) failedAt_ = INT_MAX;
    // Readers are woken in batches, once half the frames they may hold have been taken:
    // with small frames one wake-up per frame would cost more than the reading.
    const int held = claimed_ - taken_;
    const bool wake = readersWaiting_ > 0 && held <= static_cast<int>(slots_.size()) / 2;
    lock.unlock();
    if (wake) readerWake_.notify_all();
    if (expected) return frame;
  } else {
    ++taken_;
    lock.unlock();
  }
  // Not a frame of the walk the readers followed: read it now, as the job named it.
  return ReadFrame(path);
}

int ReadAheadFeed::MostWaiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mostWaiting_;
}

std::uint64_t ReadAheadFeed::MostReserved() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mostReserved_;
}

}  // namespace zelvo
