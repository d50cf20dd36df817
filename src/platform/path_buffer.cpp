#include "platform/path_buffer.h"

namespace zelvo {

PathSplit SplitPath(const char* path) {
  PathSplit split;
  if (path == nullptr) return split;
  split.folder = DriveLength(path);
  split.name = split.folder;
  bool dot = false;
  std::size_t i = split.folder;
  while (path[i] != '\0') {
    if (IsLeadByte(static_cast<unsigned char>(path[i])) && path[i + 1] != '\0') {
      i += 2;
      continue;
    }
    if (IsPathSeparator(path[i])) {
      split.name = i + 1;
      dot = false;
    } else if (path[i] == '.') {
      split.extension = i;
      dot = true;
    }
    ++i;
  }
  split.end = i;
  if (!dot) split.extension = i;
  return split;
}

}  // namespace zelvo
