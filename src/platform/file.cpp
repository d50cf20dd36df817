#include "platform/file.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/path_buffer.h"

namespace zelvo {

std::string TemporaryNameBeside(const char* path) {
  // Split into folder and name by the last separator, stepping over double-byte
  // characters whose second byte could look like a separator or a dot.
  std::size_t nameStart = 0;
  std::size_t dot = std::string::npos;
  std::size_t len = std::strlen(path);
  for (std::size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsLeadByte(c) && i + 1 < len) {
      ++i;
      continue;
    }
    if (IsPathSeparator(path[i])) {
      nameStart = i + 1;
      dot = std::string::npos;
    } else if (path[i] == '.') {
      dot = i;
    }
  }
  std::string folder(path, nameStart);
  std::string extension = dot == std::string::npos ? std::string() : std::string(path + dot);
  static std::atomic<unsigned> counter{0};
  unsigned seed = static_cast<unsigned>(std::time(nullptr)) ^ (counter.fetch_add(1) * 2654435761u);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char tag[32];
    std::snprintf(tag, sizeof tag, "~zelvo%08x.tmp", seed + static_cast<unsigned>(attempt) * 7919u);
    std::string candidate = folder + tag + extension;
    if (candidate.size() >= static_cast<std::size_t>(kPathSize)) return std::string();
    if (!PathExists(candidate.c_str())) return candidate;
  }
  return std::string();
}

}  // namespace zelvo
