#include "convert/frame_feed.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "image/frame_reader.h"
#include "sequence/sequence.h"

namespace zelvo {

FeedFrame DirectFeed::Take(const char* path) {
  FeedFrame frame;
  frame.image = ReadFrame(path, &frame.cutShort);
  return frame;
}

int ReadAheadDepth(int readers, int width, int height) {
  constexpr std::uint64_t kBudget = 16u << 20;  // bytes of decoded frames beyond the minimum
  constexpr int kMostSlots = 64;
  const int least = readers;
  // Four bytes a pixel: the widest form a reader returns (32-bit PNG and BMP frames).
  const std::uint64_t frameBytes =
      std::uint64_t{static_cast<unsigned>(width > 0 ? width : 1)} * static_cast<unsigned>(height > 0 ? height : 1) * 4;
  const std::uint64_t fits = kBudget / frameBytes;
  if (fits <= static_cast<std::uint64_t>(least)) return least;
  return fits >= kMostSlots ? kMostSlots : static_cast<int>(fits);
}

ReadAheadFeed::ReadAheadFeed(const FrameWalk& walk, int readers, int depth)
    : slots_(static_cast<std::size_t>(depth > 0 ? depth : 1)), first_(walk.first), last_(walk.last), count_(walk.count) {
  std::snprintf(walk_, sizeof walk_, "%s", walk.firstPath);
  readerCount_ = readers > 0 ? readers : 1;
  for (int i = 0; i < readers; ++i) {
    try {
      threads_.emplace_back(&ReadAheadFeed::ReaderMain, this);
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
  for (std::thread& t : threads_) t.join();
}

bool ReadAheadFeed::MayClaim() const {
  return claimed_ < count_ && claimed_ < taken_ + static_cast<int>(slots_.size()) && claimed_ <= failedAt_;
}

void ReadAheadFeed::ReaderMain() {
  // With many slots (small frames) each reader claims a run of frames at once, so the lock
  // is taken once per run rather than once per frame; with few (large frames) one at a time,
  // so the job never waits for a whole run to get its next frame.
  const int run = std::max(1, static_cast<int>(slots_.size()) / (4 * readerCount_));
  std::vector<FeedFrame> frames(static_cast<std::size_t>(run));
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (!stop_ && claimed_ < count_ && !MayClaim()) {
      ++readersWaiting_;
      readerWake_.wait(lock, [this] { return stop_ || claimed_ >= count_ || MayClaim(); });
      --readersWaiting_;
    }
    if (stop_ || claimed_ >= count_) return;
    const int start = claimed_;
    int claimedHere = 0;
    while (claimedHere < run && MayClaim()) {
      slots_[static_cast<std::size_t>(claimed_) % slots_.size()].path = walk_;
      NextFrameName(walk_, first_, last_);
      ++claimed_;
      ++claimedHere;
    }
    lock.unlock();
    for (int k = 0; k < claimedHere; ++k) {
      const Slot& slot = slots_[static_cast<std::size_t>(start + k) % slots_.size()];
      FeedFrame& frame = frames[static_cast<std::size_t>(k)];
      frame.image = ReadFrame(slot.path.c_str(), &frame.cutShort);
    }
    lock.lock();
    for (int k = 0; k < claimedHere; ++k) Store(start + k, std::move(frames[static_cast<std::size_t>(k)]));
  }
}

void ReadAheadFeed::Store(int index, FeedFrame frame) {
  Slot& slot = slots_[static_cast<std::size_t>(index) % slots_.size()];
  if (!frame.image && index < failedAt_) failedAt_ = index;
  slot.frame = std::move(frame);
  slot.ready = true;
  if (++waiting_ > mostWaiting_) mostWaiting_ = waiting_;
  // Only the frame the job waits for is worth a wake-up; the others it finds ready.
  if (consumerWaiting_ && index == taken_) frameReady_.notify_one();
}

FeedFrame ReadAheadFeed::Take(const char* path) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (taken_ < count_ && !threads_.empty()) {
    const int index = taken_;
    Slot& slot = slots_[static_cast<std::size_t>(index) % slots_.size()];
    if (!slot.ready) {
      consumerWaiting_ = true;
      frameReady_.wait(lock, [&] { return slot.ready; });
      consumerWaiting_ = false;
    }
    FeedFrame frame = std::move(slot.frame);
    const bool expected = slot.path == path;
    slot.ready = false;
    --waiting_;
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
  FeedFrame frame;
  frame.image = ReadFrame(path, &frame.cutShort);
  return frame;
}

int ReadAheadFeed::MostWaiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mostWaiting_;
}

}  // namespace zelvo
