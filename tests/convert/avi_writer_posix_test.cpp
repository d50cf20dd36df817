// The Linux writer is judged by independent readers: every file written here is opened
// with ffprobe and decoded with ffmpeg, and the frames are compared with the canvases
// that were handed over.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "convert/avi_saver_posix.h"
#include "convert/codec_posix.h"
#include "platform/output_file.h"
#include "support/media_probe_posix.h"

namespace zelvo {
namespace {

bool HaveFfmpeg() {
  static const bool have = std::system("ffprobe -version >/dev/null 2>&1") == 0 &&
                           std::system("ffmpeg -version >/dev/null 2>&1") == 0;
  return have;
}

#define REQUIRE_FFMPEG() \
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed: AVI files cannot be checked"

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/zelvo-avi-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~TempDir() {
    // Best effort: a folder left in /tmp fails no test.
    if (!path_.empty() && std::system(("rm -rf '" + path_ + "'").c_str()) != 0) return;
  }
  std::string File(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// ffprobe's view of the first video stream: codec_name, width, height, r_frame_rate,
// nb_frames (from the headers), nb_read_frames (counted by decoding), TAG:title.
std::map<std::string, std::string> Probe(const std::string& path) {
  return test::ProbeStream(path, "v:0", "codec_name,width,height,r_frame_rate,nb_frames,nb_read_frames:stream_tags=title");
}

// All frames decoded to top-down BGR24 without padding.
std::string Decode(const std::string& path) {
  return test::RunCommand("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
}

// The canvas as ffmpeg gives a frame back: top row first, no row padding.
std::string TopDown(const FrameCanvas& canvas) {
  std::string out;
  for (int y = canvas.height() - 1; y >= 0; --y) {
    out.append(reinterpret_cast<const char*>(canvas.data()) + y * canvas.stride(),
               static_cast<std::size_t>(canvas.width()) * 3);
  }
  return out;
}

// A smooth picture with a moving block: what a sequence of rendered frames looks like.
PackedDib TestImage(int width, int height, int frame) {
  const int stride = DibStride(width, 24);
  PackedDib dib = PackedDib::Allocate(40 + static_cast<std::uint64_t>(stride) * height);
  DibHeader h;
  InitDibHeader(&h);
  h.width = width;
  h.height = height;
  h.bitCount = 24;
  dib.set_header(h);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = dib.data() + 40 + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      const bool block = x >= frame * 2 % width && x < frame * 2 % width + 8 && y >= 4 && y < 14;
      row[3 * x] = static_cast<std::uint8_t>(block ? 30 : x * 255 / width);
      row[3 * x + 1] = static_cast<std::uint8_t>(block ? 220 : y * 255 / height);
      row[3 * x + 2] = static_cast<std::uint8_t>(block ? 40 : 128 + (x + y) % 32);
    }
  }
  return dib;
}

struct Written {
  std::vector<std::string> frames;  // expected, top-down
  bool closed = false;
};

AviSaver::Chooser Choose(const CodecChoice& choice) {
  return [choice](CodecChoice* out) {
    *out = choice;
    return true;
  };
}

// A movie as the job makes one: the saver writes into the temporary file beside `path`,
// which Finish puts in place.
class Movie {
 public:
  Movie(AviSaver& saver, const std::string& path) : saver_(saver) {
    ready_ = output_.Open(path.c_str()) && output_.CreateTemporary();
  }
  WriteResult Begin(int width, int height, int rate = 15000) {
    return ready_ ? saver_.Begin(width, height, output_, 1000, rate) : WriteResult::Failed(WriteFailure::kSystem);
  }
  bool Finish() { return saver_.Finish() && output_.Commit(); }
  OutputFile& output() { return output_; }

