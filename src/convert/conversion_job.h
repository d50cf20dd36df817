#pragma once
// One conversion job: a numbered sequence of BMP/PNG frames into one AVI file. Written
// once against JobHost; zelvo.exe implements the host with message boxes, the progress
// dialog and the Video for Windows writer, zelvo with terminal prompts, a progress line
// and the native writer.
#include <cstdarg>
#include <memory>
#include <string>

#include "convert/app_state.h"
#include "convert/frame_writer.h"

namespace zelvo {

class JobHost {
 public:
  virtual ~JobHost() = default;
  // A question with Yes and No; true only for Yes.
  virtual bool AskYesNo(const char* caption, const std::string& text) = 0;
  virtual void ShowMessage(const char* caption, const std::string& text) = 0;
  // The success signal (MessageBeep(MB_ICONASTERISK), the terminal bell).
  virtual void Beep() = 0;
  // Runs `routine` with a progress display of `total` items and returns its result.
  // The routine runs on a worker thread on Windows; it may run on the calling thread.
  virtual int RunProgress(int total, int (*routine)()) = 0;
  // For the routine: the item about to be worked on, and one item more done.
  virtual void PostStatusText(const char* text) = 0;
  virtual void PostProgressStep() = 0;
  virtual bool IsAbortRequested() = 0;
  virtual std::unique_ptr<FrameWriter> CreateWriter() = 0;
};

// The host used by the job functions below; set once by each program's entry point.
void SetJobHost(JobHost* host);
JobHost* GetJobHost();

// What the Linux command line may choose beyond the frame path: a narrower or reversed
// range and another output name. -1 / null keep the derived values.
struct JobOverrides {
  int first = -1;
  int last = -1;
  const char* output = nullptr;
};

// Results: 0 written completely, 1 failed or aborted (no partial file is left, an older
// file of that name is untouched), 2 declined by the user.
int ConvertSequence(const char* framePath);
// ConvertSequence with a frame path and the command line's choices; with `overrides`
// all unset it is ConvertSequence(framePath).
int ConvertSequenceWith(const char* framePath, const JobOverrides& overrides);
int WriteMovie();
// Results: 0 every frame written and the writer closed, 1 a frame failed, 2 aborted.
int ConvertFrames();

// The name the job writes to while it runs (a temporary file beside the output), or an
// empty string. A signal handler may read it to remove the file before the process ends.
const char* PendingOutputPath();

// Texts of the job's messages.
extern const char kOverwriteQuestion[];
extern const char kConfirmQuestion[];
extern const char kUnreadableFrame[];
extern const char kUnwritableOutput[];
extern const char kOutputTooLarge[];

void ShowMessage(const char* caption, const char* format, ...);
bool AskYesNo(const char* caption, const char* format, ...);
int IsAbortRequested();

}  // namespace zelvo
