// zelvo: the Linux command-line program. Converts the numbered sequence of each named
// frame into one AVI file, with terminal prompts in place of the Windows message boxes.
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line_posix.h"
#include "app/job_plan_posix.h"
#include "app/terminal_host_posix.h"
#include "convert/codec_posix.h"
#include "convert/codec_settings_posix.h"
#include "convert/container_saver_posix.h"
#include "convert/conversion_job.h"
#include "image/av_image_formats_posix.h"
#include "image/av_image_reader_posix.h"
#include "image/frame_reader.h"
#include "image/image_formats.h"
#include "image/packed_dib.h"
#include "platform/file.h"
#include "platform/messages_posix.h"
#include "platform/paths.h"
#include "sequence/sequence.h"
#include "convert/job_list.h"

namespace {

using namespace zelvo;

// One frame argument made ready for its job.
enum class Prepared { kReady, kFailed, kUsageError };

// Says why a frame argument is skipped: `form` (translated, one %s for the path). False.
bool SkipFrame(const char* form, const char* path) {
  std::fprintf(stderr, "zelvo: %s\n", FormatText(form, TerminalSafe(path).c_str()).c_str());
  return false;
}

// The frame file an argument names: the default extension added to a name without one
// (seq/img010 is seq/img010.bmp). kFailed, having said why (as the job says why a frame has
// no picture), when there is no such image; a folder named as a frame is a usage error. A
// damaged image is left to its job, which names it with the reason.
Prepared FindFrameFile(JobHost& host, const char* arg, std::string* found) {
  struct stat named;
  if (stat(arg, &named) == 0 && S_ISDIR(named.st_mode)) {
    UsageError(FormatText(Tr("%s: a folder, not a frame"), TerminalSafe(arg).c_str()));
    return Prepared::kUsageError;
  }
  *found = WithDefaultExtension(arg);
  if (found->empty()) return SkipFrame(Tr("%s: path too long"), arg), Prepared::kFailed;
  const char* path = found->c_str();
  if (ProbePath(path) == 0) return SkipFrame(Tr("%s: no such file"), path), Prepared::kFailed;
  const FrameRead probe = ProbeFrame(path);
  switch (probe.failure) {
    case FrameFailure::kNotAFile:
    case FrameFailure::kNotImage:
    case FrameFailure::kUnreadable:
      std::fprintf(stderr, "zelvo: %s: %s\n", TerminalSafe(path).c_str(),
                   host.DescribeFrameFailure(probe.failure, probe.error).c_str());
      return Prepared::kFailed;
    default: return Prepared::kReady;
  }
}

// --first and --last must lie in the run found on disk (first to last, -1 when none).
bool CheckRange(const Options& o, int first, int last) {
  for (int n : {o.first, o.last}) {
    if (n >= 0 && (first < 0 || n < first || n > last)) {
      const std::string value = std::to_string(n);
      UsageError(Tr("frame number %s is outside the run"), value.c_str(),
                 first < 0 ? std::string(Tr("the frame has no numbered run"))
                           : FormatText(Tr("the run on disk is %d to %d"), first, last));
      return false;
    }
  }
  return true;
}

// Whether the codec takes the encoder options and the size of the movie's pictures:
// --size, or the job's first frame made even where the codec wants it; false with the
// reason, naming the frame, in *why.
bool CodecFitsJob(const Options& o, const CodecChoice& codec, const JobSettings& settings, std::string* why) {
  std::string firstFrame = settings.input;
  MakeFrameName(&firstFrame, settings.first);
  int width = 0, height = 0;
  {
    const FrameRead header = ReadFrameHeader(firstFrame.c_str());
    if (!header) return true;  // unreadable: the job says so, naming the frame and the reason
    width = GetDibWidth(header.image);
    height = GetDibHeight(header.image);
  }
  if (height < 0) height = -height;
  if (o.fitWidth > 0) {
    width = o.fitWidth;
    height = o.fitHeight;
  } else {
    PadToCodecSize(codec.codec, &width, &height);
  }
  if (CheckCodecChoice(codec, width, height, settings.scale, settings.rate, why, o.container)) return true;
  *why = FormatText("%s: %s", TerminalSafe(firstFrame.c_str()).c_str(), why->c_str());
  return false;
}

// The codec chosen on the command line (full frames when none is given and no terminal
// can ask) must fit each job.
bool CheckCodec(const Options& o, const JobSettings& settings) {
  std::string why;
  if (CodecFitsJob(o, o.codec, settings, &why)) return true;
  UsageError(why);
  return false;
}

// A derived output name ends in .avi; with -f it takes that container's extension.
void UseContainerExtension(Container container, std::string* output) {
  const std::size_t length = output->size();
  if (container == Container::kAvi || length < 4 || output->compare(length - 4, 4, ".avi") != 0) return;
  output->replace(length - 3, 3, ContainerName(container));
}

// Resolves the frame argument into its job's settings and checks what can be checked of
// it alone before the job's first question (the codec, once the jobs are merged).
Prepared PrepareFrame(const Options& o, JobHost& host, const char* arg, JobSettings* settings) {
  std::string found;
  const Prepared file = FindFrameFile(host, arg, &found);
  if (file != Prepared::kReady) return file;
  const char* path = found.c_str();
  FrameRun run;
  const RunProblem problem = FindFrameRun(path, &run);
  if (!CheckRange(o, run.foundFirst, run.foundLast)) return Prepared::kUsageError;
  // With -o the derived name is never used, so its length does not matter.
  if (problem != RunProblem::kNone && !(problem == RunProblem::kOutputTooLong && o.output)) {
    ReportRunProblem(host, problem, path);
    return Prepared::kFailed;
  }
  *settings = run.settings;
  if (o.first >= 0) settings->first = o.first;
  if (o.last >= 0) settings->last = o.last;
  settings->output = o.output ? o.output : OutputNameWithoutNumber(path);
  if (!o.output) UseContainerExtension(o.container, &settings->output);
  settings->rate = o.rate;
  settings->scale = o.scale;
  return Prepared::kReady;
}

// True when the frame argument is a frame of the run of a job before it, which it would
// only give again: a glob names every frame of a run, and each would search the folder.
bool NamedBefore(const char* arg, const std::vector<ListedJob>& jobs, const std::vector<SequenceRun>& runs) {
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (runs[i].first >= 0 && FrameOfRun(arg, jobs[i].settings.input.c_str(), runs[i].first, runs[i].last)) return true;
  }
  return false;
}

