#pragma once
// For the Windows tests that write AVI files: where they go, and Video for Windows' own
// reading of them, a reader independent of the writer's code (the end-to-end scripts
// read the same files with ffprobe and ffmpeg).
#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zelvo {
namespace test {

// A folder for the written files: ZELVO_WIN_TEST_OUT when the calling script wants to look
// at them afterwards, else a scratch folder of the test.
class OutputFolder {
 public:
  OutputFolder() {
    const char* given = std::getenv("ZELVO_WIN_TEST_OUT");
    path_ = given != nullptr && *given != '\0' ? std::string(given) : temp_.path();
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return JoinPath(path_, name); }

 private:
  TempDir temp_;
  std::string path_;
};

struct ReadBack {
  bool ok = false;
  AVISTREAMINFOA info = {};
  BITMAPINFOHEADER format = {};
  std::vector<std::vector<std::uint8_t>> frames;
};

// The stream header, the frame format and every frame, read through the AVI file
// handler whatever the file's name.
inline ReadBack ReadAvi(const std::string& path) {
  ReadBack result;
  CLSID aviHandler = {0x00020000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  AVIFileInit();
  PAVIFILE file = nullptr;
  if (AVIFileOpenA(&file, path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, &aviHandler) == 0) {
    PAVISTREAM stream = nullptr;
    if (AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == 0) {
      LONG size = sizeof(result.format);
      if (AVIStreamInfoA(stream, &result.info, sizeof(result.info)) == 0 &&
          AVIStreamReadFormat(stream, 0, &result.format, &size) == 0) {
        result.ok = true;
        for (LONG i = 0; i < AVIStreamLength(stream); ++i) {
          LONG bytes = 0;
          AVIStreamRead(stream, i, 1, nullptr, 0, &bytes, nullptr);
          std::vector<std::uint8_t> frame(static_cast<std::size_t>(bytes));
          LONG samples = 0;
          if (AVIStreamRead(stream, i, 1, frame.data(), bytes, &bytes, &samples) != 0) result.ok = false;
          result.frames.push_back(frame);
        }
      }
      AVIStreamRelease(stream);
    }
    AVIFileRelease(file);
  }
  AVIFileExit();
  return result;
}

}  // namespace test
}  // namespace zelvo
