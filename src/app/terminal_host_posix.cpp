#include "app/terminal_host_posix.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <string>

#include "platform/messages_posix.h"

namespace zelvo {

namespace {

volatile sig_atomic_t g_interrupts = 0;

void OnInterrupt(int) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts >= 2) {
    // A second request: leave at once, but never leave a partial file behind.
    const char* pending = PendingOutputPath();
    if (pending[0] != '\0') unlink(pending);
    _exit(130);
  }
}

double Now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
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

void TerminalHost::InstallInterruptHandler() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Ctrl-C, kill and a closed terminal all ask for the same orderly end: the job stops
  // after its current frame, removes its temporary file and keeps an older output.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  // A reader of our output that went away (zelvo ... | head) must not kill the job with
  // its file under a temporary name: failed writes to the terminal are ignored instead.
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
}


bool TerminalHost::AskYesNo(const char* caption, const std::string& text) {
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
  started_ = Now();
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
  status_ = text;
  Draw(false);
}

void TerminalHost::PostProgressStep() {
  if (IsAbortRequested()) return;
  ++done_;
  Draw(false);
}

bool TerminalHost::IsAbortRequested() { return g_interrupts > 0; }

std::unique_ptr<FrameWriter> TerminalHost::CreateWriter() { return makeWriter_(); }

std::unique_ptr<FrameFeed> TerminalHost::CreateFrameFeed(const FrameWalk& walk) {
  if (readers_ <= 1 || walk.count <= 1) return std::make_unique<DirectFeed>();
  return std::make_unique<ReadAheadFeed>(walk, readers_, ReadAheadDepth(readers_, walk.width, walk.height));
}

std::string TerminalHost::DescribeError(int error) { return std::strerror(error); }

const char* TerminalHost::Text(JobText id) { return Tr(EnglishJobText(id)); }

void TerminalHost::Notice(JobNotice notice, const char* framePath) {
  if (terminal_ && total_ > 0) std::fputs("\r\033[K", err_);  // below the progress line
  std::string text;
  switch (notice) {
    case JobNotice::kFrameCutShort:
      text = FormatText(Tr("%s: the file is shorter than its header says; the missing part is black"), framePath);
      break;
    case JobNotice::kFrameSizeDiffers:
      text = FormatText(Tr("frames differ in size, from %s on; the first frame's size is used"), framePath);
      break;
    case JobNotice::kAborted:
      text = FormatText(Tr("aborted; nothing was written to %s"), framePath);
      break;
  }
  std::fprintf(err_, "zelvo: %s\n", text.c_str());
  std::fflush(err_);
}

void TerminalHost::Draw(bool final) {
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
  const std::string count = FormatText(Tr("%d/%d done"), done_, total_);
  std::string left;
  if (done_ > 0 && total_ > done_) {
    left = "  " + FormatText(Tr("%s left"), FormatDuration((now - started_) / done_ * (total_ - done_)).c_str());
  }
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
