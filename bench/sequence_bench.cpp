// Times the run search in a folder of 100,000 members (f00000.bmp ... f99999.bmp): the
// numbers found go into a bitset, so the search costs one pass over the listing however
// long the run is.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "sequence/sequence.h"

namespace {

// The scratch folder, removed with its contents however the benchmark ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/zelvo-bench-XXXXXX";
    if (::mkdtemp(&pattern[0]) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool ok() const { return !path_.empty(); }
  std::string Join(const std::string& name) const { return path_ + "/" + name; }
  bool AddFile(const std::string& name) const {
    int fd = ::open(Join(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
  }

 private:
  std::string path_;
};

}  // namespace

int main() {
  ScratchFolder dir;
  if (!dir.ok()) {
    std::fprintf(stderr, "cannot create a temporary folder\n");
    return 1;
  }
  const int count = zelvo::LargestNumber(zelvo::kMaxWidth) + 1;
  auto createStart = std::chrono::steady_clock::now();
  for (int n = 0; n < count; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.bmp", n);
    if (!dir.AddFile(name)) {
      std::fprintf(stderr, "cannot create %s\n", name);
      return 1;
    }
  }
  double createSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - createStart).count();

  std::string path = dir.Join("f50000.bmp");
  int first = -1;
  int last = -1;
  const int rounds = 5;
  double best = 1e9;
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    zelvo::FindSequenceRange(path.c_str(), &first, &last);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds < best) best = seconds;
  }
  std::printf("sequence: %d files created in %.2f s\n", count, createSeconds);
  std::printf("sequence: FindSequenceRange(f50000.bmp) -> %d..%d, best of %d: %.1f ms\n", first, last, rounds,
              best * 1000.0);
  return first == 0 && last == count - 1 ? 0 : 1;
}
