// The run search on Windows: FindFirstFileA/FindNextFileA over a pattern with one '?' per
// digit ("img???.bmp"; a pattern ending in "." matches names without extension). The
// system matches without regard to case and also through short 8.3 aliases, so each name
// it returns is held against the membership rule once more: an alias such as IMG123~1.BMP
// for img12345678.bmp must not put 12345 into the run.
#include <windows.h>

#include "sequence/sequence.h"

namespace zelvo {

namespace {

// Owns one directory search handle.
class FindHandle {
 public:
  FindHandle(const char* pattern, WIN32_FIND_DATAA* data) : handle_(FindFirstFileA(pattern, data)) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  bool is_open() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Next(WIN32_FIND_DATAA* data) { return FindNextFileA(handle_, data) != 0; }

 private:
  HANDLE handle_;
};

}  // namespace

void FindSequenceRange(const char* path, int* first, int* last) {
  *first = -1;
  *last = -1;
  SequenceSpec split = ParseSequencePath(path);
  if (split.width == 0) return;
  std::string pattern = split.directory;
  if (split.prefix != "*") pattern += split.prefix;
  pattern.append(static_cast<std::size_t>(split.width), '?');
  pattern += split.extension.empty() ? std::string(".") : split.extension;

  WIN32_FIND_DATAA data;
  FindHandle search(pattern.c_str(), &data);
  if (!search.is_open()) return;
  NumberSet present;
  // Folders count too: a sub-folder named like a member stands for that frame.
  do {
    int number = 0;
    if (MatchSequenceMember(data.cFileName, split, /*ignoreCase=*/true, &number)) present.Add(number);
  } while (search.Next(&data));
  present.RunAround(split.number, first, last);
}

}  // namespace zelvo
