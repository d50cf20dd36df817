#include "controls/file_dialogs_win32.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/path_buffer.h"
#include "sequence/sequence.h"

namespace zelvo {

namespace {

// The word for files in half-width katakana, as the Open dialog's last type shows it.
const char kAllFilesEntry[] = "すべてのﾌｧｲﾙ (*.*)\n*.*";
constexpr int kTitleSize = 256;

// Offset of the extension's '.' in `path`, or its length when the file name part has no
// '.'. Walks by characters, so the trail byte of a double-byte character is never taken
// for a separator or a dot; a drive's ':' ends the folder part as _splitpath takes it.
size_t ExtensionOffset(const char* path) {
  const size_t length = std::strlen(path);
  size_t nameStart = 0;
  size_t dot = length;
  for (size_t i = 0; i < length; ++i) {
    const char c = path[i];
    if (IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < length) {
      ++i;
      continue;
    }
    if (IsPathSeparator(c) || c == ':') {
      nameStart = i + 1;
      dot = length;
    } else if (c == '.') {
      dot = i;
    }
  }
  return dot >= nameStart ? dot : length;
}

// The filter's texts split at '\n': description, pattern, description, pattern...
std::vector<std::string> SplitFilter(const char* filter) {
  std::vector<std::string> parts;
  if (filter == nullptr) return parts;
  const char* start = filter;
  for (const char* p = filter;; ++p) {
    if (*p == '\n' || *p == '\0') {
      parts.emplace_back(start, p);
      if (*p == '\0') break;
      start = p + 1;
    }
  }
  return parts;
}

// The list the common dialogs expect: the texts separated by NUL bytes, ending in two.
std::vector<char> NulSeparated(const std::string& text) {
  std::vector<char> list(text.begin(), text.end());
  for (char& c : list) {
    if (c == '\n') c = '\0';
  }
  list.push_back('\0');
  list.push_back('\0');
  return list;
}

// 1-based type whose pattern's extension matches the path's; "*.*" or the end gives 1.
int MatchingFilterIndex(const char* path, const std::vector<std::string>& parts) {
  for (size_t pair = 0; pair + 1 < parts.size(); pair += 2) {
    const std::string& pattern = parts[pair + 1];
    if (pattern == "*.*") return 1;
    const char* extension = pattern.size() >= 2 ? pattern.c_str() + 2 : "";
    if (CompareExtension(path, extension) == 0) return static_cast<int>(pair / 2 + 1);
  }
  return 1;
}

// The extension of the `index`-th type's pattern with its dot (".avi" for "*.avi"), or
// "" when the pattern names no single extension ("*.*", "*.b?p").
std::string FilterExtension(const std::vector<std::string>& parts, int index) {
  const size_t at = static_cast<size_t>(index - 1) * 2 + 1;
  if (index < 1 || at >= parts.size()) return std::string();
  const std::string& pattern = parts[at];
  if (pattern.size() < 3 || pattern[0] != '*' || pattern[1] != '.') return std::string();
  const std::string extension = pattern.substr(1);
  if (extension.find_first_of("*?;") != std::string::npos) return std::string();
  return extension;
}

void CopyPath(char* to, const char* from) {
  std::snprintf(to, kPathSize, "%s", from);
}

OPENFILENAMEA MakeDialogRecord(HWND owner, const std::vector<char>& list, int filterIndex,
                               char* file, char* title, DWORD flags) {
  OPENFILENAMEA record = {};
  // The Windows 95/NT4 form of the record: every system since accepts it, and nothing
  // beyond it is needed.
  record.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  record.hwndOwner = owner;
  record.lpstrFilter = list.data();
  record.nFilterIndex = static_cast<DWORD>(filterIndex);
  record.lpstrFile = file;
  record.nMaxFile = kPathSize;
  record.lpstrFileTitle = title;
  record.nMaxFileTitle = kTitleSize - 1;
  record.Flags = flags;
  return record;
}

}  // namespace

int ChooseSaveFile(char* path, const char* filter, HWND owner, int filterIndex, FileNameDialog show) {
  char file[kPathSize] = {};
  char title[kTitleSize] = {};
  CopyPath(file, path);
  const std::vector<std::string> parts = SplitFilter(filter);
  int index = MatchingFilterIndex(file, parts);
  StripExtension(file);
  if (filterIndex != 0) index = filterIndex;

  const std::vector<char> list = NulSeparated(filter != nullptr ? filter : "");
  OPENFILENAMEA record = MakeDialogRecord(owner, list, index, file, title,
                                          OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY);
  int result = 0;
  if (show(&record)) {
    result = record.nFilterIndex != 0 ? static_cast<int>(record.nFilterIndex) : 1;
    if (!HasExtension(file)) {
      const std::string extension = FilterExtension(parts, result);
      // A name too long to take the extension keeps the name as chosen.
      if (std::strlen(file) + extension.size() < static_cast<size_t>(kPathSize)) {
        std::strcat(file, extension.c_str());
      }
    }
  }
  file[kPathSize - 1] = '\0';
  CopyPath(path, file);
  return result;
}

int ChooseOpenFile(char* path, const char* filter, HWND owner, int filterIndex, FileNameDialog show) {
  char file[kPathSize] = {};
  char title[kTitleSize] = {};
  std::string text;
  if (filter != nullptr && filter[0] != '\0') {
    text = std::string(filter) + "\n" + kAllFilesEntry;
  } else {
    text = kAllFilesEntry;
  }
  const std::vector<char> list = NulSeparated(text);
  OPENFILENAMEA record = MakeDialogRecord(owner, list, filterIndex, file, title,
                                          OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
  const BOOL chosen = show(&record);
  file[kPathSize - 1] = '\0';
  CopyPath(path, file);
  return chosen ? 1 : 0;
}

int CompareExtension(const char* path, const char* extension) {
  const char* own = path + ExtensionOffset(path);
  if (*extension == '.') ++extension;
  if (*own == '\0') return *extension == '\0' ? 0 : 1;
  return _stricmp(own + 1, extension) == 0 ? 0 : 1;
}

void StripExtension(char* path) {
  path[ExtensionOffset(path)] = '\0';
}

}  // namespace zelvo
