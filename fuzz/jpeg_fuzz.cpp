// libFuzzer target for the JPEG reader (libjpeg-turbo, and libavcodec for the JPEGs handed
// on to it): the bytes become a file named .jpg, read as a frame is read, header and then
// picture. A returned frame must be exactly the 24-bit block its header describes, of the
// size the header read gave; a failure must say why.
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
    std::string pattern = std::string(folder != nullptr ? folder : "/tmp") + "/zelvo_jpeg_fuzz_XXXXXX.jpg";
    int fd = mkstemps(&pattern[0], 4);
    if (fd >= 0) close(fd);
    std::atexit([] { std::remove(ScratchPath().c_str()); });
    return pattern;
  }();
  return path;
}

void Check(const zelvo::FrameRead& read, bool headerOnly) {
  if (!read.image) {
    if (read.failure == zelvo::FrameFailure::kNone) std::abort();
    return;
  }
  const zelvo::DibHeader h = read.image.header();
  const std::uint64_t pixels =
      headerOnly ? 0 : std::uint64_t{static_cast<std::uint32_t>(h.height)} * zelvo::DibStride(h.width, 24);
  if (read.failure != zelvo::FrameFailure::kNone || h.width <= 0 || h.height <= 0 || h.bitCount != 24 ||
      read.image.size() != pixels + zelvo::kDibHeaderSize) {
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
  if (format == nullptr || std::strcmp(format->name, "JPEG") != 0) return 0;
  const zelvo::FrameRead header = zelvo::ReadFrameHeader(path.c_str());
  Check(header, true);
  const zelvo::FrameRead read = zelvo::ReadFrame(path.c_str());
  Check(read, false);
  // The header read promises the picture's size.
  if (header.image && read.image &&
      (GetDibWidth(header.image) != GetDibWidth(read.image) || GetDibHeight(header.image) != GetDibHeight(read.image)))
    std::abort();
  return 0;
}
