// The lossless layouts' rows for every width around the sixteen-byte steps: each pixel
// reordered, nothing written past the row.
#include "convert/bgr_rows_posix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace zelvo {
namespace {

TEST(BgrRows, EveryWidthIsReorderedWithinItsRow) {
  struct Layout {
    const char* name;
    void (*convert)(const std::uint8_t*, std::uint8_t*, int);
    int bytes;
  } layouts[] = {{"RGB24", BgrRowToRgb24, 3}, {"BGR0", BgrRowToBgr0, 4}};
  for (const Layout& layout : layouts) {
    for (int width = 0; width <= 41; ++width) {
      std::vector<std::uint8_t> src(3 * width);
      for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 7 + 1);
      std::vector<std::uint8_t> dst(layout.bytes * width + 16, 0xa5);  // the 16 after it must stay
      layout.convert(src.data(), dst.data(), width);
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* s = &src[3 * x];
        const std::uint8_t* d = &dst[layout.bytes * x];
        const bool ok = layout.bytes == 3 ? d[0] == s[2] && d[1] == s[1] && d[2] == s[0]
                                          : d[0] == s[0] && d[1] == s[1] && d[2] == s[2] && d[3] == 255;
        ASSERT_TRUE(ok) << layout.name << " width " << width << " pixel " << x;
      }
      for (std::size_t i = layout.bytes * width; i < dst.size(); ++i) {
        ASSERT_EQ(dst[i], 0xa5) << layout.name << " width " << width << " wrote byte " << i;
      }
    }
  }
}

}  // namespace
}  // namespace zelvo
