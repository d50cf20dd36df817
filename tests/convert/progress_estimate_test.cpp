// The time left settles: a steady pace gives the true time, one slow frame or frames of
// uneven cost move it only a little, and a lasting change of pace shows within seconds.
#include "convert/progress_estimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelvo {
namespace {

struct Walk {
  double largestJump = 0;           // between two frames, once a second has passed
  std::vector<double> left, truth;  // after each frame: estimated and true seconds left
};

// A job of frames that take `seconds[i]` each, updated after every frame.
Walk Simulate(const std::vector<double>& seconds) {
  ProgressEstimate estimate;
  estimate.Start(static_cast<int>(seconds.size()), 100.0);
  Walk walk;
  double now = 100.0;
  for (std::size_t i = 0; i < seconds.size(); ++i) {
    now += seconds[i];
    estimate.Update(static_cast<int>(i + 1), now);
    double truth = 0;
    for (std::size_t k = i + 1; k < seconds.size(); ++k) truth += seconds[k];
    if (estimate.elapsed() >= 1 && !walk.left.empty())
      walk.largestJump = std::max(walk.largestJump, std::fabs(estimate.secondsLeft() - walk.left.back()));
    walk.left.push_back(estimate.secondsLeft());
    walk.truth.push_back(truth);
  }
  return walk;
}

TEST(ProgressEstimate, SettlesOnThePaceAndFollowsLastingChangesOnly) {
  struct Case {
    const char* what;
    std::vector<double> seconds;
    std::size_t at;  // after this frame the estimate is within 10% of the truth
  };
  std::vector<double> steady(1000, 0.01), stall = steady, uneven, slower = steady;
  stall[500] = 1.0;  // one frame a hundred times slower: the last frame's pace would say 499 s
  for (int i = 0; i < 1000; ++i) uneven.push_back(i % 2 ? 0.018 : 0.002);
  std::fill(slower.begin() + 300, slower.end(), 0.02);  // half the pace for good from frame 300
  const Case cases[] = {
      {"steady", steady, 100}, {"one slow frame", stall, 600}, {"uneven frames", uneven, 500},
      {"a lasting change of pace, 8 s on", slower, 700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Walk walk = Simulate(c.seconds);
    EXPECT_LT(walk.largestJump, 0.5);
    EXPECT_NEAR(walk.left[c.at], walk.truth[c.at], 0.1 * walk.truth[c.at]);
    EXPECT_EQ(walk.left.back(), 0);
  }

  ProgressEstimate estimate;
  estimate.Start(10, 0);
  estimate.Update(0, 5);
  EXPECT_LT(estimate.secondsLeft(), 0);  // nothing done: no estimate yet
  EXPECT_EQ(estimate.rate(), 0);
  estimate.Update(5, 10);
  EXPECT_DOUBLE_EQ(estimate.rate(), 0.5);
  estimate.Update(5, 12);
  EXPECT_DOUBLE_EQ(estimate.secondsLeft(), 8);  // counts down between frames
}

}  // namespace
}  // namespace zelvo
