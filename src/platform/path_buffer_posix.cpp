#include "platform/path_buffer.h"

namespace zelvo {

bool IsLeadByte(unsigned char) { return false; }
bool IsPathSeparator(char c) { return c == '/'; }
std::size_t DriveLength(const char*) { return 0; }

}  // namespace zelvo
