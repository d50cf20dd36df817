#include "convert/conversion_job.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "image/frame_reader.h"
#include "platform/file.h"
#include "platform/path_buffer.h"
#include "platform/paths.h"
#include "sequence/sequence.h"

namespace zelvo {

namespace {

const char kCaption[] = "Zelvo";

// A printf form filled in whole, however long the names in it (the Linux program's paths
// run to 4095 bytes; zelvo.exe's, at most 259, keep every text within the 3000 bytes its
// message boxes always had).
std::string FillTextV(const char* form, std::va_list args) {
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, form, args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length));
    std::vsnprintf(&text[0], text.size() + 1, form, again);
  }
  va_end(again);
  return text;
}

std::string FillText(const char* form, ...) {
  std::va_list args;
  va_start(args, form);
  std::string text = FillTextV(form, args);
  va_end(args);
  return text;
}

std::atomic<bool> g_jobRunning{false};

// Whether the system takes a path of `path`'s length.
bool Fits(const std::string& path) { return path.size() <= LongestPath(); }

}  // namespace

JobSlot::JobSlot() : owner_(!g_jobRunning.exchange(true)) {}

JobSlot::~JobSlot() {
  if (owner_) g_jobRunning = false;
}

bool JobUnderWay() { return g_jobRunning.load(); }

RunProblem FindFrameRun(const char* framePath, FrameRun* run) {
  *run = FrameRun();
  JobSettings& s = run->settings;
  s.input = framePath;
  if (!Fits(s.input)) return RunProblem::kFrameTooLong;
  const SequenceRun found = FindSequenceRun(framePath);
  run->foundFirst = found.first;
  run->foundLast = found.last;
  run->resumesBelow = found.before;
  run->resumesAbove = found.after;
  s.first = run->foundFirst;
  s.last = run->foundLast;
  s.output = DefaultOutputName(framePath);
  if (!Fits(s.output)) return RunProblem::kOutputTooLong;
  return RunProblem::kNone;
}

void ReportRunProblem(JobHost& host, RunProblem problem, const char* framePath) {
  if (problem == RunProblem::kNone) return;
  const std::string text =
      problem == RunProblem::kFrameTooLong
          ? FillText(host.Text(JobText::kUnreadableFrame), host.ShowName(framePath).c_str())
          : FillText(host.Text(JobText::kUnwritableOutput), host.ShowName(DefaultOutputName(framePath).c_str()).c_str());
  host.ShowMessage(kCaption, text);
}

ConversionJob::ConversionJob(JobHost& host, const JobSettings& settings)
    : host_(host), settings_(settings), cursor_(settings.input) {}

ConversionJob::~ConversionJob() { writer_.reset(); }

std::string ConversionJob::Format(JobText id, std::va_list args) { return FillTextV(host_.Text(id), args); }

void ConversionJob::SayV(const std::string& reason, JobText id, std::va_list args) {
  std::string text = Format(id, args);
  if (!reason.empty()) text += reason + "\n";
  host_.ShowMessage(kCaption, text);
}

void ConversionJob::Say(JobText id, ...) {
  std::va_list args;
  va_start(args, id);
  SayV(std::string(), id, args);
  va_end(args);
}

void ConversionJob::SayBecause(const std::string& reason, JobText id, ...) {
  std::va_list args;
  va_start(args, id);
  SayV(reason, id, args);
  va_end(args);
}

std::string ConversionJob::Reason(int error) { return error != 0 ? host_.DescribeError(error) : std::string(); }

void ConversionJob::SayOutOfMemory() noexcept {
  try {
    Say(JobText::kOutOfMemory, Shown(cursor_.c_str()).c_str());
  } catch (const std::bad_alloc&) {
    // Not even the message could be made: the job still ends as a failed one.
  }
}

bool ConversionJob::Ask(JobText id, ...) {
  std::va_list args;
  va_start(args, id);
  const std::string text = Format(id, args);
  va_end(args);
  return host_.AskYesNo(kCaption, text);
}

bool ConversionJob::AskToReplace(const std::string& target) {
  const std::string question = FillText(host_.Text(JobText::kOverwriteQuestion), Shown(target.c_str()).c_str());
  return host_.AskToReplace(kCaption, question, target.c_str());
}

