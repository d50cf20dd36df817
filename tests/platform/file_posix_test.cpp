// What stands at a path on Linux, as the job sees it before it writes: files, links to
// files, folders, pipes and devices, and links to those.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/path_buffer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

TEST(OutputKinds, LinksCountByWhatTheyEndAt) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(dir.AddFile("file", "x"));
  ASSERT_TRUE(dir.AddFolder("folder"));
  ASSERT_EQ(mkfifo(dir.Join("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("file", dir.Join("to-file").c_str()), 0);
  ASSERT_EQ(symlink("to-file", dir.Join("to-link").c_str()), 0);
  ASSERT_EQ(symlink("folder", dir.Join("to-folder").c_str()), 0);
  ASSERT_EQ(symlink("nothing", dir.Join("dangling").c_str()), 0);
  struct Case {
    const char* name;
    OutputKind kind;
    const char* target;  // where the new file goes
    bool listedAsFile;
  };
  const Case cases[] = {
      {"file", OutputKind::kFile, "file", true},          {"to-file", OutputKind::kFile, "file", true},
      {"to-link", OutputKind::kFile, "file", true},       {"dangling", OutputKind::kFile, "nothing", false},
      {"folder", OutputKind::kOther, "folder", false},    {"to-folder", OutputKind::kOther, "folder", false},
      {"fifo", OutputKind::kOther, "fifo", false},        {"absent", OutputKind::kAbsent, "absent", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProbeOutput(dir.Join(c.name).c_str()), c.kind);
    char target[kPathSize];
    ASSERT_TRUE(ResolveOutputTarget(dir.Join(c.name).c_str(), target));
    EXPECT_EQ(std::string(target), dir.Join(c.target));
    bool listed = false;
    FolderListing listing(dir.path(), "");
    while (const char* name = listing.Next()) {
      if (std::string(name) == c.name) listed = listing.IsFile();
    }
    EXPECT_EQ(listed, c.listedAsFile);
  }
  EXPECT_EQ(ProbeOutput("/dev/null"), OutputKind::kOther);
  EXPECT_EQ(FileIdentity(dir.Join("to-link").c_str()), FileIdentity(dir.Join("file").c_str()));
  EXPECT_NE(FileIdentity(dir.Join("folder").c_str()), FileIdentity(dir.Join("file").c_str()));
  EXPECT_EQ(FileIdentity(dir.Join("absent").c_str()), "");
}

TEST(OutputKinds, ANewFileTakesTheOlderOnesMode) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(dir.AddFile("old", "x"));
  ASSERT_TRUE(dir.AddFile("new", "y"));
  for (mode_t mode : {0600, 0640, 0755, 0444}) {
    ASSERT_EQ(chmod(dir.Join("old").c_str(), mode), 0);
    EXPECT_TRUE(CopyFileMode(dir.Join("old").c_str(), dir.Join("new").c_str()));
    struct stat st;
    ASSERT_EQ(stat(dir.Join("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
}

}  // namespace
}  // namespace zelvo
