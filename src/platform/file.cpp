#include "platform/file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/path_buffer.h"

namespace zelvo {

namespace {

// A candidate temporary name of `room` bytes at most for attempt `attempt`: the long form
// "~zelvo<pid>-<n>.tmp<ext>" while it fits, then the same without ".tmp", without the
// extension, and finally "~" and letters or digits cut to the room (a single letter or
// digit for one byte), a different one for each attempt.
std::string TemporaryTag(std::size_t room, const std::string& extension, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  const unsigned n = counter.fetch_add(1);
  char tag[64];
  std::snprintf(tag, sizeof tag, "~zelvo%lx-%x", CurrentProcessId(), n);
  std::string name = std::string(tag) + ".tmp" + extension;
  if (name.size() <= room) return name;
  name = tag + extension;
  if (name.size() <= room) return name;
  if (std::strlen(tag) <= room) return tag;
  // Too little room for the process id: exclusive creation alone keeps jobs apart.
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  constexpr unsigned kBase = sizeof kDigits - 1;
  const unsigned processHash = static_cast<unsigned>(CurrentProcessId()) * 40503u;
  // One byte: every letter and digit in turn, from one the process id picks, so that the
  // first 36 attempts try each name once.
  if (room == 1) return std::string(1, kDigits[(processHash % kBase + attempt) % kBase]);
  unsigned value = (n * 2654435761u) ^ processHash;
  value += attempt;
  name = "~";
  while (name.size() < room && name.size() < 8) {
    name += kDigits[value % kBase];
    value /= kBase;
  }
  return name;
}

}  // namespace

std::string FindTemporaryName(const char* path, const std::function<FileResult(const std::string&)>& create,
                              FileResult* result) {
  FileResult dummy;
  if (result == nullptr) result = &dummy;
  *result = FileResult::System(EINVAL);
  if (path == nullptr) return std::string();
  const PathSplit at = SplitPath(path);
  const std::string folder(path, at.name);
  const std::string extension(path + at.extension, at.end - at.extension);
  if (folder.size() >= LongestPath()) return std::string();
  const std::size_t room = LongestPath() - folder.size();
  for (unsigned attempt = 0; attempt < 256; ++attempt) {
    const std::string candidate = folder + TemporaryTag(room, extension, attempt);
    if (candidate == path) continue;
    *result = create(candidate);
    if (*result) return candidate;
    if (result->kind != FileFailure::kSystem || result->error != EEXIST) return std::string();
  }
  return std::string();
}

std::string CreateTemporaryBeside(const char* path, FileResult* result) {
  return FindTemporaryName(path, [](const std::string& candidate) { return CreateNewFile(candidate.c_str()); }, result);
}

}  // namespace zelvo
