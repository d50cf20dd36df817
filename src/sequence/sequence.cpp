#include "sequence/sequence.h"

#include <cstdio>
#include <cstring>

#include "platform/directory.h"

namespace zelvo {

namespace {

// The C runtime's component buffers (_MAX_DRIVE, _MAX_FNAME, _MAX_EXT), each with its
// terminator; the folder's is the system's (LongestFolder). A path is split only when every
// component fits; cutting one short would make every rebuilt frame name point somewhere else.
constexpr std::size_t kMaxDrive = 3;
constexpr std::size_t kMaxComponent = 256;

struct PathParts {
  std::string drive;
  std::string dir;
  std::string base;
  std::string ext;
  bool fits = true;
};

// Splits like _splitpath: an optional drive (Windows only), the folder up to and including
// the last separator, the base name, and the extension from the last '.' of the final
// component, double-byte characters stepped over whole.
PathParts SplitPathParts(const char* path) {
  PathParts parts;
  if (path == nullptr) return parts;
  const PathSplit at = SplitPath(path);
  parts.drive.assign(path, at.folder);
  parts.dir.assign(path + at.folder, at.name - at.folder);
  parts.base.assign(path + at.name, at.extension - at.name);
  parts.ext.assign(path + at.extension, at.end - at.extension);
  parts.fits = parts.drive.size() < kMaxDrive && parts.dir.size() <= LongestFolder() &&
               parts.base.size() < kMaxComponent && parts.ext.size() < kMaxComponent;
  return parts;
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares `want` with the start of `name`; returns the number of bytes matched, or -1.
// Letters fold only outside double-byte characters: a trail byte that happens to be an
// ASCII letter belongs to a different character in each case.
int MatchText(const char* name, const std::string& want, bool ignoreCase) {
  std::size_t i = 0;
  while (i < want.size()) {
    char w = want[i];
    char c = name[i];
    if (c == '\0') return -1;
    if (IsLeadByte(static_cast<unsigned char>(w)) && i + 1 < want.size()) {
      if (c != w || name[i + 1] != want[i + 1]) return -1;
      i += 2;
      continue;
    }
    if (ignoreCase ? FoldAscii(c) != FoldAscii(w) : c != w) return -1;
    ++i;
  }
  return static_cast<int>(i);
}

}  // namespace

int LargestNumber(int width) {
  static const int kLargest[] = {1, 9, 99, 999, 9999, 99999};
  if (width <= 0) return kLargest[0];
  if (width >= kMaxWidth) return kLargest[kMaxWidth];
  return kLargest[width];
}

bool HasExtension(const char* path) { return !SplitPathParts(path).ext.empty(); }

void SplitSequenceName(const std::string& base, std::string* prefix, int* number, int* width) {
  const std::size_t length = base.size();
  for (int k = kMaxWidth; k >= 1; --k) {
    const std::size_t digits = static_cast<std::size_t>(k);
    if (length < digits) continue;
    bool allDigits = true;
    int value = 0;
    for (std::size_t i = length - digits; i < length; ++i) {
      if (!IsAsciiDigit(base[i])) {
        allDigits = false;
        break;
      }
      value = value * 10 + (base[i] - '0');
    }
    if (!allDigits) continue;
    if (prefix != nullptr) prefix->assign(base, 0, length - digits);
    if (number != nullptr) *number = value;
    if (width != nullptr) *width = k;
    return;
  }
  if (prefix != nullptr) *prefix = base;
  if (width != nullptr) *width = 0;
}

SequenceSpec ParseSequencePath(const char* path) {
  PathParts parts = SplitPathParts(path);
  SequenceSpec split;
  split.directory = parts.drive + parts.dir;
  split.extension = parts.ext;
  if (parts.fits) {
    SplitSequenceName(parts.base, &split.prefix, &split.number, &split.width);
  } else {
    // Too long for the runtime's component buffers: keep the name whole and never
    // renumber it, rather than rebuild a cut-down path.
    split.prefix = parts.base;
  }
  return split;
}

std::string FormatFrameName(const SequenceSpec& split, int n) {
  std::string path = split.directory + split.prefix;
  if (split.width > 0) {
    // Width 1 is not padded; wider runs are zero-padded, a negative value keeping its
    // sign inside the width (-1 at width 5 is -0001).
    const int width = split.width > kMaxWidth ? kMaxWidth : split.width;
    char digits[24];
    if (width == 1) {
      std::snprintf(digits, sizeof digits, "%d", n);
    } else {
      std::snprintf(digits, sizeof digits, "%0*d", width, n);
    }
    path += digits;
  }
  path += split.extension;
  return path;
}

namespace {

// Puts `name` in `path` when the system takes a path of its length.
bool StorePath(std::string* path, std::string name) {
  if (name.size() > LongestPath()) return false;
  *path = std::move(name);
  return true;
}

}  // namespace

bool MakeFrameName(std::string* path, int n) {
  const SequenceSpec split = ParseSequencePath(path->c_str());
  if (split.width == 0) return true;  // a single frame: its name stays as it is
  if (n > LargestNumber(split.width)) n = 1;
  return StorePath(path, FormatFrameName(split, n));
}

bool NextFrameName(std::string* path, int first, int last) {
  const SequenceSpec split = ParseSequencePath(path->c_str());
  if (split.width == 0) return true;
  const int largest = LargestNumber(split.width);
  if (first == -1) first = 1;
  if (last == -1) last = largest;
  int next = 0;
  bool wrapped = false;
  if (first <= last) {
    next = split.number + 1;
    if (next > last) wrapped = true;
  } else {
    next = split.number - 1;
    if (next < last) wrapped = true;
  }
  // A step that leaves the numbers of this width would print a longer or signed number
  // and so name a file of another sequence, which the next call would read back with a
  // different width; the walk ends there instead.
  if (next < 0 || next > largest) wrapped = true;
  if (wrapped) {
    next = first;
    if (next < 0 || next > largest) return true;  // the first frame has no name of this width
  }
  if (!StorePath(path, FormatFrameName(split, next))) return true;
  return wrapped;
}

std::string SequencePrefix(const char* path) { return ParseSequencePath(path).prefix; }

std::string DirectoryOf(const char* path) { return ParseSequencePath(path).directory; }

std::string DefaultOutputName(const char* framePath) {
  const SequenceSpec split = ParseSequencePath(framePath);
  return split.directory + split.prefix + ".avi";
}

std::string OutputNameWithoutNumber(const char* framePath) {
  const SequenceSpec split = ParseSequencePath(framePath);
  std::size_t end = split.prefix.size();
  while (end > 0 && IsAsciiDigit(split.prefix[end - 1])) --end;
  return split.directory + split.prefix.substr(0, split.width > 0 ? end : split.prefix.size()) + ".avi";
}

void FindSequenceRange(const char* path, int* first, int* last) {
  const SequenceRun run = FindSequenceRun(path);
  *first = run.first;
  *last = run.last;
}

SequenceRun FindSequenceRun(const char* path) {
  SequenceRun run;
  const SequenceSpec split = ParseSequencePath(path);
  if (split.width == 0) return run;
  // The pattern narrows a listing where the system searches by pattern: one '?' per
  // digit, and a final "." for names without an extension.
  std::string pattern = split.directory;
  if (split.prefix != "*") pattern += split.prefix;
  pattern.append(static_cast<std::size_t>(split.width), '?');
  pattern += split.extension.empty() ? std::string(".") : split.extension;
  FolderListing listing(split.directory, pattern);
  if (!listing.is_open()) return run;
  // Case follows the system's names: where the listing matched loosely, so does the rule;
  // elsewhere frames are later opened under names built from the given path, so only
  // exact letters name them.
  const bool ignoreCase = FolderListing::NamesIgnoreCase();
  NumberSet present;
  while (const char* name = listing.Next()) {
    int number = 0;
    // Only files make frames: a folder named like a member ends the run before it
    // instead of failing the job when its turn comes.
    if (MatchSequenceMember(name, split, ignoreCase, &number) && listing.IsFile()) present.Add(number);
  }
  present.RunAround(split.number, &run.first, &run.last);
  if (run.first < 0) return run;
  run.before = present.NearestBelow(run.first);
  run.after = present.NearestAbove(run.last);
  return run;
}

bool MatchSequenceMember(const char* name, const SequenceSpec& split, bool ignoreCase, int* number) {
  if (name == nullptr || split.width <= 0 || split.width > kMaxWidth) return false;
  static const std::string kNoPrefix;
  const std::string& prefix = split.prefix == "*" ? kNoPrefix : split.prefix;
  int matched = MatchText(name, prefix, ignoreCase);
  if (matched < 0) return false;
  const char* digits = name + matched;
  int value = 0;
  for (int i = 0; i < split.width; ++i) {
    if (!IsAsciiDigit(digits[i])) return false;
    value = value * 10 + (digits[i] - '0');
  }
  const char* rest = digits + split.width;
  matched = MatchText(rest, split.extension, ignoreCase);
  if (matched < 0 || rest[matched] != '\0') return false;
  if (number != nullptr) *number = value;
  return true;
}

NumberSet::NumberSet() : bits_(static_cast<std::size_t>(LargestNumber(kMaxWidth)) + 1, false) {}

void NumberSet::Add(int n) {
  if (n >= 0 && static_cast<std::size_t>(n) < bits_.size()) bits_[static_cast<std::size_t>(n)] = true;
}

bool NumberSet::Contains(int n) const {
  return n >= 0 && static_cast<std::size_t>(n) < bits_.size() && bits_[static_cast<std::size_t>(n)];
}

void NumberSet::RunAround(int n, int* first, int* last) const {
  *first = -1;
  *last = -1;
  if (!Contains(n)) return;
  int low = n;
  while (Contains(low - 1)) --low;
  int high = n;
  while (Contains(high + 1)) ++high;
  *first = low;
  *last = high;
}

int NumberSet::NearestBelow(int n) const {
  for (int k = n - 1; k >= 0; --k) {
    if (Contains(k)) return k;
  }
  return -1;
}

int NumberSet::NearestAbove(int n) const {
  for (int k = (n < 0 ? 0 : n + 1); static_cast<std::size_t>(k) < bits_.size(); ++k) {
    if (Contains(k)) return k;
  }
  return -1;
}

}  // namespace zelvo
