// Windows-only cases for sequence names and paths: drive letters, backslashes, letter
// case, short 8.3 names, and Shift-JIS names whose second byte is 0x5C (表 95 5C,
// ソ 83 5C, 能 94 5C), which a byte-wise search for '\\' would cut in half.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/paths.h"
#include "sequence/sequence.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using test::TempDir;

const char kHyo[] = "\x95\x5C";  // 表
const char kSo[] = "\x83\x5C";   // ソ
const char kNo[] = "\x94\x5C";   // 能

bool HasShiftJis() { return GetACP() == 932; }

#define REQUIRE_SHIFT_JIS()                                                                  \
  if (!HasShiftJis()) GTEST_SKIP() << "needs ANSI code page 932 (run with LC_ALL=ja_JP.UTF-8)"

TEST(ParseSequencePathWin32, SplitsDriveAndBothSeparators) {
  struct Case {
    const char* path;
    const char* directory;
    const char* prefix;
    int number;
    int width;
    const char* extension;
  };
  const Case cases[] = {
      {"C:\\pics\\img050.bmp", "C:\\pics\\", "img", 50, 3, ".bmp"},
      {"C:img5.bmp", "C:", "img", 5, 1, ".bmp"},
      {"C:/pics/a12.png", "C:/pics/", "a", 12, 2, ".png"},
      {"C:\\pics/sub\\x0001", "C:\\pics/sub\\", "x", 1, 4, ""},
      {"\\\\server\\share\\f00001.bmp", "\\\\server\\share\\", "f", 1, 5, ".bmp"},
      {"C:", "C:", "", 0, 0, ""},
      {"C:\\dir.x\\a", "C:\\dir.x\\", "a", 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SequenceSpec split = ParseSequencePath(c.path);
    EXPECT_EQ(split.directory, c.directory);
    EXPECT_EQ(split.prefix, c.prefix);
    EXPECT_EQ(split.width, c.width);
    if (c.width > 0) {
      EXPECT_EQ(split.number, c.number);
    }
    EXPECT_EQ(split.extension, c.extension);
  }
  EXPECT_FALSE(HasExtension("C:\\dir.x\\a"));
  EXPECT_TRUE(HasExtension("C:a."));
}

TEST(ParseSequencePathWin32, TrailByte5CIsNoSeparator) {
  REQUIRE_SHIFT_JIS();
  const std::string hyo = kHyo;
  const std::string so = kSo;
  const std::string no = kNo;
  struct Case {
    std::string path;
    std::string directory;
    std::string prefix;
    int width;
    std::string extension;
  };
  const Case cases[] = {
      {"C:\\x\\" + so + "001.bmp", "C:\\x\\", so, 3, ".bmp"},
      {"C:\\" + hyo + "\\a01.bmp", "C:\\" + hyo + "\\", "a", 2, ".bmp"},
      {"C:\\" + hyo + "\\" + so + no + "0007", "C:\\" + hyo + "\\", so + no, 4, ""},
      {"C:\\" + no, "C:\\", no, 0, ""},
      {hyo + ".d\\" + so, hyo + ".d\\", so, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SequenceSpec split = ParseSequencePath(c.path.c_str());
    EXPECT_EQ(split.directory, c.directory);
    EXPECT_EQ(split.prefix, c.prefix);
    EXPECT_EQ(split.width, c.width);
    EXPECT_EQ(split.extension, c.extension);
  }
  EXPECT_FALSE(HasExtension((hyo + ".d\\" + so).c_str()));

  std::string path = "C:\\" + hyo + "\\" + so + "001.bmp";
  EXPECT_TRUE(MakeFrameName(&path, 5));
  EXPECT_EQ(path, "C:\\" + hyo + "\\" + so + "005.bmp");
  EXPECT_EQ(NextFrameName(&path, 1, 6), 0);
  EXPECT_EQ(path, "C:\\" + hyo + "\\" + so + "006.bmp");
  EXPECT_EQ(DirectoryOf(path.c_str()), "C:\\" + hyo + "\\");
  EXPECT_EQ(SequencePrefix(path.c_str()), so);
}

class SequenceSearchWin32 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  std::pair<int, int> Range(const std::string& relative) const {
    int first = -2;
    int last = -2;
    std::string path = dir_.Join(relative);
    FindSequenceRange(path.c_str(), &first, &last);
    return {first, last};
  }

  TempDir dir_;
};

using Span = std::pair<int, int>;

TEST_F(SequenceSearchWin32, LetterCaseDoesNotSplitARun) {
  ASSERT_TRUE(dir_.AddFile("IMG0001.BMP"));
  ASSERT_TRUE(dir_.AddFile("img0002.bmp"));
  ASSERT_TRUE(dir_.AddFile("Img0003.Bmp"));
  ASSERT_TRUE(dir_.AddFile("img0005.bmp"));
  EXPECT_EQ(Range("img0002.bmp"), Span(1, 3));
  EXPECT_EQ(Range("IMG0001.BMP"), Span(1, 3));
  EXPECT_EQ(Range("iMg0005.bMp"), Span(5, 5));
}

TEST_F(SequenceSearchWin32, ShortAliasMatchesDoNotJoinTheRun) {
  // The search also matches short names: img12345678.bmp has an 8-character alias that
  // fits img?????.bmp, but its long name holds more than five digits.
  ASSERT_TRUE(dir_.AddFile("img12344.bmp"));
  ASSERT_TRUE(dir_.AddFile("img12345678.bmp"));
  EXPECT_EQ(Range("img12344.bmp"), Span(12344, 12344));
}

TEST_F(SequenceSearchWin32, DoubleByteNamesEndingIn5CAreSearched) {
  REQUIRE_SHIFT_JIS();
  const std::string hyo = kHyo;
  const std::string so = kSo;
  const std::string no = kNo;
  ASSERT_TRUE(dir_.AddFolder(hyo));
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(dir_.AddFile(hyo + "\\" + so + "00" + std::to_string(n) + ".bmp"));
  ASSERT_TRUE(dir_.AddFolder(hyo + "\\" + so + "004.bmp"));  // a folder ends the run
  ASSERT_TRUE(dir_.AddFile(hyo + "\\" + no + "002.bmp"));
  ASSERT_TRUE(dir_.AddFile(hyo + "\\" + no + "003.bmp"));
  ASSERT_TRUE(dir_.AddFile(hyo + "\\" + so + "006.bmp"));
  EXPECT_EQ(Range(hyo + "\\" + so + "002.bmp"), Span(1, 3));
  EXPECT_EQ(Range(hyo + "\\" + so + "006.bmp"), Span(6, 6));
  EXPECT_EQ(Range(hyo + "\\" + no + "003.bmp"), Span(2, 3));
  EXPECT_EQ(Range(hyo + "\\" + so + "005.bmp"), Span(-1, -1));
}

class PathsWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(dir_.AddFolder("Long Folder Name"));
    ASSERT_TRUE(dir_.AddFile("Long Folder Name\\shot0001 long.bmp", "BM"));
  }
  // The temporary folder as the system stores it, so expectations do not depend on
  // whether the system's temp path was given in short form.
  std::string StoredTempDir() const {
    char out[kPathSize];
    if (!ResolveLongPath(out, dir_.path().c_str(), kPathSize)) return std::string();
    return out;
  }
  TempDir dir_;
};

