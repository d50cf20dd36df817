#include "image/frame_reader.h"

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace zelvo {
namespace {

FrameRead SystemFailure() { return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO); }

// Opens the frame at `named` into `file` and recognises its content through the table;
// leaves the file at its start for the format's reader.
FrameRead Recognise(const std::string& named, ReadOnlyFile* file) {
  if (named.empty()) return FrameRead::Failed(FrameFailure::kUnreadable, ENAMETOOLONG);
  const FileResult opened = file->Open(named.c_str());
  if (!opened) {
    return opened.kind == FileFailure::kNotAFile ? FrameRead::Failed(FrameFailure::kNotAFile)
                                                 : FrameRead::Failed(FrameFailure::kUnreadable, opened.error);
  }
  std::uint8_t head[kSignatureBytes] = {};
  errno = 0;
  const std::int64_t got = file->Read(head, sizeof head);
  if (got < 0) return SystemFailure();
  FrameRead found;
  found.format = RecogniseImage(head, static_cast<std::size_t>(got), named.c_str());
  if (found.format == nullptr) {
    // "BM" and too short for a header is a bitmap cut off, not some other kind of file.
    const bool bitmapStart = got >= 2 && head[0] == 'B' && head[1] == 'M';
    return FrameRead::Failed(bitmapStart ? FrameFailure::kDamaged : FrameFailure::kNotImage);
  }
  errno = 0;
  if (!file->Seek(0)) return SystemFailure();
  return found;
}

FrameRead Read(const char* path, bool headerOnly, FrameBudget* budget) {
  const std::string named = WithDefaultExtension(path);
  ReadOnlyFile file;
  FrameRead found = Recognise(named, &file);
  if (!found) return found;
  FrameRead read = found.format->read(*found.format, FrameSource{file, named.c_str(), headerOnly, budget});
  read.format = found.format;
  return read;
}

}  // namespace

// The content decides the reader, never the name: a sequence may mix formats and a file
// named .rle may hold plain rows.
FrameRead ProbeFrame(const char* path) {
  ReadOnlyFile file;
  return Recognise(WithDefaultExtension(path), &file);
}

FrameRead ReadFrameHeader(const char* path) { return Read(path, true, nullptr); }

FrameRead ReadFrame(const char* path, FrameBudget* budget) { return Read(path, false, budget); }

}  // namespace zelvo
