// Frames decoded ahead on reader threads reach the job exactly as if each were read when
// taken: in walk order, forwards and backwards, a failing frame in its place, with a
// bounded number of frames held.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "convert/frame_feed.h"
#include "sequence/sequence.h"
#include "support/bmp_writer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

// A 1x1 frame whose red byte is `mark`.
std::string Frame(int mark) {
  test::BmpDescription d;
  d.width = 1;
  d.height = 1;
  d.bitCount = 24;
  d.payload = {0, 0, static_cast<std::uint8_t>(mark), 0};
  const auto bytes = test::BuildBmp(d);
  return std::string(bytes.begin(), bytes.end());
}

constexpr std::uint64_t kPlenty = std::uint64_t{1} << 30;  // a budget these small frames never reach

FrameWalk Walk(const char* firstPath, int first, int last, int count) {
  FrameWalk walk;
  walk.firstPath = firstPath;
  walk.first = first;
  walk.last = last;
  walk.count = count;
  return walk;
}

TEST(ReadAheadFeed, FramesArriveInWalkOrderWithFailuresInTheirPlace) {
  struct Case {
    int first, last, readers, depth;
    int bad;  // frame number that is no image; -1: none
  };
  const Case cases[] = {{1, 40, 2, 4, -1}, {1, 40, 3, 3, 17}, {40, 1, 4, 6, 2}, {5, 5, 2, 4, -1}, {1, 30, 8, 2, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + ".." + std::to_string(c.last) + " readers " + std::to_string(c.readers));
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const int low = c.first < c.last ? c.first : c.last, high = c.first < c.last ? c.last : c.first;
    for (int n = low; n <= high; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "f%03d.bmp", n);
      ASSERT_TRUE(dir.AddFile(name, n == c.bad ? std::string(80, 'x') : Frame(n)));
    }
    std::string path = dir.Join("f001.bmp");
    MakeFrameName(&path, c.first);
    const int count = high - low + 1;
    ReadAheadFeed feed(Walk(path.c_str(), c.first, c.last, count), c.readers, c.depth, kPlenty);
    for (int k = 0; k < count; ++k) {
      const int expected = c.first <= c.last ? c.first + k : c.first - k;
      FrameRead frame = feed.Take(path.c_str());
      if (expected == c.bad) {
        EXPECT_FALSE(frame.image) << expected;
        break;  // the job stops at its first unreadable frame
      }
      ASSERT_TRUE(frame.image) << expected;
      EXPECT_EQ(frame.image.pixels()[2], expected);
      NextFrameName(&path, c.first, c.last);
    }
    EXPECT_LE(feed.MostWaiting(), c.depth);
  }
}

TEST(ReadAheadFeed, NamesOutsideTheWalkAreReadWhenTaken) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(dir.AddFile("g" + std::to_string(n) + ".bmp", Frame(10 * n)));
  const std::string first = dir.Join("g1.bmp");
  ReadAheadFeed feed(Walk(first.c_str(), 1, 3, 3), 2, 2, kPlenty);
  EXPECT_EQ(feed.Take(dir.Join("g1.bmp").c_str()).image.pixels()[2], 10);
  EXPECT_EQ(feed.Take(dir.Join("g3.bmp").c_str()).image.pixels()[2], 30);  // not the walk's second frame
  EXPECT_EQ(feed.Take(dir.Join("g3.bmp").c_str()).image.pixels()[2], 30);
  EXPECT_EQ(feed.Take(dir.Join("g2.bmp").c_str()).image.pixels()[2], 20);  // past the count
}

TEST(ReadAheadFeed, AFeedLeftEarlyStopsItsReaders) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (int n = 100; n <= 999; ++n) ASSERT_TRUE(dir.AddFile("h" + std::to_string(n) + ".bmp", Frame(n & 255)));
  // Taking two of 900 frames, then leaving (an abort), must not wait for the rest.
  const std::string first = dir.Join("h100.bmp");
  ReadAheadFeed feed(Walk(first.c_str(), 100, 999, 900), 4, 6, kPlenty);
  EXPECT_TRUE(feed.Take(dir.Join("h100.bmp").c_str()).image);
  EXPECT_TRUE(feed.Take(dir.Join("h101.bmp").c_str()).image);
  EXPECT_LE(feed.MostWaiting(), 6);
}

TEST(ReadAheadFeed, DepthKeepsEveryReaderBusyWithinAFewFramesOfMemory) {
  struct Case {
    int readers, width, height;
  };
  const Case cases[] = {{2, 1920, 1080}, {8, 3840, 2160}, {2, 640, 480}, {4, 8, 8}, {1, 0, 0}};
  for (const Case& c : cases) {
    const int depth = ReadAheadDepth(c.readers, c.width, c.height);
    const std::uint64_t frame = std::uint64_t{static_cast<unsigned>(c.width)} * static_cast<unsigned>(c.height) * 4;
    EXPECT_GE(depth, c.readers) << c.width;  // one under way per reader
    EXPECT_LE(depth, 64) << c.width;
    // Beyond that least, the frames held stay within a fixed budget, so a long sequence
    // of large frames never costs more than a few frames of memory.
    if (depth > c.readers) {
      EXPECT_LE(frame * depth, 16u << 20) << c.width;
    }
  }
  EXPECT_GT(ReadAheadDepth(2, 8, 8), ReadAheadDepth(2, 1920, 1080));  // small frames are batched
}

// Frames of the walk's size and far larger ones, read ahead by any number of readers: what
// they hold at once stays within the budget, and a frame larger than the whole budget is
// still read, alone, in its place.
TEST(ReadAheadFeed, TheBytesHeldStayWithinTheBudgetWhateverTheReaders) {
  constexpr std::uint64_t kBudget = 64u << 20;
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  struct Walked {
    const char* prefix;
    int largeSide;           // every other frame is 8x8
    std::uint64_t mostHeld;  // what the readers may hold at once
  };
  // 17 MB frames; then one of 72 MB, more than the whole budget, which it takes alone.
  const Walked walks[] = {{"k", 2400, kBudget}, {"h", 4900, 2 * kBudget}};
  for (const Walked& w : walks) {
    for (int n = 1; n <= 12; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "%s%02d.bmp", w.prefix, n);
      ASSERT_TRUE(dir.AddFile(name, test::ShortBmp(n % 3 == 0 ? w.largeSide : 8, n % 3 == 0 ? w.largeSide : 8, n)));
    }
    for (int readers : {1, 2, 8, 64}) {
      SCOPED_TRACE(std::string(w.prefix) + " with " + std::to_string(readers));
      std::string path = dir.path() + "/" + w.prefix + "01.bmp";
      ReadAheadFeed feed(Walk(path.c_str(), 1, 12, 12), readers, 16, kBudget);
      for (int n = 1; n <= 12; ++n) {
        const FrameRead frame = feed.Take(path.c_str());
        ASSERT_TRUE(frame) << n;
        EXPECT_EQ(frame.image.pixels()[0], n);
        NextFrameName(&path, 1, 12);
      }
      EXPECT_LE(feed.MostReserved(), w.mostHeld);
    }
  }
}

}  // namespace
}  // namespace zelvo