TEST_F(PathsWin32, ProbePathResults) {
  struct Case {
    std::string path;
    int expected;
  };
  const Case cases[] = {
      {dir_.Join("Long Folder Name\\shot0001 long.bmp"), 1},
      {dir_.Join("LONG FOLDER NAME\\SHOT0001 LONG.BMP"), 1},
      {dir_.Join("Long Folder Name"), 2},
      {dir_.Join("Long Folder Name\\"), 2},
      {dir_.Join("Long Folder Name\\missing.bmp"), 0},
      {dir_.Join("missing\\"), 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ProbePath(c.path.c_str()), c.expected) << c.path;
  // A wildcard finds entries but does not open: never a readable file.
  EXPECT_NE(ProbePath(dir_.Join("Long Folder Name\\shot*.bmp").c_str()), 1);
}

TEST_F(PathsWin32, ProbePathOfANameEndingInTrailByte5CIsAFile) {
  REQUIRE_SHIFT_JIS();
  const std::string hyo = kHyo;
  ASSERT_TRUE(dir_.AddFile(hyo, "x"));
  ASSERT_TRUE(dir_.AddFolder(std::string(kSo)));
  EXPECT_EQ(ProbePath(dir_.Join(hyo).c_str()), 1);
  EXPECT_EQ(ProbePath(dir_.Join(kSo).c_str()), 2);
  EXPECT_EQ(ProbePath((dir_.Join(kSo) + "\\").c_str()), 2);
  EXPECT_EQ(ProbePath(dir_.Join(kNo).c_str()), 0);
}

TEST_F(PathsWin32, ResolveLongPathRestoresLongNamesAndStoredCase) {
  const std::string stored = StoredTempDir();
  ASSERT_FALSE(stored.empty());
  const std::string longPath = dir_.Join("Long Folder Name\\shot0001 long.bmp");
  const std::string expected = stored + "\\Long Folder Name\\shot0001 long.bmp";
  char shortPath[kPathSize];
  DWORD shortLength = GetShortPathNameA(longPath.c_str(), shortPath, sizeof shortPath);
  ASSERT_GT(shortLength, 0u);
  ASSERT_LT(shortLength, sizeof shortPath);
  EXPECT_NE(std::string(shortPath), longPath);

  const std::string upper = stored + "\\LONG FOLDER NAME\\SHOT0001 LONG.BMP";
  for (const std::string& given : {std::string(shortPath), upper, longPath}) {
    SCOPED_TRACE(given);
    char out[kPathSize];
    ASSERT_EQ(ResolveLongPath(out, given.c_str(), kPathSize), 1);
    EXPECT_EQ(std::string(out), expected);
    // The first component (the drive) stays as given.
    EXPECT_EQ(std::string(out, 2), given.substr(0, 2));
  }
}

TEST_F(PathsWin32, ResolveLongPathLimitAndMissing) {
  const std::string stored = StoredTempDir();
  ASSERT_FALSE(stored.empty());
  const std::string path = stored + "\\Long Folder Name\\shot0001 long.bmp";
  const int length = static_cast<int>(path.size());
  struct Case {
    std::string path;
    int limit;
    int expected;
  };
  const Case cases[] = {
      {path, length, 0},
      {path, length + 1, 1},
      {stored + "\\Long Folder Name\\missing.bmp", kPathSize, 0},
      {stored + "\\Long Folder Name\\", kPathSize, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " limit " + std::to_string(c.limit));
    char out[kPathSize];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(ResolveLongPath(out, c.path.c_str(), c.limit), c.expected);
    if (c.expected == 1) {
      EXPECT_EQ(std::string(out), c.path);
    } else {
      EXPECT_EQ(out[0], 'x');
    }
  }
}

TEST_F(PathsWin32, ResolveLongPathKeepsARelativeNameWithoutSeparatorAsTyped) {
  char previous[kPathSize];
  ASSERT_GT(GetCurrentDirectoryA(sizeof previous, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.Join("Long Folder Name").c_str()));
  char out[kPathSize];
  int plain = ResolveLongPath(out, "shot0001 long.bmp", kPathSize);
  std::string plainOut = plain ? out : "";
  int upper = ResolveLongPath(out, "SHOT0001 LONG.BMP", kPathSize);
  std::string upperOut = upper ? out : "";
  int missing = ResolveLongPath(out, "missing.bmp", kPathSize);
  SetCurrentDirectoryA(previous);
  EXPECT_EQ(plain, 1);
  EXPECT_EQ(plainOut, "shot0001 long.bmp");
  EXPECT_EQ(upper, 1);
  EXPECT_EQ(upperOut, "SHOT0001 LONG.BMP");
  EXPECT_EQ(missing, 0);
}

TEST_F(PathsWin32, ResolveLongPathThroughDoubleByteNamesEndingIn5C) {
  REQUIRE_SHIFT_JIS();
  const std::string stored = StoredTempDir();
  ASSERT_FALSE(stored.empty());
  const std::string hyo = kHyo;
  const std::string so = kSo;
  ASSERT_TRUE(dir_.AddFolder(hyo));
  ASSERT_TRUE(dir_.AddFolder(hyo + "\\" + so + "Dir"));
  ASSERT_TRUE(dir_.AddFile(hyo + "\\" + so + "Dir\\" + so + "001.bmp"));
  const std::string expected = stored + "\\" + hyo + "\\" + so + "Dir\\" + so + "001.bmp";
  const std::string given = stored + "\\" + hyo + "\\" + so + "DIR\\" + so + "001.BMP";
  char out[kPathSize];
  ASSERT_EQ(ResolveLongPath(out, given.c_str(), kPathSize), 1);
  EXPECT_EQ(std::string(out), expected);

  char shortPath[kPathSize];
  DWORD shortLength = GetShortPathNameA(expected.c_str(), shortPath, sizeof shortPath);
  ASSERT_GT(shortLength, 0u);
  ASSERT_LT(shortLength, sizeof shortPath);
  ASSERT_EQ(ResolveLongPath(out, shortPath, kPathSize), 1);
  EXPECT_EQ(std::string(out), expected);
}

}  // namespace
}  // namespace zelvo
