// The JPEG reader through the table of formats, as frames are read: each kind as
// libavcodec's reader shows it, within libjpeg-turbo's rounding (exactly, for the kinds
// handed on to libavcodec), the colours of Adobe RGB and CMYK, the rows a cut file lacks,
// and what it asks of the budget.
#include "image/jpeg_reader_posix.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "image/av_image_formats_posix.h"
#include "image/av_image_reader_posix.h"
#include "image/frame_reader.h"
#include "image/jpeg_session_posix.h"
#include "platform/file.h"
#include "support/counting_budget.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

const std::string kSeeds = ZELVO_SOURCE_DIR "/fuzz/corpus/jpeg/";

std::string Seed(const std::string& name) {
  std::ifstream in(kSeeds + name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The largest difference of two frames' bytes; 256 when their blocks differ in size.
int LargestDifference(const PackedDib& a, const PackedDib& b) {
  if (a.size() != b.size()) return 256;
  int most = 0;
  for (std::size_t i = 0; i < a.size(); ++i) most = std::max(most, std::abs(a.data()[i] - b.data()[i]));
  return most;
}

// The blue, green, red of pixel (x, y), y counted from the top.
std::uint32_t Pixel(const PackedDib& dib, int x, int y) {
  const DibHeader h = dib.header();
  const std::uint8_t* p = dib.pixels() + static_cast<std::size_t>(h.height - 1 - y) * DibStride(h.width, 24) + 3 * x;
  return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

class JpegReader : public ::testing::Test {
 protected:
  void SetUp() override {
    AddFrameFormats(LibavImageFormats());
    ASSERT_TRUE(dir_.ok());
  }
  std::string Put(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(dir_.AddFile(name, bytes));
    return dir_.Join(name);
  }
  test::TempDir dir_;
};

// What libavcodec's reader makes of the file at `path`.
FrameRead ReadWithLibavcodec(const std::string& path) {
  ReadOnlyFile file(path.c_str());
  return ReadWithLibav(AV_CODEC_ID_MJPEG, FrameSource{file, path.c_str(), false, nullptr});
}

TEST_F(JpegReader, EveryKindAsLibavcodecShowsItWithinLibjpegsRounding) {
  struct Case {
    const char* seed;
    int width, height;
    int levels;  // the largest difference from libavcodec's reading; 0: handed on to it
  } cases[] = {
      {"baseline.jpg", 24, 16, 4},           {"progressive.jpg", 24, 16, 4},
      {"sampling-444.jpg", 24, 16, 4},       {"sampling-422.jpg", 24, 16, 4},
      {"grey.jpg", 24, 16, 1},               {"cmyk.jpg", 24, 16, 4},
      {"ycck-progressive.jpg", 24, 16, 4},   {"adobe-rgb.jpg", 64, 48, 0},
      {"adobe-cmyk.jpg", 64, 48, 0},         {"exif-orientation-6.jpg", 16, 24, 4},
      {"exif-orientation-3-le.jpg", 24, 16, 4},
      // Libjpeg would repeat the chroma ffmpeg interpolates, or cannot read the file.
      {"sampling-440.jpg", 24, 16, 0},       {"sampling-411.jpg", 24, 16, 0},
      {"lossless.jpg", 24, 16, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seed);
    const std::string path = Put(c.seed, Seed(c.seed));
    const FrameRead read = ReadFrame(path.c_str());
    ASSERT_TRUE(read);
    EXPECT_EQ(GetDibWidth(read.image), c.width);
    EXPECT_EQ(GetDibHeight(read.image), c.height);
    EXPECT_FALSE(read.cutShort);
    const FrameRead header = ReadFrameHeader(path.c_str());
    EXPECT_EQ(GetDibWidth(header.image), c.width);
    EXPECT_EQ(GetDibHeight(header.image), c.height);
    EXPECT_EQ(header.bytes, read.bytes);
    EXPECT_LE(LargestDifference(read.image, ReadWithLibavcodec(path).image), c.levels);
  }
}

// The flat seeds' 8x8 blocks, block (bx, by), component c: the level fuzz/corpus's maker gave.
int FlatLevel(int seed, int bx, int by, int c) { return (seed + 37 * bx + 53 * by + 91 * c + bx * by * (c + 3)) % 256; }

TEST_F(JpegReader, AdobeRgbIsShownAsStoredAndAdobeCmykCombinedWithK) {
  const FrameRead rgb = ReadFrame(Put("rgb.jpg", Seed("adobe-rgb.jpg")).c_str());
  const FrameRead cmyk = ReadFrame(Put("cmyk.jpg", Seed("adobe-cmyk.jpg")).c_str());
  ASSERT_TRUE(rgb && cmyk);
  for (int by = 0; by < 6; ++by) {
    for (int bx = 0; bx < 8; ++bx) {
      auto level = [&](int seed, int c) { return static_cast<std::uint32_t>(FlatLevel(seed, bx, by, c)); };
      EXPECT_EQ(Pixel(rgb.image, 8 * bx + 7, 8 * by + 7), level(7, 2) << 16 | level(7, 1) << 8 | level(7, 0));
      // Inverted CMYK as Adobe stores it: the colour is ink-free level times K.
      auto inked = [&](int c) { return level(5, c) * level(5, 3) * 257 >> 16; };
      EXPECT_EQ(Pixel(cmyk.image, 8 * bx, 8 * by), inked(2) << 16 | inked(1) << 8 | inked(0));
    }
  }
}

// A file cut at four fifths of its picture's data (48x48 4:2:0, three bands of blocks 16
// rows high, each of three units 16 pixels wide; the cut falls in the last band's first
// unit): the rows its data reached as the whole file shows them, the units and rows after
// the cut black.
TEST_F(JpegReader, WhatTheDataDidNotReachIsBlack) {
  const std::string whole = Seed("baseline-48x48.jpg");
  const std::size_t scan = whole.rfind("\xFF\xDA");
  const auto at = [&](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(whole[i])); };
  const std::size_t data = scan + 2 + (at(scan + 2) << 8 | at(scan + 3));  // past the scan's header
  const FrameRead cut = ReadFrame(Put("cut.jpg", whole.substr(0, data + (whole.size() - data) * 4 / 5)).c_str());
  const FrameRead full = ReadFrame(Put("whole.jpg", whole).c_str());
  ASSERT_TRUE(cut && full);
  EXPECT_TRUE(cut.cutShort);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 48; ++x) {
      if (y < 32) {
        ASSERT_EQ(Pixel(cut.image, x, y), Pixel(full.image, x, y)) << x << "," << y;
      } else if (x >= 16) {
        ASSERT_EQ(Pixel(cut.image, x, y), 0u) << x << "," << y;
      }
    }
  }
}

