// The conversion job's flow with a scripted host and a recording writer: every outcome
// (declined, unreadable, cancelled, failed, aborted, complete), what reaches the user and
// what is left on disk, over real frame files.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/conversion_job.h"
#include "platform/file.h"
#include "support/bmp_writer.h"
#include "support/png_writer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using test::TempDir;

std::vector<std::string> ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
  return names;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A 2x1 frame whose left pixel's red value tells which frame was drawn.
std::vector<std::uint8_t> BmpFrame(int mark) {
  test::BmpDescription desc;
  desc.width = 2;
  desc.height = 1;
  desc.bitCount = 24;
  desc.payload = {0, 0, static_cast<std::uint8_t>(mark), 0, 0, 0, 0, 0};
  return test::BuildBmp(desc);
}

std::vector<std::uint8_t> PngFrame(int mark) {
  test::PngPicture picture;
  picture.width = 2;
  picture.height = 1;
  picture.colorType = 2;
  picture.samples = {static_cast<std::uint16_t>(mark), 0, 0, 0, 0, 0};
  return test::EncodePng(picture);
}

struct Script {
  std::deque<bool> answers;     // answers to the questions, in order; none left: No
  int abortAfter = -1;          // frames drawn before the abort button is pressed
  bool cancelCodec = false;     // the codec choice is cancelled
  bool failOpenAfterCreate = false;  // Open creates the file, then fails
  int failDrawAt = -1;          // frame index whose drawing fails
  int failWriteAt = -1;         // frame index whose write fails
  bool writePastLimit = false;  // that write fails because the file would pass its size limit
  bool writeNoMemory = false;   // that write fails for want of memory (the canvas, the encoder)
  int writeError = 0;           // the system's reason the writer gives for that failure
  bool failClose = false;
};

struct Record {
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  int beeps = 0;
  int writersCreated = 0;
  std::vector<int> marks;       // red value of each frame written, in order
  std::vector<std::string> statusTexts;
  int steps = 0;
  int progressTotal = -1;
  std::string openedPath;
  std::vector<std::string> notices;  // "cut:<name>" / "size:<name>", file names only
  int openedScale = 0, openedRate = 0, openedWidth = 0, openedHeight = 0;
};

class RecordingWriter : public FrameWriter {
 public:
  RecordingWriter(const Script& script, Record* record) : script_(script), record_(record) {}
  WriteResult Begin(int width, int height, const OutputFile& output, int scale, int rate) override {
    if (script_.cancelCodec) return WriteResult::Failed(WriteFailure::kStopped);
    record_->openedPath = output.temporaryPath();
    record_->openedWidth = width;
    record_->openedHeight = height;
    record_->openedScale = scale;
    record_->openedRate = rate;
    std::ofstream(record_->openedPath, std::ios::binary) << "partial";
    return script_.failOpenAfterCreate ? WriteResult::Failed(WriteFailure::kStopped) : WriteResult();
  }
  WriteResult Append(const PackedDib& image) override {
    if (static_cast<int>(drawn_++) == script_.failDrawAt) return WriteResult::Failed(WriteFailure::kNotDrawn);
    const int index = static_cast<int>(record_->marks.size());
    record_->marks.push_back(image.pixels()[2]);  // first pixel's red byte (24-bit rows: blue, green, red)
    if (index != script_.failWriteAt) return WriteResult();
    if (script_.writeNoMemory) return WriteResult::Failed(WriteFailure::kNoMemory);
    return script_.writePastLimit ? WriteResult::Failed(WriteFailure::kSizeLimit)
                                  : WriteResult::Failed(WriteFailure::kSystem, script_.writeError);
  }
  WriteResult Finish() override {
    std::ofstream(record_->openedPath, std::ios::binary) << "complete:" << record_->marks.size();
    return script_.failClose ? WriteResult::Failed(WriteFailure::kSystem) : WriteResult();
  }

 private:
  const Script& script_;
  Record* record_;
  std::size_t drawn_ = 0;
};

// Reader threads of the job's frame feed in the running test: every job test runs with
// frames read one at a time and with several readers decoding ahead, and must see the
// same order, messages and outcome.
int g_readers = 1;

