// Naming rules and the run search for numbered sequences, on both platforms. Paths are
// written with '/' and turned into the platform's form by NativePath.
#include "sequence/sequence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/path_buffer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using test::JoinPath;
using test::NativePath;
using test::TempDir;

TEST(SplitSequenceName, TakesAtMostFiveTrailingAsciiDigits) {
  struct Case {
    const char* base;
    const char* prefix;
    int number;
    int width;
  };
  const Case cases[] = {
      {"img050", "img", 50, 3},       {"img008", "img", 8, 3},     {"frame000123", "frame0", 123, 5},
      {"shot123456", "shot1", 23456, 5}, {"123456", "1", 23456, 5}, {"00000", "", 0, 5},
      {"a7", "a", 7, 1},              {"a12", "a", 12, 2},          {"x9999", "x", 9999, 4},
      {"img001_a", "img001_a", -1, 0}, {"img", "img", -1, 0},      {"", "", -1, 0},
      {"7", "", 7, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.base);
    std::string prefix = "unset";
    int number = -1;
    int width = -1;
    SplitSequenceName(c.base, &prefix, &number, &width);
    EXPECT_EQ(prefix, c.prefix);
    EXPECT_EQ(width, c.width);
    if (c.width > 0) {
      EXPECT_EQ(number, c.number);
    }
  }
}

TEST(ParseSequencePath, SplitsFolderPrefixNumberAndExtension) {
  struct Case {
    const char* path;
    const char* directory;
    const char* prefix;
    int number;
    int width;
    const char* extension;
  };
  const Case cases[] = {
      {"pics/img050.bmp", "pics/", "img", 50, 3, ".bmp"},
      {"/abs/pics/shot123456.bmp", "/abs/pics/", "shot1", 23456, 5, ".bmp"},
      {"img5.bmp", "", "img", 5, 1, ".bmp"},
      {"seq/f0001", "seq/", "f", 1, 4, ""},
      {"seq/00000.bmp", "seq/", "", 0, 5, ".bmp"},
      {"seq/.bmp", "seq/", "", 0, 0, ".bmp"},
      {"a.b.c", "", "a.b", 0, 0, ".c"},
      {"dir.x/a", "dir.x/", "a", 0, 0, ""},
      {"dir.x/a12.", "dir.x/", "a", 12, 2, "."},
      {"seq/", "seq/", "", 0, 0, ""},
      {"", "", "", 0, 0, ""},
  };
  for (const Case& c : cases) {
    std::string path = NativePath(c.path);
    SCOPED_TRACE(path);
    SequenceSpec split = ParseSequencePath(path.c_str());
    EXPECT_EQ(split.directory, NativePath(c.directory));
    EXPECT_EQ(split.prefix, c.prefix);
    EXPECT_EQ(split.width, c.width);
    if (c.width > 0) {
      EXPECT_EQ(split.number, c.number);
    }
    EXPECT_EQ(split.extension, c.extension);
    EXPECT_EQ(DirectoryOf(path.c_str()), NativePath(c.directory));
    EXPECT_EQ(SequencePrefix(path.c_str()), c.prefix);
  }
}

TEST(HasExtension, LooksOnlyAtTheFileNamePart) {
  struct Case {
    const char* path;
    bool expected;
  };
  const Case cases[] = {
      {"a.bmp", true}, {"a", false}, {"a.", true}, {"dir.x/a", false}, {"dir.x/a.png", true},
      {".bmp", true},  {"", false},  {"dir/", false},
  };
  for (const Case& c : cases) {
    std::string path = NativePath(c.path);
    SCOPED_TRACE(path);
    EXPECT_EQ(HasExtension(path.c_str()), c.expected);
  }
}

TEST(LargestNumber, IsTheLargestValueOfEachWidth) {
  const int expected[] = {1, 9, 99, 999, 9999, 99999};
  for (int width = 0; width <= kMaxWidth; ++width) EXPECT_EQ(LargestNumber(width), expected[width]) << width;
}

