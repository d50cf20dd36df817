// What stands at a path on Windows, as the job sees it before it writes: one file under
// its many spellings (letter case, 8.3 short names, '/' separators, "." and ".."), other
// files, folders and devices; and temporary names that two creators never share.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/path_buffer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

std::string ShortName(const std::string& path) {
  char name[kPathSize] = {};
  const DWORD n = GetShortPathNameA(path.c_str(), name, kPathSize);
  return n > 0 && n < static_cast<DWORD>(kPathSize) ? std::string(name) : std::string();
}

TEST(OutputKindsWin32, EverySpellingOfAFileIsThatFile) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(dir.AddFolder("Long Folder Name"));
  ASSERT_TRUE(dir.AddFile("Long Folder Name/Long File Name.bmp", "frame"));
  ASSERT_TRUE(dir.AddFile("Long Folder Name/Other File.bmp", "frame"));
  const std::string file = dir.Join("Long Folder Name\\Long File Name.bmp");
  std::string upper = file, slashes = file;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; });
  std::replace(slashes.begin(), slashes.end(), '\\', '/');
  const std::string identity = FileIdentity(file.c_str());
  ASSERT_FALSE(identity.empty());
  const std::string spellings[] = {
      upper, slashes, ShortName(file), dir.Join("Long Folder Name\\.\\..\\Long Folder Name\\long file name.BMP")};
  for (const std::string& spelling : spellings) {
    SCOPED_TRACE(spelling);
    ASSERT_NE(spelling, file);
    EXPECT_EQ(FileIdentity(spelling.c_str()), identity);
    EXPECT_EQ(ProbeOutput(spelling.c_str()), OutputKind::kFile);
  }
  struct Case {
    std::string path;
    OutputKind kind;
    bool known;  // FileIdentity names something (never the file above); a device has none
  };
  const Case others[] = {
      {dir.Join("Long Folder Name\\Other File.bmp"), OutputKind::kFile, true},
      {dir.Join("Long Folder Name"), OutputKind::kOther, true},
      {dir.Join("Long Folder Name\\"), OutputKind::kOther, true},
      {dir.Join("Long Folder Name\\absent.avi"), OutputKind::kAbsent, false},
      {"NUL", OutputKind::kOther, false},
  };
  for (const Case& c : others) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ProbeOutput(c.path.c_str()), c.kind);
    const std::string other = FileIdentity(c.path.c_str());
    EXPECT_EQ(!other.empty(), c.known);
    EXPECT_NE(other, identity);
  }
}

// Two creators race for the temporary names beside one 259-byte output named "a", whose
// one byte of room leaves 35 names: each name goes to one of them only, and every name is
// handed out before the first refusal.
TEST(TemporaryFileWin32, RacingCreatorsNeverShareAName) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string folder = test::MakeFoldersToLength(dir.path(), kPathSize - 2);
  ASSERT_FALSE(folder.empty());
  const std::string output = folder + "a";
  ASSERT_EQ(output.size(), static_cast<std::size_t>(kPathSize) - 1);
  std::vector<std::string> taken[2];
  FileResult last[2];
  auto creator = [&](int who) {
    for (;;) {
      const std::string name = CreateTemporaryBeside(output.c_str(), &last[who]);
      if (name.empty()) return;
      taken[who].push_back(name);
    }
  };
  std::thread first(creator, 0), second(creator, 1);
  first.join();
  second.join();
  std::set<std::string> all(taken[0].begin(), taken[0].end());
  all.insert(taken[1].begin(), taken[1].end());
  EXPECT_EQ(all.size(), taken[0].size() + taken[1].size()) << "a name was handed out twice";
  EXPECT_EQ(all.size(), 35u);
  EXPECT_EQ(last[0].error, EEXIST);
  EXPECT_EQ(last[1].error, EEXIST);
  for (const std::string& name : all) {
    EXPECT_EQ(name.size(), output.size()) << name;
    EXPECT_TRUE(PathExists(name.c_str())) << name;
  }
}

}  // namespace
}  // namespace zelvo
