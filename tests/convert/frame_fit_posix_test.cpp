// Frames scaled to one size: where they go, that flat colours stay exact and the bars stay
// black, and the odd sizes that 4:2:0 codecs get padded.
#include "convert/frame_fit_posix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "convert/codec_posix.h"

namespace zelvo {
namespace {

// A bottom-up image of width x height at `bits` (8: a two-entry palette, 24: BGR) whose
// left half is colour A and right half colour B.
PackedDib TwoHalves(int width, int height, int bits, const std::uint8_t a[3], const std::uint8_t b[3]) {
  const int stride = DibStride(width, bits);
  const int colors = DibColorCount(bits);
  PackedDib dib = PackedDib::Allocate(40 + 4u * colors + static_cast<std::uint64_t>(stride) * height);
  DibHeader h;
  InitDibHeader(&h);
  h.width = width;
  h.height = height;
  h.bitCount = static_cast<std::uint16_t>(bits);
  dib.set_header(h);
  if (bits == 8) {
    std::memcpy(dib.colors(), a, 3);
    std::memcpy(dib.colors() + 4, b, 3);
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = dib.pixels() + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      if (bits == 8)
        row[x] = right ? 1 : 0;
      else
        std::memcpy(row + 3 * x, right ? b : a, 3);
    }
  }
  return dib;
}

// The canvas pixel at (x, y) counted from the top left.
const std::uint8_t* At(const FrameCanvas& canvas, int x, int y) {
  return canvas.data() + static_cast<std::size_t>(canvas.height() - 1 - y) * canvas.stride() + 3 * x;
}

TEST(FrameFit, BoxesKeepTheAspectRatioCentred) {
  struct Case {
    int w, h, bw, bh;
    FitBox box;
  } cases[] = {
      {1920, 1080, 1280, 720, {0, 0, 1280, 720}},  // the same shape
      {640, 480, 1280, 720, {160, 0, 960, 720}},   // pillar-boxed
      {1920, 800, 1280, 720, {0, 93, 1280, 533}},  // letter-boxed, rounded
      {33, 17, 64, 64, {0, 15, 64, 33}},           // scaled up; the odd row left below
      {4000, 1, 100, 100, {0, 49, 100, 1}},        // never thinner than one pixel
      {7, 5, 7, 5, {0, 0, 7, 5}},
  };
  for (const Case& c : cases) {
    const FitBox box = FitInside(c.w, c.h, c.bw, c.bh);
    EXPECT_EQ(box.x, c.box.x) << c.w << "x" << c.h;
    EXPECT_EQ(box.y, c.box.y) << c.w << "x" << c.h;
    EXPECT_EQ(box.width, c.box.width) << c.w << "x" << c.h;
    EXPECT_EQ(box.height, c.box.height) << c.w << "x" << c.h;
  }
}

TEST(FrameFit, FlatColoursStayExactOnBlack) {
  const std::uint8_t a[3] = {10, 200, 30}, b[3] = {250, 5, 128};
  struct Case {
    int w, h, bits, cw, ch;
  } cases[] = {
      {40, 20, 24, 64, 64},    // up, bars above and below
      {300, 100, 24, 64, 64},  // down
      {40, 20, 8, 30, 40},     // a palette image
      {20, 40, 24, 64, 48},    // bars left and right
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + "@" + std::to_string(c.bits));
    FrameCanvas canvas;
    ASSERT_TRUE(canvas.Create(c.cw, c.ch));
    std::memset(canvas.data(), 0x55, canvas.bytes());  // an earlier frame must not show
    FrameFitter fitter;
    ASSERT_EQ(fitter.Draw(canvas, TwoHalves(c.w, c.h, c.bits, a, b)), 0);
    const FitBox box = FitInside(c.w, c.h, c.cw, c.ch);
    for (int y = 0; y < c.ch; ++y) {
      for (int x = 0; x < c.cw; ++x) {
        const std::uint8_t* p = At(canvas, x, y);
        const bool inside = x >= box.x && x < box.x + box.width && y >= box.y && y < box.y + box.height;
        // Away from the seam between the halves the filter sees one colour only.
        const int seam = box.x + box.width / 2;
        if (!inside) {
          ASSERT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 0) << x << "," << y;
        } else if (x < seam - 3 || x > seam + 3) {
          ASSERT_EQ(0, std::memcmp(p, x < seam ? a : b, 3)) << x << "," << y;
        }
      }
    }
  }
}

TEST(FrameFit, FramesOfTheCanvasSizeAreCopiedAsTheyAre) {
  const std::uint8_t a[3] = {1, 2, 3}, b[3] = {4, 5, 6};
  FrameCanvas fitted, drawn;
  ASSERT_TRUE(fitted.Create(9, 5));
  ASSERT_TRUE(drawn.Create(9, 5));
  const PackedDib image = TwoHalves(9, 5, 24, a, b);
  FrameFitter fitter;
  ASSERT_EQ(fitter.Draw(fitted, image), 0);
  ASSERT_EQ(DrawPackedDib(drawn, image), 0);
  EXPECT_EQ(0, std::memcmp(fitted.data(), drawn.data(), drawn.bytes()));
}

TEST(FrameFit, SizesParseAsWidthByHeight) {
  struct Case {
    const char* text;
    bool ok;
    int w, h;
  } cases[] = {
      {"1280x720", true, 1280, 720}, {"33X17", true, 33, 17},   {"65535x1", true, 65535, 1}, {"0x720", false, 0, 0},
      {"65536x2", false, 0, 0},      {"1280*720", false, 0, 0}, {"x720", false, 0, 0},       {"12x", false, 0, 0},
      {"-1x5", false, 0, 0},         {" 8x8", false, 0, 0},
  };
  for (const Case& c : cases) {
    int w = 0, h = 0;
    EXPECT_EQ(ParseFrameSize(c.text, &w, &h), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(w, c.w) << c.text;
      EXPECT_EQ(h, c.h) << c.text;
    }
  }
}

// Odd sizes get one black column or row more where the codec takes only even ones, and the
// padded size opens the encoder that refused the odd one.
TEST(FrameFit, OddSizesArePaddedForTheCodecsThatWantEvenOnes) {
  struct Case {
    const char* codec;
    int w, h;
    bool padded;
    int pw, ph;
  } cases[] = {
      {"h264", 33, 17, true, 34, 18},   {"mpeg4", 32, 17, true, 32, 18}, {"h264", 32, 18, false, 32, 18},
      {"mjpeg", 33, 17, false, 33, 17}, {"ffv1", 33, 17, false, 33, 17}, {"dib", 33, 17, false, 33, 17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    int w = c.w, h = c.h;
    EXPECT_EQ(PadToCodecSize(c.codec, &w, &h), c.padded);
    EXPECT_EQ(w, c.pw);
    EXPECT_EQ(h, c.ph);
    CodecChoice choice;
    choice.codec = c.codec;
    if (c.padded) {
      EXPECT_FALSE(CheckCodecChoice(choice, c.w, c.h, 1, 25, nullptr));
      EXPECT_TRUE(CheckCodecChoice(choice, w, h, 1, 25, nullptr));
    }
  }
}

}  // namespace
}  // namespace zelvo
