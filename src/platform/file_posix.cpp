#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/handles_posix.h"

namespace zelvo {

namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

FileResult ReadOnlyFile::Open(const char* path) {
  Close();
  // Non-blocking, so that a pipe or a device standing where a file is expected can never
  // make the open wait (for a writer, a modem line); anything but a regular file is then
  // refused before a single byte is read.
  FileDescriptor fd;
  do {
    fd.reset(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  } while (!fd && errno == EINTR);
  if (!fd) return FileResult::System(errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return FileResult::System(errno);
  if (!S_ISREG(st.st_mode)) return FileResult::Failed(FileFailure::kNotAFile);
  handle_ = fd.release();
  return FileResult();
}

void ReadOnlyFile::Close() {
  FileDescriptor owned{Fd(handle_)};  // closed on the way out
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

std::string ReadOnlyFile::Version() {
  struct stat st;
  if (handle_ == kClosed || ::fstat(Fd(handle_), &st) != 0) return std::string();
  char key[128];
  std::snprintf(key, sizeof key, "%llx:%llx:%llx:%llx.%lx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino), static_cast<unsigned long long>(st.st_size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec), static_cast<unsigned long>(st.st_mtim.tv_nsec));
  return key;
}

FileResult RemoveFile(const char* path) {
  return ::unlink(path) == 0 || errno == ENOENT ? FileResult() : FileResult::System(errno);
}

FileResult MoveOnto(const char* from, const char* to) {
  return ::rename(from, to) == 0 ? FileResult() : FileResult::System(errno);
}

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

FileResult CreateNewFile(const char* path) {
  FileDescriptor fd;
  do {
    fd.reset(::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  } while (!fd && errno == EINTR);
  return fd ? FileResult() : FileResult::System(errno);
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

std::string FileIdentity(const char* path) {
  struct stat st;
  if (::stat(path, &st) != 0) return std::string();
  char key[64];
  std::snprintf(key, sizeof key, "%llx:%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  return key;
}

}  // namespace zelvo
