#pragma once
// Reads a frame by its content, not its name: the BMP probe first, the PNG probe second.
#include "image/packed_dib.h"

namespace zelvo {

enum class FrameFormat { kNone, kBmp, kPng };

// Which reader accepts the file at `path` (BMP probe first).
FrameFormat ProbeFrame(const char* path);
// Header and colour table only (enough for the size); empty when unreadable.
PackedDib ReadFrameHeader(const char* path);
// The complete image, bottom-up; empty when unreadable. *cutShort, when given, tells
// whether a BMP file ended before the pixel data its header promises (it is still read,
// the missing part black).
PackedDib ReadFrame(const char* path, bool* cutShort = nullptr);

}  // namespace zelvo
