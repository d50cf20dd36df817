// Deep pictures to BGR: every float of an OpenEXR plane to the nearest 8-bit level, the
// same whether it falls in the vectorised part of a row or its tail.
#include "image/av_deep_rows_posix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "image/av_calls_posix.h"

namespace zelvo {
namespace {

TEST(DeepRows, FloatsRoundToTheNearestLevelAcrossTheWholeRow) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Value, then its level: halves round up, below 0 is 0, above 1 (and NaN) is 255.
  const std::vector<std::pair<float, int>> table = {
      {0.0f, 0},       {-0.5f, 0},          {-inf, 0},   {1.0f, 255},   {7.0f, 255},   {inf, 255},
      {nan, 255},      {0.5f / 255, 1},     {0.49f / 255, 0}, {128.5f / 255, 129}, {0.25f, 64}, {0.75f, 191},
  };
  for (int width : {1, 15, 16, 17, 37}) {
    SCOPED_TRACE(width);
    AVFrame* frame = av_frame_alloc();
    ASSERT_NE(frame, nullptr);
    frame->format = AV_PIX_FMT_GBRPF32LE;
    frame->width = width;
    frame->height = 1;
    ASSERT_EQ(av_frame_get_buffer(frame, 0), 0);
    // Green, blue and red planes take the table at offsets 0, 1 and 2, so every sample
    // position meets every value.
    for (int plane = 0; plane < 3; ++plane) {
      auto* samples = reinterpret_cast<float*>(frame->data[plane]);
      for (int x = 0; x < width; ++x) samples[x] = table[(x + plane) % table.size()].first;
    }
    std::vector<std::uint8_t> bgr(3 * width), scratch(3 * width);
    DeepRowToBgr(frame, 0, bgr.data(), scratch.data());
    for (int x = 0; x < width; ++x) {
      EXPECT_EQ(bgr[3 * x + 0], table[(x + 1) % table.size()].second) << "blue at " << x;
      EXPECT_EQ(bgr[3 * x + 1], table[(x + 0) % table.size()].second) << "green at " << x;
      EXPECT_EQ(bgr[3 * x + 2], table[(x + 2) % table.size()].second) << "red at " << x;
    }
    av_frame_free(&frame);
  }
}

}  // namespace
}  // namespace zelvo
