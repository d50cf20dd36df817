// Path utilities on Windows: existence through the directory search (so folders and
// locked files count as present), and the rewriting of a path into the long names in
// the letter case stored on disk, component by component from the end.
#include <fcntl.h>
#include <io.h>
#include <mbstring.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/handles_win32.h"
#include "platform/path_buffer.h"
#include "platform/paths.h"

namespace zelvo {

namespace {

// Looks one name up and closes the search at once; *found receives the entry's stored
// long name.
bool FindEntry(const char* path, std::string* found) {
  WIN32_FIND_DATAA data;
  const FindHandle search(FindFirstFileA(path, &data));
  if (!search) return false;
  if (found != nullptr) *found = data.cFileName;
  return true;
}

// True when the path's last character is a separator. Looking at the last byte alone
// would take a name ending in 表 or ソ (trail byte 0x5C) for a folder form.
bool EndsWithSeparator(const char* path) {
  bool last = false;
  for (const char* p = path; *p != '\0';) {
    if (IsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      last = false;
      p += 2;
      continue;
    }
    last = IsPathSeparator(*p);
    ++p;
  }
  return last;
}

}  // namespace

int ProbePath(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  if (EndsWithSeparator(path)) {
    // The folder form: whatever the name without the separator names, it is no file.
    std::string entry(path, std::strlen(path) - 1);
    return FindEntry(entry.c_str(), nullptr) ? 2 : 0;
  }
  if (!FindEntry(path, nullptr)) return 0;
  // Folders, forbidden files and wildcard patterns (which the search matched) do not open.
  int fd = _open(path, _O_RDONLY | _O_BINARY);
  if (fd < 0) return 2;
  _close(fd);
  return 1;
}

bool ResolveLongPath(char* out, const char* path, int limit) {
  if (out == nullptr || path == nullptr || limit <= 0) return false;
  if (std::strlen(path) >= static_cast<std::size_t>(kPathSize)) return false;
  std::string working(path);
  std::string reported;
  bool found = FindEntry(working.c_str(), &reported);
  if (!found) return false;

  std::string resolved;
  bool anyComponent = false;
  for (;;) {
    // _mbsrchr steps over double-byte characters, so the trail byte 0x5C of ソ or 表 is
    // not taken for the last separator.
    const unsigned char* text = reinterpret_cast<const unsigned char*>(working.c_str());
    const unsigned char* separator = _mbsrchr(text, '\\');
    if (separator == nullptr) break;
    const std::size_t cut = static_cast<std::size_t>(separator - text);
    std::string component = working.substr(cut + 1);
    // Empty components (doubled separators, the root) and "." or ".." stay as written; a
    // component whose own search finds nothing (a share root such as \\server\share)
    // stays as written too: the path still names the same file.
    std::string name = component;
    if (found && !component.empty() && component != "." && component != "..") name = reported;
    resolved = anyComponent ? name + "\\" + resolved : name;
    anyComponent = true;
    working.resize(cut);
    found = !working.empty() && FindEntry(working.c_str(), &reported);
  }
  // The first component (a drive such as C: or the leading folder of a relative path)
  // stays as it was given.
  resolved = anyComponent ? working + "\\" + resolved : working;
  if (resolved.size() >= static_cast<std::size_t>(limit)) return false;
  std::memcpy(out, resolved.c_str(), resolved.size() + 1);
  return true;
}

}  // namespace zelvo
