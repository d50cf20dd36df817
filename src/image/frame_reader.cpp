#include "image/frame_reader.h"

#include "image/bmp_reader.h"
#include "image/png_reader.h"

namespace zelvo {

// The content decides the reader, never the name: a sequence may mix both formats and a
// file named .rle may hold plain rows.
FrameFormat ProbeFrame(const char* path) {
  if (IsBmpFile(path)) return FrameFormat::kBmp;
  if (IsPngFile(path)) return FrameFormat::kPng;
  return FrameFormat::kNone;
}

PackedDib ReadFrameHeader(const char* path) {
  switch (ProbeFrame(path)) {
    case FrameFormat::kBmp: return ReadBmpHeader(path);
    case FrameFormat::kPng: return ReadPngHeader(path);
    case FrameFormat::kNone: break;
  }
  return PackedDib();
}

PackedDib ReadFrame(const char* path, bool* cutShort) {
  if (cutShort != nullptr) *cutShort = false;
  switch (ProbeFrame(path)) {
    case FrameFormat::kBmp: return ReadBmp(path, cutShort);
    case FrameFormat::kPng: return ReadPng(path);
    case FrameFormat::kNone: break;
  }
  return PackedDib();
}

}  // namespace zelvo
