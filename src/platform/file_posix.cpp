#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace zelvo {

bool ReadOnlyFile::Open(const char* path) {
  Close();
  do {
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return false;
  struct stat st;
  // A folder opens on Linux but is no file to read.
  if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    Close();
    return false;
  }
  return true;
}

void ReadOnlyFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ReadOnlyFile::is_open() const { return fd_ >= 0; }

std::int64_t ReadOnlyFile::Read(void* buffer, std::size_t n) {
  if (fd_ < 0) return -1;
  std::size_t done = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (done < n) {
    ssize_t got = ::read(fd_, out + done, n - done);
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
  if (fd_ < 0 || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::int64_t ReadOnlyFile::Size() {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool RemoveFile(const char* path) { return ::unlink(path) == 0 || errno == ENOENT; }

bool MoveOnto(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool PathExists(const char* path) {
  struct stat st;
  return ::lstat(path, &st) == 0;
}

}  // namespace zelvo