class ScriptedHost : public JobHost {
 public:
  ScriptedHost(Script script) : script_(std::move(script)) {}
  bool AskYesNo(const char*, const std::string& text) override {
    record.questions.push_back(text);
    if (script_.answers.empty()) return false;
    bool answer = script_.answers.front();
    script_.answers.pop_front();
    return answer;
  }
  void ShowMessage(const char* caption, const std::string& text) override {
    EXPECT_STREQ(caption, "Zelvo");
    record.messages.push_back(text);
  }
  void Beep() override { ++record.beeps; }
  int RunProgress(int total, const std::function<int()>& routine) override {
    record.progressTotal = total;
    if (duringProgress) duringProgress();
    return routine();
  }
  void PostStatusText(const char* text) override { record.statusTexts.push_back(text); }
  void PostProgressStep() override { ++record.steps; }
  bool IsAbortRequested() override {
    return script_.abortAfter >= 0 && static_cast<int>(record.marks.size()) >= script_.abortAfter;
  }
  void Notice(JobNotice notice, const char* framePath) override {
    const std::string path = framePath;
    const char* kind = notice == JobNotice::kFrameCutShort ? "cut:" : notice == JobNotice::kAborted ? "aborted:" : "size:";
    record.notices.push_back(kind + path.substr(path.find_last_of("/\\") + 1));
  }
  std::string DescribeError(int error) override { return "reason " + std::to_string(error); }
  std::unique_ptr<FrameFeed> CreateFrameFeed(const FrameWalk& walk) override {
    if (g_readers <= 1) return std::make_unique<DirectFeed>();
    return std::make_unique<ReadAheadFeed>(walk, g_readers, ReadAheadDepth(g_readers, walk.width, walk.height),
                                           ReadAheadBudget(walk.width, walk.height));
  }
  std::unique_ptr<FrameWriter> CreateWriter() override {
    ++record.writersCreated;
    return std::make_unique<RecordingWriter>(script_, &record);
  }

  Record record;
  std::function<void()> duringProgress;  // runs while the job's progress display is up

 private:
  Script script_;
};

// The command line's choices beyond the frame; -1 keeps the run found on disk.
struct Overrides {
  int first = -1;
  int last = -1;
};

// The command lines' job: the run around `frame`, with confirmation.
JobOutcome RunFromFrame(JobHost& host, const std::string& frame, const Overrides& overrides = Overrides()) {
  FrameRun run;
  if (FindFrameRun(frame.c_str(), &run) != RunProblem::kNone) return JobOutcome::kFailed;
  if (overrides.first >= 0) run.settings.first = overrides.first;
  if (overrides.last >= 0) run.settings.last = overrides.last;
  return ConversionJob(host, run.settings).ConvertSequence(/*confirm=*/true);
}

// The main dialog's Run: settings as its controls left them, no confirmation. `cursor`
// receives the frame the job ended at.
JobOutcome RunFromDialog(JobHost& host, const std::string& input, const std::string& output, int first, int last,
                         std::string* cursor = nullptr) {
  JobSettings settings;
  settings.input = input;
  settings.output = output;
  settings.first = first;
  settings.last = last;
  ConversionJob job(host, settings);
  const JobOutcome outcome = job.ConvertSequence(/*confirm=*/false);
  if (cursor) *cursor = job.framePath();
  return outcome;
}

class ConversionJobTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    g_readers = GetParam();
    ASSERT_TRUE(dir.ok());
  }
  void TearDown() override { g_readers = 1; }

  // Frames prefix + number (width 4) .bmp for each number; marks = number.
  void MakeFrames(const std::string& prefix, int first, int last, bool pngFromHalf = false) {
    for (int n = first; n <= last; ++n) {
      char name[64];
      std::snprintf(name, sizeof name, "%s%04d.bmp", prefix.c_str(), n);
      bool png = pngFromHalf && n > (first + last) / 2;
      auto bytes = png ? PngFrame(n) : BmpFrame(n);
      ASSERT_TRUE(dir.AddFile(name, std::string(bytes.begin(), bytes.end())));
    }
  }
  // Files in the folder that are neither frames nor the expected output.
  int LeftoverTemporaries() {
    int count = 0;
    std::vector<std::string> names = ListFolder(dir.path());
    for (const std::string& name : names) {
      if (name.find("~zelvo") != std::string::npos) ++count;
    }
    return count;
  }

  TempDir dir;
};