TEST(MakeFrameName, PrintsTheNumberInTheWidthOfTheGivenName) {
  struct Case {
    const char* path;
    int n;
    const char* expected;
  };
  const Case cases[] = {
      {"pics/img050.bmp", 8, "pics/img008.bmp"},
      {"pics/img050.bmp", 120, "pics/img120.bmp"},
      {"a7.png", 3, "a3.png"},
      {"a7.png", 10, "a1.png"},          // above the width's largest: frame 1
      {"p01.bmp", 150, "p01.bmp"},       // width 2, 150 -> 01
      {"p01.bmp", 99, "p99.bmp"},
      {"x0001.bmp", 42, "x0042.bmp"},
      {"v00000.bmp", 99999, "v99999.bmp"},
      {"v00000.bmp", 100000, "v00001.bmp"},
      {"v00000.bmp", -1, "v-0001.bmp"},  // a negative number keeps its sign inside the width
      {"seq/f0001", 2, "seq/f0002"},
      {"seq/00000.bmp", 4, "seq/00004.bmp"},
      {"img.bmp", 5, "img.bmp"},         // no number: unchanged
      {"shot123456.bmp", 7, "shot100007.bmp"},
  };
  for (const Case& c : cases) {
    std::string path = NativePath(c.path);
    SCOPED_TRACE(std::string(c.path) + " <- " + std::to_string(c.n));
    EXPECT_TRUE(MakeFrameName(&path, c.n));
    EXPECT_EQ(path, NativePath(c.expected));
  }
}

// Walks from `start` with NextFrameName until it reports the wrap and returns every name
// visited (the start included) plus the name left after the wrap.
struct Walk {
  std::vector<std::string> names;
  std::string after;
  bool ended = false;
};

Walk WalkSequence(const std::string& start, int first, int last, int maxSteps = 200000) {
  Walk walk;
  std::string path = start;
  walk.names.push_back(path);
  for (int step = 0; step < maxSteps; ++step) {
    int wrapped = NextFrameName(&path, first, last);
    if (wrapped == 1) {
      walk.after = path;
      walk.ended = true;
      return walk;
    }
    EXPECT_EQ(wrapped, 0);
    walk.names.push_back(path);
  }
  return walk;
}

TEST(NextFrameName, WalksAscendingFromFirstToLastThenWrapsToFirst) {
  Walk walk = WalkSequence(NativePath("pics/img008.bmp"), 8, 120);
  ASSERT_TRUE(walk.ended);
  ASSERT_EQ(walk.names.size(), 113u);
  EXPECT_EQ(walk.names[1], NativePath("pics/img009.bmp"));
  EXPECT_EQ(walk.names[2], NativePath("pics/img010.bmp"));
  EXPECT_EQ(walk.names.back(), NativePath("pics/img120.bmp"));
  EXPECT_EQ(walk.after, NativePath("pics/img008.bmp"));
}

TEST(NextFrameName, WalksDescendingWhenFirstIsAboveLast) {
  Walk walk = WalkSequence(NativePath("pics/img020.bmp"), 20, 10);
  ASSERT_TRUE(walk.ended);
  ASSERT_EQ(walk.names.size(), 11u);
  EXPECT_EQ(walk.names[1], NativePath("pics/img019.bmp"));
  EXPECT_EQ(walk.names.back(), NativePath("pics/img010.bmp"));
  EXPECT_EQ(walk.after, NativePath("pics/img020.bmp"));
}

TEST(NextFrameName, SingleStepsAndWraps) {
  struct Case {
    const char* path;
    int first;
    int last;
    const char* expected;
    int wrapped;
  };
  const Case cases[] = {
      {"x998.bmp", -1, -1, "x999.bmp", 0},
      {"x999.bmp", -1, -1, "x001.bmp", 1},
      {"a9.png", -1, -1, "a1.png", 1},
      {"a0.png", 0, 0, "a0.png", 1},        // first == last: one frame
      {"p005.bmp", 5, 5, "p005.bmp", 1},
      {"p005.bmp", 7, 3, "p004.bmp", 0},
      {"p003.bmp", 7, 3, "p007.bmp", 1},
      {"p000.bmp", 9, 0, "p009.bmp", 1},    // descending past 0 wraps, never prints -1
      {"v99999.bmp", 0, -1, "v00000.bmp", 1},
      {"seq/00004.bmp", 0, 4, "seq/00000.bmp", 1},
      {"seq/f0001", 1, 3, "seq/f0002", 0},
      {"img.bmp", -1, -1, "img.bmp", 1},    // no number: a sequence of one frame
      {"p99.bmp", 1, 150, "p01.bmp", 1},    // a last beyond the width ends at the width
  };
  for (const Case& c : cases) {
    std::string path = NativePath(c.path);
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.first) + ".." + std::to_string(c.last));
    EXPECT_EQ(NextFrameName(&path, c.first, c.last), c.wrapped);
    EXPECT_EQ(path, NativePath(c.expected));
  }
}