 private:
  AviSaver& saver_;
  OutputFile output_;
  bool ready_ = false;
};

// What a picture looks like on a canvas of width x height, as ffmpeg gives a frame back.
std::string Drawn(const PackedDib& image, int width, int height) {
  FrameCanvas canvas;
  canvas.Create(width, height);
  EXPECT_EQ(DrawPackedDib(canvas, image), 0);
  return TopDown(canvas);
}

// Writes `count` frames of TestImage through the saver and keeps what each should show.
Written WriteMovie(AviSaver& saver, const std::string& path, int width, int height, int count,
                   int rate = 15000) {
  Written w;
  Movie movie(saver, path);
  if (!movie.Begin(width, height, rate)) return w;
  for (int i = 0; i < count; ++i) {
    const PackedDib image = TestImage(width, height, i);
    EXPECT_TRUE(saver.Append(image)) << i;
    w.frames.push_back(Drawn(image, width, height));
  }
  w.closed = movie.Finish();
  return w;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::size_t Find(const std::vector<std::uint8_t>& b, const char* tag, std::size_t from = 0) {
  for (std::size_t i = from; i + 4 <= b.size(); ++i) {
    if (std::memcmp(&b[i], tag, 4) == 0) return i;
  }
  return std::string::npos;
}

bool Available(const std::string& codec) {
  for (const CodecInfo& c : ListCodecs()) {
    if (codec == c.name) return true;
  }
  return false;
}

TEST(AviSaverPosix, EveryCodecIsReadBackByFfmpeg) {
  REQUIRE_FFMPEG();
  struct Case { const char* codec; const char* probeName; const char* fourcc; bool lossless; } cases[] = {
      {"dib", "rawvideo", "DIB ", true},   {"ffv1", "ffv1", "FFV1", true},
      {"huffyuv", "huffyuv", "HFYU", true}, {"mjpeg", "mjpeg", "MJPG", false},
      {"mpeg4", "mpeg4", "FMP4", false},    {"h264", "h264", "H264", false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    if (!Available(c.codec)) {
      std::printf("  %s: no encoder in this libavcodec, not checked\n", c.codec);
      continue;
    }
    SCOPED_TRACE(c.codec);
    CodecChoice choice;
    choice.codec = c.codec;
    AviSaver saver(Choose(choice));
    const std::string path = dir.File((std::string(c.codec) + ".avi").c_str());
    const Written w = WriteMovie(saver, path, 64, 48, 12);
    ASSERT_TRUE(w.closed);
    auto probe = Probe(path);
    EXPECT_EQ(probe["codec_name"], c.probeName);
    EXPECT_EQ(probe["width"], "64");
    EXPECT_EQ(probe["height"], "48");
    EXPECT_EQ(probe["r_frame_rate"], "15/1");
    EXPECT_EQ(probe["nb_frames"], "12");
    EXPECT_EQ(probe["nb_read_frames"], "12");
    EXPECT_EQ(probe["TAG:title"], "VIDEO");
    const std::vector<std::uint8_t> bytes = ReadFile(path);
    const std::size_t strh = Find(bytes, "strh");
    ASSERT_NE(strh, std::string::npos);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[strh + 12]), 4), c.fourcc);
    const std::string decoded = Decode(path);
    const std::size_t frameSize = 64 * 48 * 3;
    ASSERT_EQ(decoded.size(), frameSize * w.frames.size());
    for (std::size_t i = 0; i < w.frames.size(); ++i) {
      const std::string got = decoded.substr(i * frameSize, frameSize);
      if (c.lossless) {
        EXPECT_TRUE(got == w.frames[i]) << "frame " << i << " differs";
      } else {
        // At the default quality (quantiser 3, CRF 18) this small picture of sharp edges
        // and fine stripes stays near 35 dB; a broken colour conversion falls far below.
        EXPECT_GT(test::PsnrOf(got, w.frames[i]), 34.0) << "frame " << i;
      }
    }
  }
}

TEST(AviSaverPosix, RateAndScaleAreStoredAsGiven) {
  REQUIRE_FFMPEG();
  struct Case { int rate; const char* probed; std::uint32_t microseconds; } cases[] = {
      {15000, "15/1", 66667}, {29970, "2997/100", 33367}, {120000, "120/1", 8333},
      {1, "1/1000", 1000000000}, {23976, "2997/125", 41708},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    AviSaver saver(Choose(CodecChoice{}));
    const std::string path = dir.File("rate.avi");
    ASSERT_TRUE(WriteMovie(saver, path, 8, 8, 2, c.rate).closed);
    EXPECT_EQ(Probe(path)["r_frame_rate"], c.probed);
    const std::vector<std::uint8_t> b = ReadFile(path);
    const std::size_t strh = Find(b, "strh");
    ASSERT_NE(strh, std::string::npos);
    EXPECT_EQ(U32At(b, strh + 8 + 20), 1000u);  // dwScale, not reduced
    EXPECT_EQ(U32At(b, strh + 8 + 24), static_cast<std::uint32_t>(c.rate));
    EXPECT_EQ(U32At(b, strh + 8 + 32), 2u);           // dwLength
    EXPECT_EQ(U32At(b, strh + 8 + 40), 0xffffffffu);  // dwQuality
    EXPECT_EQ(U32At(b, 32), c.microseconds);          // avih dwMicroSecPerFrame
    EXPECT_EQ(U32At(b, 48), 2u);                      // avih dwTotalFrames
  }
}

// Also on several encoder threads: FFV1 then codes slices and HuffYUV frames in parallel,
// and tiny frames must not be cut into slices that decode wrongly.
TEST(AviSaverPosix, OddSizesKeepEveryLosslessPixel) {
  REQUIRE_FFMPEG();
  struct Case { const char* codec; int width; int height; int threads; } cases[] = {
      {"dib", 33, 17, 0},     {"ffv1", 33, 17, 0},    {"ffv1", 33, 17, 1},   {"ffv1", 66, 34, 3},
      {"ffv1", 3, 2, 2},      {"huffyuv", 33, 17, 0}, {"huffyuv", 66, 34, 3}, {"huffyuv", 3, 2, 2},
  };
  TempDir dir;
  for (const Case& c : cases) {
    if (!Available(c.codec)) continue;
    SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.width) + "x" + std::to_string(c.height) +
                 " threads " + std::to_string(c.threads));
    CodecChoice choice;
    choice.codec = c.codec;
    choice.threads = c.threads;
    AviSaver saver(Choose(choice));
    const std::string path = dir.File("odd.avi");
    const Written w = WriteMovie(saver, path, c.width, c.height, 5);
    ASSERT_TRUE(w.closed);
    auto probe = Probe(path);
    EXPECT_EQ(probe["width"], std::to_string(c.width));
    EXPECT_EQ(probe["height"], std::to_string(c.height));
    std::string all;
    for (const auto& f : w.frames) all += f;
    EXPECT_TRUE(Decode(path) == all);
  }
}

