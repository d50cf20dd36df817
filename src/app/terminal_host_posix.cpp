#include "app/terminal_host_posix.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <string>

#include "image/image_formats.h"
#include "platform/messages_posix.h"
#include "platform/output_file.h"

namespace zelvo {

namespace {

volatile sig_atomic_t g_interrupts = 0;

// Ends the process by `signal` with its default action, so that the exit status tells which
// signal it was, once the job's temporary file is gone (or, while that file is being made,
// returns: the signal comes again once it is). Only async-signal-safe calls.
void DieBy(int signal) {
  if (!RemovePendingTemporary(signal)) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);  // not reached: each of these signals ends the process by default
}

void OnInterrupt(int signal) {
  g_interrupts = g_interrupts + 1;
  // A second request: leave at once, but never leave a partial file behind.
  if (g_interrupts >= 2) DieBy(signal);
}

void OnDeadlySignal(int signal, siginfo_t* info, void*) {
  // A write past the file size limit (ulimit -f) raises SIGXFSZ from the process itself
  // (the kernel, as the writer), and the write fails with EFBIG, which the job reports
  // with its reason and an orderly end. Only one sent by someone else ends the process.
  if (signal == SIGXFSZ && info != nullptr && info->si_code == SI_USER && (info->si_pid == getpid() || info->si_pid == 0)) {
    return;
  }
  DieBy(signal);
}

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// A file's size as people read it: bytes, KiB, MiB or GiB with one decimal.
std::string FormatSize(long long bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return FormatText(Tr("%lld bytes"), bytes);
  double value = bytes / 1024.0;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  return FormatText("%.1f %s", value, kUnits[unit]);
}

std::string FormatDuration(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

TerminalHost::TerminalHost(std::FILE* in, std::FILE* err, bool assumeYes,
                           std::function<std::unique_ptr<FrameWriter>()> makeWriter, int readers)
    : in_(in), err_(err), assumeYes_(assumeYes), terminal_(isatty(fileno(err)) != 0),
      makeWriter_(std::move(makeWriter)), readers_(readers) {}

void TerminalHost::InstallSignalHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Ctrl-C, kill and a closed terminal all ask for the same orderly end: the job stops
  // after its current frame, removes its temporary file and keeps an older output.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // Every other signal that ends a process by default ends this one as well, but not
  // before the job's temporary file is removed: timers and limits (ulimit -t) as much as
  // a kill, and the program's own faults.
  action.sa_handler = nullptr;
  action.sa_sigaction = OnDeadlySignal;
  action.sa_flags = SA_SIGINFO;
  for (int signal : {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGABRT, SIGBUS,
                     SIGFPE, SIGILL, SIGSEGV, SIGSYS}) {
    sigaction(signal, &action, nullptr);
  }
  // A reader of our output that went away (zelvo ... | head) must not kill the job with
  // its file under a temporary name: failed writes to the terminal are ignored instead.
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}


bool TerminalHost::AskYesNo(const char* caption, const std::string& text) {
  if (assumeYes_ && quiet_) return true;
  std::fprintf(err_, "%s: %s", caption, text.c_str());
  if (text.empty() || text.back() != '\n') std::fputc('\n', err_);
  if (assumeYes_) {
    std::fprintf(err_, "[y/n] y\n");
    return true;
  }
  for (;;) {
    std::fprintf(err_, "[y/n] ");
    std::fflush(err_);
    char line[256];
    if (!in_ || !std::fgets(line, sizeof line, in_)) {
      std::fprintf(err_, "\n");
      return false;  // end of input answers No
    }
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    int c = std::tolower(static_cast<unsigned char>(*p));
    if (c == 'y') return true;
    if (c == 'n') return false;
  }
}

bool TerminalHost::AskToReplace(const char* caption, const std::string& question, const char* path) {
  if (!noOverwrite_) return AskYesNo(caption, question);
  std::fprintf(err_, "zelvo: %s\n",
               FormatText(Tr("%s exists and is not replaced (--no-overwrite)"), TerminalSafe(path).c_str()).c_str());
  std::fflush(err_);
  return false;
}

void TerminalHost::ShowMessage(const char* caption, const std::string& text) {
  if (terminal_ && total_ > 0) std::fputs("\r\033[K", err_);
  std::fprintf(err_, "%s: %s", caption, text.c_str());
  if (text.empty() || text.back() != '\n') std::fputc('\n', err_);
  std::fflush(err_);
}

void TerminalHost::Beep() {
  if (terminal_) {
    std::fputc('\a', err_);
    std::fflush(err_);
  }
}

int TerminalHost::RunProgress(int total, const std::function<int()>& routine) {
  total_ = total;
  done_ = 0;
  estimate_.Start(total, Now());
  lastDrawn_ = 0;
  status_.clear();
  // An interrupt that came before the progress display (during the codec choice) still
  // counts: the routine sees it before its first frame.
  int result = routine();
  // The last frame takes no step of its own (the job ends instead): a complete job shows
  // every frame done and a full bar.
  if (result == static_cast<int>(FramesOutcome::kDone)) done_ = total_;
  Draw(true);
  total_ = 0;
  return result;
}

void TerminalHost::PostStatusText(const char* text) {
  if (IsAbortRequested()) return;
  status_ = TerminalSafe(text);
  Draw(false);
}

void TerminalHost::PostProgressStep() {
  if (IsAbortRequested()) return;
  ++done_;
  estimate_.Update(done_, Now());
  Draw(false);
}

void TerminalHost::WatchOutput(const OutputFile* output) { outputDescriptor_ = output ? output->descriptor() : -1; }

bool TerminalHost::IsAbortRequested() { return g_interrupts > 0; }

std::unique_ptr<FrameWriter> TerminalHost::CreateWriter() { return makeWriter_(); }

std::unique_ptr<FrameFeed> TerminalHost::CreateFrameFeed(const FrameWalk& walk) {
  if (readers_ <= 1 || walk.count <= 1) return std::make_unique<DirectFeed>();
  return std::make_unique<ReadAheadFeed>(walk, readers_, ReadAheadDepth(readers_, walk.width, walk.height),
                                         ReadAheadBudget(walk.width, walk.height));
}

std::string TerminalHost::DescribeError(int error) { return std::strerror(error); }

std::string TerminalHost::DescribeFrameFailure(FrameFailure failure, int error) {
  switch (failure) {
    case FrameFailure::kUnreadable: return DescribeError(error);
    case FrameFailure::kNotAFile: return Tr("not a regular file");
    case FrameFailure::kTooLarge: return Tr("the image is too large");
    case FrameFailure::kNoMemory: return Tr("not enough memory");
    case FrameFailure::kNotImage:
      return FormatText(Tr("not an image in a format zelvo reads (%s)"), FrameFormatNames().c_str());
    case FrameFailure::kDamaged: return Tr("the image is damaged");
    case FrameFailure::kNoDecoder:
      return missingDecoder_ ? missingDecoder_() : Tr("this system has no decoder for its format");
    case FrameFailure::kNone: break;
  }
  return std::string();
}

std::string TerminalHost::ShowName(const char* name) { return TerminalSafe(name); }

const char* TerminalHost::Text(JobText id) { return Tr(EnglishJobText(id)); }

void TerminalHost::Notice(JobNotice notice, const char* framePath) {
  if (notice == JobNotice::kFrameSizeDiffers && framesFitted_) return;
  if (terminal_ && total_ > 0) std::fputs("\r\033[K", err_);  // below the progress line
  const std::string name = TerminalSafe(framePath);
  std::string text;
  switch (notice) {
    case JobNotice::kFrameCutShort:
      text = FormatText(Tr("%s: the file is shorter than its header says; the missing part is black"), name.c_str());
      break;
    case JobNotice::kFrameSizeDiffers:
      text = FormatText(Tr("frames differ in size, from %s on; the first frame's size is used"), name.c_str());
      break;
    case JobNotice::kAborted:
      text = FormatText(Tr("aborted; nothing was written to %s"), name.c_str());
      break;
  }
  std::fprintf(err_, "zelvo: %s\n", text.c_str());
  std::fflush(err_);
}

std::string TerminalHost::Figures() {
  std::string figures = FormatText(Tr("%s elapsed"), FormatDuration(estimate_.elapsed()).c_str());
  // Tenths only where they say something.
  if (estimate_.rate() > 0) figures += "  " + FormatText(Tr("%.*f frames/s"), estimate_.rate() < 100 ? 1 : 0, estimate_.rate());
  struct stat st;
  if (outputDescriptor_ >= 0 && fstat(outputDescriptor_, &st) == 0) figures += "  " + FormatSize(st.st_size);
  if (estimate_.secondsLeft() >= 0 && total_ > done_)
    figures += "  " + FormatText(Tr("%s left"), FormatDuration(estimate_.secondsLeft()).c_str());
  return figures;
}

void TerminalHost::Draw(bool final) {
  if (quiet_) return;
  double now = Now();
  // On a terminal the line is redrawn in place a few times a second; into a file or pipe
  // a plain line every few seconds keeps logs short.
  double interval = terminal_ ? 0.1 : 5.0;
  if (!final && now - lastDrawn_ < interval && done_ != 0) return;
  if (!final && !terminal_ && lastDrawn_ == 0 && done_ == 0) {
    lastDrawn_ = now;  // the first plain line waits for the first interval
    return;
  }
  lastDrawn_ = now;
  estimate_.Update(done_, now);
  const std::string count = FormatText(Tr("%d/%d done"), done_, total_);
  const std::string left = "  " + Figures();
  if (terminal_) {
    const int width = 24;
    int filled = total_ > 0 ? static_cast<int>(static_cast<long long>(done_) * width / total_) : 0;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '-');
    std::fprintf(err_, "\r\033[K[%s] %s%s  %s", bar.c_str(), count.c_str(), left.c_str(), status_.c_str());
    if (final) std::fputc('\n', err_);
  } else {
    std::fprintf(err_, "%s%s  %s\n", count.c_str(), left.c_str(), status_.c_str());
  }
  std::fflush(err_);
}

}  // namespace zelvo