using Counting = test::CountingBudget;

// The bytes of `jpeg` with its last scan repeated `times` times before the end marker.
std::string WithScanRepeated(const std::string& jpeg, int times) {
  const std::size_t scan = jpeg.rfind("\xFF\xDA");
  const std::size_t end = jpeg.rfind("\xFF\xD9");
  std::string out = jpeg.substr(0, end);
  for (int i = 0; i < times; ++i) out += jpeg.substr(scan, end - scan);
  return out + "\xFF\xD9";
}

TEST_F(JpegReader, RefusalsSayWhyAndAskNoBudget) {
  std::string huge = Seed("baseline.jpg");
  const std::size_t frame = huge.find("\xFF\xC0");
  huge.replace(frame + 5, 4, "\xFF\xFF\xFF\xFF");  // 65535 x 65535, past libjpeg's limit
  struct Case {
    const char* name;
    std::string bytes;
    FrameFailure failure;
  } cases[] = {
      {"huge.jpg", huge, FrameFailure::kTooLarge},
      {"headers-cut.jpg", Seed("baseline.jpg").substr(0, 200), FrameFailure::kDamaged},
      {"many-scans.jpg", WithScanRepeated(Seed("progressive.jpg"), kMostJpegScans + 1), FrameFailure::kDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Counting budget(true);
    const FrameRead read = ReadFrame(Put(c.name, c.bytes).c_str(), &budget);
    EXPECT_FALSE(read.image);
    EXPECT_EQ(read.failure, c.failure);
    if (c.failure != FrameFailure::kDamaged) {
      EXPECT_EQ(budget.calls, 0);
    }
  }
}

// Asked once, before the picture is decoded, for the block and libjpeg's working memory:
// a file of several scans keeps every coefficient (2 bytes a sample) meanwhile.
TEST_F(JpegReader, AsksTheBudgetOnceForTheBlockAndLibjpegsCoefficients) {
  const std::uint64_t block = kDibHeaderSize + 72 * 16;  // 24 x 16 at 24 bits
  std::uint64_t asked[2] = {};
  const char* seeds[] = {"baseline.jpg", "progressive.jpg"};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(seeds[i]);
    const std::string path = Put(seeds[i], Seed(seeds[i]));
    Counting refusing(false);
    const FrameRead refused = ReadFrame(path.c_str(), &refusing);
    EXPECT_EQ(refused.failure, FrameFailure::kNoMemory);
    EXPECT_EQ(refusing.calls, 1);
    Counting granting(true);
    const FrameRead read = ReadFrame(path.c_str(), &granting);
    ASSERT_TRUE(read);
    EXPECT_EQ(granting.calls, 1);
    EXPECT_EQ(read.bytes, granting.asked);
    EXPECT_GT(read.bytes, block);
    asked[i] = read.bytes;
  }
  EXPECT_GE(asked[1], asked[0] + 24 * 16 * 3);  // 4:2:0: 1.5 samples a pixel
}

}  // namespace
}  // namespace zelvo
