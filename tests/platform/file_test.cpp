// Temporary files beside an output: created new in the same folder, never an existing
// file, always within the path limit (also for outputs right at it), and named after the
// process and the output's extension while there is room.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

#include "platform/file.h"
#include "platform/path_buffer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

TEST(TemporaryFile, IsCreatedBesideTheOutputWithinTheLimit) {
  const std::size_t limit = LongestPath();
  struct Case {
    std::size_t folderLength;  // with its trailing separator
    std::size_t nameLength;    // of the output's file name
  };
  // From plenty of room down to outputs at the limit named "a.avi", ".avi" and "a".
  const Case cases[] = {{0, 9},         {0, 200},         {limit - 19, 19}, {limit - 9, 9},
                        {limit - 7, 5}, {limit - 5, 5},   {limit - 4, 4},   {limit - 1, 1}};
  for (const Case& c : cases) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string folder = c.folderLength > 0 ? test::MakeFoldersToLength(dir.path(), c.folderLength) : dir.Join("");
    ASSERT_FALSE(folder.empty());
    SCOPED_TRACE(folder.size());
    SCOPED_TRACE(c.nameLength);
    const std::string name = c.nameLength >= 4 ? std::string(c.nameLength - 4, 'n') + ".avi" : std::string(c.nameLength, 'n');
    const std::string output = folder + name;
    FileResult result = FileResult::System(-1);
    const std::string temporary = CreateTemporaryBeside(output.c_str(), &result);
    ASSERT_FALSE(temporary.empty()) << result.error;
    EXPECT_TRUE(result);
    EXPECT_TRUE(PathExists(temporary.c_str()));
    EXPECT_LE(temporary.size(), limit);
    EXPECT_EQ(temporary.compare(0, folder.size(), folder), 0);
    EXPECT_EQ(temporary.find(test::PathSeparator(), folder.size()), std::string::npos);
    EXPECT_NE(temporary, output);
    if (folder.size() + 40 <= limit) {
      // With room, the name tells whose file it is and keeps the handler's extension.
      const std::string tag = temporary.substr(folder.size());
      EXPECT_EQ(tag.rfind("~zelvo", 0), 0u) << tag;
      char pid[32];
      std::snprintf(pid, sizeof pid, "%lx", CurrentProcessId());
      EXPECT_NE(tag.find(pid), std::string::npos) << tag;
      EXPECT_EQ(tag.substr(tag.size() - 4), ".avi");
    }
    EXPECT_TRUE(RemoveFile(temporary.c_str()));
  }
}

TEST(TemporaryFile, NeverTakesAnExistingName) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  // A long folder leaves two bytes for the name: the short forms collide quickly, and
  // every name handed out must still be a new file.
  const std::string within = test::MakeFoldersToLength(dir.path(), LongestPath() - 2);
  ASSERT_FALSE(within.empty());
  const std::string folder = within.substr(0, within.size() - 1);
  const std::string output = folder + test::PathSeparator() + "ab";
  std::set<std::string> taken;
  for (int i = 0; i < 12; ++i) {
    const std::string temporary = CreateTemporaryBeside(output.c_str(), nullptr);
    if (temporary.empty()) break;  // every short name is in use
    EXPECT_TRUE(taken.insert(temporary).second) << temporary;
  }
  EXPECT_GE(taken.size(), 8u);
  // One byte of room (an output at the limit named "a"): with every hex digit taken, other
  // names are still tried.
  const std::string deeper = folder + "x";
  ASSERT_TRUE(dir.AddFolder(deeper.substr(dir.Join("").size())));
  const std::string one = deeper + test::PathSeparator() + "a";
  ASSERT_EQ(one.size(), LongestPath());
  for (char c : std::string("0123456789abcdef")) {
    ASSERT_TRUE(dir.AddFile(deeper.substr(dir.Join("").size()) + test::PathSeparator() + c));
  }
  const std::string temporary = CreateTemporaryBeside(one.c_str(), nullptr);
  EXPECT_EQ(temporary.size(), one.size()) << temporary;
}

// One byte of room (an output at the limit named "a") leaves 35 names: with all but one in
// use, the free one is found, whichever it is.
TEST(TemporaryFile, OneByteOfRoomTriesEveryName) {
  const std::string names = "0123456789bcdefghijklmnopqrstuvwxyz";  // "a" is the output
  for (char free : std::string("01yz")) {
    SCOPED_TRACE(free);
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string folder = test::MakeFoldersToLength(dir.path(), LongestPath() - 1);
    ASSERT_FALSE(folder.empty());
    for (char taken : names) {
      if (taken == free) continue;
      ASSERT_TRUE(dir.AddFile(folder.substr(dir.path().size() + 1) + taken, "older"));
    }
    FileResult result = FileResult::System(-1);
    EXPECT_EQ(CreateTemporaryBeside((folder + "a").c_str(), &result), folder + free);
    EXPECT_TRUE(result);
    EXPECT_EQ(CreateTemporaryBeside((folder + "a").c_str(), &result), "");
    EXPECT_EQ(result.kind, FileFailure::kSystem);
    EXPECT_EQ(result.error, EEXIST);
  }
}

}  // namespace
}  // namespace zelvo
