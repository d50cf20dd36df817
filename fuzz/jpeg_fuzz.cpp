// libFuzzer target for the JPEG reader (libjpeg-turbo, and libavcodec for the JPEGs handed
// on to it): the bytes become a file named .jpg, read as a frame is read, header and then
// picture. A returned frame must be exactly the 24-bit block its header describes, of the
// size the header read gave; a failure must say why.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "frame_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = fuzz::ScratchPath("zelvo_jpeg_fuzz", ".jpg");
  const zelvo::ImageFormat* format = fuzz::RecogniseInput(path, data, size);
  if (format == nullptr || std::strcmp(format->name, "JPEG") != 0) return 0;
  const zelvo::FrameRead header = zelvo::ReadFrameHeader(path.c_str());
  fuzz::CheckFrame(header, true);
  const zelvo::FrameRead read = zelvo::ReadFrame(path.c_str());
  fuzz::CheckFrame(read);
  // The header read promises the picture's size.
  if (header.image && read.image &&
      (GetDibWidth(header.image) != GetDibWidth(read.image) || GetDibHeight(header.image) != GetDibHeight(read.image)))
    std::abort();
  return 0;
}
