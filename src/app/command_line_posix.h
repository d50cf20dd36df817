#pragma once
// The Linux program's command line: its options read into Options (with every value
// checked as it is read), --help, --version and --list-codecs, and usage errors in the
// user's language. The frames themselves are checked by the program when it prepares
// their jobs.
#include <string>
#include <thread>
#include <vector>

#include "convert/codec_posix.h"

namespace zelvo {

constexpr int kUsageError = 2;
constexpr int kGoOn = -1;  // ParseOptions: run the jobs

// What the command line asks for: the options, then the frames.
struct Options {
  // Beyond each frame's own run: -1 / null keep the derived values.
  int first = -1;
  int last = -1;
  const char* output = nullptr;
  int rate = 15000;
  int scale = 1000;
  CodecChoice codec;
  bool codecGiven = false;
  bool assumeYes = false;
  // The movie's container (-f, else -o's extension, else AVI), its sound track (--audio)
  // and one size for every frame (--size; 0 x 0: the first frame's size).
  Container container = Container::kAvi;
  bool containerGiven = false;
  const char* sound = nullptr;
  int fitWidth = 0;
  int fitHeight = 0;
  // -n: an existing output is never replaced; -q: no confirmation and no progress line;
  // --dry-run: each job's frames and output are listed, and nothing is written.
  bool noOverwrite = false;
  bool quiet = false;
  bool dryRun = false;
  // One reader per core decodes ahead while the main thread draws, encodes and writes.
  int readers = std::thread::hardware_concurrency() > 0 ? static_cast<int>(std::thread::hardware_concurrency()) : 1;
  std::vector<const char*> frames;
};

// Reads the command line into *o: kGoOn, or the exit status when the program ends here (a
// usage error, said on standard error, or an option that only prints).
int ParseOptions(int argc, char** argv, Options* o);

// Says `text` on standard error as a usage error, with the hint to --help. kUsageError.
int UsageError(const std::string& text);
// A refused value: `form` (translated, one %s for the value) and what is allowed.
int UsageError(const char* form, const char* value, const std::string& allowed);

}  // namespace zelvo
