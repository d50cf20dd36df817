#include "platform/path_buffer.h"

#include <climits>

namespace zelvo {

bool IsLeadByte(unsigned char) { return false; }
bool IsPathSeparator(char c) { return c == '/'; }
std::size_t DriveLength(const char*) { return 0; }
std::size_t LongestPath() { return PATH_MAX - 1; }
std::size_t LongestFolder() { return PATH_MAX - 1; }

}  // namespace zelvo
