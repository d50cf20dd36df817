// The sound source against files ffmpeg makes: which files are refused before anything is
// converted, what each container's sound becomes, and PCM that is exactly the file's.
#include "convert/sound_source_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <string>

#include "platform/messages_posix.h"
#include "support/media_probe_posix.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using test::RunCommand;

// Makes `name` in `dir` with ffmpeg from a lavfi source and output options.
std::string Make(const test::TempDir& dir, const std::string& name, const std::string& source,
                 const std::string& options = std::string()) {
  const std::string path = dir.Join(name);
  RunCommand("ffmpeg -v error -f lavfi -i " + source + " " + options + " '" + path + "'");
  return path;
}

TEST(SoundSource, FilesWithoutReadableSoundAreRefusedBeforeConverting) {
  REQUIRE_FFMPEG_TOOLS();
  test::TempDir dir;
  const std::string tone = "sine=frequency=300:sample_rate=22050:duration=0.5";
  struct Case {
    std::string path;
    SoundFailure failure;
    int error;
  } cases[] = {
      {Make(dir, "tone.wav", tone), SoundFailure::kNone, 0},
      {Make(dir, "tone.flac", tone), SoundFailure::kNone, 0},
      {Make(dir, "tone.ogg", tone, "-c:a vorbis -strict -2 -ac 2"), SoundFailure::kNone, 0},
      {Make(dir, "tone.mka", tone), SoundFailure::kNone, 0},
      {Make(dir, "picture.png", "color=red:size=8x8", "-frames:v 1"), SoundFailure::kNoAudio, 0},
      {Make(dir, "silent.mkv", "testsrc=size=16x16:duration=0.2", "-c:v ffv1"), SoundFailure::kNoAudio, 0},
      {dir.Join("missing.wav"), SoundFailure::kCannotOpen, ENOENT},
      {dir.path(), SoundFailure::kCannotOpen, 0},
      {dir.Join("fifo.wav"), SoundFailure::kCannotOpen, 0},  // no writer: must not hang
      {dir.Join("text.wav"), SoundFailure::kNotReadable, 0},
  };
  ASSERT_EQ(mkfifo(dir.Join("fifo.wav").c_str(), 0600), 0);
  ASSERT_TRUE(dir.AddFile("text.wav", "these words are no sound at all\n"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const SoundResult result = CheckSoundFile(c.path.c_str());
    EXPECT_EQ(result.failure, c.failure) << result.message;
    if (c.failure == SoundFailure::kNone) continue;
    EXPECT_NE(result.message.find(c.path), std::string::npos) << result.message;
    if (c.error != 0) {
      EXPECT_EQ(result.error, c.error);
    }
  }
  // A name is shown with what a terminal would obey escaped.
  const std::string hostile = dir.Join("clear\033[2J.wav");
  const SoundResult result = CheckSoundFile(hostile.c_str());
  EXPECT_EQ(result.message.find('\033'), std::string::npos) << result.message;
  EXPECT_NE(result.message.find(TerminalSafe(hostile.c_str())), std::string::npos) << result.message;
}

TEST(SoundSource, EachContainerGetsItsCodecRateAndChannels) {
  REQUIRE_FFMPEG_TOOLS();
  test::TempDir dir;
  struct Case {
    const char* name;
    const char* options;  // for ffmpeg, making the file
    Container container;
    int rate;
    int channels;
  } cases[] = {
      {"mono.wav", "-ac 1 -ar 22050", Container::kAvi, 22050, 1},
      {"six.wav", "-ac 6 -ar 48000", Container::kAvi, 48000, 2},  // mixed down
      {"six.flac", "-ac 6 -ar 96000", Container::kMkv, 96000, 2},
      {"odd.wav", "-ac 2 -ar 12345", Container::kMp4, 48000, 2},   // AAC has no 12345 Hz
      {"odd2.wav", "-ac 1 -ar 12345", Container::kMkv, 12345, 1},  // FLAC has
      {"deep.wav", "-ac 2 -ar 44100 -c:a pcm_s24le", Container::kMov, 44100, 2},
      {"deep2.wav", "-ac 2 -ar 44100 -c:a pcm_s24le", Container::kMkv, 44100, 2},  // 24-bit FLAC
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Make(dir, c.name, "sine=frequency=500:duration=1", c.options);
    SoundSource sound;
    const SoundResult opened = sound.Open(path.c_str(), c.container, 1, 25);
    ASSERT_TRUE(opened) << opened.message;
    EXPECT_EQ(sound.sampleRate(), c.rate);
    EXPECT_EQ(sound.channels(), c.channels);
    // 10 frames of 1/25 s take 0.4 s of the sound, in pieces handed out frame by frame.
    std::int64_t samples = 0, bytes = 0;
    const SoundSource::Sink sink = [&](const SoundPacket& p) {
      samples += p.duration;
      bytes += static_cast<std::int64_t>(p.size);
      return true;
    };
    for (int frame = 1; frame <= 10; ++frame) ASSERT_TRUE(sound.ReadUntilFrame(frame, sink));
    ASSERT_TRUE(sound.Finish(sink));
    EXPECT_EQ(sound.samplesTaken(), c.rate * 4 / 10);
    if (c.container == Container::kAvi) {
      EXPECT_EQ(bytes, samples * c.channels * 2);
      EXPECT_EQ(samples, c.rate * 4 / 10);
    } else {
      // An encoder's packets cover its priming as well, never less than the sound.
      EXPECT_GE(samples, c.rate * 4 / 10);
    }
  }
}

// 16-bit PCM for AVI is the file's own samples, cut at the video's end, however the frame
// rate divides the sample rate; a file shorter than the video just ends.
TEST(SoundSource, PcmChunksAreTheFilesSamplesUpToTheVideosEnd) {
  REQUIRE_FFMPEG_TOOLS();
  test::TempDir dir;
  const std::string path = Make(dir, "noise.wav", "anoisesrc=sample_rate=44100:duration=1.2:seed=7", "-ac 2");
  const std::string whole = RunCommand("ffmpeg -v error -i '" + path + "' -f s16le -");
  ASSERT_EQ(whole.size(), 44100u * 12 / 10 * 4);
  struct Case {
    int scale;
    int rate;
    int frames;
    std::size_t samples;
    int pieces;
  } cases[] = {
      {1001, 30000, 30, 44144, 30},  // 30 * 1001 / 30000 s = 44144.1 samples
      {1, 25, 7, 12348, 7},
      {1, 15, 30, 52920, 18},  // two seconds asked, 1.2 s there: 18 frames' worth
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    SoundSource sound;
    ASSERT_TRUE(sound.Open(path.c_str(), Container::kAvi, c.scale, c.rate));
    const std::vector<std::uint8_t> format = sound.WaveFormat();
    ASSERT_EQ(format.size(), 18u);
    EXPECT_EQ(format[12], 4);  // nBlockAlign: two channels of 16 bits
    std::string pcm;
    int pieces = 0;
    for (int frame = 1; frame <= c.frames; ++frame) {
      ASSERT_TRUE(sound.ReadUntilFrame(frame, [&](const SoundPacket& p) {
        pcm.append(reinterpret_cast<const char*>(p.data), p.size);
        ++pieces;
        return true;
      }));
    }
    const std::size_t expected = std::min<std::size_t>(c.samples * 4, whole.size());
    ASSERT_EQ(pcm.size(), expected);
    EXPECT_TRUE(pcm == whole.substr(0, expected));
    EXPECT_EQ(pieces, c.pieces);  // one piece per frame while the sound lasts
  }
}

}  // namespace
}  // namespace zelvo
