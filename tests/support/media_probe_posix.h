#pragma once
// What ffprobe and ffmpeg read in a media file, for the native tests of the libavformat
// containers, the sound source and the frame fitter. Header-only: the support sources are
// built for Windows too, and these helpers run programs through popen.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace zelvo {
namespace test {

inline bool HaveFfmpegTools() {
  static const bool have =
      std::system("ffprobe -version >/dev/null 2>&1") == 0 && std::system("ffmpeg -version >/dev/null 2>&1") == 0;
  return have;
}

// The command's standard output.
inline std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

// ffprobe's key=value lines for `entries` of the streams `select` picks (v:0, a:0), and the
// container's format_name.
inline std::map<std::string, std::string> ProbeStream(const std::string& path, const std::string& select,
                                                      const std::string& entries) {
  const std::string text =
      RunCommand("ffprobe -v error -count_frames -select_streams " + select + " -show_entries stream=" + entries +
                 ":format=format_name" + " -of default=noprint_wrappers=1 '" + path + "' 2>&1");
  std::map<std::string, std::string> fields;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return fields;
}

// Every frame of the first video stream as top-down BGR24 rows without padding.
inline std::string DecodeBgr(const std::string& path) {
  return RunCommand("ffmpeg -v error -i '" + path + "' -map 0:v:0 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
}

inline double PsnrOf(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (sum / a.size()));
}

}  // namespace test
}  // namespace zelvo

#define REQUIRE_FFMPEG_TOOLS() \
  if (!::zelvo::test::HaveFfmpegTools()) GTEST_SKIP() << "ffprobe/ffmpeg not installed: files cannot be checked"