void ConversionJob::ReportFrameFailure(const FrameRead& frame) {
  SayBecause(host_.DescribeFrameFailure(frame.failure, frame.error), JobText::kUnreadableFrame,
             Shown(cursor_.c_str()).c_str());
}

void ConversionJob::ReportWriteFailure(const WriteResult& result) {
  const std::string output = Shown(settings_.output.c_str());
  switch (result.kind) {
    case WriteFailure::kNone:
    case WriteFailure::kStopped:   // cancelled, or the writer has said why
    case WriteFailure::kNotDrawn:  // as zelvo.exe has always left it
      return;
    case WriteFailure::kSizeLimit:
      Say(JobText::kOutputTooLarge, output.c_str());
      return;
    case WriteFailure::kNoMemory:
      SayOutOfMemory();
      return;
    case WriteFailure::kSystem:
      SayBecause(Reason(result.error), JobText::kUnwritableOutput, output.c_str());
      return;
  }
}

void ConversionJob::ReportOutputFailure(const FileResult& result) {
  const std::string output = Shown(settings_.output.c_str());
  switch (result.kind) {
    case FileFailure::kLinkRefused:
      Say(JobText::kLinkRefused, Shown(output_.link().c_str()).c_str(), Shown(output_.target().c_str()).c_str());
      return;
    case FileFailure::kSwapped:
      Say(JobText::kOutputSwapped, output.c_str());
      return;
    case FileFailure::kNotAFile:
      Say(JobText::kOutputNotFile, output.c_str());
      return;
    case FileFailure::kNone:
    case FileFailure::kSystem:
      SayBecause(Reason(result.error), JobText::kUnwritableOutput, output.c_str());
      return;
  }
}

// Refuses, before anything is asked or written, an output that replacing would destroy
// something else: a folder, device or pipe, or one of the frames to be converted.
bool ConversionJob::OutputIsUsable() {
  const FileResult opened = output_.Open(settings_.output.c_str());
  if (!opened) {
    ReportOutputFailure(opened);
    return false;
  }
  if (output_.kind() == OutputKind::kOther) {
    ReportOutputFailure(FileResult::Failed(FileFailure::kNotAFile));
    return false;
  }
  if (output_.kind() == OutputKind::kAbsent) return true;
  // Only an existing file can be a frame. Identity, not spelling: a link, another case or
  // another path to a frame is that frame.
  std::string frame = cursor_;
  do {
    if (output_.SameFileAs(frame.c_str())) {
      Say(JobText::kOutputIsFrame, Shown(settings_.output.c_str()).c_str(), Shown(frame.c_str()).c_str());
      return false;
    }
  } while (!NextFrameName(&frame, settings_.first, settings_.last));
  return true;
}

JobOutcome ConversionJob::Prepare(bool confirm) {
  MakeFrameName(&cursor_, settings_.first);
  if (!OutputIsUsable()) return JobOutcome::kFailed;
  // The file that would be replaced: where the output's link leads, when it is one.
  if (output_.kind() == OutputKind::kFile && !AskToReplace(output_.target())) return JobOutcome::kDeclined;
  frameCount_ = settings_.first <= settings_.last ? settings_.last - settings_.first + 1
                                                  : settings_.first - settings_.last + 1;
  if (confirm) {
    std::string lastName = cursor_;
    MakeFrameName(&lastName, settings_.last);
    if (!Ask(JobText::kConfirmQuestion, Shown(cursor_.c_str()).c_str(), Shown(lastName.c_str()).c_str(), frameCount_,
             Shown(settings_.output.c_str()).c_str())) {
      return JobOutcome::kDeclined;
    }
  }
  const FileResult created = output_.CreateTemporary();
  if (!created) {
    ReportOutputFailure(created);
    return JobOutcome::kFailed;
  }
  return JobOutcome::kDone;
}

JobOutcome ConversionJob::ConvertSequence(bool confirm) {
  JobSlot slot;
  if (!slot.owner()) return JobOutcome::kFailed;
  try {
    return Convert(confirm);
  } catch (const std::bad_alloc&) {
    // Memory for some bookkeeping of the job (a name, a message, a reader thread's slot)
    // could not be had: the job ends as any failed one, nothing left behind.
    feed_.reset();
    writer_.reset();
    output_.Discard();
    SayOutOfMemory();
    return JobOutcome::kFailed;
  }
}