// The same picture stored top-down: it has to be drawn, row by row, onto the canvas.
PackedDib TopDownCopy(const PackedDib& image) {
  PackedDib copy = PackedDib::Allocate(image.size());
  std::memcpy(copy.data(), image.data(), image.size());
  DibHeader header = image.header();
  const std::size_t stride = static_cast<std::size_t>(DibStride(header.width, 24));
  for (int y = 0; y < header.height; ++y) {
    std::memcpy(copy.pixels() + y * stride, image.pixels() + (header.height - 1 - y) * stride, stride);
  }
  header.height = -header.height;
  copy.set_header(header);
  return copy;
}

// Frames of the canvas's shape go to the file straight from their own block; the file must
// be what drawing them first gives, also around frames that are drawn (smaller).
TEST(AviSaverPosix, FramesOfTheCanvasShapeWriteAsIfDrawn) {
  TempDir dir;
  for (const char* codec : {"dib", "ffv1"}) {
    if (!Available(codec)) continue;
    SCOPED_TRACE(codec);
    CodecChoice choice;
    choice.codec = codec;
    choice.threads = 1;
    std::vector<std::uint8_t> files[2];
    for (int direct = 0; direct < 2; ++direct) {
      AviSaver saver(Choose(choice));
      const std::string path = dir.File(direct ? "direct.avi" : "drawn.avi");
      Movie movie(saver, path);
      ASSERT_TRUE(movie.Begin(34, 20));
      for (int i = 0; i < 4; ++i) {
        const PackedDib image = TestImage(i == 2 ? 20 : 34, i == 2 ? 11 : 20, i);  // frame 2 is smaller
        EXPECT_TRUE(direct ? saver.Append(image) : saver.Append(TopDownCopy(image))) << i;
      }
      ASSERT_TRUE(movie.Finish());
      files[direct] = ReadFile(path);
    }
    EXPECT_FALSE(files[0].empty());
    EXPECT_TRUE(files[0] == files[1]);
  }
}

// `image` drawn on `canvas` (at its top left, black around it) as a bottom-up 24-bit image.
PackedDib DibOf(FrameCanvas& canvas, const PackedDib& image) {
  EXPECT_EQ(DrawPackedDib(canvas, image), 0);
  PackedDib dib = PackedDib::Allocate(40 + canvas.bytes());
  DibHeader h;
  InitDibHeader(&h);
  h.width = canvas.width();
  h.height = canvas.height();
  h.bitCount = 24;
  dib.set_header(h);
  std::memcpy(dib.data() + 40, canvas.data(), canvas.bytes());
  return dib;
}

// Odd frames are padded with black to the even size the 4:2:0 encoders take, and the
// user is told; an odd size the user asked for every frame is refused before any file.
TEST(AviSaverPosix, OddSizeFor420CodecsIsPaddedUnlessItIsTheUsersSize) {
  REQUIRE_FFMPEG();
  TempDir dir;
  for (const char* codec : {"mpeg4", "h264"}) {
    for (const bool fitted : {false, true}) {
      if (!Available(codec)) continue;
      SCOPED_TRACE(std::string(codec) + (fitted ? " with --size 33x18" : ""));
      std::vector<std::string> messages;
      std::vector<std::string> notices;
      CodecChoice choice;
      choice.codec = codec;
      MovieOptions options;
      options.fitWidth = fitted ? 33 : 0;
      options.fitHeight = fitted ? 18 : 0;
      options.notice = [&](const std::string& text) { notices.push_back(text); };
      AviSaver saver(
          Choose(choice),
          [&](const char* caption, const char* text) {
            EXPECT_STREQ(caption, "AviSaver");
            messages.push_back(text);
          },
          options);
      const std::string path = dir.File("odd420.avi");
      const PackedDib image = TestImage(63, 47, 0);
      Movie movie(saver, path);
      if (fitted) {
        EXPECT_EQ(movie.Begin(63, 47).kind, WriteFailure::kStopped);
        EXPECT_EQ(lseek(movie.output().descriptor(), 0, SEEK_END), 0);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("Could not create the compressed stream.", 0), 0u) << messages[0];
        EXPECT_NE(messages[0].find("33x18"), std::string::npos) << messages[0];
        EXPECT_FALSE(saver.Append(image));
        continue;
      }
      ASSERT_TRUE(movie.Begin(63, 47));
      ASSERT_EQ(notices.size(), 1u);
      EXPECT_NE(notices[0].find("63x47"), std::string::npos) << notices[0];
      EXPECT_NE(notices[0].find("64x48"), std::string::npos) << notices[0];
      EXPECT_TRUE(saver.Append(image));
      ASSERT_TRUE(movie.Finish());
      EXPECT_TRUE(messages.empty());
      auto probe = Probe(path);
      EXPECT_EQ(probe["width"] + "x" + probe["height"], "64x48");
      // The movie of the picture drawn at the top left of a black 64x48 one: the same frames.
      AviSaver even(Choose(choice));
      Movie evenMovie(even, dir.File("even420.avi"));
      ASSERT_TRUE(evenMovie.Begin(64, 48));
      EXPECT_TRUE(even.Append(DibOf(even.canvas(), image)));
      ASSERT_TRUE(evenMovie.Finish());
      const std::string decoded = Decode(path);
      EXPECT_FALSE(decoded.empty());
      EXPECT_TRUE(decoded == Decode(dir.File("even420.avi")));
    }
  }
}

