// Sequence names from arbitrary bytes: splitting, renumbering and walking must never
// write past the 260-byte path buffer, and a walk must end (report the wrap) within one
// pass over the numbers of its width.
//
// Input: 4 bytes n, 4 bytes first, 4 bytes last (little-endian), then the path bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

std::size_t Length(const std::vector<char>& buffer) {
  const void* end = std::memchr(buffer.data(), '\0', buffer.size());
  Check(end != nullptr);
  return static_cast<std::size_t>(static_cast<const char*>(end) - buffer.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 12) return 0;
  const int n = ReadInt(data);
  const int first = Bound(ReadInt(data + 4));
  const int last = Bound(ReadInt(data + 8));
  std::string text(reinterpret_cast<const char*>(data + 12), size - 12);
  if (text.size() >= static_cast<std::size_t>(zelvo::kPathSize)) text.resize(zelvo::kPathSize - 1);

  // Exactly kPathSize bytes on the heap, so any write beyond is caught.
  std::vector<char> path(zelvo::kPathSize, '\0');
  std::memcpy(path.data(), text.data(), text.size());
  const std::string original(path.data());

  zelvo::SequenceSpec split = zelvo::ParseSequencePath(path.data());
  Check(split.width >= 0 && split.width <= zelvo::kMaxWidth);
  zelvo::HasExtension(path.data());

  std::vector<char> renamed = path;
  if (!zelvo::MakeFrameName(renamed.data(), n)) {
    Check(std::string(renamed.data()) == original);  // refused: unchanged
  }
  Check(Length(renamed) < static_cast<std::size_t>(zelvo::kPathSize));

  // The walk: every step keeps the sequence (folder, prefix, width, extension), and the
  // wrap comes within one pass over the width's numbers plus the first step.
  const long bound = static_cast<long>(zelvo::LargestNumber(split.width)) + 2;
  bool wrapped = false;
  for (long step = 0; step <= bound && step < 200000; ++step) {
    const bool ended = zelvo::NextFrameName(path.data(), first, last);
    Check(Length(path) < static_cast<std::size_t>(zelvo::kPathSize));
    if (ended) {
      wrapped = true;
      break;
    }
    if (step >= 1000) continue;  // the shape is settled by then; keep long walks fast
    zelvo::SequenceSpec now = zelvo::ParseSequencePath(path.data());
    Check(now.directory == split.directory && now.prefix == split.prefix && now.width == split.width &&
          now.extension == split.extension);
  }
  Check(wrapped);
  return 0;
}
