#include "convert/conversion_job.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "image/frame_reader.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "sequence/sequence.h"

namespace zelvo {

namespace {

const char kCaption[] = "Zelvo";
constexpr int kMessageSize = 3000;

std::atomic<bool> g_jobRunning{false};
// The running job's temporary file, for signal handlers: a plain buffer they can read.
char g_pendingPath[kPathSize] = {};

bool CopyPath(char* out, const char* in) {
  const std::size_t n = std::strlen(in);
  if (n >= static_cast<std::size_t>(kPathSize)) return false;
  std::memcpy(out, in, n + 1);
  return true;
}

}  // namespace

JobSlot::JobSlot() : owner_(!g_jobRunning.exchange(true)) {}

JobSlot::~JobSlot() {
  if (owner_) g_jobRunning = false;
}

bool JobUnderWay() { return g_jobRunning.load(); }
const char* PendingOutputPath() { return g_pendingPath; }

RunProblem FindFrameRun(const char* framePath, FrameRun* run) {
  *run = FrameRun();
  JobSettings& s = run->settings;
  if (!CopyPath(s.input, framePath)) return RunProblem::kFrameTooLong;
  FindSequenceRange(s.input, &run->foundFirst, &run->foundLast);
  s.first = run->foundFirst;
  s.last = run->foundLast;
  if (!CopyPath(s.output, DefaultOutputName(s.input).c_str())) return RunProblem::kOutputTooLong;
  return RunProblem::kNone;
}

void ReportRunProblem(JobHost& host, RunProblem problem, const char* framePath) {
  if (problem == RunProblem::kNone) return;
  char text[kMessageSize];
  if (problem == RunProblem::kFrameTooLong) {
    std::snprintf(text, sizeof text, host.Text(JobText::kUnreadableFrame), framePath);
  } else {
    std::snprintf(text, sizeof text, host.Text(JobText::kUnwritableOutput), DefaultOutputName(framePath).c_str());
  }
  host.ShowMessage(kCaption, text);
}

ConversionJob::ConversionJob(JobHost& host, const JobSettings& settings) : host_(host), settings_(settings) {
  std::memcpy(cursor_, settings_.input, sizeof cursor_);
  cursor_[kPathSize - 1] = '\0';
}

ConversionJob::~ConversionJob() {
  writer_.reset();
  DiscardTemporaryFile();
}

std::string ConversionJob::Format(JobText id, std::va_list args) {
  char text[kMessageSize];
  std::vsnprintf(text, sizeof text, host_.Text(id), args);
  return text;
}

void ConversionJob::SayV(int error, JobText id, std::va_list args) {
  std::string text = Format(id, args);
  const std::string reason = error != 0 ? host_.DescribeError(error) : std::string();
  if (!reason.empty()) text += reason + "\n";
  host_.ShowMessage(kCaption, text);
}

void ConversionJob::Say(JobText id, ...) {
  std::va_list args;
  va_start(args, id);
  SayV(0, id, args);
  va_end(args);
}

void ConversionJob::SayBecause(int error, JobText id, ...) {
  std::va_list args;
  va_start(args, id);
  SayV(error, id, args);
  va_end(args);
}

bool ConversionJob::Ask(JobText id, ...) {
  std::va_list args;
  va_start(args, id);
  const std::string text = Format(id, args);
  va_end(args);
  return host_.AskYesNo(kCaption, text);
}

// Refuses, before anything is asked or written, an output that replacing would destroy
// something else: a folder, device or pipe, or one of the frames to be converted.
bool ConversionJob::OutputIsUsable() {
  const OutputKind kind = ProbeOutput(settings_.output);
  if (kind == OutputKind::kOther) {
    Say(JobText::kOutputNotFile, settings_.output);
    return false;
  }
  if (!ResolveOutputTarget(settings_.output, target_)) {
    Say(JobText::kUnwritableOutput, settings_.output);
    return false;
  }
  if (kind == OutputKind::kAbsent) return true;
  // Only an existing file can be a frame. Identity, not spelling: a link, another case or
  // another path to a frame is that frame.
  const std::string output = FileIdentity(settings_.output);
  if (output.empty()) return true;
  char frame[kPathSize];
  std::memcpy(frame, cursor_, sizeof frame);
  do {
    if (FileIdentity(frame) == output) {
      Say(JobText::kOutputIsFrame, settings_.output, frame);
      return false;
    }
  } while (!NextFrameName(frame, settings_.first, settings_.last));
  return true;
}

bool ConversionJob::TakeTemporaryFile(int* error) {
  temporary_ = CreateTemporaryBeside(target_, error);
  if (temporary_.empty() || !CopyPath(g_pendingPath, temporary_.c_str())) {
    DiscardTemporaryFile();
    return false;
  }
  return true;
}

void ConversionJob::DiscardTemporaryFile() {
  if (!temporary_.empty()) RemoveFile(temporary_.c_str());
  temporary_.clear();
  g_pendingPath[0] = '\0';
}

JobOutcome ConversionJob::ConvertSequence(bool confirm) {
  JobSlot slot;
  if (!slot.owner()) return JobOutcome::kFailed;

  MakeFrameName(cursor_, settings_.first);
  if (!OutputIsUsable()) return JobOutcome::kFailed;
  if (ProbePath(settings_.output) != 0 && !Ask(JobText::kOverwriteQuestion, settings_.output)) {
    return JobOutcome::kDeclined;
  }
  frameCount_ = settings_.first <= settings_.last ? settings_.last - settings_.first + 1
                                                  : settings_.first - settings_.last + 1;
  if (confirm) {
    char lastName[kPathSize];
    std::memcpy(lastName, cursor_, sizeof lastName);
    MakeFrameName(lastName, settings_.last);
    if (!Ask(JobText::kConfirmQuestion, cursor_, lastName, frameCount_, settings_.output)) {
      return JobOutcome::kDeclined;
    }
  }

  int error = 0;
  if (!TakeTemporaryFile(&error)) {
    SayBecause(error, JobText::kUnwritableOutput, settings_.output);
    return JobOutcome::kFailed;
  }
  const FramesOutcome written = WriteMovie();
  if (written == FramesOutcome::kDone) {
    // An older file's permissions (and owner) carry over to the one that replaces it.
    if (ProbeOutput(target_) == OutputKind::kFile) CopyFileMode(target_, temporary_.c_str());
    if (MoveOnto(temporary_.c_str(), target_)) {
      temporary_.clear();
      g_pendingPath[0] = '\0';
      host_.Beep();
      return JobOutcome::kDone;
    }
    SayBecause(errno, JobText::kUnwritableOutput, settings_.output);
  }
  writer_.reset();
  DiscardTemporaryFile();
  if (written == FramesOutcome::kAborted) host_.Notice(JobNotice::kAborted, settings_.output);
  return JobOutcome::kFailed;
}

FramesOutcome ConversionJob::WriteMovie() {
  int width = -1;
  int height = -1;
  {
    PackedDib header = ReadFrameHeader(cursor_);
    if (!header) {
      SayBecause(OpenFailure(cursor_), JobText::kUnreadableFrame, cursor_);
      return FramesOutcome::kFailed;
    }
    width = GetDibWidth(header);
    height = GetDibHeight(header);
  }
  frameWidth_ = width;
  frameHeight_ = height < 0 ? -height : height;
  sizeNoticed_ = false;
  if (!writer_) writer_ = host_.CreateWriter();
  if (!writer_ || !writer_->Open(width, height, temporary_.c_str(), settings_.scale, settings_.rate)) {
    writer_.reset();
    return FramesOutcome::kFailed;
  }
  FrameWalk walk;
  walk.firstPath = cursor_;
  walk.first = settings_.first;
  walk.last = settings_.last;
  walk.count = frameCount_;
  walk.width = frameWidth_;
  walk.height = frameHeight_;
  feed_ = host_.CreateFrameFeed(walk);
  const int result = host_.RunProgress(frameCount_, [this] { return static_cast<int>(ConvertFrames()); });
  feed_.reset();  // stops readers that are still ahead of an aborted or failed job
  ReleaseCachedBlocks();  // the frames' memory goes back to the system between jobs
  return static_cast<FramesOutcome>(result);
}

void ConversionJob::NoticeFrame(const PackedDib& image, bool cutShort) {
  if (cutShort) host_.Notice(JobNotice::kFrameCutShort, cursor_);
  if (sizeNoticed_) return;
  const int height = GetDibHeight(image);
  if (GetDibWidth(image) != frameWidth_ || (height < 0 ? -height : height) != frameHeight_) {
    sizeNoticed_ = true;  // once per job: one sentence, not one per frame
    host_.Notice(JobNotice::kFrameSizeDiffers, cursor_);
  }
}

FramesOutcome ConversionJob::ConvertFrames() {
  for (;;) {
    if (host_.IsAbortRequested()) return FramesOutcome::kAborted;
    host_.PostStatusText(cursor_);
    FeedFrame frame = feed_ ? feed_->Take(cursor_) : DirectFeed().Take(cursor_);
    PackedDib& image = frame.image;
    if (!image) {
      SayBecause(OpenFailure(cursor_), JobText::kUnreadableFrame, cursor_);
      return FramesOutcome::kFailed;
    }
    NoticeFrame(image, frame.cutShort);
    const FrameOutcome written = writer_->DrawAndWrite(image);
    if (written == FrameOutcome::kNotDrawn) {
      writer_.reset();
      return FramesOutcome::kFailed;
    }
    if (written == FrameOutcome::kNotWritten) {
      const bool tooLarge = writer_->PastSizeLimit();
      const int error = writer_->LastError();
      writer_.reset();
      if (tooLarge) {
        Say(JobText::kOutputTooLarge, settings_.output);
      } else {
        SayBecause(error, JobText::kUnwritableOutput, settings_.output);
      }
      return FramesOutcome::kFailed;
    }
    image = PackedDib();
    if (NextFrameName(cursor_, settings_.first, settings_.last)) {
      const bool complete = writer_->Close();
      const int error = writer_->LastError();
      writer_.reset();
      if (!complete) {
        SayBecause(error, JobText::kUnwritableOutput, settings_.output);
        return FramesOutcome::kFailed;
      }
      return FramesOutcome::kDone;
    }
    host_.PostProgressStep();
  }
}

}  // namespace zelvo
