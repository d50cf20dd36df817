// libFuzzer target for the formats read through libavcodec: the bytes become a file named
// .tga (so that bytes no signature claims go to the TGA decoder), which is read as a frame
// is read: recognised by the table of formats, then read by its reader. A returned frame
// must be exactly the 24-bit block its header describes; a failure must say why.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/av_image_formats_posix.h"
#include "image/frame_reader.h"
#include "image/image_formats.h"
#include "image/packed_dib.h"

namespace {

const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder != nullptr ? folder : "/tmp") + "/zelvo_image_fuzz_XXXXXX.tga";
    int fd = mkstemps(&pattern[0], 4);
    if (fd >= 0) close(fd);
    std::atexit([] { std::remove(ScratchPath().c_str()); });
    return pattern;
  }();
  return path;
}

void Check(const zelvo::FrameRead& read) {
  if (!read.image) {
    if (read.failure == zelvo::FrameFailure::kNone) std::abort();
    return;
  }
  const zelvo::DibHeader h = read.image.header();
  const std::uint64_t expected = std::uint64_t{static_cast<std::uint32_t>(h.height)} * zelvo::DibStride(h.width, 24) +
                                 zelvo::kDibHeaderSize;
  if (read.failure != zelvo::FrameFailure::kNone || h.width <= 0 || h.height <= 0 || h.bitCount != 24 ||
      read.image.size() != expected) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool added = (zelvo::AddFrameFormats(zelvo::LibavImageFormats()), true);
  (void)added;
  const std::string& path = ScratchPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  const zelvo::ImageFormat* format = zelvo::ProbeFrame(path.c_str()).format;
  // BMP and PNG have targets of their own.
  if (format == nullptr || std::strcmp(format->name, "BMP") == 0 || std::strcmp(format->name, "PNG") == 0) return 0;
  Check(zelvo::ReadFrame(path.c_str()));
  return 0;
}
