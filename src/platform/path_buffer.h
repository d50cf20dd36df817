#pragma once
// Paths travel as zero-terminated byte strings in the system's multibyte code page
// (Shift-JIS on the Windows target, UTF-8 on Linux), at most 259 bytes plus the
// terminator. Every function that writes a path writes into a buffer of this size.

namespace zelvo {

constexpr int kPathSize = 260;  // MAX_PATH: 259 characters and the terminator

// True for the first byte of a double-byte character in the active code page. Only the
// Windows build has such bytes (code page 932); UTF-8 never puts an ASCII byte such as
// '\\' or '.' inside a multibyte character, so the Linux build answers false.
bool IsLeadByte(unsigned char c);

// True for a byte that separates folders on this platform: '\\' and '/' on Windows,
// '/' on Linux (where a backslash is an ordinary file-name character).
bool IsPathSeparator(char c);

}  // namespace zelvo
