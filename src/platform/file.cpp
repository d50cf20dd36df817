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
  // The longest tag that fits: a path near the length limit still gets a temporary name,
  // down to one hex digit beside a one-letter output name.
  static const char* const kForms[] = {"~zelvo%08x.tmp", "~z%04x", "~%02x", "~%x"};
  static const unsigned kMasks[] = {0xFFFFFFFFu, 0xFFFFu, 0xFFu, 0xFu};
  for (int form = 0; form < 4; ++form) {
    for (unsigned attempt = 0; attempt < 64; ++attempt) {
      char tag[32];
      std::snprintf(tag, sizeof tag, kForms[form], (seed + attempt * 7919u) & kMasks[form]);
      std::string candidate = folder + tag + extension;
      if (candidate.size() >= static_cast<std::size_t>(kPathSize)) break;
      if (!PathExists(candidate.c_str())) return candidate;
    }
  }
  return std::string();
}

}  // namespace zelvo
