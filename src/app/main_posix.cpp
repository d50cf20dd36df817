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
#include "app/terminal_host_posix.h"
#include "convert/codec_posix.h"
#include "convert/container_saver_posix.h"
#include "convert/conversion_job.h"
#include "image/av_image_formats_posix.h"
#include "image/frame_reader.h"
#include "image/image_formats.h"
#include "image/packed_dib.h"
#include "platform/file.h"
#include "platform/messages_posix.h"
#include "platform/paths.h"
#include "sequence/sequence.h"

namespace {

using namespace zelvo;

// One frame argument made ready for its job.
enum class Prepared { kReady, kFailed, kUsageError };

// Says why a frame argument is skipped: `form` (translated, one %s for the path). False.
bool SkipFrame(const char* form, const char* path) {
  std::fprintf(stderr, "zelvo: %s\n", FormatText(form, TerminalSafe(path).c_str()).c_str());
  return false;
}

// The frame file an argument names: as stored on disk, the default extension added to a
// name without one. False, having said why (as the job says why a frame has no picture),
// when there is no such image. A damaged image is left to its job, which names it with the
// reason.
bool FindFrameFile(JobHost& host, const char* arg, char* path) {
  if (!ResolveLongPath(path, arg, kPathSize)) return SkipFrame(Tr("%s: no such file"), arg);
  const std::string named = WithDefaultExtension(path);
  if (named.empty()) return SkipFrame(Tr("%s: path too long"), arg);
  std::snprintf(path, kPathSize, "%s", named.c_str());
  if (ProbePath(path) == 0) return SkipFrame(Tr("%s: no such file"), path);
  const FrameRead probe = ProbeFrame(path);
  switch (probe.failure) {
    case FrameFailure::kNotAFile:
    case FrameFailure::kNotImage:
    case FrameFailure::kUnreadable:
      std::fprintf(stderr, "zelvo: %s: %s\n", TerminalSafe(path).c_str(),
                   host.DescribeFrameFailure(probe.failure, probe.error).c_str());
      return false;
    default: return true;
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

// The codec chosen on the command line (full frames when none is given and no terminal
// can ask) must take the encoder options and the size of the movie's pictures: --size, or
// the job's first frame made even where the codec wants it.
bool CheckCodec(const Options& o, const JobSettings& settings) {
  const CodecChoice& codec = o.codec;
  char firstFrame[kPathSize];
  std::memcpy(firstFrame, settings.input, sizeof firstFrame);
  MakeFrameName(firstFrame, settings.first);
  int width = 0, height = 0;
  {
    const FrameRead header = ReadFrameHeader(firstFrame);
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
  std::string why;
  if (CheckCodecChoice(codec, width, height, settings.scale, settings.rate, &why, o.container)) return true;
  UsageError(FormatText("%s: %s", TerminalSafe(firstFrame).c_str(), why.c_str()));
  return false;
}

// A derived output name ends in .avi; with -f it takes that container's extension.
void UseContainerExtension(Container container, char* output) {
  const std::size_t length = std::strlen(output);
  if (container == Container::kAvi || length < 4 || std::strcmp(output + length - 4, ".avi") != 0) return;
  std::memcpy(output + length - 3, ContainerName(container), 3);
}

// Resolves the frame argument into its job's settings and checks what can be checked
// before the job's first question.
Prepared PrepareFrame(const Options& o, bool codecKnown, JobHost& host, const char* arg, JobSettings* settings) {
  char path[kPathSize];
  if (!FindFrameFile(host, arg, path)) return Prepared::kFailed;
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
  if (o.output) std::snprintf(settings->output, sizeof settings->output, "%s", o.output);
  if (!o.output) UseContainerExtension(o.container, settings->output);
  settings->rate = o.rate;
  settings->scale = o.scale;
  if (codecKnown && !CheckCodec(o, *settings)) return Prepared::kUsageError;
  return Prepared::kReady;
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
  auto chooser = [&](CodecChoice* choice) -> bool {
    if (codecKnown) {
      *choice = options.codec;
      return true;
    }
    return ChooseCodecOnTerminal(stdin, stderr, choice, options.container);
  };
  const MovieOptions movie = MovieOptionsOf(options);
  TerminalHost host(stdin, stderr, options.assumeYes, [&] { return MakeMovieWriter(movie, chooser); },
                    options.readers);
  host.set_frames_fitted(options.fitWidth > 0);

  // Every frame argument is checked before the first job asks anything: a mistake in the
  // options ends the program before any file is made.
  int status = 0;
  std::vector<JobSettings> jobs;
  for (const char* arg : options.frames) {
    JobSettings settings;
    switch (PrepareFrame(options, codecKnown, host, arg, &settings)) {
      case Prepared::kReady: jobs.push_back(settings); break;
      case Prepared::kFailed: status = 1; break;
      case Prepared::kUsageError: return kUsageError;
    }
  }

  TerminalHost::InstallSignalHandlers();
  for (const JobSettings& settings : jobs) {
    if (ConversionJob(host, settings).ConvertSequence(/*confirm=*/true) != JobOutcome::kDone) status = 1;
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
