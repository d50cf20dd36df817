#include "image/image_formats.h"

#include <cstring>

#include "image/bmp_reader.h"
#include "image/png_reader.h"
#include "platform/path_buffer.h"
#include "sequence/sequence.h"

namespace zelvo {
namespace {

// BMP and PNG are read by the core's own readers, over the file frame_reader opened.
FrameRead ReadBmpEntry(const ImageFormat&, const FrameSource& frame) {
  return ReadBmpFile(frame.file, frame.headerOnly, frame.budget);
}
FrameRead ReadPngEntry(const ImageFormat&, const FrameSource& frame) {
  return ReadPngFile(frame.file, frame.headerOnly, frame.budget);
}

std::vector<ImageFormat>& Table() {
  // The dialog filters are zelvo.exe's own type list: RLE files are BMP files.
  static std::vector<ImageFormat> table = {
      {"BMP", "bmp rle dib", "BMP (*.BMP)\n*.bmp\nRLE (*.RLE)\n*.rle", IsBmpHead, ReadBmpEntry, 0},
      {"PNG", "png", "PNG (*.PNG)\n*.png", IsPngHead, ReadPngEntry, 0},
  };
  return table;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the space-separated `list` holds `extension` (without its dot), in any case.
bool ListsExtension(const char* list, const std::string& extension) {
  if (extension.empty()) return false;
  for (const char* at = list; *at != '\0';) {
    const char* end = std::strchr(at, ' ');
    const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - at) : std::strlen(at);
    bool same = length == extension.size();
    for (std::size_t i = 0; same && i < length; ++i) same = LowerAscii(extension[i]) == at[i];
    if (same) return true;
    at += length;
    while (*at == ' ') ++at;
  }
  return false;
}

}  // namespace

const std::vector<ImageFormat>& FrameFormats() { return Table(); }

void AddFrameFormats(const std::vector<ImageFormat>& formats) {
  std::vector<ImageFormat>& table = Table();
  for (const ImageFormat& format : formats) {
    bool known = false;
    for (const ImageFormat& entry : table) known = known || std::strcmp(entry.name, format.name) == 0;
    if (!known) table.push_back(format);
  }
}

const ImageFormat* RecogniseImage(const std::uint8_t* head, std::size_t size, const char* path) {
  for (const ImageFormat& format : Table()) {
    if (format.recognise != nullptr && format.recognise(head, size)) return &format;
  }
  const std::string extension = ParseSequencePath(path).extension;
  for (const ImageFormat& format : Table()) {
    if (format.recognise == nullptr && !extension.empty() && ListsExtension(format.extensions, extension.substr(1))) {
      return &format;
    }
  }
  return nullptr;
}

std::string FrameFormatNames() {
  std::string names;
  for (const ImageFormat& format : Table()) names += (names.empty() ? "" : ", ") + std::string(format.name);
  return names;
}

std::string FrameDialogFilter() {
  std::string filter;
  for (const ImageFormat& format : Table()) {
    if (format.dialogFilter != nullptr) filter += (filter.empty() ? "" : "\n") + std::string(format.dialogFilter);
  }
  return filter;
}

std::string WithDefaultExtension(const char* path) {
  std::string named(path);
  if (HasExtension(path)) return named;
  const char* first = Table().front().extensions;
  named += '.';
  named.append(first, std::strcspn(first, " "));
  return named.size() <= LongestPath() ? named : std::string();
}

}  // namespace zelvo
