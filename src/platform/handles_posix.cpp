#include "platform/handles_posix.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zelvo {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int FileDescriptor::release() { return std::exchange(fd_, -1); }

void FileDescriptor::reset(int fd) {
  const int old = std::exchange(fd_, fd);
  if (old >= 0) ::close(old);
}

int FileDescriptor::Close() {
  const int old = release();
  // Linux releases the descriptor even when close fails, EINTR included: never retried.
  return old >= 0 && ::close(old) != 0 ? errno : 0;
}

}  // namespace zelvo
