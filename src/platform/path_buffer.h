#pragma once
// Paths travel as byte strings in the system's multibyte code page (Shift-JIS on the
// Windows target, UTF-8 on Linux). The portable core keeps them in std::string and asks
// the system how long one may be; the Windows program's dialogs and command line keep
// them in buffers of MAX_PATH bytes, as that system's own calls do.
#include <cstddef>

namespace zelvo {

constexpr int kPathSize = 260;  // MAX_PATH: 259 characters and the terminator

// The longest path the system's file calls take, in bytes without the terminator: 259 on
// Windows (MAX_PATH), 4095 on Linux (PATH_MAX). Names the core derives (frame names, the
// default output, temporary files) never go beyond it.
std::size_t LongestPath();
// The longest folder part of a path that the system splits whole: 255 bytes on Windows
// (the C runtime's _splitpath buffers), a whole path on Linux.
std::size_t LongestFolder();

// True for the first byte of a double-byte character in the active code page. Only the
// Windows build has such bytes (code page 932); UTF-8 never puts an ASCII byte such as
// '\\' or '.' inside a multibyte character, so the Linux build answers false.
bool IsLeadByte(unsigned char c);

// True for a byte that separates folders on this platform: '\\' and '/' on Windows,
// '/' on Linux (where a backslash is an ordinary file-name character).
bool IsPathSeparator(char c);

// Length of the drive at the start of `path`: 2 for "C:" on Windows, else 0.
std::size_t DriveLength(const char* path);

// Where the parts of a path begin, as byte offsets: [0, folder) the drive,
// [folder, name) the folder with its trailing separator, [name, extension) the base name,
// [extension, end) the extension from the name's last '.'. Double-byte characters are
// stepped over whole, so a trail byte 0x5C (the second byte of 表, ソ, 能 in code page
// 932) is never taken for a separator and a trail byte '.' never starts an extension.
struct PathSplit {
  std::size_t folder = 0;
  std::size_t name = 0;
  std::size_t extension = 0;
  std::size_t end = 0;
};
PathSplit SplitPath(const char* path);

}  // namespace zelvo