TEST(AviSaverPosix, UnusualRatesReachEveryEncoderUnchangedInTheFile) {
  REQUIRE_FFMPEG();
  TempDir dir;
  for (const CodecInfo& codec : ListCodecs()) {
    for (int rate : {1, 119999, 23976}) {
      SCOPED_TRACE(std::string(codec.name) + " at " + std::to_string(rate));
      CodecChoice choice;
      choice.codec = codec.name;
      AviSaver saver(Choose(choice));
      const std::string path = dir.File("unusual.avi");
      ASSERT_TRUE(WriteMovie(saver, path, 16, 16, 2, rate).closed);
      const std::vector<std::uint8_t> b = ReadFile(path);
      const std::size_t strh = Find(b, "strh");
      ASSERT_NE(strh, std::string::npos);
      EXPECT_EQ(U32At(b, strh + 8 + 24), static_cast<std::uint32_t>(rate));
      EXPECT_EQ(Probe(path)["nb_read_frames"], "2");
    }
  }
}

TEST(AviSaverPosix, NegativeHeightIsTakenAsItsSize) {
  REQUIRE_FFMPEG();
  TempDir dir;
  AviSaver saver(Choose(CodecChoice{}));
  const std::string path = dir.File("negative.avi");
  Movie movie(saver, path);
  ASSERT_TRUE(movie.Begin(10, -6));
  EXPECT_EQ(saver.canvas().height(), 6);
  const PackedDib image = TopDownCopy(TestImage(10, 6, 1));
  EXPECT_TRUE(saver.Append(image));
  const std::string expected = Drawn(image, 10, 6);
  ASSERT_TRUE(movie.Finish());
  auto probe = Probe(path);
  EXPECT_EQ(probe["height"], "6");
  EXPECT_TRUE(Decode(path) == expected);
  const std::vector<std::uint8_t> b = ReadFile(path);
  const std::size_t strf = Find(b, "strf");
  EXPECT_EQ(U32At(b, strf + 8 + 8), 6u);  // biHeight positive: bottom-up rows
}

TEST(AviSaverPosix, ExtensionSegmentsAreReadAcrossTheirBoundaries) {
  REQUIRE_FFMPEG();
  TempDir dir;
  for (const char* codec : {"dib", "ffv1"}) {
    SCOPED_TRACE(codec);
    CodecChoice choice;
    choice.codec = codec;
    AviSaver saver(Choose(choice));
    // Small segments show on a small file what happens past every 1 GiB of a large one.
    saver.set_segment_limit(std::strcmp(codec, "dib") == 0 ? 40000 : 4000);
    const std::string path = dir.File("segments.avi");
    const Written w = WriteMovie(saver, path, 64, 48, 30);
    ASSERT_TRUE(w.closed);
    const std::vector<std::uint8_t> b = ReadFile(path);
    EXPECT_NE(Find(b, "AVIX"), std::string::npos);
    EXPECT_NE(Find(b, "ix00"), std::string::npos);
    EXPECT_NE(Find(b, "idx1"), std::string::npos);
    const std::size_t dmlh = Find(b, "dmlh");
    ASSERT_NE(dmlh, std::string::npos);
    EXPECT_EQ(U32At(b, dmlh + 8), 30u);
    EXPECT_LT(U32At(b, 48), 30u);  // avih counts the first RIFF only
    auto probe = Probe(path);
    EXPECT_EQ(probe["nb_frames"], "30");
    EXPECT_EQ(probe["nb_read_frames"], "30");
    std::string all;
    for (const auto& f : w.frames) all += f;
    EXPECT_TRUE(Decode(path) == all);
  }
}

