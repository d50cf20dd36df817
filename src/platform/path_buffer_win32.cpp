#include "platform/path_buffer.h"

#include <windows.h>

#include <cstdlib>

namespace zelvo {

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }
bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }
std::size_t LongestPath() { return kPathSize - 1; }
std::size_t LongestFolder() { return _MAX_DIR - 1; }
// Only the first two bytes can be a drive, as _splitpath takes it; a ':' further on is
// part of a name (and makes no valid path anyway).
std::size_t DriveLength(const char* path) {
  return path != nullptr && path[0] != '\0' && path[1] == ':' ? 2 : 0;
}

}  // namespace zelvo
