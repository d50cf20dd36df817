#pragma once
// Reads a frame by its content, not its name, with the reader the table of formats
// (image/image_formats.h) gives for it.
#include "image/image_formats.h"
#include "image/packed_dib.h"

namespace zelvo {

// The format of the file at `path` (a name without an extension taken with the default
// one); null when no format of the table recognises it or it cannot be opened.
const ImageFormat* ProbeFrame(const char* path);
// Header and colour table only (enough for the size); empty when unreadable.
PackedDib ReadFrameHeader(const char* path);
// The complete image, bottom-up; empty when unreadable. *cutShort, when given, tells
// whether the file ended before the pixel data its header promises (it is still read,
// the missing part black).
PackedDib ReadFrame(const char* path, bool* cutShort = nullptr);

}  // namespace zelvo