// The id and size of every chunk in the movi lists of every RIFF, in file order.
std::vector<std::pair<std::string, std::uint32_t>> MoviChunks(const std::vector<std::uint8_t>& b) {
  std::vector<std::pair<std::string, std::uint32_t>> chunks;
  for (std::size_t riff = 0; riff + 12 <= b.size(); riff += 8 + U32At(b, riff + 4) + (U32At(b, riff + 4) & 1)) {
    const std::size_t end = riff + 8 + U32At(b, riff + 4);
    for (std::size_t at = riff + 12; at + 8 <= end && end <= b.size();) {
      const std::uint32_t size = U32At(b, at + 4);
      if (std::memcmp(&b[at], "LIST", 4) == 0 && std::memcmp(&b[at + 8], "movi", 4) == 0) {
        for (std::size_t c = at + 12; c + 8 <= at + 8 + size; c += 8 + U32At(b, c + 4) + (U32At(b, c + 4) & 1)) {
          const std::string id(reinterpret_cast<const char*>(&b[c]), 4);
          if (id == "00dc" || id == "01wb") chunks.emplace_back(id, U32At(b, c + 4));
        }
      }
      at += 8 + size + (size & 1);
    }
  }
  return chunks;
}

// The sound track in AVI: the file's own samples as 16-bit PCM up to the video's end, in a
// chunk after each frame, indexed in idx1 and, past the segment limit, in every segment's
// ix01, so that ffmpeg reads both streams whole across AVIX segments.
TEST(AviSaverPosix, SoundIsInterleavedIndexedAndCutAtTheVideosEnd) {
  REQUIRE_FFMPEG();
  TempDir dir;
  const std::string wav = dir.File("noise.wav");
  test::RunCommand("ffmpeg -v error -f lavfi -i anoisesrc=sample_rate=44100:duration=3:seed=3 -ac 2 '" + wav + "'");
  const std::string whole = test::RunCommand("ffmpeg -v error -i '" + wav + "' -f s16le -");
  ASSERT_EQ(whole.size(), 44100u * 3 * 4);
  struct Case {
    const char* codec;
    std::uint64_t segmentLimit;
  } cases[] = {{"dib", AviFile::kDefaultSegmentLimit}, {"dib", 40000}, {"ffv1", 6000}, {"h264", 6000}};
  for (const Case& c : cases) {
    if (!Available(c.codec)) continue;
    SCOPED_TRACE(std::string(c.codec) + ", segments of " + std::to_string(c.segmentLimit));
    CodecChoice choice;
    choice.codec = c.codec;
    MovieOptions options;
    options.soundPath = wav;
    AviSaver saver(Choose(choice), AviSaver::PrintMessage, options);
    saver.set_segment_limit(c.segmentLimit);
    const std::string path = dir.File("sound.avi");
    const Written w = WriteMovie(saver, path, 64, 48, 30);  // two seconds at 15 frames a second
    ASSERT_TRUE(w.closed);
    const std::vector<std::uint8_t> b = ReadFile(path);
    if (c.segmentLimit < AviFile::kDefaultSegmentLimit) {
      EXPECT_NE(Find(b, "AVIX"), std::string::npos);
      EXPECT_NE(Find(b, "ix01", Find(b, "AVIX")), std::string::npos);  // the sound's index in a later segment
    }
    const std::size_t avih = Find(b, "avih");
    EXPECT_EQ(U32At(b, avih + 8 + 24), 2u);  // dwStreams
    // Each stream's super index lists its own chunk index in every segment, which covers
    // all of the stream: 30 frames, 88200 samples.
    std::size_t indx = 0;
    for (const auto& stream : {std::make_pair("ix00", 30u), std::make_pair("ix01", 88200u)}) {
      indx = Find(b, "indx", indx + 1);
      ASSERT_NE(indx, std::string::npos);
      std::uint32_t ticks = 0;
      for (std::uint32_t i = 0; i < U32At(b, indx + 12); ++i) {
        const std::size_t entry = indx + 32 + 16 * i;
        const std::size_t at = U32At(b, entry);  // small files: the high half is 0
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[at]), 4), stream.first);
        ticks += U32At(b, entry + 12);
      }
      EXPECT_EQ(ticks, stream.second) << stream.first;
    }
    // After each frame chunk one sound chunk of that frame's samples, across segments; an
    // encoder that holds frames back is followed, never run ahead of.
    int frames = 0, pieces = 0;
    bool alternating = true;
    for (const auto& chunk : MoviChunks(b)) {
      const bool sound = chunk.first == "01wb";
      sound ? ++pieces : ++frames;
      if (sound) alternating = alternating && chunk.second == 2940u * 4 && pieces <= frames;
    }
    EXPECT_EQ(frames, 30);
    EXPECT_EQ(pieces, 30);
    EXPECT_TRUE(alternating);
    const auto sound = test::ProbeStream(path, "a:0", "codec_name,sample_rate,channels,duration_ts");
    EXPECT_EQ(sound.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(sound.at("sample_rate"), "44100");
    EXPECT_EQ(sound.at("channels"), "2");
    EXPECT_EQ(Probe(path)["nb_read_frames"], "30");
    const std::string pcm = test::RunCommand("ffmpeg -v error -i '" + path + "' -map 0:a -f s16le -");
    EXPECT_EQ(pcm.size(), 88200u * 4);  // two seconds, not the file's three
    EXPECT_TRUE(pcm == whole.substr(0, 88200u * 4));
    std::string all;
    for (const auto& f : w.frames) all += f;
    if (std::strcmp(c.codec, "h264") != 0) {
      EXPECT_TRUE(Decode(path) == all);
    }
  }
}

