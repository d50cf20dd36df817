#include "convert/lazy_clear_posix.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "image/av_calls_posix.h"

namespace zelvo {

namespace {

// Below this a system call costs more than writing the zeros.
constexpr std::size_t kLazyFrom = std::size_t{1} << 20;

}  // namespace

void ClearLazily(void* p, std::size_t n) {
  auto* bytes = static_cast<unsigned char*>(p);
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(bytes);
  const std::uintptr_t first = (start + page - 1) / page * page;
  const std::uintptr_t last = (start + n) / page * page;
  if (n < kLazyFrom || page == 0 || last <= first ||
      madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) != 0) {
    std::memset(bytes, 0, n);
    return;
  }
  std::memset(bytes, 0, first - start);
  std::memset(reinterpret_cast<unsigned char*>(last), 0, start + n - last);
}

}  // namespace zelvo

// libavutil's contract: keeps *ptr when it holds min_size bytes already (*size), else
// frees it and gives a cleared buffer of at least min_size bytes, its size in *size, or
// null and 0 when there is no memory. A sixteenth more than asked, as libavutil gives, so
// that a buffer growing by a little at each call is not made anew each time.
extern "C" void av_fast_mallocz(void* ptr, unsigned int* size, std::size_t min_size) {
  void* buffer = nullptr;
  std::memcpy(&buffer, ptr, sizeof buffer);
  if (buffer && min_size <= *size) return;
  av_freep(ptr);
  *size = 0;
  if (min_size > UINT_MAX) return;
  auto want = static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t{min_size} + min_size / 16 + 32, UINT_MAX));
  buffer = av_malloc(want);
  if (!buffer && want > min_size) {  // av_max_alloc may allow what was asked and no more
    want = min_size;
    buffer = av_malloc(want);
  }
  if (!buffer) return;
  zelvo::ClearLazily(buffer, want);
  std::memcpy(ptr, &buffer, sizeof buffer);
  *size = static_cast<unsigned int>(want);
}
