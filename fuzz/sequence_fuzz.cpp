// Sequence names from arbitrary bytes: splitting, renumbering and walking must never make
// a name longer than the system takes, and a walk must end (report the wrap) within one
// pass over the numbers of its width.
//
// Input: 4 bytes n, 4 bytes first, 4 bytes last (little-endian), then the path bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/path_buffer.h"
#include "sequence/sequence.h"

namespace {

std::int32_t ReadInt(const std::uint8_t* data) {
  std::uint32_t value = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                        static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  std::int32_t result;
  std::memcpy(&result, &value, sizeof result);
  return result;
}

// Small first/last values are the interesting ones; keep most of them in range.
int Bound(std::int32_t raw) {
  if (raw >= -2 && raw <= 200000) return raw;
  return raw % 100002;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 12) return 0;
  const int n = ReadInt(data);
  const int first = Bound(ReadInt(data + 4));
  const int last = Bound(ReadInt(data + 8));
  std::string path(reinterpret_cast<const char*>(data + 12), size - 12);
  path.resize(std::min(std::strlen(path.c_str()), zelvo::LongestPath()));
  const std::string original = path;

  zelvo::SequenceSpec split = zelvo::ParseSequencePath(path.c_str());
  Check(split.width >= 0 && split.width <= zelvo::kMaxWidth);
  zelvo::HasExtension(path.c_str());

  std::string renamed = path;
  if (!zelvo::MakeFrameName(&renamed, n)) {
    Check(renamed == original);  // refused: unchanged
  }
  Check(renamed.size() <= zelvo::LongestPath());

  // The walk: every step keeps the sequence (folder, prefix, width, extension), and the
  // wrap comes within one pass over the width's numbers plus the first step.
  const long bound = static_cast<long>(zelvo::LargestNumber(split.width)) + 2;
  bool wrapped = false;
  for (long step = 0; step <= bound && step < 200000; ++step) {
    const bool ended = zelvo::NextFrameName(&path, first, last);
    Check(path.size() <= zelvo::LongestPath());
    if (ended) {
      wrapped = true;
      break;
    }
    if (step >= 1000) continue;  // the shape is settled by then; keep long walks fast
    zelvo::SequenceSpec now = zelvo::ParseSequencePath(path.c_str());
    Check(now.directory == split.directory && now.prefix == split.prefix && now.width == split.width &&
          now.extension == split.extension);
  }
  Check(wrapped);
  return 0;
}
