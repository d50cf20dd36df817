#pragma once
// A frame budget for reader tests: answers every request alike and counts what it is asked.
#include <cstdint>

#include "image/frame_read.h"

namespace zelvo {
namespace test {

class CountingBudget : public FrameBudget {
 public:
  explicit CountingBudget(bool grant) : grant_(grant) {}
  bool Reserve(std::uint64_t bytes) override {
    ++calls;
    asked = bytes;
    return grant_;
  }
  int calls = 0;
  std::uint64_t asked = 0;

 private:
  bool grant_;
};

}  // namespace test
}  // namespace zelvo
