#include "image/frame_reader.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "image/bmp_reader.h"
#include "image/png_reader.h"
#include "platform/file.h"

namespace zelvo {

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// The PNG reader's probe looks at this much of the signature.
constexpr std::size_t kPngProbe = 4;
// The signature and the IHDR chunk with its CRC: all a PNG says of its size.
constexpr std::size_t kPngHead = 33;

std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// What a PNG's IHDR declares: its size and the bits a pixel of its block takes, at most and
// at least (alpha composited over a background colour takes fewer).
struct PngDeclared {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int mostBits = 0;
  int fewestBits = 0;
};

bool ParsePngHead(const std::uint8_t* head, std::size_t got, PngDeclared* out) {
  if (got < kPngHead || std::memcmp(head, kPngSignature, sizeof kPngSignature) != 0) return false;
  const std::uint8_t* chunk = head + sizeof kPngSignature;
  if (LoadBigEndian(chunk) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0) return false;
  if (crc32(0, chunk + 4, 17) != LoadBigEndian(chunk + 21)) return false;
  const std::uint8_t* ihdr = chunk + 8;
  out->width = LoadBigEndian(ihdr);
  out->height = LoadBigEndian(ihdr + 4);
  const int depth = ihdr[8];
  if (out->width == 0 || out->height == 0 || out->width > 0x7fffffffu || out->height > 0x7fffffffu) return false;
  if (ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] > 1) return false;
  const bool wide = depth == 8 || depth == 16;
  const bool indexed = depth == 1 || depth == 2 || depth == 4 || depth == 8;
  switch (ihdr[9]) {
    case 0:  // grey: 16 bits are stripped to 8, 2 bits stored as 4
      if (!indexed && depth != 16) return false;
      out->mostBits = out->fewestBits = depth == 16 ? 8 : depth == 2 ? 4 : depth;
      return true;
    case 3:  // palette
      if (!indexed) return false;
      out->mostBits = out->fewestBits = depth == 2 ? 4 : depth;
      return true;
    case 2:
      out->mostBits = out->fewestBits = 24;
      return wide;
    case 4:  // grey and alpha
      out->mostBits = 32;
      out->fewestBits = 8;
      return wide;
    case 6:
      out->mostBits = 32;
      out->fewestBits = 24;
      return wide;
    default:
      return false;
  }
}

// The PNG reader's block for a picture of width x height at `bits`: the rows, a slack row
// and the colour table; 0 when no block could hold it.
std::uint64_t PngBlockBytes(const PngDeclared& png, int bits) {
  DibGeometry geometry;
  if (!CheckedDibGeometry(png.width, std::int64_t{png.height} + 1, bits, &geometry)) return 0;
  const std::uint64_t bytes = geometry.bytes + static_cast<std::uint64_t>(DibPixelOffset(bits));
  return bytes <= kMaxDibBlock ? bytes : 0;
}

FrameRead ReadPngFrame(ReadOnlyFile& file, const char* path, bool headerOnly, FrameBudget* budget) {
  std::uint8_t head[kPngHead] = {};
  errno = 0;
  const std::int64_t got = file.Seek(0) ? file.Read(head, sizeof head) : -1;
  if (got < 0) return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO);
  PngDeclared png;
  if (!ParsePngHead(head, static_cast<std::size_t>(got), &png)) return FrameRead::Failed(FrameFailure::kDamaged);
  if (PngBlockBytes(png, png.fewestBits) == 0) return FrameRead::Failed(FrameFailure::kTooLarge);
  FrameRead read;
  read.bytes = PngBlockBytes(png, png.mostBits);
  if (read.bytes == 0) read.bytes = kMaxDibBlock;  // the reader never makes a larger block
  if (budget != nullptr && !budget->Reserve(read.bytes)) return FrameRead::Failed(FrameFailure::kNoMemory);
  file.Close();  // the PNG reader opens it itself
  // A header read goes through libpng's checks of every chunk before the image data too.
  read.image = headerOnly ? ReadPngHeader(path) : ReadPng(path);
  if (read.image) return read;
  // libpng tells no reason. A picture whose largest form passes the limit was refused for
  // its size; otherwise, when a block of its size cannot be had now, memory ran out (a
  // block the system has not filled yet costs nothing to ask for), else the data is damaged.
  if (PngBlockBytes(png, png.mostBits) == 0) return FrameRead::Failed(FrameFailure::kTooLarge);
  const PackedDib probe = PackedDib::Allocate(read.bytes);
  return FrameRead::Failed(probe ? FrameFailure::kDamaged : FrameFailure::kNoMemory);
}

FrameRead Read(const char* path, bool headerOnly, FrameBudget* budget) {
  ReadOnlyFile file;
  // A name without an extension is looked for as a BMP first (as BmpFileName spells it).
  const std::string bmpName = BmpFileName(path);
  if (!bmpName.empty() && bmpName != path && file.Open(bmpName.c_str()) && LooksLikeBmp(file)) {
    return ReadBmpFile(file, headerOnly, budget);
  }
  const FileResult opened = file.Open(path);
  if (!opened) {
    return opened.kind == FileFailure::kNotAFile ? FrameRead::Failed(FrameFailure::kNotAFile)
                                                 : FrameRead::Failed(FrameFailure::kUnreadable, opened.error);
  }
  if (bmpName == path && LooksLikeBmp(file)) return ReadBmpFile(file, headerOnly, budget);
  std::uint8_t start[kPngProbe] = {};
  errno = 0;
  const std::int64_t got = file.Seek(0) ? file.Read(start, sizeof start) : -1;
  if (got < 0) return FrameRead::Failed(FrameFailure::kUnreadable, errno != 0 ? errno : EIO);
  if (got == static_cast<std::int64_t>(kPngProbe) && std::memcmp(start, kPngSignature, kPngProbe) == 0) {
    return ReadPngFrame(file, path, headerOnly, budget);
  }
  // "BM" and too short for a header is a bitmap cut off, not some other kind of file.
  const bool bitmapStart = got >= 2 && start[0] == 'B' && start[1] == 'M';
  return FrameRead::Failed(bitmapStart ? FrameFailure::kDamaged : FrameFailure::kNotImage);
}

}  // namespace

// The content decides the reader, never the name: a sequence may mix both formats and a
// file named .rle may hold plain rows.
FrameFormat ProbeFrame(const char* path) {
  if (IsBmpFile(path)) return FrameFormat::kBmp;
  if (IsPngFile(path)) return FrameFormat::kPng;
  return FrameFormat::kNone;
}

FrameRead ReadFrameHeader(const char* path) { return Read(path, true, nullptr); }

FrameRead ReadFrame(const char* path, FrameBudget* budget) { return Read(path, false, budget); }

}  // namespace zelvo
