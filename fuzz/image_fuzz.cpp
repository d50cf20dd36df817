// libFuzzer target for the formats read through libavcodec: the bytes become a file named
// .tga (so that bytes no signature claims go to the TGA decoder), which is read as a frame
// is read: recognised by the table of formats, then read by its reader. A returned frame
// must be exactly the 24-bit block its header describes; a failure must say why.
#include <cstdint>
#include <cstring>

#include "frame_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = fuzz::ScratchPath("zelvo_image_fuzz", ".tga");
  const zelvo::ImageFormat* format = fuzz::RecogniseInput(path, data, size);
  // BMP and PNG have targets of their own.
  if (format == nullptr || std::strcmp(format->name, "BMP") == 0 || std::strcmp(format->name, "PNG") == 0) return 0;
  fuzz::CheckFrame(zelvo::ReadFrame(path.c_str()));
  return 0;
}
