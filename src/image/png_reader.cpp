#include "image/png_reader.h"

#include <png.h>

#include <cstdint>
#include <memory>
#include <new>

#include "image/png_direct.h"
#include "image/png_libpng.h"
#include "image/png_stream.h"
#include "platform/file.h"

namespace zelvo {
namespace {

using png::PngSource;

enum class PngPath { kHeaderOnly, kWhole, kDirectOnly };

PackedDib ReadPngFile(const char* path, PngPath how) {
  ReadOnlyFile file;
  if (!file.Open(path)) return PackedDib();
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

}  // namespace

bool IsPngFile(const char* path) {
  ReadOnlyFile file;
  if (!file.Open(path)) return false;
  png_byte signature[4];
  std::size_t got = 0;
  while (got < sizeof signature) {
    std::int64_t n = file.Read(signature + got, sizeof signature - got);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return png_sig_cmp(signature, 0, sizeof signature) == 0;
}

PackedDib ReadPngHeader(const char* path) { return ReadPngFile(path, PngPath::kHeaderOnly); }

PackedDib ReadPng(const char* path) { return ReadPngFile(path, PngPath::kWhole); }

PackedDib ReadPlainTruecolourPng(const char* path) { return ReadPngFile(path, PngPath::kDirectOnly); }

}  // namespace zelvo