// Says, as warnings, which settings the codec does not use.
void WarnUnusedSettings(const CodecChoice& codec) {
  for (const std::string& unused : UnusedCodecSettings(codec))
    std::fprintf(stderr, "zelvo: %s\n", FormatText(Tr("warning: %s"), unused.c_str()).c_str());
}

// The codec menu for the job under way: the command line's settings go with the codec
// chosen, which must pass the checks -c passes; when it does not, the menu says why and
// asks again. False when the user cancels.
bool ChooseFittingCodec(const Options& o, const JobSettings& job, CodecChoice* choice) {
  for (;;) {
    CodecChoice picked = o.codec;
    if (!ChooseCodecOnTerminal(stdin, stderr, &picked, o.container)) return false;
    std::string why;
    if (CodecFitsJob(o, picked, job, &why)) {
      WarnUnusedSettings(picked);
      *choice = picked;
      return true;
    }
    std::fprintf(stderr, "zelvo: %s\n", why.c_str());
  }
}

// A program started with standard input, output or error closed would get its own files
// on those numbers and then print messages into the movie: they are opened on /dev/null.
void OpenClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

// As GNU tools do (close_stdout): output that could not be written (--help into a full
// disk, a closed pipe's EPIPE aside, which kills the program first) is an error, said on
// standard error, and the program exits 1 instead of reporting success.
int CloseStandardOutput(int status) {
  const bool pending = __fpending(stdout) != 0;
  const bool failed = std::ferror(stdout) != 0;
  errno = 0;
  const bool closeFailed = std::fclose(stdout) != 0;
  if (!failed && !(closeFailed && (pending || errno != EBADF))) return status;
  const int error = closeFailed ? errno : 0;
  if (error != 0) {
    std::fprintf(stderr, "zelvo: %s: %s\n", Tr("write error"), std::strerror(error));
  } else {
    std::fprintf(stderr, "zelvo: %s\n", Tr("write error"));
  }
  return 1;
}

// What the writers take from the options besides the codec.
MovieOptions MovieOptionsOf(const Options& o) {
  MovieOptions movie;
  movie.container = o.container;
  if (o.sound) movie.soundPath = o.sound;
  movie.fitWidth = o.fitWidth;
  movie.fitHeight = o.fitHeight;
  movie.notice = [](const std::string& text) { std::fprintf(stderr, "zelvo: %s\n", text.c_str()); };
  return movie;
}

