#pragma once
// The pace of a job and the time it has left, for a progress display. The pace is the
// items done over the time they took, both weighed by how recent they are (the last few
// seconds count most), so a lasting change of pace shows within seconds while frames of
// uneven cost (key frames, large and small files) average out; one item that takes far
// longer than the pace so far (a busy disk) counts as only somewhat slow, so the estimate
// settles instead of jumping. Between items the time left counts down with the clock.
namespace zelvo {

class ProgressEstimate {
 public:
  // Starts anew for `total` items at time `now` (seconds on any steady clock).
  void Start(int total, double now);
  // `done` items are complete at time `now` (neither goes backwards).
  void Update(int done, double now);

  double elapsed() const { return last_ - start_; }
  // Items a second; 0 until the first item is done.
  double rate() const { return seconds_ > 0 ? items_ / seconds_ : 0; }
  // Seconds left at that pace; negative until an item is done.
  double secondsLeft() const { return left_; }

 private:
  int total_ = 0;
  int stepDone_ = 0;     // items done at lastStep_
  double start_ = 0;
  double last_ = 0;      // the time of the last update
  double lastStep_ = 0;  // the last update that found items done
  double items_ = 0;     // items and the seconds they took, older ones weighing less
  double seconds_ = 0;
  double left_ = -1;
};

}  // namespace zelvo
