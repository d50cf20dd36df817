// MKV, MP4 and MOV movies are judged by ffprobe and ffmpeg: container, codec, frame count,
// exact rate, pixels and sound. Each movie is written to a descriptor whose name is removed
// before writing starts, so a writer that opened the output by name (movenc's faststart
// pass does by default) would fail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "convert/container_movie_posix.h"
#include "convert/frame_canvas.h"
#include "support/media_probe_posix.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using test::DecodeBgr;
using test::ProbeStream;
using test::PsnrOf;
using test::RunCommand;

// A smooth picture with a block that moves: frame `i` on a bottom-up canvas.
void Paint(FrameCanvas& canvas, int i) {
  for (int y = 0; y < canvas.height(); ++y) {
    std::uint8_t* row = canvas.data() + static_cast<std::size_t>(canvas.height() - 1 - y) * canvas.stride();
    for (int x = 0; x < canvas.width(); ++x) {
      const bool block = x >= (i * 3) % canvas.width() && x < (i * 3) % canvas.width() + 6 && y >= 2 && y < 9;
      row[3 * x] = static_cast<std::uint8_t>(block ? 30 : x * 255 / canvas.width());
      row[3 * x + 1] = static_cast<std::uint8_t>(block ? 220 : y * 255 / canvas.height());
      row[3 * x + 2] = static_cast<std::uint8_t>(block ? 40 : 128 + (x + y) % 32);
    }
  }
}

std::string TopDown(const FrameCanvas& canvas) {
  std::string out;
  for (int y = canvas.height() - 1; y >= 0; --y) {
    out.append(reinterpret_cast<const char*>(canvas.data()) + y * canvas.stride(), canvas.width() * 3u);
  }
  return out;
}

// A file in `dir` opened read-write whose name is gone again: only the descriptor reaches it.
int NamelessFile(const test::TempDir& dir) {
  const std::string path = dir.Join("out");
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) unlink(path.c_str());
  return fd;
}

// Copies what the descriptor holds into `path`, for the programs that check it.
bool CopyOut(int fd, const std::string& path) {
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) return false;
  char buffer[1 << 16];
  off_t at = 0;
  ssize_t n;
  bool ok = true;
  while ((n = pread(fd, buffer, sizeof buffer, at)) > 0) {
    ok = ok && write(out, buffer, static_cast<std::size_t>(n)) == n;
    at += n;
  }
  return close(out) == 0 && ok && n == 0;
}

struct Movie {
  ContainerResult result;
  std::string frames;  // every canvas, top-down
  std::string path;    // a copy of the file, for ffprobe and ffmpeg
};

// Writes `count` frames of Paint through a ContainerMovie on `fd`.
Movie WriteMovie(int fd, Container container, const std::string& codec, int width, int height, int scale, int rate,
                 int count, const char* sound = nullptr) {
  Movie movie;
  CodecChoice choice;
  choice.codec = codec;
  ContainerMovie writer;
  movie.result = writer.Open(fd, container, choice, width, height, scale, rate, sound);
  FrameCanvas canvas;
  if (!movie.result || !canvas.Create(width, height)) return movie;
  for (int i = 0; i < count && movie.result; ++i) {
    Paint(canvas, i);
    movie.frames += TopDown(canvas);
    movie.result = writer.WriteFrame(canvas.data(), canvas.stride());
  }
  if (movie.result) movie.result = writer.Finish();
  return movie;
}

// WriteMovie on a nameless file in `dir`, copied out to `name` there when written.
Movie WriteNameless(const test::TempDir& dir, const std::string& name, Container container, const std::string& codec,
                    int width, int height, int scale, int rate, int count, const char* sound = nullptr) {
  const int fd = NamelessFile(dir);
  if (fd < 0) {
    Movie none;
    none.result.failure = ContainerFailure::kSetup;
    return none;
  }
  Movie movie = WriteMovie(fd, container, codec, width, height, scale, rate, count, sound);
  movie.path = dir.Join(name);
  if (movie.result && !CopyOut(fd, movie.path)) movie.result.failure = ContainerFailure::kFinish;
  close(fd);
  return movie;
}

bool Encodable(const std::string& codec, Container container) {
  for (const CodecInfo& info : ListCodecs(container)) {
    if (codec == info.name) return true;
  }
  return false;
}