TEST_P(ConversionJobTest, CompleteRunWritesEveryFrameInOrderAndBeeps) {
  MakeFrames("shot", 1, 20);
  ScriptedHost host(Script{{true}});
  EXPECT_EQ(RunFromFrame(host, dir.Join("shot0007.bmp")), JobOutcome::kDone);
  std::vector<int> expected;
  for (int n = 1; n <= 20; ++n) expected.push_back(n);
  EXPECT_EQ(host.record.marks, expected);
  EXPECT_EQ(host.record.beeps, 1);
  EXPECT_TRUE(host.record.messages.empty());
  EXPECT_EQ(host.record.steps, 19);  // no step for the last frame
  EXPECT_EQ(host.record.progressTotal, 20);
  EXPECT_EQ(host.record.openedScale, 1000);
  EXPECT_EQ(host.record.openedRate, 15000);
  EXPECT_EQ(host.record.openedWidth, 2);
  EXPECT_EQ(host.record.openedHeight, 1);
  ASSERT_EQ(host.record.questions.size(), 1u);
  std::string confirm = dir.Join("shot0001.bmp") + "\nから\n" + dir.Join("shot0020.bmp") + "\n20枚を\n" +
                        dir.Join("shot.avi") + "\nに変換します。\n";
  EXPECT_EQ(host.record.questions[0], confirm);
  EXPECT_EQ(ReadAll(dir.Join("shot.avi")), "complete:20");
  EXPECT_EQ(LeftoverTemporaries(), 0);
  EXPECT_FALSE(JobUnderWay());
}

