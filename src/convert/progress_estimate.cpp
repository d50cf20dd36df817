#include "convert/progress_estimate.h"

#include <algorithm>
#include <cmath>

namespace zelvo {

namespace {

// Items done this many seconds ago weigh 1/e of those done now.
constexpr double kPaceSeconds = 3.0;
// An item counts as taking at most this many times the pace so far.
constexpr double kSlowestItem = 8.0;

}  // namespace

void ProgressEstimate::Start(int total, double now) {
  *this = ProgressEstimate();
  total_ = total;
  start_ = last_ = lastStep_ = now;
}

void ProgressEstimate::Update(int done, double now) {
  now = std::max(now, last_);
  if (left_ > 0) left_ = std::max(0.0, left_ - (now - last_));
  last_ = now;
  if (done <= stepDone_ || now <= lastStep_) return;  // items done within one tick join the next step
  const int items = done - stepDone_;
  double took = now - lastStep_;
  if (items_ > 0) took = std::min(took, kSlowestItem * items * seconds_ / items_);
  const double keep = std::exp(-took / kPaceSeconds);
  items_ = items_ * keep + items;
  seconds_ = seconds_ * keep + took;
  stepDone_ = done;
  lastStep_ = now;
  left_ = done >= total_ ? 0 : (total_ - done) / rate();
}

}  // namespace zelvo