TEST(NextFrameName, WholeWidthWalkVisitsEveryNumberOnce) {
  for (int width = 1; width <= kMaxWidth; ++width) {
    SCOPED_TRACE(width);
    std::string start = "s" + std::string(static_cast<std::size_t>(width - 1), '0') + "1.bmp";
    Walk walk = WalkSequence(start, -1, -1);
    ASSERT_TRUE(walk.ended);
    EXPECT_EQ(walk.names.size(), static_cast<std::size_t>(LargestNumber(width)));
    EXPECT_EQ(walk.after, start);
  }
}

// A path of exactly the system's longest length (259 bytes on Windows, 4095 on Linux)
// ending in `name`: folders of at most 200 bytes, the last one filled up.
std::string PathAtTheLimit(const std::string& name) {
  std::string path;
  while (LongestPath() - path.size() - name.size() - 1 > 201) path += "/" + std::string(200, 'd');
  path += "/" + std::string(LongestPath() - path.size() - name.size() - 2, 'd') + "/" + name;
  EXPECT_EQ(path.size(), LongestPath());
  return NativePath(path);
}

TEST(MakeFrameName, RefusesANameLongerThanTheSystemTakesAndLeavesThePathUnchanged) {
  const std::string longest = PathAtTheLimit(std::string(52, 'f') + "7.bmp");
  struct Case {
    int n;
    bool fits;
    char digit;
  };
  // Width 1: any single digit fits; -1 prints two characters, one more than the system takes.
  const Case cases[] = {{3, true, '3'}, {10, true, '1'}, {-1, false, '7'}, {-9, false, '7'}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    std::string path = longest;
    EXPECT_EQ(MakeFrameName(&path, c.n), c.fits);
    std::string expected = longest;
    expected[expected.size() - 5] = c.digit;
    EXPECT_EQ(path, expected);
  }
}

TEST(MakeFrameName, Width5AtTheLimitRefusesNumbersWiderThanTheWidth) {
  std::string path = PathAtTheLimit(std::string(8, 'f') + "00123.bmp");
  const std::size_t tail = path.size() - 10;
  EXPECT_TRUE(MakeFrameName(&path, 99999));
  EXPECT_EQ(path.substr(tail), "f99999.bmp");
  EXPECT_FALSE(MakeFrameName(&path, -10000));  // six characters in a five-digit place
  EXPECT_EQ(path.substr(tail), "f99999.bmp");
  EXPECT_TRUE(MakeFrameName(&path, -1));  // -0001 keeps to the width
  EXPECT_EQ(path.substr(tail), "f-0001.bmp");
}

TEST(NextFrameName, WalkAtThePathLimitStaysWithinIt) {
  Walk walk = WalkSequence(PathAtTheLimit(std::string(7, 'f') + "8.bmp"), -1, -1);
  ASSERT_TRUE(walk.ended);
  ASSERT_EQ(walk.names.size(), 2u);  // 8, 9, then back to 1
  for (const std::string& name : walk.names) EXPECT_EQ(name.size(), LongestPath());
  EXPECT_EQ(walk.after.substr(walk.after.size() - 6), "f1.bmp");
}

TEST(NextFrameName, AFirstThatHasNoNameOfTheWidthEndsTheWalkUnchanged) {
  std::string path = NativePath("seq/p9.bmp");
  EXPECT_EQ(NextFrameName(&path, -5, 9), 1);
  EXPECT_EQ(path, NativePath("seq/p9.bmp"));
}

TEST(ParseSequencePath, FolderBeyondTheSystemsLimitIsNeverRenumbered) {
  // A folder part longer than the system splits whole (Windows: the runtime's 256-byte
  // component buffer with its terminator) is never cut: that would send every frame name
  // into another folder. Linux takes a folder as long as a path.
  std::string folder = "/" + std::string(LongestFolder() - 1, 'd') + "/";
  ASSERT_EQ(folder.size(), LongestFolder() + 1);
  folder = NativePath(folder);
  std::string path = folder + "a1";
  SequenceSpec split = ParseSequencePath(path.c_str());
  EXPECT_EQ(split.directory, folder);
  EXPECT_EQ(split.width, 0);
  EXPECT_TRUE(MakeFrameName(&path, 2));
  EXPECT_EQ(path, folder + "a1");
  EXPECT_EQ(NextFrameName(&path, -1, -1), 1);
  EXPECT_EQ(path, folder + "a1");

  // One byte less is split whole: the name's number counts.
  const SequenceSpec fits = ParseSequencePath((folder.substr(1) + "a1").c_str());
  EXPECT_EQ(fits.directory, folder.substr(1));
  EXPECT_EQ(fits.width, 1);
}

