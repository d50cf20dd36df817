#include "app/command_line_posix.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "convert/frame_fit_posix.h"
#include "convert/sound_source_posix.h"
#include "app/library_versions_posix.h"
#include "image/av_api_posix.h"
#include "image/image_formats.h"
#include "platform/messages_posix.h"
#include "platform/path_buffer.h"
#include "platform/file.h"

namespace zelvo {

int UsageError(const std::string& text) {
  std::fprintf(stderr, "zelvo: %s\n%s\n", text.c_str(), Tr("Try 'zelvo --help'."));
  return kUsageError;
}

int UsageError(const char* form, const char* value, const std::string& allowed) {
  return UsageError(FormatText(form, TerminalSafe(value).c_str()) + " (" + allowed + ")");
}

namespace {

// The formats frames may be in, named from the table of formats (%s).
const char kFormatsHelp[] = N_("Frames may be in any of these formats, mixed freely; each frame's content decides\n"
                               "(TGA, which has no signature, is known by its extension):\n"
                               "  %s\n");

// --help in parts, each a text of the catalog; "" is an empty line.
const char* const kHelp[] = {
    N_("usage: zelvo [options] FRAME...\n"
       "Converts the numbered image sequence that each FRAME belongs to into one movie, by\n"
       "default the folder and the name without its number, plus .avi.\n"),
    kFormatsHelp,
    "",
    N_("  -r, --rate RATE        frames per second: 0.001 to 120 with up to three decimals\n"
       "                         (15 by default), an exact fraction such as 30000/1001, or\n"
       "                         ntsc (30000/1001), pal (25), film (24), ntsc-film (24000/1001)\n"
       "      --first N          first frame number (default: the first of the run on disk)\n"
       "      --last N           last frame number; below --first writes the run backwards\n"
       "  -o, --output PATH      the movie to write: .avi, .mkv, .mp4 or .mov\n"
       "  -c, --codec NAME       dib (full frames), mjpeg, ffv1, huffyuv, mpeg4, h264\n"),
    N_("      --quality Q        picture quality from 0 (smallest file) to 100 (best):\n"
       "                         MJPEG and MPEG-4 map it onto the fixed quantiser 31 to 2\n"
       "                         (default: quantiser 3), H.264 onto CRF 51 to 0 (default:\n"
       "                         CRF 18); full frames and the lossless codecs ignore it\n"),
    N_("      --keyint N         a key frame every N frames\n"
       "      --bitrate KBPS     data rate in kilobytes per second (1 KB = 1024 bytes)\n"
       "      --codec-options S  codec settings as key=value:key=value\n"),
    N_("      --threads N        frames decoded ahead on N reader threads (default and 0: one\n"
       "                         per core); 1 reads each frame when it is written. They hold\n"
       "                         at most two frames or 256 MiB, whichever is more\n"),
    N_("  -f, --format NAME      the container: avi, mkv, mp4 or mov (default: the extension\n"
       "                         of -o, which must be one of these four; AVI without -o)\n"
       "      --audio FILE       a sound track from any audio file (WAV, FLAC, MP3, Ogg...),\n"
       "                         cut at the video's end: PCM in AVI, FLAC in MKV, AAC in MP4\n"
       "                         and MOV\n"
       "      --size WxH         scale every frame to fit inside WxH, keeping its shape,\n"
       "                         centred on black (mpeg4 and h264 take only even sizes)\n"),
    N_("      --list-codecs      list the codecs this build offers and exit\n"
       "  -y, --yes              answer Yes to the overwrite question and the confirmation\n"
       "  -h, --help             show this help and exit\n"
       "      --version          show the version and the libraries in use, and exit\n"),
    N_("  -n, --no-overwrite     never replace an existing output: say so and go on (exit 1)\n"
       "  -q, --quiet            no confirmation and no progress line; questions, errors and\n"
       "                         notices stay\n"
       "      --dry-run          list each job's first and last frame, their count and the\n"
       "                         output, and write nothing\n"),
    "",
    N_("Without --codec the codec is asked for on the terminal when standard input is one,\n"
       "else full frames are written (Motion JPEG in MKV and MP4, which hold none). Ctrl-C\n"
       "aborts after the current frame; a second Ctrl-C ends at once. Nothing partial is\n"
       "left behind, and an existing file is replaced only by a complete one.\n"),
};

void PrintUsage(std::FILE* out) {
  for (const char* part : kHelp) {
    if (part == kFormatsHelp) std::fputs(FormatText(Tr(kFormatsHelp), FrameFormatNames().c_str()).c_str(), out);
    else std::fputs(part[0] != '\0' ? Tr(part) : "\n", out);
  }
}

// "0 to 99999": an allowed range, for a usage error.
std::string Range(long low, long high) { return FormatText(Tr("%ld to %ld"), low, high); }

bool ParseInt(const char* text, long low, long high, int* out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *out = static_cast<int>(v);
  return true;
}

// "a/b" keeps the exact fraction as rate a over scale b, within the decimal form's range:
// compared in integers, so that 1/1001 (just below 0.001) is refused.
bool ParseFraction(const char* text, const char* slash, int* rate, int* scale) {
  std::string num(text, slash);
  int a = 0, b = 0;
  if (!ParseInt(num.c_str(), 1, INT_MAX, &a) || !ParseInt(slash + 1, 1, INT_MAX, &b)) return false;
  const long long rateTimes1000 = 1000LL * a;
  if (rateTimes1000 < b || a > 120LL * b) return false;
  *rate = a;
  *scale = b;
  return true;
}

// ffmpeg's names of the usual rates, as the fractions they stand for.
const struct {
  const char* name;
  const char* fraction;
} kNamedRates[] = {{"ntsc", "30000/1001"}, {"pal", "25/1"}, {"film", "24/1"}, {"ntsc-film", "24000/1001"}};

// A decimal with up to three places gives thousandths over scale 1000, as the Windows
// dialog stores it; "a/b" an exact fraction; a rate's name its fraction.
bool ParseRate(const char* text, int* rate, int* scale) {
  for (const auto& named : kNamedRates) {
    if (std::strcmp(text, named.name) == 0) text = named.fraction;
  }
  if (const char* slash = std::strchr(text, '/')) return ParseFraction(text, slash, rate, scale);
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

// 0 when libav is loaded (loading it); else says why on standard error and returns 1.
int SayMissingLibav() {
  std::string why;
  if (LoadLibav(&why)) return 0;
  std::fprintf(stderr, "zelvo: %s\n", why.c_str());
  return 1;
}

std::string AvailableCodecNames(Container container = Container::kAvi) {
  std::string names;
  for (const CodecInfo& info : ListCodecs(container)) {
    if (!names.empty()) names += ", ";
    names += info.name;
  }
  return names;
}

// "avi, mkv, mp4, mov": what -f takes.
std::string ContainerNames() {
  std::string names;
  for (Container c : {Container::kAvi, Container::kMkv, Container::kMp4, Container::kMov})
    names += std::string(names.empty() ? "" : ", ") + ContainerName(c);
  return names;
}

// A codec name or FOURCC that this build can write. Only H.264 depends on how libavcodec
// was built (ListCodecs): the others are taken as named without loading it, as are all
// when it cannot be loaded, and CheckMovie says why they cannot be had. A job whose frames
// never need libavcodec (full frames, MJPEG made from JPEG files) never loads it.
bool SetCodec(const char* text, CodecChoice* choice) {
  std::string name;
  if (!ParseCodecName(text, &name)) return false;
  if (name != "h264" || !LoadLibav()) {
    choice->codec = name;
    return true;
  }
  for (const CodecInfo& info : ListCodecs()) {
    if (name == info.name) {
      choice->codec = name;
      return true;
    }
  }
  return false;
}

// 0, or 1 when libavcodec cannot be loaded (full frames are listed, and why no more).
int PrintCodecList(std::FILE* out) {
  for (const CodecInfo& info : ListCodecs())
    std::fprintf(out, "%-8s %-4s  %s\n", info.name, info.fourcc, Tr(info.description));
  return SayMissingLibav();
}

enum Option { kFirst = 256, kLast, kQuality, kKeyint, kBitrate, kCodecOptions, kListCodecs, kVersion, kThreads };
enum MovieOption { kAudio = 512, kSize };
// How the jobs run, beyond what they convert.
enum RunOption { kDryRun = 1024 };

const struct option kOptions[] = {
    {"rate", required_argument, nullptr, 'r'},       {"first", required_argument, nullptr, kFirst},
    {"last", required_argument, nullptr, kLast},     {"output", required_argument, nullptr, 'o'},
    {"codec", required_argument, nullptr, 'c'},      {"quality", required_argument, nullptr, kQuality},
    {"keyint", required_argument, nullptr, kKeyint}, {"bitrate", required_argument, nullptr, kBitrate},
    {"codec-options", required_argument, nullptr, kCodecOptions},
    {"list-codecs", no_argument, nullptr, kListCodecs}, {"yes", no_argument, nullptr, 'y'},
    {"help", no_argument, nullptr, 'h'},             {"version", no_argument, nullptr, kVersion},
    {"threads", required_argument, nullptr, kThreads},
    {"format", required_argument, nullptr, 'f'},     {"audio", required_argument, nullptr, kAudio},
    {"size", required_argument, nullptr, kSize},
    {"no-overwrite", no_argument, nullptr, 'n'},       {"quiet", no_argument, nullptr, 'q'},
    {"dry-run", no_argument, nullptr, kDryRun},        {nullptr, 0, nullptr, 0}};

// The option getopt refused, as the user wrote it: "-a" from a cluster such as "-ab" (the
// option's own letter, not the word before it), "--rate" for a long one (without its
// "=value"). `word` is the command-line word getopt looked at last.
std::string OptionAtFault(const char* word) {
  if (std::strncmp(word, "--", 2) == 0) {
    const std::string name(word, std::strcspn(word, "="));
    // A long option reports its own value in optopt; a short option's letter belongs to a
    // later word, still under way.
    if (optopt == 0) return name;
    for (const struct option& o : kOptions) {
      if (o.name && name == std::string("--") + o.name && o.val == optopt) return name;
    }
  }
  if (optopt > 0 && optopt < 256) return std::string("-") + static_cast<char>(optopt);
  return word;
}

// What is wrong with an option getopt refused: unknown, ambiguous, or given a value it
// does not take.
int OptionError(const char* word) {
  const std::string given = OptionAtFault(word);
  const std::string shown = TerminalSafe(given.c_str());
  if (given.compare(0, 2, "--") == 0) {
    std::string candidates;
    for (const struct option& o : kOptions) {
      if (!o.name || std::strncmp(o.name, given.c_str() + 2, given.size() - 2) != 0) continue;
      if (given.size() - 2 == std::strlen(o.name))  // the whole name: a value it does not take
        return UsageError(FormatText(Tr("option '%s' takes no value"), shown.c_str()));
      candidates += (candidates.empty() ? "--" : ", --") + std::string(o.name);
    }
    if (candidates.find(',') != std::string::npos)
      return UsageError(FormatText(Tr("option '%s' is ambiguous"), shown.c_str()) + " (" + candidates + ")");
  }
  return UsageError(FormatText(Tr("unknown option '%s'"), shown.c_str()));
}

// Takes one option `c` with its value `arg`: kGoOn, or the exit status when it ends the
// program (a usage error, or an option that only prints).
int TakeOption(int c, const char* arg, const char* given, Options* o) {
  switch (c) {
    case 'r':
      if (!ParseRate(arg, &o->rate, &o->scale))
        return UsageError(Tr("invalid frame rate '%s'"), arg,
                          Tr("0.001 to 120 frames per second with up to three decimals, a fraction such as 30000/1001, "
                             "or ntsc, pal, film, ntsc-film"));
      return kGoOn;
    case kFirst:
      if (!ParseInt(arg, 0, 99999, &o->first)) return UsageError(Tr("invalid first frame number '%s'"), arg, Range(0, 99999));
      return kGoOn;
    case kLast:
      if (!ParseInt(arg, 0, 99999, &o->last)) return UsageError(Tr("invalid last frame number '%s'"), arg, Range(0, 99999));
      return kGoOn;
    case 'o':
      if (std::strlen(arg) > LongestPath())
        return UsageError(Tr("output path too long: '%s'"), arg, FormatText(Tr("at most %d bytes"), static_cast<int>(LongestPath())));
      o->output = arg;
      return kGoOn;
    case 'c':
      if (!SetCodec(arg, &o->codec)) return UsageError(Tr("unknown codec '%s'"), arg, AvailableCodecNames());
      o->codecGiven = true;
      return kGoOn;
    case kQuality:
      if (!ParseInt(arg, 0, 100, &o->codec.quality)) return UsageError(Tr("invalid quality '%s'"), arg, Range(0, 100));
      return kGoOn;
    case kKeyint:
      if (!ParseInt(arg, 0, 100000, &o->codec.keyFrameEvery))
        return UsageError(Tr("invalid key frame interval '%s'"), arg, Range(0, 100000));
      return kGoOn;
    case kBitrate:
      if (!ParseInt(arg, 0, 2000000, &o->codec.dataRate))
        return UsageError(Tr("invalid data rate '%s'"), arg, Tr("0 to 2000000 kilobytes per second"));
      return kGoOn;
    case kCodecOptions:
      o->codec.options = arg;
      return kGoOn;
    case kThreads:
      if (!ParseInt(arg, 0, 64, &o->readers)) return UsageError(Tr("invalid thread count '%s'"), arg, Range(0, 64));
      o->codec.threads = o->readers;  // the encoder takes as many; 1 runs everything on one, 0 one per core
      if (o->readers == 0) o->readers = Options().readers;
      return kGoOn;
    case 'f':
      if (!ParseContainerName(arg, &o->container)) return UsageError(Tr("unknown container '%s'"), arg, ContainerNames());
      o->containerGiven = true;
      return kGoOn;
    case kAudio:
      o->sound = arg;
      return kGoOn;
    case kSize:
      if (!ParseFrameSize(arg, &o->fitWidth, &o->fitHeight))
        return UsageError(Tr("invalid frame size '%s'"), arg, Tr("WxH, each from 1 to 65535"));
      return kGoOn;
    case kListCodecs: return PrintCodecList(stdout);
    case 'y':
      o->assumeYes = true;
      return kGoOn;
    case 'n':
      o->noOverwrite = true;
      return kGoOn;
    case 'q':
      o->quiet = true;
      return kGoOn;
    case kDryRun:
      o->dryRun = true;
      return kGoOn;
    case 'h':
      PrintUsage(stdout);
      return 0;
    case kVersion:
      std::printf("zelvo %s\n", ZELVO_VERSION);
      for (const auto& library : LibraryVersions()) std::printf("%s %s\n", library.first.c_str(), library.second.c_str());
      return SayMissingLibav();
    case ':':
      return UsageError(FormatText(Tr("option '%s' needs a value"), TerminalSafe(OptionAtFault(given).c_str()).c_str()));
    default:
      return OptionError(given);
  }
}

// The movie the options describe: a container that -f or -o's extension names, a codec it
// can hold (by default full frames, or the first codec it holds), and a sound file that
// can be read, all known before any frame is looked at.
int CheckMovie(Options* o) {
  if (o->output && !o->containerGiven && !ContainerFromPath(o->output, &o->container)) {
    return UsageError(FormatText(Tr("the output '%s' does not end in .avi, .mkv, .mp4 or .mov"),
                                 TerminalSafe(o->output).c_str()) +
                      " (" + Tr("or name the container with -f avi|mkv|mp4|mov") + ")");
  }
  // A movie that needs libav loads it now, before any frame is looked at: where it cannot
  // be loaded the program fails at once, saying why. Full frames into AVI need none, nor
  // MJPEG whose frames may all be made from JPEG files (the writer loads it for any other).
  const bool needsLibav = (o->codec.codec != "dib" && !TakesReadyMjpeg(o->codec)) ||
                          o->container != Container::kAvi || o->sound || o->fitWidth > 0;
  if (needsLibav && SayMissingLibav() != 0) return 1;
  if (!CodecFitsContainer(o->codec.codec, o->container)) {
    if (o->codecGiven) {
      return UsageError(
          FormatText(Tr("%s files cannot hold the codec %s"), ContainerLabel(o->container), o->codec.codec.c_str()) +
          " (" + AvailableCodecNames(o->container) + ")");
    }
    const std::vector<CodecInfo> codecs = ListCodecs(o->container);
    if (!codecs.empty()) o->codec.codec = codecs.front().name;
  }
  if (o->sound) {
    const SoundResult sound = CheckSoundFile(o->sound);
    if (!sound) return UsageError(sound.message);
  }
  return kGoOn;
}

// The output -o names: a file (new or to be replaced) in an existing folder.
int CheckOutput(const char* output) {
  if (output[0] == '\0') return UsageError(Tr("the output path (-o) is empty"));
  if (ProbeOutput(output) == OutputKind::kOther)
    return UsageError(FormatText(Tr("the output '%s' is a folder or device, not a file"), TerminalSafe(output).c_str()));
  const char* slash = std::strrchr(output, '/');
  const std::string folder = slash == nullptr ? "." : slash == output ? "/" : std::string(output, slash);
  struct stat st;
  const int error = ::stat(folder.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (error != 0)
    return UsageError(FormatText(Tr("the output's folder '%s' cannot be used: %s"), TerminalSafe(folder.c_str()).c_str(),
                                 std::strerror(error)));
  return kGoOn;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options* o) {
  int c;
  opterr = 0;
  while ((c = getopt_long(argc, argv, ":r:o:c:f:ynqh", kOptions, nullptr)) != -1) {
    const int status = TakeOption(c, optarg, argv[optind - 1], o);
    if (status != kGoOn) return status;
  }
  for (int i = optind; i < argc; ++i) o->frames.push_back(argv[i]);
  if (o->frames.empty()) {
    PrintUsage(stderr);
    return kUsageError;
  }
  // Several frames with -o may all be of one run (a glob); two runs for one output are
  // refused once the runs are known.
  if (o->output) {
    const int usable = CheckOutput(o->output);
    if (usable != kGoOn) return usable;
  }
  return CheckMovie(o);
}

}  // namespace zelvo
