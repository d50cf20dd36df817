#include "platform/path_buffer.h"

#include <windows.h>

namespace zelvo {

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }
bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace zelvo
