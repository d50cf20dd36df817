#pragma once
// The table of image formats a frame may be in. Each entry says how the format is
// recognised (its signature, or for a format without one its extensions), how it is read
// and how dialogs and messages name it. The core holds BMP and PNG, which both programs
// read; the Linux program adds the formats it reads through libavcodec. Adding a format
// is one entry and one reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/frame_read.h"

namespace zelvo {

// How many of a file's first bytes the recognisers see (fewer when the file is shorter).
constexpr std::size_t kSignatureBytes = 64;

struct ImageFormat {
  const char* name;          // in messages and --help: "JPEG"
  const char* extensions;    // lower case, space-separated, the usual one first: "jpg jpeg"
  const char* dialogFilter;  // the Open dialog's entries, "label\npattern" pairs joined by
                             // '\n'; null where no dialog offers the format
  // True when `head`, the file's first `size` bytes, carries this format's signature. Null
  // for a format without one: it is recognised by its extension where no signature matches.
  bool (*recognise)(const std::uint8_t* head, std::size_t size);
  // Reads `frame`, which frame_reader has opened and recognised as this format: its header
  // and colour table (enough for its size) or, unless frame.headerOnly, the whole picture,
  // bottom-up, asking frame.budget before requesting the picture's memory.
  FrameRead (*read)(const ImageFormat& format, const FrameSource& frame);
  int decoder;  // for a reader that serves several formats: which decoder this one takes
};

// Every format frames are recognised in, in the order signatures are tried: BMP, PNG,
// then those added.
const std::vector<ImageFormat>& FrameFormats();
// Adds `formats` after those in the table (one whose name is there already is skipped).
// The program calls it once at its start, before any frame is read: readers on other
// threads look at the table without a lock.
void AddFrameFormats(const std::vector<ImageFormat>& formats);

// The format of a file by its content: the first entry whose signature `head` (the file's
// first `size` bytes, at most kSignatureBytes) carries, else one without a signature that
// lists the extension of `path` (in any case). Null when no entry takes it.
const ImageFormat* RecogniseImage(const std::uint8_t* head, std::size_t size, const char* path);

// The table's names for a message or --help: "BMP, PNG, JPEG".
std::string FrameFormatNames();
// The Open dialog's type list: every entry's dialog filter, joined by '\n'.
std::string FrameDialogFilter();

// A frame named without an extension is looked for with the first format's extension
// (".bmp"). Returns the name to open, or "" when it would not fit a path buffer.
std::string WithDefaultExtension(const char* path);

}  // namespace zelvo
