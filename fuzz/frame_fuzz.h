#pragma once
// What the frame readers' fuzz targets share: the file the input bytes become (read as a
// frame is read, by name) and the check every read must pass.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/av_image_formats_posix.h"
#include "image/frame_read.h"
#include "image/frame_reader.h"
#include "image/image_formats.h"
#include "image/packed_dib.h"

namespace fuzz {

// A fresh file in the temporary folder whose name ends in `suffix` (".tga"), removed when
// the fuzzer ends.
inline std::string MakeScratchPath(const char* name, const char* suffix) {
  const char* folder = std::getenv("TMPDIR");
  std::string pattern = std::string(folder != nullptr ? folder : "/tmp") + "/" + name + "_XXXXXX" + suffix;
  const int fd = mkstemps(&pattern[0], static_cast<int>(std::string(suffix).size()));
  if (fd >= 0) close(fd);
  return pattern;
}

// The fuzzer's one scratch file (the first call's name and suffix), removed when it ends.
inline const std::string& ScratchPath(const char* name, const char* suffix) {
  static const std::string path = MakeScratchPath(name, suffix);
  static const bool removed = (std::atexit([] { std::remove(path.c_str()); }), true);
  (void)removed;
  return path;
}

// Writes `data` to `path` and returns the format the table of formats (with the Linux
// program's) recognises in it; null for none, or when the file could not be written.
inline const zelvo::ImageFormat* RecogniseInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
  static const bool added = (zelvo::AddFrameFormats(zelvo::LibavImageFormats()), true);
  (void)added;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return nullptr;
  std::fwrite(data, 1, size, f);
  if (std::fclose(f) != 0) return nullptr;
  return zelvo::ProbeFrame(path.c_str()).format;
}

// A frame must be exactly the 24-bit block its header describes (a header read: the header
// alone); a failure must say why.
inline void CheckFrame(const zelvo::FrameRead& read, bool headerOnly = false) {
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

}  // namespace fuzz