// Runs `body` in a child process whose files may not grow past `limit` bytes; the
// child's exit code is the result.
int InChildWithFileLimit(rlim_t limit, const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(AviSaverPosix, FailedWriteIsReportedAndTheFileClaimsNoFrames) {
  TempDir dir;
  for (const char* codec : {"dib", "ffv1"}) {
    SCOPED_TRACE(codec);
    const std::string path = dir.File("full.avi");
    const int result = InChildWithFileLimit(200000, [&] {
      CodecChoice choice;
      choice.codec = codec;
      AviSaver saver(Choose(choice));
      Movie movie(saver, path);
      if (!movie.Begin(320, 240)) return 10;
      int failedAt = -1;
      WriteResult failure;
      for (int i = 0; i < 200 && failedAt < 0; ++i) {
        failure = saver.Append(TestImage(320, 240, i));
        if (!failure) failedAt = i;
      }
      if (failedAt < 0) return 11;                        // the limit never showed
      if (failure.kind != WriteFailure::kSystem || failure.error != EFBIG) return 16;  // the system's reason
      if (saver.nextFrame() != failedAt + 1) return 12;   // index advanced on the failure
      if (saver.Append(TestImage(320, 240, 0))) return 13;  // nothing more after a failure
      if (saver.nextFrame() != failedAt + 2) return 14;
      if (saver.Finish()) return 15;
      return movie.output().Commit() ? 0 : 17;  // the file as the failure left it, to look at
    });
    EXPECT_EQ(result, 0);
    const std::vector<std::uint8_t> b = ReadFile(path);
    ASSERT_GT(b.size(), 64u);
    EXPECT_LE(b.size(), 200000u);
    EXPECT_EQ(U32At(b, 48), 0u);  // avih dwTotalFrames
    const std::size_t strh = Find(b, "strh");
    EXPECT_EQ(U32At(b, strh + 8 + 32), 0u);  // dwLength
    const std::size_t dmlh = Find(b, "dmlh");
    EXPECT_EQ(U32At(b, dmlh + 8), 0u);
  }
}

TEST(AviSaverPosix, CancelledChoiceCreatesNothingAndSaysNothing) {
  TempDir dir;
  int messages = 0;
  AviSaver saver([](CodecChoice*) { return false; },
                 [&](const char*, const char*) { ++messages; });
  const std::string path = dir.File("cancel.avi");
  {
    Movie movie(saver, path);
    EXPECT_EQ(movie.Begin(16, 16).kind, WriteFailure::kStopped);
  }
  EXPECT_EQ(messages, 0);
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  EXPECT_FALSE(saver.Append(TestImage(4, 4, 0)));
}

TEST(AviSaverPosix, FailuresSendTheirMessageWithCaption) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string codec, options, path;
    int width, height, rate;
    std::string message;  // the start of the message (all of it where it names the file)
  } cases[] = {
      {"unknown option", "mjpeg", "no_such_option=1", dir.File("opt.avi"), 8, 8, 15000,
       "Could not create the compressed stream.\nThe mjpeg encoder has no option no_such_option."},
      {"unknown codec", "nonesuch", "", dir.File("codec.avi"), 8, 8, 15000, "Could not create the compressed stream."},
      {"zero rate", "dib", "", dir.File("rate.avi"), 8, 8, 0, "Could not set the format of the stream."},
      {"zero width", "dib", "", dir.File("width.avi"), 0, 8, 15000, "Could not set the format of the stream."},
      {"huge frame", "dib", "", dir.File("huge.avi"), 100000, 100000, 15000, "Could not create the frame canvas."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::pair<std::string, std::string>> got;
    CodecChoice choice;
    choice.codec = c.codec;
    choice.options = c.options;
    AviSaver saver(Choose(choice), [&](const char* caption, const char* text) { got.emplace_back(caption, text); });
    {
      Movie movie(saver, c.path);
      EXPECT_EQ(movie.Begin(c.width, c.height, c.rate).kind, WriteFailure::kStopped);
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].first, "AviSaver");
    EXPECT_EQ(got[0].second.rfind(c.message, 0), 0u) << got[0].second;
    EXPECT_NE(access(c.path.c_str(), F_OK), 0);
  }
}

