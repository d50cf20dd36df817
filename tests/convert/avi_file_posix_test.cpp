// The Linux AVI container writer on its own, without a codec, so that it is checked in the
// 32-bit Linux build too (32-bit size_t and pointers, 64-bit file positions): frames of
// odd and even sizes across extension segments come back byte for byte through ffmpeg,
// and a frame too large for an index entry is refused before any of it is read.
#include "convert/avi_file_posix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>

#include "image/packed_dib.h"
#include "platform/handles_posix.h"
#include "support/media_probe_posix.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

FileDescriptor CreateFile(const std::string& path) {
  return FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
}

AviVideoStream Stream(int width, int height) {
  AviVideoStream stream;
  stream.handler = MakeFourcc('D', 'I', 'B', ' ');
  stream.width = width;
  stream.height = height;
  stream.format.assign(kDibHeaderSize, 0);
  StoreDibHeader(stream.format.data(), MakeDibHeader(width, height, 24, 0));
  return stream;
}

TEST(AviFilePosix, FramesOfEverySizeComeBackAcrossSegments) {
  if (!test::HaveFfmpegTools()) GTEST_SKIP() << "ffprobe/ffmpeg not installed: AVI files cannot be checked";
  struct Case {
    std::uint64_t segmentLimit;
    int frames;
  };
  const Case cases[] = {{AviFile::kDefaultSegmentLimit, 9}, {20000, 40}, {4096, 25}};
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE("segment limit " + std::to_string(c.segmentLimit));
    const std::string path = dir.Join("frames.avi");
    AviFile file;
    file.set_segment_limit(c.segmentLimit);
    const FileDescriptor fd = CreateFile(path);
    const WriteResult created = file.Create(fd.get(), Stream(16, 8));
    ASSERT_TRUE(created) << created.error;
    std::string expected;
    std::uint32_t seed = 7;
    for (int f = 0; f < c.frames; ++f) {
      std::vector<std::uint8_t> frame(static_cast<std::size_t>(1 + (f * 997) % 3001));  // odd and even
      for (std::uint8_t& b : frame) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
      ASSERT_TRUE(file.WriteFrame(frame.data(), frame.size(), f % 5 == 0));
      expected.append(frame.begin(), frame.end());
    }
    ASSERT_TRUE(file.Finish());
    EXPECT_EQ(test::RunCommand("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" + path + "'"),
              std::to_string(c.frames) + "\n");
    EXPECT_EQ(test::RunCommand("ffmpeg -v error -i '" + path + "' -c copy -f rawvideo -"), expected);
  }
}

// An index entry holds a size in 31 bits: a larger frame fails the file, unread, and the
// headers then claim no frames.
TEST(AviFilePosix, FramePastTheIndexEntrySizeIsRefusedUnread) {
  test::TempDir dir;
  const std::string path = dir.Join("huge.avi");
  AviFile file;
  const FileDescriptor fd = CreateFile(path);
  ASSERT_TRUE(file.Create(fd.get(), Stream(16, 8)));
  const std::uint8_t small[4] = {1, 2, 3, 4};
  ASSERT_TRUE(file.WriteFrame(small, sizeof small, true));
  const std::size_t tooLarge = static_cast<std::size_t>(0x80000000u);  // fits a 32-bit size_t
  EXPECT_EQ(file.WriteFrame(small, tooLarge, true).kind, WriteFailure::kSizeLimit);  // would read far past `small`
  EXPECT_EQ(file.WriteFrame(small, sizeof small, true).kind, WriteFailure::kSizeLimit);
  EXPECT_FALSE(file.Finish());
  // avih's dwTotalFrames, the fifth field after RIFF, LIST hdrl and the avih chunk header.
  std::FILE* in = std::fopen(path.c_str(), "rb");
  ASSERT_NE(in, nullptr);
  std::uint8_t header[52] = {};
  const std::size_t got = std::fread(header, 1, sizeof header, in);
  std::fclose(in);
  ASSERT_EQ(got, sizeof header);
  EXPECT_EQ(header[48] | header[49] << 8 | header[50] << 16 | header[51] << 24, 0);
}

}  // namespace
}  // namespace zelvo