TEST(ContainerFile, EveryCodecOfEachContainerIsReadBackWithItsExactRate) {
  REQUIRE_FFMPEG_TOOLS();
  struct Case {
    Container container;
    const char* format;
  } containers[] = {{Container::kMkv, "matroska,webm"},
                    {Container::kMp4, "mov,mp4,m4a,3gp,3g2,mj2"},
                    {Container::kMov, "mov,mp4,m4a,3gp,3g2,mj2"}};
  struct Codec {
    const char* name;
    const char* probed;
    bool lossless;
  } codecs[] = {{"dib", "rawvideo", true},    {"mjpeg", "mjpeg", false}, {"ffv1", "ffv1", true},
                {"huffyuv", "huffyuv", true}, {"mpeg4", "mpeg4", false}, {"h264", "h264", false}};
  test::TempDir dir;
  for (const Case& c : containers) {
    for (const Codec& codec : codecs) {
      if (!Encodable(codec.name, c.container)) continue;
      SCOPED_TRACE(std::string(ContainerName(c.container)) + " " + codec.name);
      // Lossless codecs at an odd size: the rows of full frames are stored unpadded.
      const int width = codec.lossless ? 33 : 64, height = codec.lossless ? 17 : 48;
      const Movie movie = WriteNameless(dir, std::string("movie.") + ContainerName(c.container), c.container,
                                        codec.name, width, height, 1001, 30000, 7);
      ASSERT_TRUE(movie.result) << movie.result.message;
      const std::string& path = movie.path;
      auto probe = ProbeStream(path, "v:0", "codec_name,width,height,r_frame_rate,nb_read_frames");
      EXPECT_EQ(probe["format_name"], c.format);
      EXPECT_EQ(probe["codec_name"], codec.probed);
      EXPECT_EQ(probe["width"], std::to_string(width));
      EXPECT_EQ(probe["r_frame_rate"], "30000/1001");
      EXPECT_EQ(probe["nb_read_frames"], "7");
      const std::string decoded = DecodeBgr(path);
      if (codec.lossless) {
        EXPECT_TRUE(decoded == movie.frames);
      } else {
        // This small picture's sharp block edges code at about 31 dB with each codec's
        // default quality in every container; swapped or shifted channels fall below 20.
        EXPECT_GT(PsnrOf(decoded, movie.frames), 28.0);
      }
    }
  }
}