TEST(CodecChoiceCheck, RefusesWhatTheEncoderWouldRefuseAndNamesCodecsForAnySize) {
  struct Case {
    const char* codec;
    const char* options;
    int width, height;
    const char* why;  // nullptr: accepted; else a part of the reason
  } cases[] = {
      {"dib", "", 33, 17, nullptr},
      {"dib", "g=5", 32, 16, "take no encoder options"},
      {"mjpeg", "", 33, 17, nullptr},
      {"mjpeg", "g=5", 32, 16, nullptr},
      {"mjpeg", "no_such_option=1", 32, 16, "no option no_such_option"},
      {"mjpeg", "g=abc", 32, 16, "could not be opened"},
      {"mpeg4", "", 32, 16, nullptr},
      {"mpeg4", "", 33, 16, "(33x16). Codecs that take any size: dib, mjpeg, ffv1, huffyuv."},
      {"h264", "", 32, 17, "(32x17). Codecs that take any size: dib, mjpeg, ffv1, huffyuv."},
  };
  for (const Case& c : cases) {
    if (!Available(c.codec)) continue;
    SCOPED_TRACE(std::string(c.codec) + " " + c.options + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    CodecChoice choice;
    choice.codec = c.codec;
    choice.options = c.options;
    std::string why;
    EXPECT_EQ(CheckCodecChoice(choice, c.width, c.height, 1000, 15000, &why), c.why == nullptr) << why;
    if (c.why) {
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
  }
}

TEST(AviSaverPosix, WritesOutsideAnOpenFileAreRefused) {
  TempDir dir;
  AviSaver saver(Choose(CodecChoice{}));
  const PackedDib image = TestImage(4, 4, 0);
  EXPECT_FALSE(saver.Append(image));
  EXPECT_EQ(saver.nextFrame(), 0);
  EXPECT_TRUE(saver.Finish());
  const std::string path = dir.File("once.avi");
  Movie movie(saver, path);
  ASSERT_TRUE(movie.Begin(4, 4));
  EXPECT_TRUE(saver.Append(image));
  EXPECT_TRUE(saver.Append(image));
  EXPECT_EQ(saver.nextFrame(), 2);
  EXPECT_TRUE(movie.Finish());
  EXPECT_FALSE(saver.Append(image));
  EXPECT_EQ(saver.nextFrame(), 0);
}

TEST(AviSaverPosix, OpeningAgainCompletesTheFirstFile) {
  REQUIRE_FFMPEG();
  TempDir dir;
  AviSaver saver(Choose(CodecChoice{}));
  const std::string first = dir.File("first.avi"), second = dir.File("second.avi");
  const PackedDib image = TestImage(8, 8, 0);
  Movie one(saver, first), two(saver, second);
  ASSERT_TRUE(one.Begin(8, 8));
  ASSERT_TRUE(saver.Append(image));
  ASSERT_TRUE(saver.Append(image));
  ASSERT_TRUE(two.Begin(8, 8));
  ASSERT_TRUE(one.output().Commit());
  ASSERT_TRUE(saver.Append(image));
  ASSERT_TRUE(two.Finish());
  EXPECT_EQ(Probe(first)["nb_read_frames"], "2");
  EXPECT_EQ(Probe(second)["nb_read_frames"], "1");
}

TEST(AviSaverPosix, DataRateIsKilobytesPerSecond) {
  REQUIRE_FFMPEG();
  if (!Available("mpeg4")) GTEST_SKIP() << "no MPEG-4 encoder";
  TempDir dir;
  // Four seconds of moving pictures: the stream must come close to the chosen rate, read
  // as kilobytes (1024 bytes) per second.
  struct Case { int kilobytes; } cases[] = {{48}, {192}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kilobytes);
    CodecChoice choice;
    choice.codec = "mpeg4";
    choice.dataRate = c.kilobytes;
    AviSaver saver(Choose(choice));
    const std::string path = dir.File("rate.avi");
    Movie movie(saver, path);
    ASSERT_TRUE(movie.Begin(320, 240));
    unsigned seed = 1;
    for (int i = 0; i < 60; ++i) {
      PackedDib image = TestImage(320, 240, i * 3);
      std::uint8_t* p = image.pixels();
      for (std::size_t k = 0; k < static_cast<std::size_t>(DibStride(320, 24)) * 240; ++k) {  // grain: costs bits
        seed = seed * 1103515245u + 12345u;
        p[k] = static_cast<std::uint8_t>(p[k] / 2 + (seed >> 28));
      }
      ASSERT_TRUE(saver.Append(image));
    }
    ASSERT_TRUE(movie.Finish());
    const double seconds = 60 / 15.0;
    const double payload = static_cast<double>(ReadFile(path).size());
    const double perSecond = payload / seconds / 1024;
    std::printf("  asked %d KB/s, got %.1f KB/s\n", c.kilobytes, perSecond);
    EXPECT_GT(perSecond, c.kilobytes * 0.5);
    EXPECT_LT(perSecond, c.kilobytes * 2.0);  // a unit mistake is 8 or 1024 times off
  }
}

TEST(CodecChoice, NamesAndFourccsAreRecognised) {
  struct Case { const char* text; const char* name; } cases[] = {
      {"dib", "dib"}, {"DIB", "dib"}, {"MJPG", "mjpeg"}, {"mjpeg", "mjpeg"}, {"FFV1", "ffv1"},
      {"hfyu", "huffyuv"}, {"HuffYUV", "huffyuv"}, {"FMP4", "mpeg4"}, {"xvid", "mpeg4"},
      {"H264", "h264"}, {" ffv1 ", "ffv1"}, {"vp9", nullptr}, {"", nullptr}, {"dibs", nullptr},
  };
  for (const auto& c : cases) {
    std::string name = "unchanged";
    EXPECT_EQ(ParseCodecName(c.text, &name), c.name != nullptr) << c.text;
    if (c.name) {
      EXPECT_EQ(name, c.name) << c.text;
    }
  }
  const std::vector<CodecInfo> list = ListCodecs();
  ASSERT_FALSE(list.empty());
  EXPECT_STREQ(list[0].name, "dib");
  EXPECT_TRUE(Available("mjpeg"));
  EXPECT_TRUE(Available("ffv1"));
}

TEST(CodecChoice, TerminalChooserReadsNumberThenSettings) {
  const std::vector<CodecInfo> list = ListCodecs();
  const std::string mjpegNumber = [&] {
    for (std::size_t i = 0; i < list.size(); ++i)
      if (std::strcmp(list[i].name, "mjpeg") == 0) return std::to_string(i + 1);
    return std::string("0");
  }();
  struct Case {
    const char* name;
    std::string input;
    bool chosen;
    const char* codec;
    int quality, keyEvery, dataRate;
    // The command line's settings the chooser starts from: quality, key frames, data rate.
    int givenQuality = -1, givenKeyEvery = 0, givenDataRate = 0;
  } cases[] = {
      {"Enter keeps full frames", "\n", true, "dib", -1, 0, 0},
      {"number then the settings mjpeg uses", mjpegNumber + "\n80\n500\n", true, "mjpeg", 80, 0, 500},
      {"settings left at defaults", mjpegNumber + "\n\n\n\n", true, "mjpeg", -1, 0, 0},
      {"name instead of number, ffv1 asked for key frames only", "FFV1\n5\n", true, "ffv1", -1, 5, 0},
      {"wrong number asked again", "99\nabc\n\n", true, "dib", -1, 0, 0},
      {"quality out of range asked again", mjpegNumber + "\n150\n-1\n40\n\n\n", true, "mjpeg", 40, 0, 0},
      {"q cancels", "q\n", false, "", 0, 0, 0},
      {"q cancels at a setting", mjpegNumber + "\n50\nq\n", false, "", 0, 0, 0},
      {"end of input cancels", "", false, "", 0, 0, 0},
      {"end of input at a setting", mjpegNumber + "\n50\n", false, "", 0, 0, 0},
      {"the command line's settings are kept and not asked again", "mpeg4\n300\n", true, "mpeg4", 0, 2, 300, 0, 2},
      {"a data rate given: no quality asked", "mpeg4\n\n", true, "mpeg4", -1, 0, 700, -1, 0, 700},
      {"full frames keep what was given", "dib\n", true, "dib", 40, 3, 0, 40, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string input = c.input;
    FILE* in = fmemopen(input.empty() ? nullptr : &input[0], input.size(), "r");
    if (!in) in = std::tmpfile();  // an empty input: fmemopen refuses size 0 on some libcs
    ASSERT_NE(in, nullptr);
    char* outText = nullptr;
    std::size_t outSize = 0;
    FILE* out = open_memstream(&outText, &outSize);
    CodecChoice choice;
    choice.codec = "unchanged";
    choice.quality = c.givenQuality;
    choice.keyFrameEvery = c.givenKeyEvery;
    choice.dataRate = c.givenDataRate;
    choice.options = "g=7";
    const bool chosen = ChooseCodecOnTerminal(in, out, &choice);
    std::fclose(in);
    std::fclose(out);
    const std::string shown(outText, outSize);
    std::free(outText);
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_NE(shown.find("mjpeg"), std::string::npos);
    if (c.chosen) {
      EXPECT_EQ(choice.codec, c.codec);
      EXPECT_EQ(choice.quality, c.quality);
      EXPECT_EQ(choice.keyFrameEvery, c.keyEvery);
      EXPECT_EQ(choice.dataRate, c.dataRate);
      EXPECT_EQ(choice.options, "g=7");  // what -c would be given
    } else {
      EXPECT_EQ(choice.codec, "unchanged");  // a cancelled choice leaves nothing behind
    }
  }
}

}  // namespace
}  // namespace zelvo
