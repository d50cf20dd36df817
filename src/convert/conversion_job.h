#pragma once
// One conversion job: a numbered sequence of BMP/PNG frames into one AVI file. Written
// once against JobHost; zelvo.exe implements the host with message boxes, the progress
// dialog and the Video for Windows writer, zelvo with terminal prompts, a progress line
// and the native writer.
//
// A job runs on a value: JobSettings says what to convert (built the same way by both
// command lines, or from the main dialog's controls), and a ConversionJob holds what one
// run needs besides: its frame cursor, its writer and its temporary file.
#include <cstdarg>
#include <functional>
#include <memory>
#include <string>

#include "convert/frame_feed.h"
#include "convert/frame_writer.h"
#include "convert/job_texts.h"
#include "image/frame_reader.h"
#include "platform/output_file.h"

namespace zelvo {

enum class JobNotice {
  kFrameCutShort,     // the file ends before its pixels do: read, the missing part black
  kFrameSizeDiffers,  // the first frame of another size: drawn at the top left of the first one's canvas
  kAborted,           // the user stopped the job (framePath: the output): nothing was written
};

class JobHost {
 public:
  virtual ~JobHost() = default;
  // A question with Yes and No; true only for Yes.
  virtual bool AskYesNo(const char* caption, const std::string& text) = 0;
  // The question whether to replace the existing file at `path`: by default AskYesNo. The
  // Linux program's --no-overwrite answers No without asking.
  virtual bool AskToReplace(const char* caption, const std::string& question, const char* /*path*/) {
    return AskYesNo(caption, question);
  }
  virtual void ShowMessage(const char* caption, const std::string& text) = 0;
  // The success signal (MessageBeep(MB_ICONASTERISK), the terminal bell).
  virtual void Beep() = 0;
  // Runs `routine` with a progress display of `total` items and returns its result. The
  // routine runs on a worker thread on Windows; it may run on the calling thread.
  virtual int RunProgress(int total, const std::function<int()>& routine) = 0;
  // For the routine: the item about to be worked on, and one item more done.
  virtual void PostStatusText(const char* text) = 0;
  virtual void PostProgressStep() = 0;
  // The file the frames are written into while RunProgress runs (null once it is over),
  // for a progress display that shows its size; the Windows dialog does not.
  virtual void WatchOutput(const OutputFile* /*output*/) {}
  virtual bool IsAbortRequested() = 0;
  virtual std::unique_ptr<FrameWriter> CreateWriter() = 0;
  // Where the job's frames come from; by default each frame is read when the job takes it.
  virtual std::unique_ptr<FrameFeed> CreateFrameFeed(const FrameWalk& /*walk*/) {
    return std::make_unique<DirectFeed>();
  }
  // Something the user may want to know that does not stop the job, about the frame at
  // `framePath`; zelvo.exe keeps quiet, the Linux program says it on stderr.
  virtual void Notice(JobNotice /*notice*/, const char* /*framePath*/) {}
  // The system's reason for a failure (an errno value) as the user reads it, added below a
  // message; empty to leave messages as they are (zelvo.exe's texts stay unchanged).
  virtual std::string DescribeError(int /*error*/) { return std::string(); }
  // Why a frame could not be read, added below the message naming it: by default the
  // system's reason where there is one (DescribeError), nothing otherwise.
  virtual std::string DescribeFrameFailure(FrameFailure failure, int error) {
    return failure == FrameFailure::kUnreadable ? DescribeError(error) : std::string();
  }
  // A file name as the user is shown it inside a message or question; the Linux program
  // escapes what a terminal would take for commands. By default the name as it is.
  virtual std::string ShowName(const char* name) { return name; }
  // The text of a message or question in the user's language (printf forms); by default
  // the Windows program's own Japanese texts.
  virtual const char* Text(JobText id) { return JapaneseJobText(id); }
};

// What one job converts. Paths of any length: each program applies its own limit before
// it builds the settings.
struct JobSettings {
  std::string input;   // a frame of the sequence, named as on disk
  int first = -1;      // first frame number; -1: the width's first (1)
  int last = -1;       // last frame number; below `first` walks backwards; -1: the width's last
  int rate = 15000;    // dwRate: frames per `scale` seconds
  int scale = 1000;    // dwScale
  std::string output;  // the AVI file to write
};

// The run a frame belongs to, as both command lines convert it: the whole gap-free run of
// numbered files on disk around it (-1 and -1 when there is none), written to
// DefaultOutputName. Rate and scale keep their defaults. The frame's path and the output's
// must not be longer than the system takes (LongestPath). Beyond the gaps that end the run,
// the nearest numbered frames present (-1: none), which the Linux program points out.
struct FrameRun {
  JobSettings settings;
  int foundFirst = -1;
  int foundLast = -1;
  int resumesBelow = -1;
  int resumesAbove = -1;
};
enum class RunProblem { kNone, kFrameTooLong, kOutputTooLong };
RunProblem FindFrameRun(const char* framePath, FrameRun* run);
// Tells the user what kept FindFrameRun from building the job: the frame's path or the
// derived output name that does not fit the path limit.
void ReportRunProblem(JobHost& host, RunProblem problem, const char* framePath);

enum class JobOutcome {
  kDone = 0,      // the AVI file was written completely
  kFailed = 1,    // failed or aborted: no partial file is left, an older file of that name is untouched
  kDeclined = 2,  // the user answered No to the overwrite question or the confirmation
};
enum class FramesOutcome { kDone = 0, kFailed = 1, kAborted = 2 };

class ConversionJob {
 public:
  ConversionJob(JobHost& host, const JobSettings& settings);
  ~ConversionJob();  // removes a temporary file a job left (OutputFile)
  ConversionJob(const ConversionJob&) = delete;
  ConversionJob& operator=(const ConversionJob&) = delete;

