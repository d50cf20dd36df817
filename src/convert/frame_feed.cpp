#include "convert/frame_feed.h"

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

ReadAheadFeed::ReadAheadFeed(const char* firstPath, int first, int last, int count, int readers, int depth)
    : slots_(static_cast<std::size_t>(depth > 0 ? depth : 1)), first_(first), last_(last), count_(count) {
  std::snprintf(walk_, sizeof walk_, "%s", firstPath);
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
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    readerWake_.wait(lock, [this] { return stop_ || claimed_ >= count_ || MayClaim(); });
    if (stop_ || claimed_ >= count_) return;
    const int index = claimed_++;
    Slot& slot = slots_[static_cast<std::size_t>(index) % slots_.size()];
    slot.path = walk_;
    NextFrameName(walk_, first_, last_);
    lock.unlock();
    FeedFrame frame;
    frame.image = ReadFrame(slot.path.c_str(), &frame.cutShort);
    lock.lock();
    if (!frame.image && index < failedAt_) failedAt_ = index;
    slot.frame = std::move(frame);
    slot.ready = true;
    if (++waiting_ > mostWaiting_) mostWaiting_ = waiting_;
    frameReady_.notify_one();
  }
}

FeedFrame ReadAheadFeed::Take(const char* path) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (taken_ < count_ && !threads_.empty()) {
    const int index = taken_;
    Slot& slot = slots_[static_cast<std::size_t>(index) % slots_.size()];
    frameReady_.wait(lock, [&] { return slot.ready; });
    FeedFrame frame = std::move(slot.frame);
    const bool expected = slot.path == path;
    slot.ready = false;
    --waiting_;
    ++taken_;
    // A caller that goes on past a failed frame lets the readers go on as well.
    if (index == failedAt_) failedAt_ = INT_MAX;
    lock.unlock();
    readerWake_.notify_one();
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
