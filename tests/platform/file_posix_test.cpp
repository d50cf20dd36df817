// What stands at a path on Linux, as the job sees it before it writes, and the output
// file's guarantees where other users share the folder: links followed only where the
// system would follow them, a temporary file never readable by more people than the file
// it replaces, a swapped name noticed, a renamed folder followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include <cstdio>
#include <string>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/output_file.h"
#include "platform/path_buffer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

mode_t ModeOf(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? st.st_mode & 07777 : 0;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string Content(const std::string& path) {
  std::string text;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

bool WriteThrough(const OutputFile& output, const std::string& text) {
  return ::pwrite(output.descriptor(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

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
  ASSERT_EQ(symlink("folder/../file", dir.Join("through").c_str()), 0);
  struct Case {
    const char* name;
    OutputKind probed;    // ProbeOutput: the command line's check of -o
    OutputKind resolved;  // OutputFile: what stands where the new file goes
    const char* target;
    bool listedAsFile;
  };
  const Case cases[] = {
      {"file", OutputKind::kFile, OutputKind::kFile, "file", true},
      {"to-file", OutputKind::kFile, OutputKind::kFile, "file", true},
      {"to-link", OutputKind::kFile, OutputKind::kFile, "file", true},
      {"dangling", OutputKind::kFile, OutputKind::kAbsent, "nothing", false},
      {"through", OutputKind::kFile, OutputKind::kFile, "folder/../file", true},
      {"folder", OutputKind::kOther, OutputKind::kOther, "folder", false},
      {"to-folder", OutputKind::kOther, OutputKind::kOther, "folder", false},
      {"fifo", OutputKind::kOther, OutputKind::kOther, "fifo", false},
      {"absent", OutputKind::kAbsent, OutputKind::kAbsent, "absent", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProbeOutput(dir.Join(c.name).c_str()), c.probed);
    OutputFile output;
    ASSERT_TRUE(output.Open(dir.Join(c.name).c_str()));
    EXPECT_EQ(output.kind(), c.resolved);
    EXPECT_EQ(output.target(), dir.Join(c.target));
    EXPECT_EQ(output.SameFileAs(dir.Join("file").c_str()), c.resolved == OutputKind::kFile);
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
  OutputFile output;
  EXPECT_EQ(output.Open(dir.Join("absent/out.avi").c_str()).error, ENOENT);
  EXPECT_EQ(output.Open(dir.Join("file/out.avi").c_str()).error, ENOTDIR);
}

// The system's rule for links (fs.protected_symlinks), whether or not it is switched on:
// in a folder everyone may write to that has the sticky bit, only a link of the user's
// own or of the folder's owner is followed, at the end of the path or on the way.
TEST(OutputFileLinks, AnotherUsersLinkInASharedStickyFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give links to another user";
  constexpr uid_t kOther = 54321;
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(dir.AddFolder("private"));
  ASSERT_TRUE(dir.AddFile("private/secret", "root only"));
  struct Case {
    const char* name;
    mode_t folderMode;
    uid_t linkOwner;
    const char* path;  // from the shared folder
    bool followed;
  };
  const Case cases[] = {
      {"another user's, sticky and world-writable", 01777, kOther, "out.avi", false},
      {"another user's, to a folder on the way", 01777, kOther, "way/secret", false},
      {"the user's own", 01777, 0, "out.avi", true},
      {"another user's, world-writable without the sticky bit", 0777, kOther, "out.avi", true},
      {"another user's, sticky but writable by the group only", 01770, kOther, "out.avi", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir shared;
    ASSERT_TRUE(shared.ok());
    ASSERT_EQ(::chmod(shared.path().c_str(), c.folderMode), 0);
    ASSERT_EQ(symlink(dir.Join("private/secret").c_str(), shared.Join("out.avi").c_str()), 0);
    ASSERT_EQ(symlink(dir.Join("private").c_str(), shared.Join("way").c_str()), 0);
    ASSERT_EQ(::lchown(shared.Join("out.avi").c_str(), c.linkOwner, c.linkOwner), 0);
    ASSERT_EQ(::lchown(shared.Join("way").c_str(), c.linkOwner, c.linkOwner), 0);
    OutputFile output;
    const FileResult opened = output.Open(shared.Join(c.path).c_str());
    if (c.followed) {
      EXPECT_TRUE(opened);
      EXPECT_EQ(output.kind(), OutputKind::kFile);
      EXPECT_TRUE(output.SameFileAs(dir.Join("private/secret").c_str()));
    } else {
      EXPECT_EQ(opened.kind, FileFailure::kLinkRefused);
      const std::string link = std::string(c.path) == "out.avi" ? "out.avi" : "way";
      EXPECT_EQ(output.link(), shared.Join(link));
      EXPECT_EQ(output.target(), dir.Join(link == "way" ? "private" : "private/secret"));
      EXPECT_FALSE(output.CreateTemporary());
    }
    EXPECT_EQ(Content(dir.Join("private/secret")), "root only");
  }
}

// Never readable by more people than the file it replaces while it is written; in the
// end the older file's bits, or the umask's for a new output.
TEST(OutputFileModes, TheTemporaryFileIsNeverWiderThanTheFileItReplaces) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  const mode_t mask = ::umask(022);
  struct Case {
    mode_t older;  // 0: no older file
    mode_t during;
    mode_t after;
  };
  const Case cases[] = {{0600, 0600, 0600}, {0640, 0640, 0640}, {0755, 0755, 0755}, {0444, 0444, 0444}, {0, 0600, 0644}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.older);
    const std::string path = dir.Join("out.avi");
    ::unlink(path.c_str());
    if (c.older != 0) {
      ASSERT_TRUE(dir.AddFile("out.avi", "older"));
      ASSERT_EQ(::chmod(path.c_str(), c.older), 0);
    }
    OutputFile output;
    ASSERT_TRUE(output.Open(path.c_str()));
    ASSERT_TRUE(output.CreateTemporary());
    EXPECT_EQ(ModeOf(output.descriptor()), c.during);
    EXPECT_EQ(ModeOf(output.temporaryPath()), c.during);
    ASSERT_TRUE(WriteThrough(output, "movie"));
    ASSERT_TRUE(output.Commit());
    EXPECT_EQ(ModeOf(path), c.after);
    EXPECT_EQ(Content(path), "movie");
  }
  ::umask(mask);
}

// The temporary name handed to another file meanwhile (by a member of the folder's group,
// say): the job notices, replaces nothing, changes nothing of that file, and leaves it.
TEST(OutputFileSwaps, ATemporaryNameThatNamesAnotherFileIsNotPutInPlace) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(dir.AddFile("victim", "someone's file"));
  ASSERT_EQ(::chmod(dir.Join("victim").c_str(), 0600), 0);
  for (bool link : {false, true}) {
    SCOPED_TRACE(link ? "a link" : "another file");
    ASSERT_TRUE(dir.AddFile("out.avi", "older"));
    OutputFile output;
    ASSERT_TRUE(output.Open(dir.Join("out.avi").c_str()));
    ASSERT_TRUE(output.CreateTemporary());
    const std::string temporary = output.temporaryPath();
    ASSERT_EQ(::unlink(temporary.c_str()), 0);
    if (link) {
      ASSERT_EQ(symlink(dir.Join("victim").c_str(), temporary.c_str()), 0);
    } else {
      ASSERT_TRUE(dir.AddFile("other", "planted"));
      ASSERT_EQ(::rename(dir.Join("other").c_str(), temporary.c_str()), 0);
    }
    ASSERT_TRUE(WriteThrough(output, "movie"));
    EXPECT_EQ(output.Commit().kind, FileFailure::kSwapped);
    output.Discard();
    EXPECT_EQ(Content(dir.Join("out.avi")), "older");
    EXPECT_EQ(Content(dir.Join("victim")), "someone's file");
    EXPECT_EQ(ModeOf(dir.Join("victim")), 0600u);
    EXPECT_EQ(Content(temporary), link ? "someone's file" : "planted");  // left to whoever put it there
    ASSERT_EQ(::unlink(temporary.c_str()), 0);
  }
}

// Every step after Open works in the folder the output was found in, by descriptor: a
// folder renamed during the job takes the movie (or its removal) along.
TEST(OutputFileFolder, ARenamedFolderTakesTheMovieAlong) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  for (bool complete : {true, false}) {
    SCOPED_TRACE(complete ? "completed" : "discarded");
    ASSERT_TRUE(dir.AddFolder("before"));
    OutputFile output;
    ASSERT_TRUE(output.Open(dir.Join("before/out.avi").c_str()));
    ASSERT_TRUE(output.CreateTemporary());
    ASSERT_EQ(::rename(dir.Join("before").c_str(), dir.Join("after").c_str()), 0);
    ASSERT_TRUE(WriteThrough(output, "movie"));
    if (complete) {
      EXPECT_TRUE(output.Commit());
    } else {
      output.Discard();
    }
    int entries = 0;
    FolderListing listing(dir.Join("after"), "");
    while (const char* name = listing.Next()) entries += name[0] != '.';
    EXPECT_EQ(entries, complete ? 1 : 0);
    EXPECT_EQ(Content(dir.Join("after/out.avi")), complete ? "movie" : "");
    EXPECT_FALSE(PathExists(dir.Join("before").c_str()));
    ASSERT_EQ(std::system(("rm -rf '" + dir.Join("after") + "'").c_str()), 0);
  }
}

// What a signal handler calls: the temporary file of the job under way goes, and only it.
TEST(OutputFilePending, RemovesTheTemporaryFileUnderWayAndNothingElse) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  OutputFile output;
  ASSERT_TRUE(output.Open(dir.Join("out.avi").c_str()));
  ASSERT_TRUE(output.CreateTemporary());
  const std::string temporary = output.temporaryPath();
  EXPECT_TRUE(RemovePendingTemporary(SIGTERM));
  EXPECT_FALSE(PathExists(temporary.c_str()));
  ASSERT_TRUE(output.CreateTemporary());
  ASSERT_TRUE(output.Commit());
  EXPECT_TRUE(RemovePendingTemporary(SIGTERM));
  EXPECT_TRUE(PathExists(dir.Join("out.avi").c_str()));
}

}  // namespace
}  // namespace zelvo