// The run search over real folders.
class FindSequenceRangeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  void AddNumbered(const std::string& prefix, int from, int to, int width, const std::string& extension) {
    for (int n = from; n <= to; ++n) {
      char digits[16];
      std::snprintf(digits, sizeof digits, width > 1 ? "%0*d" : "%*d", width, n);
      ASSERT_TRUE(dir_.AddFile(prefix + digits + extension)) << prefix << digits << extension;
    }
  }

  std::pair<int, int> Range(const std::string& name) const {
    int first = -2;
    int last = -2;
    std::string path = dir_.Join(name);
    FindSequenceRange(path.c_str(), &first, &last);
    return {first, last};
  }

  TempDir dir_;
};

using Span = std::pair<int, int>;

TEST_F(FindSequenceRangeTest, WorkedExampleFindsTheRunAroundTheNamedNumber) {
  AddNumbered("img", 8, 120, 3, ".bmp");
  AddNumbered("img", 200, 210, 3, ".bmp");
  ASSERT_TRUE(dir_.AddFile("img1000.bmp"));
  ASSERT_TRUE(dir_.AddFile("img5.bmp"));
  const std::pair<const char*, Span> cases[] = {
      {"img050.bmp", {8, 120}}, {"img008.bmp", {8, 120}}, {"img120.bmp", {8, 120}},
      {"img205.bmp", {200, 210}}, {"img5.bmp", {5, 5}},   {"img1000.bmp", {1000, 1000}},
      {"img150.bmp", {-1, -1}},   // not present
      {"img050.png", {-1, -1}},   // other extension
      {"img.bmp", {-1, -1}},      // no number: no listing
  };
  for (const auto& c : cases) EXPECT_EQ(Range(c.first), c.second) << c.first;

  // The default output name comes from the folder and the prefix.
  std::string named = dir_.Join("img050.bmp");
  EXPECT_EQ(DirectoryOf(named.c_str()) + SequencePrefix(named.c_str()) + ".avi", dir_.Join("img.avi"));
}

TEST_F(FindSequenceRangeTest, GapsEndTheRun) {
  AddNumbered("p", 1, 10, 3, ".bmp");
  AddNumbered("p", 12, 20, 3, ".bmp");
  EXPECT_EQ(Range("p015.bmp"), Span(12, 20));
  EXPECT_EQ(Range("p003.bmp"), Span(1, 10));
  EXPECT_EQ(Range("p011.bmp"), Span(-1, -1));
}

TEST_F(FindSequenceRangeTest, TellsWhereFramesGoOnPastTheGaps) {
  AddNumbered("p", 1, 10, 3, ".bmp");
  AddNumbered("p", 12, 20, 3, ".bmp");
  AddNumbered("p", 25, 25, 3, ".bmp");
  AddNumbered("p", 30, 30, 4, ".bmp");  // another width: no frame of this sequence
  struct Case {
    const char* name;
    int first, last, before, after;
  } cases[] = {
      {"p003.bmp", 1, 10, -1, 12}, {"p015.bmp", 12, 20, 10, 25},
      {"p025.bmp", 25, 25, 20, -1}, {"p011.bmp", -1, -1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SequenceRun run = FindSequenceRun(dir_.Join(c.name).c_str());
    EXPECT_EQ(run.first, c.first);
    EXPECT_EQ(run.last, c.last);
    EXPECT_EQ(run.before, c.before);
    EXPECT_EQ(run.after, c.after);
  }
}

TEST(OutputNameWithoutNumber, DropsTheWholeTrailingNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"shots/shot0007.bmp", "shots/shot.avi"}, {"f000002.bmp", "f.avi"},
      {"a/x12345678.png", "a/x.avi"},           {"dir/cover.bmp", "dir/cover.avi"},
      {"v2/take3_007.bmp", "v2/take3_.avi"},    {"123456.bmp", ".avi"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OutputNameWithoutNumber(NativePath(c.first).c_str()), NativePath(c.second)) << c.first;
  }
  // The five-digit rule of the Windows program stays as it is.
  EXPECT_EQ(DefaultOutputName("f000002.bmp"), "f0.avi");
}

TEST_F(FindSequenceRangeTest, OnlyNamesOfTheSameWidthCount) {
  AddNumbered("a", 1, 12, 1, ".png");  // a1..a9 (width 1), a10..a12 (width 2)
  EXPECT_EQ(Range("a7.png"), Span(1, 9));
  EXPECT_EQ(Range("a11.png"), Span(10, 12));
}

