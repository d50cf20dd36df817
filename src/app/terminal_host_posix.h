#pragma once
// The conversion job's host on a terminal: questions read y/n from standard input (end of
// input answers No), messages on stderr, progress on stderr, SIGINT as the abort button.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "convert/conversion_job.h"
#include "convert/progress_estimate.h"

namespace zelvo {

struct CodecChoice;

class TerminalHost : public JobHost {
 public:
  // `makeWriter` creates the job's writer; `assumeYes` answers Yes to every question;
  // `readers` threads decode frames ahead (1: each frame is read when it is written).
  TerminalHost(std::FILE* in, std::FILE* err, bool assumeYes, std::function<std::unique_ptr<FrameWriter>()> makeWriter,
               int readers = 1);

  bool AskYesNo(const char* caption, const std::string& text) override;
  // With --no-overwrite: No, said on stderr, without asking.
  bool AskToReplace(const char* caption, const std::string& question, const char* path) override;
  void ShowMessage(const char* caption, const std::string& text) override;
  void Beep() override;
  int RunProgress(int total, const std::function<int()>& routine) override;
  void PostStatusText(const char* text) override;
  void PostProgressStep() override;
  void WatchOutput(const OutputFile* output) override;
  bool IsAbortRequested() override;
  std::unique_ptr<FrameWriter> CreateWriter() override;
  std::unique_ptr<FrameFeed> CreateFrameFeed(const FrameWalk& walk) override;
  void Notice(JobNotice notice, const char* framePath) override;
  std::string DescribeError(int error) override;
  std::string DescribeFrameFailure(FrameFailure failure, int error) override;
  // Names with their control characters escaped (TerminalSafe).
  std::string ShowName(const char* name) override;
  // The job's English texts in the user's language, through the message catalog.
  const char* Text(JobText id) override;

  // Installs the signal handlers: the first SIGINT, SIGTERM or SIGHUP requests the abort,
  // the second ends the process at once. Every other signal that ends a process (SIGQUIT,
  // SIGUSR1, SIGALRM, SIGXCPU, SIGSEGV...) does so as well. Either way the job's temporary
  // file is removed first and the process dies by the signal (the exit status shows it).
  // SIGXFSZ from the program's own write past the file size limit only fails that write
  // (EFBIG), which the job reports. SIGPIPE is ignored.
  static void InstallSignalHandlers();

  // Frames fitted to one size (--size) differ in size without harm: nothing is said of it.
  void set_frames_fitted(bool fitted) { framesFitted_ = fitted; }
  // --quiet: no progress line, and a question answered by -y is not shown.
  void set_quiet(bool quiet) { quiet_ = quiet; }
  // --no-overwrite: an existing output is never replaced.
  void set_no_overwrite(bool noOverwrite) { noOverwrite_ = noOverwrite; }
  // Why a frame whose decoder is missing (FrameFailure::kNoDecoder) cannot be read, from
  // the part of the program that loads the decoders' library; without it a plain sentence.
  void set_missing_decoder(std::function<std::string()> describe) { missingDecoder_ = std::move(describe); }

 private:
  void Draw(bool final);
  // Elapsed time, pace, the output's size and the time left, as the progress line shows them.
  std::string Figures();

  std::FILE* in_;
  std::FILE* err_;
  bool assumeYes_;
  bool terminal_;
  std::function<std::unique_ptr<FrameWriter>()> makeWriter_;
  int readers_;
  int total_ = 0;
  int done_ = 0;
  double lastDrawn_ = 0;
  std::string status_;
  bool framesFitted_ = false;
  ProgressEstimate estimate_;
  int outputDescriptor_ = -1;  // the movie being written, whose size the line shows
  bool quiet_ = false;
  bool noOverwrite_ = false;
  std::function<std::string()> missingDecoder_;
};

}  // namespace zelvo
