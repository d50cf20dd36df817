#include "app/library_versions_posix.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>  // with jconfig.h, which names libjpeg-turbo's version

#include <algorithm>

#include "image/png_inflate.h"

#include "image/av_calls_posix.h"

namespace zelvo {

namespace {

// libjpeg-turbo tells its version only to the programs built with it (as 2001005 for
// 2.1.5); its ABI keeps within one soname, so the runtime's is the same release line.
std::string JpegTurboVersion() {
  const long number = LIBJPEG_TURBO_VERSION_NUMBER;
  return std::to_string(number / 1000000) + "." + std::to_string(number / 1000 % 1000) + "." +
         std::to_string(number % 1000);
}

std::string AvVersion(unsigned version) {
  return std::to_string(AV_VERSION_MAJOR(version)) + "." + std::to_string(AV_VERSION_MINOR(version)) + "." +
         std::to_string(AV_VERSION_MICRO(version));
}

}  // namespace

std::vector<std::pair<std::string, std::string>> LibraryVersions() {
  std::vector<std::pair<std::string, std::string>> libraries;
  if (LoadLibav()) {
    libraries = {
        {"libavcodec", AvVersion(avcodec_version())},       {"libavformat", AvVersion(avformat_version())},
        {"libavutil", AvVersion(avutil_version())},         {"libswscale", AvVersion(swscale_version())},
        {"libswresample", AvVersion(swresample_version())},
    };
  }
  libraries.emplace_back("libjpeg-turbo", JpegTurboVersion());
  libraries.emplace_back("libpng", png_get_libpng_ver(nullptr));
  libraries.emplace_back("zlib", zlibVersion());
  // The PNG direct path's inflater, when the build has one beside zlib.
  const std::string inflater = png::InflaterLibrary();
  if (std::none_of(libraries.begin(), libraries.end(), [&](const auto& l) { return l.first == inflater; }))
    libraries.emplace_back(inflater, png::InflaterVersion());
  return libraries;
}

}  // namespace zelvo