JobOutcome ConversionJob::Convert(bool confirm) {
  const JobOutcome prepared = Prepare(confirm);
  if (prepared != JobOutcome::kDone) return prepared;
  const FramesOutcome written = WriteMovie();
  if (written == FramesOutcome::kDone) {
    const FileResult committed = output_.Commit();
    if (committed) {
      host_.Beep();
      return JobOutcome::kDone;
    }
    ReportOutputFailure(committed);
  }
  writer_.reset();
  output_.Discard();
  if (written == FramesOutcome::kAborted) host_.Notice(JobNotice::kAborted, settings_.output.c_str());
  return JobOutcome::kFailed;
}

FramesOutcome ConversionJob::WriteMovie() {
  int width = -1;
  int height = -1;
  {
    const FrameRead header = ReadFrameHeader(cursor_.c_str());
    if (!header) {
      ReportFrameFailure(header);
      return FramesOutcome::kFailed;
    }
    width = GetDibWidth(header.image);
    height = GetDibHeight(header.image);
  }
  frameWidth_ = width;
  frameHeight_ = height < 0 ? -height : height;
  sizeNoticed_ = false;
  if (!writer_) writer_ = host_.CreateWriter();
  if (!writer_) return FramesOutcome::kFailed;
  const WriteResult begun = writer_->Begin(width, height, output_, settings_.scale, settings_.rate);
  if (!begun) {
    writer_.reset();
    ReportWriteFailure(begun);
    return FramesOutcome::kFailed;
  }
  FrameWalk walk;
  walk.firstPath = cursor_.c_str();
  walk.first = settings_.first;
  walk.last = settings_.last;
  walk.count = frameCount_;
  walk.width = frameWidth_;
  walk.height = frameHeight_;
  feed_ = host_.CreateFrameFeed(walk);
  host_.WatchOutput(&output_);
  const int result = host_.RunProgress(frameCount_, [this] {
    // The routine may run on another thread: nothing may leave it by exception.
    try {
      return static_cast<int>(ConvertFrames());
    } catch (const std::bad_alloc&) {
      writer_.reset();
      SayOutOfMemory();
      return static_cast<int>(FramesOutcome::kFailed);
    }
  });
  host_.WatchOutput(nullptr);
  feed_.reset();  // stops readers that are still ahead of an aborted or failed job
  ReleaseCachedBlocks();  // the frames' memory goes back to the system between jobs
  return static_cast<FramesOutcome>(result);
}

void ConversionJob::NoticeFrame(const PackedDib& image, bool cutShort) {
  if (cutShort) host_.Notice(JobNotice::kFrameCutShort, cursor_.c_str());
  if (sizeNoticed_) return;
  const int height = GetDibHeight(image);
  if (GetDibWidth(image) != frameWidth_ || (height < 0 ? -height : height) != frameHeight_) {
    sizeNoticed_ = true;  // once per job: one sentence, not one per frame
    host_.Notice(JobNotice::kFrameSizeDiffers, cursor_.c_str());
  }
}

FramesOutcome ConversionJob::ConvertFrames() {
  for (;;) {
    if (host_.IsAbortRequested()) return FramesOutcome::kAborted;
    host_.PostStatusText(cursor_.c_str());
    FrameRead frame = feed_ ? feed_->Take(cursor_.c_str()) : DirectFeed().Take(cursor_.c_str());
    if (!frame) {
      ReportFrameFailure(frame);
      return FramesOutcome::kFailed;
    }
    NoticeFrame(frame.image, frame.cutShort);
    const WriteResult written = writer_->Append(frame.image);
    if (!written) {
      writer_.reset();
      ReportWriteFailure(written);
      return FramesOutcome::kFailed;
    }
    frame.image = PackedDib();
    if (NextFrameName(&cursor_, settings_.first, settings_.last)) {
      const WriteResult finished = writer_->Finish();
      writer_.reset();
      if (!finished) {
        ReportWriteFailure(finished);
        return FramesOutcome::kFailed;
      }
      return FramesOutcome::kDone;
    }
    host_.PostProgressStep();
  }
}

}  // namespace zelvo
