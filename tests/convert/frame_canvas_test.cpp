// The portable canvas must read a packed DIB as the platform's StretchDIBits does: these
// cases fix what each depth, the clipping and the uncovered area give.
#include "convert/frame_canvas.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace zelvo {
namespace {

struct Bgr {
  std::uint8_t b, g, r;
  bool operator==(const Bgr& o) const { return b == o.b && g == o.g && r == o.r; }
};

std::ostream& operator<<(std::ostream& os, const Bgr& c) {
  return os << "(b" << int(c.b) << " g" << int(c.g) << " r" << int(c.r) << ")";
}

// Pixel (x, y) of the picture, y counted from the top, as a viewer shows it.
Bgr At(const FrameCanvas& canvas, int x, int y) {
  const std::uint8_t* p =
      canvas.data() + static_cast<std::size_t>(canvas.height() - 1 - y) * canvas.stride() + 3 * x;
  return {p[0], p[1], p[2]};
}

// A packed DIB whose rows are given top row first (as one looks at the picture); each
// row's bytes are stored bottom-up as the block requires. `table` fills the colour table.
PackedDib MakeDib(int width, int bits, const std::vector<std::vector<std::uint8_t>>& topRows,
                  const std::vector<Bgr>& table = {}, bool topDown = false) {
  const int rows = static_cast<int>(topRows.size());
  const int stride = DibStride(width, bits);
  const int offset = DibPixelOffset(bits);
  PackedDib dib = PackedDib::Allocate(static_cast<std::uint64_t>(offset) + stride * rows);
  DibHeader h;
  InitDibHeader(&h);
  h.width = width;
  h.height = topDown ? -rows : rows;
  h.bitCount = static_cast<std::uint16_t>(bits);
  dib.set_header(h);
  for (std::size_t i = 0; i < table.size(); ++i) {
    std::uint8_t* e = dib.data() + kDibHeaderSize + 4 * i;
    e[0] = table[i].b;
    e[1] = table[i].g;
    e[2] = table[i].r;
    e[3] = 0x77;  // the reserved byte must never show
  }
  for (int y = 0; y < rows; ++y) {
    const int stored = topDown ? y : rows - 1 - y;
    std::uint8_t* row = dib.data() + offset + static_cast<std::size_t>(stored) * stride;
    for (std::size_t i = 0; i < topRows[y].size(); ++i) row[i] = topRows[y][i];
  }
  return dib;
}

TEST(FrameCanvas, StrideIsPaddedToWholeWordsAndCanvasStartsBlack) {
  struct Case { int width, height; std::size_t stride; } cases[] = {
      {1, 1, 4}, {5, 3, 16}, {4, 2, 12}, {7, 1, 24}, {1920, 1080, 5760}};
  for (const auto& c : cases) {
    FrameCanvas canvas;
    ASSERT_TRUE(canvas.Create(c.width, c.height)) << c.width;
    EXPECT_EQ(canvas.stride(), c.stride) << c.width;
    EXPECT_EQ(canvas.bytes(), c.stride * c.height) << c.width;
    for (std::size_t i = 0; i < canvas.bytes(); ++i) ASSERT_EQ(canvas.data()[i], 0) << i;
  }
}

TEST(FrameCanvas, RefusesSizesItCannotHold) {
  const std::array<std::array<int, 2>, 5> sizes = {
      {{0, 5}, {5, 0}, {-3, 4}, {4, -3}, {0x7fffffff, 0x7fffffff}}};
  for (const auto& s : sizes) {
    FrameCanvas canvas;
    EXPECT_FALSE(canvas.Create(s[0], s[1])) << s[0] << "x" << s[1];
    EXPECT_TRUE(canvas.empty());
  }
}

TEST(FrameCanvasDraw, EachDepthGivesTheSameColours) {
  // Two pixels per image: red on the left, blue on the right, on one row.
  const Bgr red{0, 0, 255}, blue{255, 0, 0};
  std::vector<Bgr> table2 = {{1, 2, 3}, red, {9, 9, 9}, blue};
  std::vector<Bgr> table256(256, Bgr{5, 5, 5});
  table256[200] = red;
  table256[17] = blue;
  struct Case {
    const char* name;
    int bits;
    std::vector<std::uint8_t> row;
    std::vector<Bgr> table;
  } cases[] = {
      {"1-bit", 1, {0x80}, {blue, red}},                 // indices 1 then 0
      {"2-bit", 2, {0x70}, table2},                       // indices 1 and 3
      {"4-bit", 4, {0x1f}, [] { std::vector<Bgr> t(16, Bgr{}); t[1] = {0, 0, 255}; t[15] = {255, 0, 0}; return t; }()},
      {"8-bit", 8, {200, 17}, table256},
      {"16-bit", 16, {0x00, 0x7c, 0x1f, 0x00}, {}},       // 0x7c00 red, 0x001f blue
      {"24-bit", 24, {0, 0, 255, 255, 0, 0}, {}},
      {"32-bit", 32, {0, 0, 255, 0x99, 255, 0, 0, 0x99}, {}},
  };
  for (const auto& c : cases) {
    FrameCanvas canvas;
    ASSERT_TRUE(canvas.Create(2, 1));
    PackedDib dib = MakeDib(2, c.bits, {c.row}, c.table);
    ASSERT_EQ(DrawPackedDib(canvas, dib), 0) << c.name;
    EXPECT_EQ(At(canvas, 0, 0), red) << c.name;
    EXPECT_EQ(At(canvas, 1, 0), blue) << c.name;
  }
}

TEST(FrameCanvasDraw, SixteenBitChannelsWidenByRepeatingTopBits) {
  struct Case { unsigned v5; std::uint8_t v8; } cases[] = {
      {0, 0}, {1, 8}, {15, 123}, {16, 132}, {30, 247}, {31, 255}};
  for (const auto& c : cases) {
    const unsigned pixel = (c.v5 << 10) | (c.v5 << 5) | c.v5 | 0x8000;  // bit 15 is ignored
    FrameCanvas canvas;
    ASSERT_TRUE(canvas.Create(1, 1));
    PackedDib dib = MakeDib(1, 16, {{static_cast<std::uint8_t>(pixel), static_cast<std::uint8_t>(pixel >> 8)}});
    ASSERT_EQ(DrawPackedDib(canvas, dib), 0);
    EXPECT_EQ(At(canvas, 0, 0), (Bgr{c.v8, c.v8, c.v8})) << c.v5;
  }
}

TEST(FrameCanvasDraw, TwoBitImageIsWidenedThroughItsTable) {
  // Four pixels with indices 0,1,2,3 in one byte: 00 01 10 11.
  const std::vector<Bgr> table = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
  FrameCanvas canvas;
  ASSERT_TRUE(canvas.Create(5, 1));
  PackedDib dib = MakeDib(5, 2, {{0x1b, 0x80}}, table);  // fifth pixel index 2
  ASSERT_EQ(DrawPackedDib(canvas, dib), 0);
  EXPECT_EQ(At(canvas, 0, 0), table[0]);
  EXPECT_EQ(At(canvas, 1, 0), table[1]);
  EXPECT_EQ(At(canvas, 2, 0), table[2]);
  EXPECT_EQ(At(canvas, 3, 0), table[3]);
  EXPECT_EQ(At(canvas, 4, 0), table[2]);
}

TEST(FrameCanvasDraw, BottomUpRowsLandWithTheTopRowAtTheTop) {
  // 1x3 image: top white, middle grey, bottom black-ish.
  FrameCanvas canvas;
  ASSERT_TRUE(canvas.Create(1, 3));
  PackedDib dib = MakeDib(1, 24, {{255, 255, 255}, {128, 128, 128}, {1, 2, 3}});
  ASSERT_EQ(DrawPackedDib(canvas, dib), 0);
  EXPECT_EQ(At(canvas, 0, 0), (Bgr{255, 255, 255}));
  EXPECT_EQ(At(canvas, 0, 1), (Bgr{128, 128, 128}));
  EXPECT_EQ(At(canvas, 0, 2), (Bgr{1, 2, 3}));
  // In storage the canvas is bottom-up as well: its first row is the picture's bottom.
  EXPECT_EQ(canvas.data()[0], 1);
}

TEST(FrameCanvasDraw, TopDownImageIsReadTopRowFirst) {
  FrameCanvas canvas;
  ASSERT_TRUE(canvas.Create(1, 2));
  PackedDib dib = MakeDib(1, 24, {{9, 9, 9}, {7, 7, 7}}, {}, /*topDown=*/true);
  ASSERT_EQ(DrawPackedDib(canvas, dib), 0);
  EXPECT_EQ(At(canvas, 0, 0), (Bgr{9, 9, 9}));
  EXPECT_EQ(At(canvas, 0, 1), (Bgr{7, 7, 7}));
}

TEST(FrameCanvasDraw, SmallerFrameSitsTopLeftOnBlack) {
  FrameCanvas canvas;
  ASSERT_TRUE(canvas.Create(3, 3));
  // First a full white frame, then a 2x1 red frame.
  ASSERT_EQ(DrawPackedDib(canvas, MakeDib(3, 24, std::vector<std::vector<std::uint8_t>>(3, std::vector<std::uint8_t>(9, 255)))), 0);
  ASSERT_EQ(DrawPackedDib(canvas, MakeDib(2, 24, {{0, 0, 200, 0, 0, 200}})), 0);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 3; ++x) {
      // Nothing of the earlier white frame shows around the smaller one.
      const Bgr want = (y == 0 && x < 2) ? Bgr{0, 0, 200} : Bgr{0, 0, 0};
      EXPECT_EQ(At(canvas, x, y), want) << x << "," << y;
    }
  }
}

