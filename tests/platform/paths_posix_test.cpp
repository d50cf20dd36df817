// Existence probing and path resolution on Linux.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/path_buffer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using test::TempDir;

class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    ASSERT_TRUE(dir_.AddFile("shot0001.bmp", "BM"));
    ASSERT_TRUE(dir_.AddFolder("seq"));
    ASSERT_TRUE(dir_.AddFile("seq/f01.bmp"));
  }
  TempDir dir_;
};

TEST_F(PathsTest, ProbePathTellsFilesFromOtherEntries) {
  ASSERT_EQ(::mkfifo(dir_.Join("pipe").c_str(), 0644), 0);
  struct Case {
    std::string path;
    int expected;
  };
  const Case cases[] = {
      {dir_.Join("shot0001.bmp"), 1},
      {dir_.Join("seq/f01.bmp"), 1},
      {dir_.Join("seq"), 2},           // a folder does not open as a file
      {dir_.Join("seq") + "/", 2},     // the folder form
      {dir_.Join("shot0001.bmp/"), 2}, // the folder form of a file still names something
      {dir_.Join("pipe"), 2},          // no file to read frames from, and must not block
      {dir_.Join("missing.bmp"), 0},
      {dir_.Join("missing/"), 0},
      {dir_.Join("seq/missing.bmp"), 0},
      {dir_.Join("shot*.bmp"), 0},     // no wildcards on Linux
      {"/", 2},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ProbePath(c.path.c_str()), c.expected) << c.path;
}

TEST_F(PathsTest, ProbePathOfAnUnreadableFileIsTwo) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens every file; no unreadable file can be made";
  std::string path = dir_.Join("locked.bmp");
  ASSERT_TRUE(dir_.AddFile("locked.bmp"));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_EQ(ProbePath(path.c_str()), 2);
}

TEST_F(PathsTest, ResolveLongPathCopiesAnExistingPathUnchanged) {
  const std::string cases[] = {dir_.Join("shot0001.bmp"), dir_.Join("seq"), dir_.Join("seq") + "/",
                               dir_.Join("seq/../shot0001.bmp")};
  for (const std::string& path : cases) {
    char out[kPathSize];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(ResolveLongPath(out, path.c_str(), kPathSize), 1) << path;
    EXPECT_STREQ(out, path.c_str());
  }
}

TEST_F(PathsTest, ResolveLongPathRefusesMissingOrTooLongAndLeavesOutUntouched) {
  const std::string file = dir_.Join("shot0001.bmp");
  const int length = static_cast<int>(file.size());
  struct Case {
    std::string path;
    int limit;
    int expected;
  };
  const Case cases[] = {
      {dir_.Join("missing.bmp"), kPathSize, 0},
      {"", kPathSize, 0},
      {file, length, 0},      // the terminator would not fit
      {file, length + 1, 1},  // exactly fits
      {file, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " limit " + std::to_string(c.limit));
    char out[kPathSize];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(ResolveLongPath(out, c.path.c_str(), c.limit), c.expected);
    if (c.expected == 1) {
      EXPECT_STREQ(out, c.path.c_str());
    } else {
      EXPECT_EQ(out[0], 'x');
    }
  }
}

TEST_F(PathsTest, ResolveLongPathTakesAnyPathWithinTheCallersLimit) {
  // An existing file reached through a path of 260 bytes or more ("dir/./././..."): the
  // Windows limit is no Linux one, so a buffer that holds it gets it; a smaller one none.
  std::string path = dir_.path();
  while (path.size() + std::strlen("/shot0001.bmp") < static_cast<std::size_t>(kPathSize)) path += "/.";
  path += "/shot0001.bmp";
  ASSERT_GE(path.size(), static_cast<std::size_t>(kPathSize));
  ASSERT_EQ(ProbePath(path.c_str()), 1);
  char out[kPathSize * 2];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(ResolveLongPath(out, path.c_str(), static_cast<int>(sizeof out)), 1);
  EXPECT_EQ(std::string(out), path);
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(ResolveLongPath(out, path.c_str(), static_cast<int>(path.size())), 0);
  EXPECT_EQ(out[0], 'x');
}

}  // namespace
}  // namespace zelvo