  // The whole job: checks the output, asks before replacing an existing file, asks for
  // confirmation when `confirm` (the command lines), writes every frame into a temporary
  // file beside the output and puts it in place only when complete. Reports everything to
  // the user itself, a lack of memory included (kFailed). Refused (kFailed, nothing
  // asked) while another job runs.
  JobOutcome ConvertSequence(bool confirm);

  // The frame being handled: the first of the range once the job has begun; after a
  // complete job the first again, after an abort the one that would have come next,
  // after an unreadable frame that frame.
  const char* framePath() const { return cursor_.c_str(); }
  int frameCount() const { return frameCount_; }

 private:
  // Learns the frame size from the first frame, opens the writer and runs ConvertFrames
  // under the host's progress display: kDone when every frame was written and the writer
  // closed, kAborted when the user stopped it, kFailed otherwise.
  FramesOutcome WriteMovie();
  // The frame loop: read, draw, write, advance, until the range is done, a frame fails or
  // the user aborts (asked once per frame, before it is read).
  FramesOutcome ConvertFrames();
  // ConvertSequence's work, which may throw std::bad_alloc.
  JobOutcome Convert(bool confirm);
  // Up to the first frame: the checks, the questions and the temporary file.
  JobOutcome Prepare(bool confirm);
  // The texts take names through ShowName; `reason` goes on a line of its own below.
  std::string Format(JobText id, std::va_list args);
  void SayV(const std::string& reason, JobText id, std::va_list args);
  void Say(JobText id, ...);
  // Say, with `reason` on a line of its own below ("": none).
  void SayBecause(const std::string& reason, JobText id, ...);
  // The system's reason for the failure `error` (an errno value; 0: none) as the host puts it.
  std::string Reason(int error);
  // "Not enough memory", naming the frame under way; never throws.
  void SayOutOfMemory() noexcept;
  bool Ask(JobText id, ...);
  // The overwrite question about `target`, through the host's AskToReplace.
  bool AskToReplace(const std::string& target);
  std::string Shown(const char* name) { return host_.ShowName(name); }
  bool OutputIsUsable();
  void ReportFrameFailure(const FrameRead& frame);
  void ReportWriteFailure(const WriteResult& result);
  void ReportOutputFailure(const FileResult& result);
  void NoticeFrame(const PackedDib& image, bool cutShort);

  JobHost& host_;
  JobSettings settings_;
  std::string cursor_;
  int frameCount_ = 0;
  int frameWidth_ = 0;   // the first frame's size, which the canvas takes
  int frameHeight_ = 0;
  bool sizeNoticed_ = false;
  OutputFile output_;
  std::unique_ptr<FrameWriter> writer_;
  std::unique_ptr<FrameFeed> feed_;
};

// The process's one job slot: a job holds it for its whole length, so that no second job
// starts meanwhile (the compressor dialog and message boxes run message loops in which a
// Run could arrive). owner() is false when someone else held it already.
class JobSlot {
 public:
  JobSlot();
  ~JobSlot();
  JobSlot(const JobSlot&) = delete;
  JobSlot& operator=(const JobSlot&) = delete;
  bool owner() const { return owner_; }

 private:
  bool owner_;
};

// True while a job runs anywhere in the process: a second one is refused.
bool JobUnderWay();

}  // namespace zelvo