TEST(FrameCanvasDraw, LargerFrameIsClippedToTheCanvas) {
  FrameCanvas canvas;
  ASSERT_TRUE(canvas.Create(2, 2));
  // 3x3 image, pixel value encodes its position: b = x, g = y (from the top).
  std::vector<std::vector<std::uint8_t>> rows;
  for (int y = 0; y < 3; ++y) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < 3; ++x) row.insert(row.end(), {std::uint8_t(x), std::uint8_t(y), 50});
    rows.push_back(row);
  }
  ASSERT_EQ(DrawPackedDib(canvas, MakeDib(3, 24, rows)), 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x)
      EXPECT_EQ(At(canvas, x, y), (Bgr{std::uint8_t(x), std::uint8_t(y), 50})) << x << "," << y;
  // The row padding of the canvas stays untouched.
  EXPECT_EQ(canvas.data()[6], 0);
  EXPECT_EQ(canvas.data()[7], 0);
}

TEST(FrameCanvasDraw, RefusesWhatItCannotDraw) {
  FrameCanvas canvas;
  ASSERT_TRUE(canvas.Create(4, 4));
  struct Case { const char* name; PackedDib dib; } cases[] = {
      {"empty block", PackedDib()},
      {"3 bits", [] { PackedDib d = MakeDib(4, 8, {{1, 2, 3, 4}}); DibHeader h = d.header(); h.bitCount = 3; d.set_header(h); return d; }()},
      {"RLE8", [] { PackedDib d = MakeDib(4, 8, {{1, 2, 3, 4}}); DibHeader h = d.header(); h.compression = 1; d.set_header(h); return d; }()},
      {"negative width", [] { PackedDib d = MakeDib(4, 24, {std::vector<std::uint8_t>(12, 1)}); DibHeader h = d.header(); h.width = -4; d.set_header(h); return d; }()},
      {"rows beyond block", [] { PackedDib d = MakeDib(4, 24, {std::vector<std::uint8_t>(12, 1)}); DibHeader h = d.header(); h.height = 1000; d.set_header(h); return d; }()},
      {"huge width", [] { PackedDib d = MakeDib(4, 32, {std::vector<std::uint8_t>(16, 1)}); DibHeader h = d.header(); h.width = 0x7fffffff; d.set_header(h); return d; }()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DrawPackedDib(canvas, c.dib), 1) << c.name;
  }
  for (std::size_t i = 0; i < canvas.bytes(); ++i) ASSERT_EQ(canvas.data()[i], 0) << i;
  FrameCanvas none;
  EXPECT_EQ(DrawPackedDib(none, MakeDib(1, 24, {{1, 2, 3}})), 1);
}

}  // namespace
}  // namespace zelvo