// The index of MP4 and MOV comes before the media data, moved there by the second pass
// that reads the file back through the descriptor.
TEST(ContainerFile, Mp4AndMovKeepTheirIndexAtTheFront) {
  test::TempDir dir;
  for (Container container : {Container::kMp4, Container::kMov}) {
    SCOPED_TRACE(ContainerName(container));
    const Movie movie = WriteNameless(dir, "front", container, "mjpeg", 32, 16, 1, 15, 3);
    ASSERT_TRUE(movie.result) << movie.result.message;
    const int fd = open(movie.path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<std::string> atoms;
    std::uint8_t head[8];
    for (off_t at = 0; pread(fd, head, 8, at) == 8;) {
      atoms.emplace_back(reinterpret_cast<char*>(head + 4), 4);
      const std::uint32_t size = static_cast<std::uint32_t>(head[0] << 24 | head[1] << 16 | head[2] << 8 | head[3]);
      if (size < 8) break;
      at += size;
    }
    close(fd);
    const auto moov = std::find(atoms.begin(), atoms.end(), "moov");
    const auto mdat = std::find(atoms.begin(), atoms.end(), "mdat");
    ASSERT_TRUE(moov != atoms.end() && mdat != atoms.end());
    EXPECT_LT(moov - atoms.begin(), mdat - atoms.begin());
  }
}

TEST(ContainerFile, SoundIsStoredInEachContainersCodecAndEndsWithTheVideo) {
  REQUIRE_FFMPEG_TOOLS();
  test::TempDir dir;
  const std::string wav = dir.Join("tone.wav");
  RunCommand("ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -ac 2 '" + wav + "'");
  struct Case {
    Container container;
    const char* codec;
    const char* sound;
  } cases[] = {{Container::kMkv, "ffv1", "flac"}, {Container::kMp4, "h264", "aac"}, {Container::kMov, "mpeg4", "aac"}};
  for (const Case& c : cases) {
    if (!Encodable(c.codec, c.container)) continue;
    SCOPED_TRACE(ContainerName(c.container));
    const int frames = 45;  // 1.5015 s at 30000/1001
    const Movie movie = WriteNameless(dir, std::string("sound.") + ContainerName(c.container), c.container, c.codec, 32,
                                      16, 1001, 30000, frames, wav.c_str());
    ASSERT_TRUE(movie.result) << movie.result.message;
    const std::string& path = movie.path;
    auto probe = ProbeStream(path, "a:0", "codec_name,channels,sample_rate");
    EXPECT_EQ(probe["codec_name"], c.sound);
    EXPECT_EQ(probe["channels"], "2");
    EXPECT_EQ(probe["sample_rate"], "44100");
    // The sound's length as decoded, within one frame of the video's.
    const std::string samples = RunCommand("ffmpeg -v error -i '" + path + "' -map 0:a:0 -f s16le -ac 1 - | wc -c");
    const double seconds = std::stod(samples) / 2 / 44100;
    EXPECT_NEAR(seconds, frames * 1001.0 / 30000, 1001.0 / 30000);
    EXPECT_EQ(ProbeStream(path, "v:0", "nb_read_frames")["nb_read_frames"], std::to_string(frames));
  }
}

TEST(ContainerFile, RefusalsAndFailuresSayWhy) {
  test::TempDir dir;
  struct Case {
    const char* what;
    Container container;
    const char* codec;
    int flags;  // for the output; -1: /dev/full
    ContainerFailure failure;
    int error;
  } cases[] = {
      {"full frames into MP4", Container::kMp4, "dib", O_RDWR, ContainerFailure::kUnsupported, 0},
      {"FFV1 into MP4", Container::kMp4, "ffv1", O_RDWR, ContainerFailure::kUnsupported, 0},
      {"full frames into MKV", Container::kMkv, "dib", O_RDWR, ContainerFailure::kUnsupported, 0},
      {"AVI through libavformat", Container::kAvi, "mjpeg", O_RDWR, ContainerFailure::kUnsupported, 0},
      {"MP4 it cannot read back", Container::kMp4, "mjpeg", O_WRONLY, ContainerFailure::kSetup, EBADF},
      {"a full disk", Container::kMkv, "mjpeg", -1, ContainerFailure::kNone, ENOSPC},
      {"a descriptor open for reading", Container::kMkv, "mjpeg", O_RDONLY, ContainerFailure::kNone, EBADF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.Join("refused");
    if (c.flags >= 0) close(open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600));
    const int fd = c.flags < 0 ? open("/dev/full", O_RDWR) : open(path.c_str(), c.flags);
    ASSERT_GE(fd, 0);
    // Frames of 256x256 noise-free gradients fill the muxer's buffer within a few frames.
    const Movie movie = WriteMovie(fd, c.container, c.codec, 256, 256, 1, 15, 40);
    close(fd);
    ASSERT_FALSE(movie.result);
    EXPECT_FALSE(movie.result.message.empty());
    if (c.failure != ContainerFailure::kNone) {
      EXPECT_EQ(movie.result.failure, c.failure);
    }
    if (c.error != 0) {
      EXPECT_EQ(movie.result.error, c.error) << movie.result.message;
    }
  }
}

// The terminal menu offers what the container holds: Enter takes the first of them, and a
// codec the container cannot hold is asked again.
TEST(ContainerFile, TheCodecMenuOffersWhatTheContainerHolds) {
  struct Case {
    Container container;
    std::string input;
    bool chosen;
    const char* codec;
  } cases[] = {
      {Container::kMp4, "\n\n\n\n", true, "mjpeg"},          {Container::kMov, "\n", true, "dib"},
      {Container::kMkv, "\n\n\n\n", true, "mjpeg"},          {Container::kMp4, "ffv1\n", false, ""},
      {Container::kMkv, "huffyuv\n\n\n\n", true, "huffyuv"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(std::string(ContainerName(c.container)) + " " + c.input);
    FILE* in = fmemopen(&c.input[0], c.input.size(), "r");
    char* shownText = nullptr;
    std::size_t shownSize = 0;
    FILE* out = open_memstream(&shownText, &shownSize);
    ASSERT_TRUE(in && out);
    CodecChoice choice;
    EXPECT_EQ(ChooseCodecOnTerminal(in, out, &choice, c.container), c.chosen);
    std::fclose(in);
    std::fclose(out);
    const std::string shown(shownText, shownSize);
    std::free(shownText);
    if (c.chosen) {
      EXPECT_EQ(choice.codec, c.codec);
    }
    for (const char* codec : {"dib", "ffv1", "huffyuv"}) {
      EXPECT_EQ(shown.find(std::string(") ") + codec) != std::string::npos, CodecFitsContainer(codec, c.container));
    }
  }
}

// The check the command line makes before anything is written refuses what the container
// cannot hold, with the reason, and opens the encoder as that container wants it.
TEST(ContainerFile, CodecChecksKnowTheContainer) {
  struct Case {
    const char* codec;
    Container container;
    bool ok;
  } cases[] = {
      {"dib", Container::kMp4, false}, {"huffyuv", Container::kMp4, false}, {"dib", Container::kMkv, false},
      {"dib", Container::kMov, true},  {"h264", Container::kMp4, true},     {"ffv1", Container::kMkv, true},
  };
  for (const Case& c : cases) {
    if (!Encodable(c.codec, Container::kAvi)) continue;
    CodecChoice choice;
    choice.codec = c.codec;
    std::string why;
    EXPECT_EQ(CheckCodecChoice(choice, 32, 16, 1, 25, &why, c.container), c.ok) << c.codec << ": " << why;
    if (!c.ok) {
      EXPECT_NE(why.find(ContainerLabel(c.container)), std::string::npos) << why;
    }
  }
}

TEST(ContainerFile, ExtensionsAndNamesGiveTheContainer) {
  struct Case {
    const char* path;
    bool known;
    Container container;
  } cases[] = {
      {"a/clip.mp4", true, Container::kMp4}, {"CLIP.MKV", true, Container::kMkv},
      {"x.Mov", true, Container::kMov},      {"x.avi", true, Container::kAvi},
      {"x.webm", false, Container::kAvi},    {"mp4", false, Container::kAvi},
      {"d/.mp4", true, Container::kMp4},     {"dir.mkv/clip", false, Container::kAvi},
      {"clip.", false, Container::kAvi},
  };
  for (const Case& c : cases) {
    Container container = Container::kAvi;
    EXPECT_EQ(ContainerFromPath(c.path, &container), c.known) << c.path;
    if (c.known) {
      EXPECT_EQ(container, c.container) << c.path;
    }
  }
}

}  // namespace
}  // namespace zelvo
