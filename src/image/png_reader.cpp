#include "image/png_reader.h"

#include <png.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "image/png_direct.h"
#include "image/png_libpng.h"
#include "image/png_stream.h"

namespace zelvo {
namespace {

using png::PngSource;

enum class PngPath { kHeaderOnly, kWhole, kDirectOnly };

// Decodes the open file from its start.
PackedDib DecodePng(ReadOnlyFile& file, PngPath how) {
  if (!file.Seek(0)) return PackedDib();
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[png::kReadBufferSize]);
  if (!buffer) return PackedDib();
  PngSource source{&file, buffer.get(), 0, 0};
  PackedDib dib;
  const bool readRows = how != PngPath::kHeaderOnly;
  if (readRows) {
    if (png::DecodePlainTruecolour(&source, &dib)) return dib;
    if (how == PngPath::kDirectOnly) return PackedDib();
    // Not a plain truecolour file, or not one the direct path is sure of: libpng reads it
    // from the start.
    dib = PackedDib();
    if (!file.Seek(0)) return PackedDib();
    source.filled = 0;
    source.position = 0;
  }
  if (!png::DecodeWithLibpng(&source, readRows, &dib)) return PackedDib();
  return dib;
}

PackedDib DecodePngAt(const char* path, PngPath how) {
  ReadOnlyFile file;
  return file.Open(path) ? DecodePng(file, how) : PackedDib();
}

// The signature and the IHDR chunk with its CRC: all a PNG says of its size.
constexpr std::size_t kPngHead = 33;

// What a PNG's IHDR declares: its size and the bits a pixel of its block takes, at most and
// at least (alpha composited over a background colour takes fewer).
struct PngDeclared {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int mostBits = 0;
  int fewestBits = 0;
};

bool ParsePngHead(const std::uint8_t* head, std::size_t got, PngDeclared* out) {
  if (got < kPngHead || std::memcmp(head, png::kPngSignature, sizeof png::kPngSignature) != 0) return false;
  const std::uint8_t* chunk = head + sizeof png::kPngSignature;
  if (png::LoadBigEndian32(chunk) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0) return false;
  if (crc32(0, chunk + 4, 17) != png::LoadBigEndian32(chunk + 21)) return false;
  const std::uint8_t* ihdr = chunk + 8;
  out->width = png::LoadBigEndian32(ihdr);
  out->height = png::LoadBigEndian32(ihdr + 4);
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

}  // namespace

bool IsPngHead(const std::uint8_t* head, std::size_t size) {
  return size >= 4 && png_sig_cmp(head, 0, 4) == 0;
}

bool IsPngFile(const char* path) {
  ReadOnlyFile file;
  if (!file.Open(path)) return false;
  png_byte signature[4];
  const std::int64_t got = file.Read(signature, sizeof signature);
  return got > 0 && IsPngHead(signature, static_cast<std::size_t>(got));
}

FrameRead ReadPngFile(ReadOnlyFile& file, bool headerOnly, FrameBudget* budget) {
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
  // A header read goes through libpng's checks of every chunk before the image data too.
  read.image = DecodePng(file, headerOnly ? PngPath::kHeaderOnly : PngPath::kWhole);
  if (read.image) return read;
  // libpng tells no reason. A picture whose largest form passes the limit was refused for
  // its size; otherwise, when a block of its size cannot be had now, memory ran out (a
  // block the system has not filled yet costs nothing to ask for), else the data is damaged.
  if (PngBlockBytes(png, png.mostBits) == 0) return FrameRead::Failed(FrameFailure::kTooLarge);
  const PackedDib probe = PackedDib::Allocate(read.bytes);
  return FrameRead::Failed(probe ? FrameFailure::kDamaged : FrameFailure::kNoMemory);
}

PackedDib ReadPngHeader(const char* path) { return DecodePngAt(path, PngPath::kHeaderOnly); }

PackedDib ReadPng(const char* path) { return DecodePngAt(path, PngPath::kWhole); }

PackedDib ReadPlainTruecolourPng(const char* path) { return DecodePngAt(path, PngPath::kDirectOnly); }

}  // namespace zelvo
