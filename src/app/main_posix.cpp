// zelvo: the Linux command-line program. Converts the numbered sequence of each named
// frame into one AVI file, with terminal prompts in place of the Windows message boxes.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/paths.h"
#include "app/terminal_host_posix.h"
#include "convert/avi_saver_posix.h"
#include "convert/codec_posix.h"
#include "convert/conversion_job.h"
#include "image/frame_reader.h"
#include "platform/messages_posix.h"
#include "sequence/sequence.h"

namespace {

using namespace zelvo;

constexpr int kUsageError = 2;

const char kUsage[] =
    "usage: zelvo [options] FRAME...\n"
    "Converts the numbered image sequence (BMP, RLE BMP, PNG) that each FRAME belongs to\n"
    "into one AVI file, by default the folder and the name without its number, plus .avi.\n"
    "\n"
    "  -r, --rate RATE        frames per second: 0.001 to 120 with up to three decimals\n"
    "                         (15 by default), or an exact fraction such as 30000/1001\n"
    "      --first N          first frame number (default: the first of the run on disk)\n"
    "      --last N           last frame number; below --first writes the run backwards\n"
    "  -o, --output PATH      the AVI file to write\n"
    "  -c, --codec NAME       dib (full frames), mjpeg, ffv1, huffyuv, mpeg4, h264\n"
    "      --quality Q        codec quality 0 to 100 (default: the codec's own)\n"
    "      --keyint N         a key frame every N frames\n"
    "      --bitrate KBPS     data rate in kilobytes per second (1 KB = 1024 bytes)\n"
    "      --codec-options S  codec settings as key=value:key=value\n"
    "      --threads N        frames decoded ahead on N reader threads (default: one per\n"
    "                         core); 1 reads each frame when it is written\n"
    "      --list-codecs      list the codecs this build offers and exit\n"
    "  -y, --yes              answer Yes to the overwrite question and the confirmation\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Without --codec the codec is asked for on the terminal when standard input is one,\n"
    "else full frames are written. Ctrl-C aborts after the current frame; a second Ctrl-C\n"
    "ends at once. Nothing partial is left behind, and an existing file is replaced only\n"
    "by a complete one.\n";

int UsageError(const char* format, const char* value, const char* allowed) {
  std::fprintf(stderr, "zelvo: ");
  std::fprintf(stderr, format, value);
  if (allowed) std::fprintf(stderr, " (%s)", allowed);
  std::fprintf(stderr, "\nTry 'zelvo --help'.\n");
  return kUsageError;
}

bool ParseInt(const char* text, long low, long high, int* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *out = static_cast<int>(v);
  return true;
}

// A decimal with up to three places gives thousandths over scale 1000, as the Windows
// dialog stores it; "a/b" keeps the exact fraction as rate a over scale b.
bool ParseRate(const char* text, int* rate, int* scale) {
  const char* slash = std::strchr(text, '/');
  if (slash) {
    std::string num(text, slash);
    int a = 0, b = 0;
    if (!ParseInt(num.c_str(), 1, INT_MAX, &a) || !ParseInt(slash + 1, 1, INT_MAX, &b)) return false;
    // Same limits as the dialog: more than 0 and at most 120 frames per second.
    if (static_cast<double>(a) / b > 120.0) return false;
    *rate = a;
    *scale = b;
    return true;
  }
  long whole = 0;
  int thousandths = 0;
  const char* p = text;
  if (!std::isdigit(static_cast<unsigned char>(*p)) && *p != '.') return false;
  int digits = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    whole = whole * 10 + (*p - '0');
    if (whole > 1000) return false;
    ++p;
    ++digits;
  }
  if (*p == '.') {
    ++p;
    int places = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
      if (++places > 3) return false;
      thousandths = thousandths * 10 + (*p - '0');
      ++p;
    }
    while (places < 3) {
      thousandths *= 10;
      ++places;
    }
  } else if (digits == 0) {
    return false;
  }
  if (*p != '\0') return false;
  long value = whole * 1000 + thousandths;
  if (value < 1 || value > 120000) return false;
  *rate = static_cast<int>(value);
  *scale = 1000;
  return true;
}

