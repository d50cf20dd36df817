#pragma once
// Numbered file sequences: img008.bmp ... img120.bmp. The user names one member; every
// other name, the run present on disk and the default output name derive from that path.
#include <string>
#include <vector>

#include "platform/path_buffer.h"

namespace zelvo {

// A frame path split the way the C runtime's _splitpath splits it, with the trailing
// digit run of the base name taken apart.
struct SequenceSpec {
  std::string directory;  // drive and folder with the trailing separator; may be empty
  std::string prefix;     // base name without its trailing digits; may be empty
  int number = 0;         // value of the trailing digits; meaningful only when width > 0
  int width = 0;          // 0..5 digits; 0: the base name does not end in a digit
  std::string extension;  // with its leading '.', or empty
};

constexpr int kMaxWidth = 5;

// Largest number that a run of `width` digits holds (1 for width 0).
int LargestNumber(int width);

// True when the file name part of `path` has an extension (a trailing '.' counts).
bool HasExtension(const char* path);

// Splits a base name (no folder, no extension) into prefix, number and width. At most
// the last five ASCII digits count.
void SplitSequenceName(const std::string& base, std::string* prefix, int* number, int* width);

SequenceSpec ParseSequencePath(const char* path);

// The whole path of frame n built with the printf form of split.width ("%s%s%03d%s"...).
std::string FormatFrameName(const SequenceSpec& split, int n);

// Rewrites `path` to name frame n; n above the width's largest number becomes 1. Returns
// false and leaves `path` unchanged when the new name would be longer than the system
// takes (LongestPath).
bool MakeFrameName(std::string* path, int n);

// Rewrites `path` to the next frame towards `last` (first/last may be -1: 1 and the
// width's largest). Returns true when the walk wrapped (the sequence is finished; the path
// names `first` again), false otherwise. A name without a number wraps at once. When the
// new name would be longer than the system takes, the path is left unchanged and true is
// returned, ending the walk.
bool NextFrameName(std::string* path, int first, int last);

std::string SequencePrefix(const char* path);
std::string DirectoryOf(const char* path);
// The output a sequence is written to unless the user names one: the frame's folder and
// the name without its number, with ".avi" ("shots/shot0007.bmp" gives "shots/shot.avi").
std::string DefaultOutputName(const char* framePath);
// The Linux program's default output: the frame's folder and the name without every digit
// that ends it, with ".avi" ("f000002.bmp" gives "f.avi", where the five-digit rule of
// DefaultOutputName leaves "f0.avi").
std::string OutputNameWithoutNumber(const char* framePath);

// Finds the gap-free run of numbered files present on disk that contains the path's own
// number; folders and other non-files named like members do not count. Both results are
// -1 when the name has no number or the named file is not present.
void FindSequenceRange(const char* path, int* first, int* last);

// The run FindSequenceRange finds, and where numbered frames of the sequence go on past the
// gaps that end it: the nearest number present below `first` (`before`) and above `last`
// (`after`), -1 where there is none. All -1 when the run is not found.
struct SequenceRun {
  int first = -1;
  int last = -1;
  int before = -1;
  int after = -1;
};
SequenceRun FindSequenceRun(const char* path);

// The rule every directory listing applies to one entry name (no folder): the name is
// split.prefix, then exactly split.width ASCII digits, then split.extension (nothing after
// the digits when the extension is empty). A prefix of exactly "*" stands for no prefix.
// With `ignoreCase`, ASCII letters of prefix and extension match in either case; the bytes
// of double-byte characters always match exactly. On a match, *number is the digits' value.
bool MatchSequenceMember(const char* name, const SequenceSpec& split, bool ignoreCase, int* number);

// Numbers present in one listing: one bit per possible five-digit number, so looking a
// neighbour up costs the same however many files the folder holds.
class NumberSet {
 public:
  NumberSet();
  void Add(int n);
  bool Contains(int n) const;
  // The gap-free run of present numbers containing n; -1 and -1 when n is absent.
  void RunAround(int n, int* first, int* last) const;
  // The nearest present number below / above n; -1 when there is none.
  int NearestBelow(int n) const;
  int NearestAbove(int n) const;

 private:
  std::vector<bool> bits_;
};

}  // namespace zelvo
