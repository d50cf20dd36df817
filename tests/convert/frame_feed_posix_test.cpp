// A frame that runs out of memory under an address space limit (fork and setrlimit: Linux
// only) is read again alone.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "convert/frame_feed.h"
#include "sequence/sequence.h"
#include "support/bmp_writer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

[[maybe_unused]] FrameWalk Walk(const char* firstPath, int count) {
  FrameWalk walk;
  walk.firstPath = firstPath;
  walk.first = 1;
  walk.last = count;
  walk.count = count;
  return walk;
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define ZELVO_ADDRESS_LIMITS 1
#endif

// The address space of this process in bytes. (Sanitizer builds skip the test using it.)
[[maybe_unused]] std::uint64_t VirtualBytes() {
  long pages = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// With memory for fewer frames than the readers would hold (an address space limit below
// the budget), frames that fail for want of memory are read again alone: every frame
// arrives, as it does with one reader.
TEST(ReadAheadFeed, AFrameWithoutMemoryIsReadAgainAlone) {
#ifndef ZELVO_ADDRESS_LIMITS
  GTEST_SKIP() << "a sanitizer's shadow memory cannot live under an address space limit";
#else
  if (sizeof(void*) < 8) GTEST_SKIP() << "a 32-bit address space leaves no room to measure";
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  constexpr int kFrames = 10;
  for (int n = 1; n <= 10; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "m%02d.bmp", n);
    ASSERT_TRUE(dir.AddFile(name, test::ShortBmp(5700, 5700, n)));
  }
  struct Case {
    int readers;
    int frames;  // 4: all claimed before the first one runs out of memory
  };
  for (const Case& c : {Case{1, kFrames}, Case{4, kFrames}, Case{4, 4}}) {
    SCOPED_TRACE(std::to_string(c.readers) + " readers, " + std::to_string(c.frames) + " frames");
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(120);  // a feed that waits for ever fails the test instead of hanging it
      // Room for two frames of 97 MB beside what the process has and the readers' stacks:
      // never enough for what the readers would hold, always for one. One malloc arena, as
      // the program has (each further one reserves 64 MiB of address space).
      mallopt(M_ARENA_MAX, 1);
      const rlim_t limit = VirtualBytes() + (std::uint64_t{250} << 20);
      const rlimit r{limit, limit};
      setrlimit(RLIMIT_AS, &r);
      std::string path = dir.Join("m01.bmp");
      int arrived = 0;
      {
        ReadAheadFeed feed(Walk(path.c_str(), c.frames), c.readers, 8, std::uint64_t{4} << 30);
        usleep(200000);  // the readers get as far as they can before the first frame is taken
        for (int n = 1; n <= c.frames; ++n) {
          const FrameRead frame = feed.Take(path.c_str());
          if (frame && frame.image.pixels()[0] == n) ++arrived;
          NextFrameName(&path, 1, c.frames);
        }
      }
      _exit(arrived);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.frames);
  }
#endif
}

}  // namespace
}  // namespace zelvo