TEST_F(FindSequenceRangeTest, EveryWidthFromOneToFive) {
  for (int width = 1; width <= kMaxWidth; ++width) {
    SCOPED_TRACE(width);
    std::string prefix = "w" + std::to_string(width) + "_";
    int top = LargestNumber(width);
    AddNumbered(prefix, top - 3, top, width, ".bmp");
    AddNumbered(prefix, 0, 2, width, ".bmp");
    char name[32];
    std::snprintf(name, sizeof name, "%s%0*d.bmp", prefix.c_str(), width, top - 1);
    EXPECT_EQ(Range(name), Span(top - 3, top));
    std::snprintf(name, sizeof name, "%s%0*d.bmp", prefix.c_str(), width, 1);
    EXPECT_EQ(Range(name), Span(0, 2));
  }
}

TEST_F(FindSequenceRangeTest, AllDigitNamesHaveAnEmptyPrefix) {
  AddNumbered("", 0, 4, 5, ".bmp");
  ASSERT_TRUE(dir_.AddFile("x00005.bmp"));
  EXPECT_EQ(Range("00002.bmp"), Span(0, 4));
  std::string named = dir_.Join("00000.bmp");
  EXPECT_EQ(DirectoryOf(named.c_str()) + SequencePrefix(named.c_str()) + ".avi", dir_.Join(".avi"));
}

TEST_F(FindSequenceRangeTest, WithoutExtensionOnlyNamesWithoutExtensionCount) {
  ASSERT_TRUE(dir_.AddFile("f0001"));
  ASSERT_TRUE(dir_.AddFile("f0002.bmp"));
  ASSERT_TRUE(dir_.AddFile("f0000.bmp"));
  EXPECT_EQ(Range("f0001"), Span(1, 1));
  ASSERT_TRUE(dir_.AddFile("f0002"));
  EXPECT_EQ(Range("f0001"), Span(1, 2));
  EXPECT_EQ(Range("f0002.bmp"), Span(2, 2));
}

TEST_F(FindSequenceRangeTest, AFolderNamedLikeAMemberEndsTheRun) {
  AddNumbered("img", 50, 50, 3, ".bmp");
  ASSERT_TRUE(dir_.AddFolder("img051.bmp"));  // a folder named like a frame ends the run
  AddNumbered("img", 52, 53, 3, ".bmp");
  EXPECT_EQ(Range("img050.bmp"), Span(50, 50));
  EXPECT_EQ(Range("img052.bmp"), Span(52, 53));
}

TEST_F(FindSequenceRangeTest, NamesWithMoreAfterTheDigitsDoNotCount) {
  ASSERT_TRUE(dir_.AddFile("q001.bmp"));
  ASSERT_TRUE(dir_.AddFile("q002.bmp.bak"));
  ASSERT_TRUE(dir_.AddFile("q003.bmp"));
  ASSERT_TRUE(dir_.AddFile("xq002.bmp"));
  EXPECT_EQ(Range("q001.bmp"), Span(1, 1));
  EXPECT_EQ(Range("q003.bmp"), Span(3, 3));
}

TEST_F(FindSequenceRangeTest, StarPrefixStandsForNoPrefix) {
  AddNumbered("", 4, 6, 3, ".bmp");
  EXPECT_EQ(Range("*005.bmp"), Span(4, 6));
}

TEST_F(FindSequenceRangeTest, MissingFolderOrFileGivesNoRun) {
  EXPECT_EQ(Range("img001.bmp"), Span(-1, -1));
  EXPECT_EQ(Range(NativePath("absent/img001.bmp")), Span(-1, -1));
}

#ifndef _WIN32
// Linux opens frames under the names built from the given path, so a name in other
// letter case is another file and not part of the run.
TEST_F(FindSequenceRangeTest, LettersMatchWithRegardToCase) {
  ASSERT_TRUE(dir_.AddFile("img0001.bmp"));
  ASSERT_TRUE(dir_.AddFile("IMG0002.bmp"));
  ASSERT_TRUE(dir_.AddFile("img0002.BMP"));
  ASSERT_TRUE(dir_.AddFile("IMG0003.BMP"));
  ASSERT_TRUE(dir_.AddFile("IMG0004.BMP"));
  EXPECT_EQ(Range("img0001.bmp"), Span(1, 1));
  EXPECT_EQ(Range("IMG0003.BMP"), Span(3, 4));
}

TEST(ParseSequencePath, BackslashIsAnOrdinaryCharacterOnLinux) {
  SequenceSpec split = ParseSequencePath("pics\\img050.bmp");
  EXPECT_EQ(split.directory, "");
  EXPECT_EQ(split.prefix, "pics\\img");
  EXPECT_EQ(split.number, 50);
}
#endif

}  // namespace
}  // namespace zelvo
