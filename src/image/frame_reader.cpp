#include "image/frame_reader.h"

#include <string>

namespace zelvo {

// The content decides the reader, never the name: a sequence may mix formats and a file
// named .rle may hold plain rows.
const ImageFormat* ProbeFrame(const char* path) {
  const std::string named = WithDefaultExtension(path);
  return named.empty() ? nullptr : RecogniseImageFile(named.c_str());
}

PackedDib ReadFrameHeader(const char* path) {
  const std::string named = WithDefaultExtension(path);
  const ImageFormat* format = named.empty() ? nullptr : RecogniseImageFile(named.c_str());
  return format != nullptr ? format->readHeader(*format, named.c_str()).image : PackedDib();
}

PackedDib ReadFrame(const char* path, bool* cutShort) {
  if (cutShort != nullptr) *cutShort = false;
  const std::string named = WithDefaultExtension(path);
  const ImageFormat* format = named.empty() ? nullptr : RecogniseImageFile(named.c_str());
  if (format == nullptr) return PackedDib();
  ImageRead read = format->read(*format, named.c_str());
  if (cutShort != nullptr) *cutShort = read.cutShort;
  return std::move(read.image);
}

}  // namespace zelvo