TEST_P(ConversionJobTest, OutcomesLeaveAnOlderOutputExactlyAsItWas) {
  struct Case {
    const char* name;
    Script script;
    JobOutcome result;
    int framesWritten;
    const char* message;  // which frame the message names ("" for none, "out" for the output)
  };
  const Case cases[] = {
      {"overwrite declined", Script{{false}}, JobOutcome::kDeclined, 0, ""},
      {"confirmation declined", Script{{true, false}}, JobOutcome::kDeclined, 0, ""},
      {"codec choice cancelled", [] { Script s{{true, true}}; s.cancelCodec = true; return s; }(), JobOutcome::kFailed, 0, ""},
      {"writer open failed", [] { Script s{{true, true}}; s.failOpenAfterCreate = true; return s; }(), JobOutcome::kFailed, 0, ""},
      {"aborted after three frames", [] { Script s{{true, true}}; s.abortAfter = 3; return s; }(), JobOutcome::kFailed, 3, ""},
      {"drawing failed", [] { Script s{{true, true}}; s.failDrawAt = 2; return s; }(), JobOutcome::kFailed, 2, ""},
      {"frame write failed", [] { Script s{{true, true}}; s.failWriteAt = 1; s.writeError = 28; return s; }(), JobOutcome::kFailed, 2, "out"},
      {"frame past the size limit", [] { Script s{{true, true}}; s.failWriteAt = 2; s.writePastLimit = true; return s; }(), JobOutcome::kFailed, 3, "large"},
      {"no memory for a frame", [] { Script s{{true, true}}; s.failWriteAt = 1; s.writeNoMemory = true; return s; }(), JobOutcome::kFailed, 2, "memory"},
      {"completion failed", [] { Script s{{true, true}}; s.failClose = true; return s; }(), JobOutcome::kFailed, 5, "out"},
      {"replaced when complete", Script{{true, true}}, JobOutcome::kDone, 5, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir local;
    ASSERT_TRUE(local.ok());
    for (int n = 1; n <= 5; ++n) {
      auto bytes = BmpFrame(n);
      char name[32];
      std::snprintf(name, sizeof name, "p%03d.bmp", n);
      ASSERT_TRUE(local.AddFile(name, std::string(bytes.begin(), bytes.end())));
    }
    ASSERT_TRUE(local.AddFile("p.avi", "the user's older movie"));
    ScriptedHost host(c.script);
    EXPECT_EQ(RunFromFrame(host, local.Join("p003.bmp")), c.result);
    EXPECT_EQ(static_cast<int>(host.record.marks.size()), c.framesWritten);
    if (c.result == JobOutcome::kDone) {
      EXPECT_EQ(ReadAll(local.Join("p.avi")), "complete:5");
      EXPECT_EQ(host.record.beeps, 1);
    } else {
      EXPECT_EQ(ReadAll(local.Join("p.avi")), "the user's older movie");
      EXPECT_EQ(host.record.beeps, 0);
    }
    if (std::string(c.message) == "out") {
      ASSERT_EQ(host.record.messages.size(), 1u);
      // The writer's reason, when it has one, follows the message on a line of its own.
      const std::string reason = c.script.writeError != 0 ? "reason 28\n" : "";
      EXPECT_EQ(host.record.messages[0], local.Join("p.avi") + "\nに書き込めませんでした。\n" + reason);
    } else if (std::string(c.message) == "memory") {
      ASSERT_EQ(host.record.messages.size(), 1u);
      EXPECT_EQ(host.record.messages[0], local.Join("p002.bmp") + "\nを変換するためのメモリが足りません。\n");
    } else if (std::string(c.message) == "large") {
      ASSERT_EQ(host.record.messages.size(), 1u);
      EXPECT_EQ(host.record.messages[0], local.Join("p.avi") + "\nは2GBを超えるため、これ以上書き込めません。\n" +
                                             "圧縮する形式を選ぶとファイルを小さくできます。\n");
    } else {
      EXPECT_TRUE(host.record.messages.empty()) << host.record.messages[0];
    }
    const bool aborted = c.script.abortAfter >= 0;
    EXPECT_EQ(host.record.notices, aborted ? std::vector<std::string>{"aborted:p.avi"} : std::vector<std::string>{});
    int temporaries = 0;
    for (const std::string& name : ListFolder(local.path())) {
      if (name.find("~zelvo") != std::string::npos) ++temporaries;
    }
    EXPECT_EQ(temporaries, 0);
    ASSERT_FALSE(host.record.questions.empty());
    EXPECT_EQ(host.record.questions[0], local.Join("p.avi") + "\nこのファイルはすでに存在します。\n\n上書きしますか？");
  }
}

TEST_P(ConversionJobTest, UnreadableFramesAreNamedAndNothingIsLeft) {
  struct Case {
    const char* name;
    int missing;        // frame number removed or spoiled
    bool garbage;       // replaced by bytes that are no image
    int written;
  };
  const Case cases[] = {{"first frame missing", 1, false, 0},
                        {"middle frame missing", 4, false, 3},
                        {"middle frame garbage", 4, true, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir local;
    for (int n = 1; n <= 6; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "m%02d.bmp", n);
      auto bytes = BmpFrame(n);
      if (n == c.missing && c.garbage) bytes.assign(100, 0x42);
      ASSERT_TRUE(local.AddFile(name, std::string(bytes.begin(), bytes.end())));
    }
    char spoiled[32];
    std::snprintf(spoiled, sizeof spoiled, "m%02d.bmp", c.missing);
    // Frames vanish after the run was found: the run is named, then the file goes.
    ScriptedHost host(Script{{true}});
    if (!c.garbage) {
      ASSERT_TRUE(RemoveFile(local.Join(spoiled).c_str()));
    }
    std::string cursor;
    EXPECT_EQ(RunFromDialog(host, local.Join("m01.bmp"), local.Join("m.avi"), 1, 6, &cursor), JobOutcome::kFailed);
    EXPECT_EQ(static_cast<int>(host.record.marks.size()), c.written);
    ASSERT_EQ(host.record.messages.size(), 1u);
    // A missing file comes with the system's reason; a file of garbage has none.
    EXPECT_EQ(host.record.messages[0], local.Join(spoiled) + "\nを読めませんでした。\n" + (c.garbage ? "" : "reason 2\n"));
    EXPECT_EQ(cursor, local.Join(spoiled));
    EXPECT_FALSE(PathExists(local.Join("m.avi").c_str()));
    EXPECT_TRUE(host.record.questions.empty());  // the Run button asks no confirmation
  }
}

TEST_P(ConversionJobTest, RangesAndNamesDecideFramesAndOutput) {
  struct Case {
    const char* name;
    std::vector<std::string> files;  // created with marks 1, 2, 3...
    std::string frame;
    Overrides overrides;
    std::vector<int> marks;
    std::string output;
  };
  Overrides backwards;
  backwards.first = 4;
  backwards.last = 2;
  const Case cases[] = {
      {"backwards range", {"b0001.bmp", "b0002.bmp", "b0003.bmp", "b0004.bmp", "b0005.bmp"}, "b0003.bmp", backwards,
       {4, 3, 2}, "b.avi"},
      {"name without a number", {"clip.bmp"}, "clip.bmp", Overrides(), {1}, "clip.avi"},
      {"all-digit name", {"0001.bmp", "0002.bmp"}, "0002.bmp", Overrides(), {1, 2}, ".avi"},
      {"run stops at a gap", {"g1.bmp", "g2.bmp", "g4.bmp"}, "g1.bmp", Overrides(), {1, 2}, "g.avi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir local;
    int mark = 1;
    for (const std::string& file : c.files) {
      auto bytes = BmpFrame(mark++);
      ASSERT_TRUE(local.AddFile(file, std::string(bytes.begin(), bytes.end())));
    }
    ScriptedHost host(Script{{true}});
    EXPECT_EQ(RunFromFrame(host, local.Join(c.frame), c.overrides), JobOutcome::kDone);
    EXPECT_EQ(host.record.marks, c.marks);
    EXPECT_TRUE(PathExists(local.Join(c.output).c_str())) << c.output;
  }
}

TEST_P(ConversionJobTest, SequenceMayMixBmpAndPngFrames) {
  MakeFrames("mix", 1, 6, /*pngFromHalf=*/true);
  ScriptedHost host(Script{{true}});
  EXPECT_EQ(RunFromFrame(host, dir.Join("mix0001.bmp")), JobOutcome::kDone);
  EXPECT_EQ(host.record.marks, (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST_P(ConversionJobTest, ShortAndResizedFramesAreNoticedOnceAndStillWritten) {
  MakeFrames("n", 1, 6);
  auto small = test::BuildBmp([] {
    test::BmpDescription d;
    d.width = 1;
    d.height = 1;
    d.bitCount = 24;
    d.payload = {0, 0, 3, 0};
    return d;
  }());
  ASSERT_TRUE(dir.AddFile("n0003.bmp", std::string(small.begin(), small.end())));
  ASSERT_TRUE(dir.AddFile("n0004.bmp", std::string(small.begin(), small.end())));
  auto cut = BmpFrame(5);
  cut.resize(cut.size() - 4);  // the pixel row's last bytes are missing
  ASSERT_TRUE(dir.AddFile("n0005.bmp", std::string(cut.begin(), cut.end())));
  ScriptedHost host(Script{{true}});
  EXPECT_EQ(RunFromFrame(host, dir.Join("n0001.bmp")), JobOutcome::kDone);
  EXPECT_EQ(host.record.notices, (std::vector<std::string>{"size:n0003.bmp", "cut:n0005.bmp"}));
  EXPECT_EQ(host.record.marks.size(), 6u);
}

TEST_P(ConversionJobTest, RunButtonWithEmptyNumberBoxesEndsAtAnUnreadableName) {
  MakeFrames("e", 1, 3);
  struct Case {
    const char* name;
    int first, last;
    std::string unreadable;
    int written;
  };
  const Case cases[] = {{"first box empty", -1, 3, "e-001.bmp", 0}, {"last box empty", 1, -1, "e0004.bmp", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedHost host(Script{});
    EXPECT_EQ(RunFromDialog(host, dir.Join("e0002.bmp"), dir.Join("e.avi"), c.first, c.last), JobOutcome::kFailed);
    ASSERT_EQ(host.record.messages.size(), 1u);
    EXPECT_EQ(host.record.messages[0], dir.Join(c.unreadable) + "\nを読めませんでした。\nreason 2\n");
    EXPECT_EQ(static_cast<int>(host.record.marks.size()), c.written);
    EXPECT_FALSE(PathExists(dir.Join("e.avi").c_str()));
  }
}

TEST_P(ConversionJobTest, SecondJobIsRefusedWhileOneRuns) {
  MakeFrames("busy", 1, 2);
  ScriptedHost second(Script{{true}});
  JobOutcome nested = JobOutcome::kDone;
  ScriptedHost first(Script{{true}});
  first.duringProgress = [&] { nested = RunFromFrame(second, dir.Join("busy0001.bmp")); };
  EXPECT_EQ(RunFromFrame(first, dir.Join("busy0001.bmp")), JobOutcome::kDone);
  EXPECT_EQ(nested, JobOutcome::kFailed);
  EXPECT_TRUE(second.record.questions.empty());
  EXPECT_EQ(second.record.writersCreated, 0);
  EXPECT_FALSE(JobUnderWay());
}

INSTANTIATE_TEST_SUITE_P(Readers, ConversionJobTest, ::testing::Values(1, 3),
                         [](const ::testing::TestParamInfo<int>& info) { return "readers" + std::to_string(info.param); });

}  // namespace
}  // namespace zelvo
