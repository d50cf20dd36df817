// libFuzzer target for the PNG reader: the bytes become a file, which the probe, the
// header reader and the full reader take in turn. A returned image must be exactly the
// block its header describes.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/packed_dib.h"
#include "image/png_reader.h"

namespace {

const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder != nullptr ? folder : "/tmp") + "/zelvo_png_fuzz_XXXXXX";
    int fd = mkstemp(&pattern[0]);
    if (fd >= 0) close(fd);
    std::atexit([] { std::remove(ScratchPath().c_str()); });
    return pattern;
  }();
  return path;
}

void CheckLayout(const zelvo::PackedDib& dib) {
  if (!dib) return;
  zelvo::DibHeader h = dib.header();
  std::uint64_t expected = (static_cast<std::uint64_t>(h.height) + 1) * zelvo::DibStride(h.width, h.bitCount) +
                           zelvo::DibPixelOffset(h.bitCount);
  if (h.width <= 0 || h.height <= 0 || h.size != 40 || dib.size() != expected) std::abort();
}

// Pictures of many megapixels are legal but make every run allocate and clear hundreds of
// megabytes; the size checks for them are covered by the unit tests.
bool DeclaresHugePicture(const std::uint8_t* data, std::size_t size) {
  if (size < 24) return false;
  auto be32 = [&](std::size_t at) {
    return std::uint64_t{data[at]} << 24 | std::uint64_t{data[at + 1]} << 16 | std::uint64_t{data[at + 2]} << 8 |
           data[at + 3];
  };
  return be32(16) * be32(20) > (std::uint64_t{1} << 22);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = ScratchPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  zelvo::IsPngFile(path.c_str());
  if (DeclaresHugePicture(data, size)) return 0;
  CheckLayout(zelvo::ReadPngHeader(path.c_str()));
  CheckLayout(zelvo::ReadPng(path.c_str()));
  return 0;
}
