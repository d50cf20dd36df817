#include "convert/conversion_job.h"

#include <cstdio>
#include <cstring>

#include "app/paths.h"
#include "image/frame_reader.h"
#include "platform/file.h"
#include "sequence/sequence.h"

namespace zelvo {

const char kOverwriteQuestion[] = "%s\nこのファイルはすでに存在します。\n\n上書きしますか？";
const char kConfirmQuestion[] = "%s\nから\n%s\n%d枚を\n%s\nに変換します。\n";
const char kUnreadableFrame[] = "%s\nを読めませんでした。\n";
// A frame or the file's completion could not be written (full disk, size limit, a folder
// in the way): the user learns which file, and nothing partial is left.
const char kUnwritableOutput[] = "%s\nに書き込めませんでした。\n";
// The writer's container cannot grow past its size limit: said at the first frame that
// would pass it, with the way out, instead of after the whole job.
const char kOutputTooLarge[] =
    "%s\nは2GBを超えるため、これ以上書き込めません。\n圧縮する形式を選ぶとファイルを小さくできます。\n";

namespace {

const char kCaption[] = "Zelvo";
constexpr int kMessageSize = 3000;

JobHost* g_host = nullptr;
// The temporary file the writer fills; renamed onto outputPath only when complete, so an
// older file of that name survives every failure, abort and refusal. Read by signal
// handlers, hence a plain buffer.
char g_pendingPath[kPathSize] = {};

std::string FormatText(const char* format, va_list args) {
  char text[kMessageSize];
  std::vsnprintf(text, sizeof text, format, args);
  return text;
}

bool CopyPath(char* out, const char* in) {
  std::size_t n = std::strlen(in);
  if (n >= static_cast<std::size_t>(kPathSize)) return false;
  std::memcpy(out, in, n + 1);
  return true;
}

bool DefaultOutputName(const char* input, char* out) {
  std::string name = DirectoryOf(input) + SequencePrefix(input) + ".avi";
  return CopyPath(out, name.c_str());
}

void DiscardPending() {
  if (g_pendingPath[0] != '\0') RemoveFile(g_pendingPath);
  g_pendingPath[0] = '\0';
}

// Marks the job as running for its whole length, so the main dialog never starts a second.
class RunningJob {
 public:
  RunningJob() : owner_(!App().jobRunning.exchange(true)) {}
  ~RunningJob() {
    if (owner_) App().jobRunning = false;
  }
  bool owner() const { return owner_; }

 private:
  bool owner_;
};

}  // namespace

void SetJobHost(JobHost* host) { g_host = host; }
JobHost* GetJobHost() { return g_host; }
const char* PendingOutputPath() { return g_pendingPath; }

void ShowMessage(const char* caption, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  if (g_host) g_host->ShowMessage(caption, text);
}

bool AskYesNo(const char* caption, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatText(format, args);
  va_end(args);
  return g_host && g_host->AskYesNo(caption, text);
}

int IsAbortRequested() { return g_host && g_host->IsAbortRequested() ? 1 : 0; }

int ConvertSequence(const char* framePath) { return ConvertSequenceWith(framePath, JobOverrides{}); }

int ConvertSequenceWith(const char* framePath, const JobOverrides& overrides) {
  AppState& app = App();
  RunningJob running;
  if (!running.owner() || !g_host) return 1;

  if (framePath) {
    if (!CopyPath(app.inputPath, framePath)) {
      ShowMessage(kCaption, kUnreadableFrame, framePath);
      return 1;
    }
    FindSequenceRange(app.inputPath, &app.foundFirst, &app.foundLast);
    app.firstNumber = overrides.first >= 0 ? overrides.first : app.foundFirst;
    app.lastNumber = overrides.last >= 0 ? overrides.last : app.foundLast;
    bool named = overrides.output ? CopyPath(app.outputPath, overrides.output)
                                  : DefaultOutputName(app.inputPath, app.outputPath);
    if (!named) {
      ShowMessage(kCaption, kUnwritableOutput, overrides.output ? overrides.output : app.inputPath);
      return 1;
    }
  }
  MakeFrameName(app.inputPath, app.firstNumber);

  if (ProbePath(app.outputPath) != 0 && !AskYesNo(kCaption, kOverwriteQuestion, app.outputPath)) return 2;

  app.frameCount = app.firstNumber <= app.lastNumber ? app.lastNumber - app.firstNumber + 1
                                                     : app.firstNumber - app.lastNumber + 1;

  if (framePath) {
    char lastName[kPathSize];
    std::memcpy(lastName, app.inputPath, sizeof lastName);
    MakeFrameName(lastName, app.lastNumber);
    if (!AskYesNo(kCaption, kConfirmQuestion, app.inputPath, lastName, app.frameCount, app.outputPath)) return 2;
  }

  std::string temporary = TemporaryNameBeside(app.outputPath);
  if (temporary.empty() || !CopyPath(g_pendingPath, temporary.c_str())) {
    ShowMessage(kCaption, kUnwritableOutput, app.outputPath);
    return 1;
  }

  int result = WriteMovie();
  if (result == 0) {
    if (MoveOnto(g_pendingPath, app.outputPath)) {
      g_pendingPath[0] = '\0';
      g_host->Beep();
      return 0;
    }
    ShowMessage(kCaption, kUnwritableOutput, app.outputPath);
  }
  app.writer.reset();
  DiscardPending();
  return 1;
}

int WriteMovie() {
  AppState& app = App();
  int width = -1;
  int height = -1;
  {
    PackedDib header = ReadFrameHeader(app.inputPath);
    if (!header) {
      ShowMessage(kCaption, kUnreadableFrame, app.inputPath);
      return 1;
    }
    width = GetDibWidth(header);
    height = GetDibHeight(header);
  }
  if (!app.writer) app.writer = g_host->CreateWriter();
  if (!app.writer || !app.writer->Open(width, height, g_pendingPath, app.frameScale, app.frameRate)) {
    app.writer.reset();
    return 1;
  }
  int result = g_host->RunProgress(app.frameCount, ConvertFrames);
  return result == 0 ? 0 : 1;
}

int ConvertFrames() {
  AppState& app = App();
  for (;;) {
    if (IsAbortRequested()) return 2;
    g_host->PostStatusText(app.inputPath);
    PackedDib image = ReadFrame(app.inputPath);
    if (!image) {
      ShowMessage(kCaption, kUnreadableFrame, app.inputPath);
      return 1;
    }
    if (app.writer->DrawPackedDib(image) != 0) {
      app.writer.reset();
      return 1;
    }
    if (!app.writer->WriteFrame()) {
      const bool tooLarge = app.writer->PastSizeLimit();
      app.writer.reset();
      ShowMessage(kCaption, tooLarge ? kOutputTooLarge : kUnwritableOutput, app.outputPath);
      return 1;
    }
    image = PackedDib();
    if (NextFrameName(app.inputPath, app.firstNumber, app.lastNumber) != 0) {
      bool complete = app.writer->Close();
      app.writer.reset();
      if (!complete) {
        ShowMessage(kCaption, kUnwritableOutput, app.outputPath);
        return 1;
      }
      return 0;
    }
    g_host->PostProgressStep();
  }
}

}  // namespace zelvo
