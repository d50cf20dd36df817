// Why a frame could not be read, as the job needs to say it, and what reading a frame costs
// before its picture is made: files of every kind at a frame's name, broken and hostile
// images, a budget that says no, and files far shorter than their headers claim.
#include "image/frame_reader.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "support/bmp_writer.h"
#include "support/png_writer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

// A budget that refuses everything and remembers what it was asked for.
class Refusing : public FrameBudget {
 public:
  bool Reserve(std::uint64_t bytes) override {
    asked = bytes;
    return false;
  }
  std::uint64_t asked = 0;
};

std::string Bytes(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Bmp(std::int32_t width, std::int32_t height, std::uint16_t bits = 24, std::size_t payload = 64) {
  test::BmpDescription d;
  d.width = width;
  d.height = height;
  d.bitCount = bits;
  if (bits <= 8) d.palette.assign(std::size_t{1} << bits, 0x808080);
  d.payload.assign(payload, 0x55);
  return Bytes(test::BuildBmp(d));
}

std::string Png(int width, int height, int colorType = 2) {
  test::PngPicture p;
  p.width = width;
  p.height = height;
  p.colorType = colorType;
  p.samples.assign(static_cast<std::size_t>(width) * height * test::PngChannels(colorType), 7);
  return Bytes(test::EncodePng(p));
}

// An IHDR declaring width x height of 8-bit RGBA, with a correct CRC, and nothing after it.
std::string PngHead(std::uint32_t width, std::uint32_t height) {
  std::string head = Png(1, 1, 6).substr(0, 33);
  for (int i = 0; i < 4; ++i) {
    head[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    head[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  const auto crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(head.data() + 12), 17));
  for (int i = 0; i < 4; ++i) head[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return head;
}

TEST(FrameReader, SaysWhyAFrameHasNoPicture) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  ASSERT_TRUE(dir.AddFolder("folder.bmp"));
  ASSERT_EQ(mkfifo(dir.Join("fifo.bmp").c_str(), 0600), 0);  // no writer: an open that waits never ends
  const std::string png = Png(4, 3);
  std::string badCrc = png;
  badCrc[30] = static_cast<char>(badCrc[30] ^ 1);
  struct Case {
    const char* name;
    std::string content;  // "" with `file` false: not created here
    bool file;
    FrameFailure failure;
    int error;
  };
  const Case cases[] = {
      {"missing.bmp", "", false, FrameFailure::kUnreadable, ENOENT},
      {"folder.bmp", "", false, FrameFailure::kNotAFile, 0},
      {"fifo.bmp", "", false, FrameFailure::kNotAFile, 0},
      {"text.bmp", std::string(100, 'x'), true, FrameFailure::kNotImage, 0},
      {"cut.bmp", "BM" + std::string(30, '\0'), true, FrameFailure::kDamaged, 0},
      {"bits.bmp", Bmp(4, 4, 3), true, FrameFailure::kDamaged, 0},
      {"huge.bmp", Bmp(70000, 70000), true, FrameFailure::kTooLarge, 0},
      {"crc.png", badCrc, true, FrameFailure::kDamaged, 0},
      {"cut.png", png.substr(0, png.size() - 20), true, FrameFailure::kDamaged, 0},
      {"huge.png", PngHead(60000, 60000), true, FrameFailure::kTooLarge, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.file) {
      ASSERT_TRUE(dir.AddFile(c.name, c.content));
    }
    const FrameRead read = ReadFrame(dir.Join(c.name).c_str());
    EXPECT_EQ(read.failure, c.failure);
    EXPECT_EQ(read.error, c.error);
    EXPECT_FALSE(read.image);
  }
}

// The size a header declares is known, and asked of the budget, before any memory for the
// picture is requested; a budget that says no ends the read without a picture.
TEST(FrameReader, AsksTheBudgetForTheBlockBeforeMakingIt) {
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  struct Case {
    const char* name;
    std::string content;
    std::uint64_t bytes;
    bool whole;  // a file that reads, not only a header
  };
  const Case cases[] = {
      {"a.bmp", Bmp(100, 50), 40 + 300 * 50 + 1, true},
      {"b.bmp", Bmp(8000, 6000, 8), 40 + 1024 + 8000ull * 6000 + 1, true},
      // RGB rows, a slack row; RGBA might keep its alpha: 32 bits a pixel at most.
      {"c.png", Png(100, 50), 40 + 300 * 51, true},
      {"d.png", PngHead(3000, 2000), 40 + 12000ull * 2001, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(dir.AddFile(c.name, c.content));
    const FrameRead header = ReadFrameHeader(dir.Join(c.name).c_str());
    EXPECT_EQ(static_cast<bool>(header), c.whole);
    if (c.whole) {
      EXPECT_EQ(header.bytes, c.bytes);
    }
    Refusing budget;
    const FrameRead read = ReadFrame(dir.Join(c.name).c_str(), &budget);
    EXPECT_EQ(read.failure, FrameFailure::kNoMemory);
    EXPECT_EQ(budget.asked, c.bytes);
  }
}

std::uint64_t ResidentBytes() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<std::uint64_t>(resident) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// A file far shorter than its header claims is read (its missing part black), and costs
// memory for what it holds, not for what it claims: the rows it lacks are never touched.
TEST(FrameReader, AFileFarShorterThanItsHeaderCostsWhatItHolds) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "ThreadSanitizer's allocator fills zeroed blocks itself";
#endif
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  constexpr std::int32_t kSide = 8000;  // 192 MB of 24-bit rows, 64 MB of 8-bit ones
  test::BmpDescription rle;
  rle.width = kSide;
  rle.height = kSide;
  rle.bitCount = 8;
  rle.compression = 1;
  rle.palette.assign(256, 0x808080);
  rle.payload = {4, 9, 0, 2, 255, 255, 0, 2, 255, 255, 0, 0, 0, 0, 3, 7, 0, 1};  // a run, deltas, lines, a run
  struct Case {
    const char* name;
    std::string content;
    std::uint64_t declared;
  };
  const Case cases[] = {
      {"bottom-up", Bmp(kSide, kSide), 192000000},
      {"top-down", Bmp(kSide, -kSide), 192000000},
      {"run-length", Bytes(test::BuildBmp(rle)), 64000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(dir.AddFile("short.bmp", c.content));
    const std::uint64_t before = ResidentBytes();
    const FrameRead read = ReadFrame(dir.Join("short.bmp").c_str());
    if (read.failure == FrameFailure::kNoMemory) {
      GTEST_SKIP() << "no room for the block in this process";
    }
    ASSERT_TRUE(read);
    EXPECT_TRUE(read.cutShort || c.name[0] == 'r');
    const std::uint64_t after = ResidentBytes();
    const std::uint64_t grown = after > before ? after - before : 0;  // a sanitizer may give memory back
    EXPECT_LT(grown, c.declared / 4) << grown;  // a sanitizer's shadow of the block stays below
    ASSERT_GT(read.image.size(), c.declared);
    // What the file holds is there: the bottom row's first bytes (top-down: the picture's
    // last row in the file, which is empty here) or the first run.
    const std::uint8_t* bottom = read.image.pixels();
    const std::uint8_t* top = bottom + (std::uint64_t{kSide} - 1) * (c.name[0] == 'r' ? kSide : 3 * kSide);
    const std::uint8_t expected[] = {c.name[0] == 'r' ? std::uint8_t{9} : std::uint8_t{0x55}};
    // The top-down file's first row is the picture's top, stored last.
    EXPECT_EQ(c.name[0] == 't' ? top[0] : bottom[0], expected[0]);
  }
}

}  // namespace
}  // namespace zelvo
