// Lazily cleared memory: every byte asked for reads as zero, none around it changes, and
// the encoders' packet buffers that libavcodec clears cost no memory until written.
#include "convert/lazy_clear_posix.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/av_calls_posix.h"

namespace zelvo {
namespace {

TEST(LazyClear, ClearsWhatIsAskedAndNothingAround) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t mib = std::size_t{1} << 20;
  // Small (written), page-aligned and not, ending on a page boundary and not.
  const struct {
    std::size_t offset, size;
  } cases[] = {{0, 100}, {3, page}, {0, 2 * mib}, {1, 2 * mib}, {page - 1, 3 * mib + 5}, {17, 4 * mib - 17}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> memory(c.offset + c.size + 2 * page, 0xa5);
    ClearLazily(memory.data() + c.offset, c.size);
    for (std::size_t i = 0; i < memory.size(); ++i) {
      const bool inside = i >= c.offset && i < c.offset + c.size;
      ASSERT_EQ(memory[i], inside ? 0 : 0xa5) << "offset " << c.offset << " size " << c.size << " byte " << i;
    }
  }
}

std::int64_t ResidentBytes() {
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return -1;
  const int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
  std::fclose(statm);
  return read == 2 ? std::int64_t{resident} * sysconf(_SC_PAGESIZE) : -1;
}

TEST(LazyClear, LibavcodecBuffersAreClearedWithoutBeingMadeResident) {
  // FFV1's packet buffer at 1920x1080: 307 MB asked for, a few hundred KB written.
  const std::size_t asked = std::size_t{256} << 20;
  std::uint8_t* buffer = nullptr;
  unsigned int size = 0;
  const std::int64_t before = ResidentBytes();
  av_fast_padded_malloc(&buffer, &size, asked);
  ASSERT_NE(buffer, nullptr);
  ASSERT_GE(size, asked + AV_INPUT_BUFFER_PADDING_SIZE);
  EXPECT_LT(ResidentBytes() - before, std::int64_t{64} << 20);
  for (std::size_t i = 0; i < size; i += 4093) ASSERT_EQ(buffer[i], 0) << "byte " << i;
  ASSERT_EQ(buffer[size - 1], 0);

  // Kept, contents and all, while large enough; made anew and cleared when not.
  buffer[0] = 7;
  std::uint8_t* const first = buffer;
  av_fast_padded_malloc(&buffer, &size, asked / 2);
  EXPECT_EQ(buffer, first);
  EXPECT_EQ(buffer[0], 7);
  const unsigned int kept = size;
  av_fast_padded_malloc(&buffer, &size, kept + 1);
  ASSERT_NE(buffer, nullptr);
  EXPECT_GT(size, kept);
  EXPECT_EQ(buffer[0], 0);
  av_freep(&buffer);
}

}  // namespace
}  // namespace zelvo
