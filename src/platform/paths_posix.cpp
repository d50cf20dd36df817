// Path utilities on Linux. There are no short aliases and no case folding here, so the
// names stored on disk are the names given: resolving a path only checks that it names
// something and fits the caller's buffer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/path_buffer.h"
#include "platform/paths.h"

namespace zelvo {

namespace {

bool Exists(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0;
}

// True for a regular file that opens for reading; a FIFO standing where a frame is
// expected cannot hang the check (ReadOnlyFile never waits on one).
bool OpensAsFile(const char* path) {
  ReadOnlyFile file;
  return static_cast<bool>(file.Open(path));
}

}  // namespace

int ProbePath(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  const std::size_t length = std::strlen(path);
  if (path[length - 1] == '/') {
    // The folder form: whatever the name without the separator names, it is no file to
    // read. "/" alone keeps its separator, being the root itself.
    std::string entry(path, length - 1);
    if (entry.empty()) entry = "/";
    return Exists(entry.c_str()) ? 2 : 0;
  }
  if (!Exists(path)) return 0;
  return OpensAsFile(path) ? 1 : 2;
}

bool ResolveLongPath(char* out, const char* path, int limit) {
  if (out == nullptr || path == nullptr || limit <= 0) return false;
  const std::size_t length = std::strlen(path);
  if (length >= static_cast<std::size_t>(limit)) return false;
  if (!Exists(path)) return false;
  std::memcpy(out, path, length + 1);
  return true;
}

}  // namespace zelvo
