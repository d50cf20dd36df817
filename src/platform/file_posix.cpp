#include "platform/file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/path_buffer.h"

namespace zelvo {

namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

bool ReadOnlyFile::Open(const char* path) {
  Close();
  int fd = -1;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  handle_ = fd;
  struct stat st;
  // A folder opens on Linux but is no file to read.
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    Close();
    return false;
  }
  return true;
}

void ReadOnlyFile::Close() {
  if (handle_ != kClosed) ::close(Fd(handle_));
  handle_ = kClosed;
}

std::int64_t ReadOnlyFile::Read(void* buffer, std::size_t n) {
  if (handle_ == kClosed) return -1;
  std::size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < n) {
    ssize_t got = ::read(Fd(handle_), out + done, n - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

bool ReadOnlyFile::Seek(std::uint64_t offset) {
  if (handle_ == kClosed || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return ::lseek(Fd(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::int64_t ReadOnlyFile::Size() {
  struct stat st;
  if (handle_ == kClosed || ::fstat(Fd(handle_), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool RemoveFile(const char* path) { return ::unlink(path) == 0 || errno == ENOENT; }

bool MoveOnto(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool PathExists(const char* path) {
  struct stat st;
  return ::lstat(path, &st) == 0;
}

OutputKind ProbeOutput(const char* path) {
  struct stat st;
  if (::lstat(path, &st) != 0) return OutputKind::kAbsent;
  if (S_ISREG(st.st_mode)) return OutputKind::kFile;
  if (!S_ISLNK(st.st_mode)) return OutputKind::kOther;
  // A link counts by what it ends at; a dangling one is replaced by the new file's target.
  if (::stat(path, &st) != 0) return errno == ENOENT ? OutputKind::kFile : OutputKind::kOther;
  return S_ISREG(st.st_mode) ? OutputKind::kFile : OutputKind::kOther;
}

bool ResolveOutputTarget(const char* path, char* target) {
  std::string current = path;
  // Follows the chain one link at a time (a dangling link's target does not exist, so
  // realpath cannot be used), relative targets taken from the link's own folder.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    char link[PATH_MAX];
    const ssize_t n = ::readlink(current.c_str(), link, sizeof link - 1);
    if (n < 0) break;
    link[n] = '\0';
    if (link[0] == '/') {
      current = link;
    } else {
      const PathSplit at = SplitPath(current.c_str());
      current = current.substr(0, at.name) + link;
    }
  }
  if (current.size() >= static_cast<std::size_t>(kPathSize)) return false;
  std::memcpy(target, current.c_str(), current.size() + 1);
  return true;
}

int OpenFailure(const char* path) {
  ReadOnlyFile file;
  if (file.Open(path)) return 0;
  const int error = errno;
  struct stat st;
  if (::stat(path, &st) == 0 && S_ISDIR(st.st_mode)) return EISDIR;
  return error != 0 ? error : EIO;
}

int CreateNewFile(const char* path) {
  int fd = -1;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

bool CopyFileMode(const char* from, const char* to) {
  struct stat st;
  if (::stat(from, &st) != 0) return false;
  // Owner first: changing it clears set-id bits, which the mode then restores. Only root
  // may give a file away; others keep their own file and the folder's group.
  if (::chown(to, st.st_uid, st.st_gid) != 0 && ::chown(to, static_cast<uid_t>(-1), st.st_gid) != 0) {
    // Not permitted: the new file stays the writer's, as any newly saved file would.
  }
  return ::chmod(to, st.st_mode & 07777) == 0;
}

std::string FileIdentity(const char* path) {
  struct stat st;
  if (::stat(path, &st) != 0) return std::string();
  char key[64];
  std::snprintf(key, sizeof key, "%llx:%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  return key;
}

}  // namespace zelvo