std::string AvailableCodecNames() {
  std::string names;
  for (const CodecInfo& info : ListCodecs()) {
    if (!names.empty()) names += ", ";
    names += info.name;
  }
  return names;
}

// A codec name or FOURCC that this build can write.
bool SetCodec(const char* text, CodecChoice* choice) {
  std::string name;
  if (!ParseCodecName(text, &name)) return false;
  for (const CodecInfo& info : ListCodecs()) {
    if (name == info.name) {
      choice->codec = name;
      return true;
    }
  }
  return false;
}

void PrintCodecList(std::FILE* out) {
  for (const CodecInfo& info : ListCodecs())
    std::fprintf(out, "%-8s %-4s  %s%s\n", info.name, info.fourcc, info.description, info.lossless ? " (lossless)" : "");
}

enum Option { kFirst = 256, kLast, kQuality, kKeyint, kBitrate, kCodecOptions, kListCodecs, kVersion, kThreads };

}  // namespace

// A program started with standard input, output or error closed would get its own files
// on those numbers and then print messages into the movie: they are opened on /dev/null.
static void OpenClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

int main(int argc, char** argv) {
  OpenClosedStandardStreams();
  InitMessages();
  static const struct option options[] = {
      {"rate", required_argument, nullptr, 'r'},     {"first", required_argument, nullptr, kFirst},
      {"last", required_argument, nullptr, kLast},   {"output", required_argument, nullptr, 'o'},
      {"codec", required_argument, nullptr, 'c'},    {"quality", required_argument, nullptr, kQuality},
      {"keyint", required_argument, nullptr, kKeyint}, {"bitrate", required_argument, nullptr, kBitrate},
      {"codec-options", required_argument, nullptr, kCodecOptions},
      {"list-codecs", no_argument, nullptr, kListCodecs}, {"yes", no_argument, nullptr, 'y'},
      {"help", no_argument, nullptr, 'h'},           {"version", no_argument, nullptr, kVersion},
      {"threads", required_argument, nullptr, kThreads},
      {nullptr, 0, nullptr, 0}};

  // What the options choose beyond each frame's own run: -1 / null keep the derived values.
  struct {
    int first = -1;
    int last = -1;
    const char* output = nullptr;
    int rate = 15000;
    int scale = 1000;
  } overrides;
  CodecChoice codec;
  bool codecGiven = false;
  bool assumeYes = false;
  // One reader per core decodes ahead while the main thread draws, encodes and writes.
  int readers = static_cast<int>(std::thread::hardware_concurrency());
  if (readers < 1) readers = 1;
  int c;
  opterr = 0;
  while ((c = getopt_long(argc, argv, ":r:o:c:yh", options, nullptr)) != -1) {
    switch (c) {
      case 'r':
        if (!ParseRate(optarg, &overrides.rate, &overrides.scale))
          return UsageError("invalid frame rate '%s'", optarg,
                            "0.001 to 120 frames per second with up to three decimals, or a fraction such as 30000/1001");
        break;
      case kFirst:
        if (!ParseInt(optarg, 0, 99999, &overrides.first))
          return UsageError("invalid first frame number '%s'", optarg, "0 to 99999");
        break;
      case kLast:
        if (!ParseInt(optarg, 0, 99999, &overrides.last))
          return UsageError("invalid last frame number '%s'", optarg, "0 to 99999");
        break;
      case 'o':
        if (std::strlen(optarg) >= static_cast<std::size_t>(kPathSize))
          return UsageError("output path too long: '%s'", optarg, "at most 259 bytes");
        overrides.output = optarg;
        break;
      case 'c':
        if (!SetCodec(optarg, &codec))
          return UsageError("unknown codec '%s'", optarg, AvailableCodecNames().c_str());
        codecGiven = true;
        break;
      case kQuality:
        if (!ParseInt(optarg, 0, 100, &codec.quality)) return UsageError("invalid quality '%s'", optarg, "0 to 100");
        break;
      case kKeyint:
        if (!ParseInt(optarg, 0, 100000, &codec.keyFrameEvery))
          return UsageError("invalid key frame interval '%s'", optarg, "0 to 100000 frames");
        break;
      case kBitrate:
        if (!ParseInt(optarg, 0, 2000000, &codec.dataRate))
          return UsageError("invalid data rate '%s'", optarg, "0 to 2000000 kilobytes per second");
        break;
      case kCodecOptions:
        codec.options = optarg;
        break;
      case kListCodecs:
        PrintCodecList(stdout);
        return 0;
      case 'y':
        assumeYes = true;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      case kThreads:
        if (!ParseInt(optarg, 1, 64, &readers)) return UsageError("invalid thread count '%s'", optarg, "1 to 64");
        break;
      case kVersion:
        std::printf("zelvo %s\n", ZELVO_VERSION);
        return 0;
      case ':':
        return UsageError("option '%s' needs a value", argv[optind - 1], nullptr);
      default:
        return UsageError("unknown option '%s'", argv[optind - 1], nullptr);
    }
  }
  if (optind >= argc) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  if (overrides.output && argc - optind > 1) {
    // Each sequence would replace the one before in the same file.
    const std::string count = std::to_string(argc - optind);
    return UsageError("-o names one output file, but %s frames were given", count.c_str(),
                      "convert one sequence per -o");
  }

  bool interactive = isatty(STDIN_FILENO) != 0;
  auto chooser = [&](CodecChoice* choice) -> bool {
    if (codecGiven || !interactive) {
      *choice = codec;
      return true;
    }
    return ChooseCodecOnTerminal(stdin, stderr, choice);
  };
  TerminalHost host(stdin, stderr, assumeYes, [&] { return std::make_unique<AviSaver>(chooser); }, readers);
  TerminalHost::InstallInterruptHandler();
  // A file size limit must end the job with a message, not kill the process mid-file.
  signal(SIGXFSZ, SIG_IGN);

  int status = 0;
  for (int i = optind; i < argc; ++i) {
    char path[kPathSize];
    if (!ResolveLongPath(path, argv[i], kPathSize)) {
      std::fprintf(stderr, "zelvo: %s: no such file\n", argv[i]);
      status = 1;
      continue;
    }
    if (!HasExtension(path)) {
      if (std::strlen(path) + 4 >= static_cast<std::size_t>(kPathSize)) {
        std::fprintf(stderr, "zelvo: %s: path too long\n", argv[i]);
        status = 1;
        continue;
      }
      std::strcat(path, ".bmp");
    }
    if (ProbePath(path) == 0) {
      std::fprintf(stderr, "zelvo: %s: no such file\n", path);
      status = 1;
      continue;
    }
    if (ProbeFrame(path) == FrameFormat::kNone) {
      std::fprintf(stderr, "zelvo: %s: not a BMP or PNG image\n", path);
      status = 1;
      continue;
    }
    if (overrides.first >= 0 || overrides.last >= 0) {
      int first = -1, last = -1;
      FindSequenceRange(path, &first, &last);
      for (int n : {overrides.first, overrides.last}) {
        if (n >= 0 && (first < 0 || n < first || n > last)) {
          char allowed[64];
          if (first < 0)
            std::snprintf(allowed, sizeof allowed, "the frame has no numbered run");
          else
            std::snprintf(allowed, sizeof allowed, "the run on disk is %d to %d", first, last);
          std::string value = std::to_string(n);
          return UsageError("frame number %s is outside the run", value.c_str(), allowed);
        }
      }
    }
    FrameRun run;
    const RunProblem problem = FindFrameRun(path, &run);
    // With -o the derived name is never used, so its length does not matter.
    if (problem != RunProblem::kNone && !(problem == RunProblem::kOutputTooLong && overrides.output)) {
      ReportRunProblem(host, problem, path);
      status = 1;
      continue;
    }
    JobSettings& settings = run.settings;
    if (overrides.first >= 0) settings.first = overrides.first;
    if (overrides.last >= 0) settings.last = overrides.last;
    if (overrides.output) std::snprintf(settings.output, sizeof settings.output, "%s", overrides.output);
    settings.rate = overrides.rate;
    settings.scale = overrides.scale;
    if (ConversionJob(host, settings).ConvertSequence(/*confirm=*/true) != JobOutcome::kDone) status = 1;
    if (host.IsAbortRequested()) break;  // Ctrl-C ends the whole batch, not just this job
  }
  return status;
}