int Run(int argc, char** argv) {
  // glibc's own mmap threshold is kept: frames that readers overwrite whole come back
  // through the block cache of PackedDib, and the rest stay flat in the heaps over any
  // length of job (1,200 PNG frames peak as 600 do), while a fixed low threshold would map
  // and unmap every encoded frame larger than it, one page fault per page (HuffYUV: 28K
  // faults for 60 frames of 1920x1080 became 50K, for 600 frames 280K).
  // What the process needs beside its frames must not grow with --threads, or a memory
  // limit (ulimit -v) would let a job through with few threads and fail it with many:
  // glibc gives each thread its own heap, which reserves 64 MiB of address space, and
  // each thread a stack of RLIMIT_STACK (often 8 MiB). A few heaps serve the threads' small
  // blocks as well, and 2 MiB of stack is more than the readers and the codec threads use
  // (libavcodec and x264 run on 1 MiB thread stacks elsewhere).
  mallopt(M_ARENA_MAX, 4);
  pthread_attr_t threads;
  if (pthread_attr_init(&threads) == 0) {
    if (pthread_attr_setstacksize(&threads, std::size_t{2} << 20) == 0) pthread_setattr_default_np(&threads);
    pthread_attr_destroy(&threads);
  }
  OpenClosedStandardStreams();
  InitMessages();
  // Beyond BMP and PNG, frames may be in every format libavcodec decodes for this program.
  AddFrameFormats(LibavImageFormats());
  Options options;
  const int parsed = ParseOptions(argc, argv, &options);
  if (parsed != kGoOn) return parsed;

  const bool interactive = isatty(STDIN_FILENO) != 0;
  const bool codecKnown = options.codecGiven || !interactive;
  if (codecKnown && !options.codecGiven && !options.codec.options.empty()) {
    return UsageError(Tr("--codec-options needs a codec (-c): without one full frames are written, which take no "
                         "encoder options"));
  }
  if (codecKnown) WarnUnusedSettings(options.codec);
  const JobSettings* current = nullptr;  // the job under way, which the menu's codec must fit
  auto chooser = [&](CodecChoice* choice) -> bool {
    if (codecKnown) {
      *choice = options.codec;
      return true;
    }
    return ChooseFittingCodec(options, *current, choice);
  };
  const MovieOptions movie = MovieOptionsOf(options);
  TerminalHost host(stdin, stderr, options.assumeYes, [&] { return MakeMovieWriter(movie, chooser); },
                    options.readers);
  host.set_frames_fitted(options.fitWidth > 0);
  host.set_quiet(options.quiet);
  host.set_no_overwrite(options.noOverwrite);
  host.set_missing_decoder(DescribeMissingDecoder);

  // Every frame argument is checked before the first job asks anything: a mistake in the
  // options ends the program before any file is made.
  int status = 0;
  std::vector<ListedJob> jobs;
  std::vector<SequenceRun> runs;  // each job's run on disk: a glob names its other frames next
  for (const char* arg : options.frames) {
    if (NamedBefore(arg, jobs, runs)) continue;
    JobSettings settings;
    switch (PrepareFrame(options, host, arg, &settings)) {
      case Prepared::kReady:
        jobs.push_back({arg, settings});
        runs.push_back(FindSequenceRun(settings.input.c_str()));
        break;
      case Prepared::kFailed: status = 1; break;
      case Prepared::kUsageError: return kUsageError;
    }
  }
  MergeSameJobs(&jobs);
  // A gap may be why a glob's frames make two runs: it is said before they are refused.
  for (const ListedJob& job : jobs) NoticeGaps(job.settings);
  if (CheckSharedOutputs(jobs) != kGoOn) return kUsageError;
  // The codec is checked once a job, after the frames of one run are merged.
  for (const ListedJob& job : jobs) {
    if (codecKnown && !CheckCodec(options, job.settings)) return kUsageError;
  }
  if (options.dryRun) {
    for (const ListedJob& job : jobs) PrintJob(stdout, job.settings);
    return status;
  }

  TerminalHost::InstallSignalHandlers();
  for (const ListedJob& job : jobs) {
    current = &job.settings;
    if (ConversionJob(host, job.settings).ConvertSequence(/*confirm=*/!options.quiet) != JobOutcome::kDone) status = 1;
    if (host.IsAbortRequested()) break;  // Ctrl-C ends the whole batch, not just this job
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // The jobs report a lack of memory themselves; this is for the program's own few
  // blocks around them (the options, the list of jobs).
  try {
    return CloseStandardOutput(Run(argc, argv));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zelvo: %s\n", Tr("not enough memory"));
    return 1;
  }
}
