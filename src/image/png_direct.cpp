#include "image/png_direct.h"

#include <cstdlib>
#include <cstring>

#include "image/png_inflate.h"

namespace zelvo::png {
namespace {

// One byte of a filtered row: `left` and `upperLeft` carry the channel's neighbours from
// pixel to pixel, `up` is the same byte of the row above.
template <int kFilter>
inline std::uint8_t Unfilter(unsigned raw, unsigned up, unsigned& left, unsigned& upperLeft) {
  unsigned predicted = 0;
  if (kFilter == 1) predicted = left;
  if (kFilter == 2) predicted = up;
  if (kFilter == 3) predicted = (left + up) >> 1;
  if (kFilter == 4) {
    const int a = static_cast<int>(left), b = static_cast<int>(up), c = static_cast<int>(upperLeft);
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    predicted = static_cast<unsigned>((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
    upperLeft = up;
  }
  left = (raw + predicted) & 0xff;
  return static_cast<std::uint8_t>(left);
}

// Undoes the row's filter and stores the pixels as blue, green, red (, alpha). `prior` is
// the row above, already stored the same way (zeros above the top row). Each channel's
// neighbours stay in registers, written out channel by channel so that no optimisation
// level leaves them in memory: the Sub filter of noisy frames is then no chain of byte
// loads and stores.
template <int kBpp, int kFilter>
void UnfilterRow(const std::uint8_t* __restrict src, const std::uint8_t* __restrict prior,
                 std::uint8_t* __restrict dst, std::uint32_t width) {
  unsigned red = 0, green = 0, blue = 0, alpha = 0;
  unsigned redAbove = 0, greenAbove = 0, blueAbove = 0, alphaAbove = 0;
  for (std::uint32_t x = 0; x < width; ++x, src += kBpp, prior += kBpp, dst += kBpp) {
    dst[2] = Unfilter<kFilter>(src[0], prior[2], red, redAbove);
    dst[1] = Unfilter<kFilter>(src[1], prior[1], green, greenAbove);
    dst[0] = Unfilter<kFilter>(src[2], prior[0], blue, blueAbove);
    if (kBpp == 4) dst[3] = Unfilter<kFilter>(src[3], prior[3], alpha, alphaAbove);
  }
}

using RowUnfilter = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint32_t);

// Indexed by the row's filter type byte.
template <int kBpp>
constexpr RowUnfilter kUnfilters[5] = {UnfilterRow<kBpp, 0>, UnfilterRow<kBpp, 1>, UnfilterRow<kBpp, 2>,
                                       UnfilterRow<kBpp, 3>, UnfilterRow<kBpp, 4>};

}  // namespace

bool UnfilterRows(const std::uint8_t* rows, std::size_t count, std::uint32_t y, const PngLayout& layout,
                  PackedDib* dib) {
  const std::size_t rowSize = FilteredRowSize(layout);
  const std::size_t rowBytes = rowSize - 1;
  const std::size_t stride = static_cast<std::size_t>(layout.stride);
  const RowUnfilter* unfilters = layout.storedBits == 24 ? kUnfilters<3> : kUnfilters<4>;
  std::uint8_t* pixels = dib->pixels();
  for (std::size_t i = 0; i < count; ++i, ++y) {
    const std::uint8_t* row = rows + i * rowSize;
    if (row[0] > 4) return false;  // libpng: "bad adaptive filter value"
    std::uint8_t* dst = pixels + std::size_t{layout.height - 1 - y} * stride;
    unfilters[row[0]](row + 1, dst + stride, dst, layout.width);
    std::memset(dst + rowBytes, 0, stride - rowBytes);
  }
  return true;
}

bool DecodePlainTruecolour(PngSource* source, PackedDib* dib) {
  std::uint8_t signature[8];
  if (!ReadSource(source, signature, sizeof signature) || std::memcmp(signature, kPngSignature, 8) != 0) return false;
  ChunkHeader header;
  std::uint8_t ihdr[13];
  if (!ReadChunkHeader(source, &header) || !header.Is("IHDR") || header.length != sizeof ihdr ||
      !ReadSource(source, ihdr, sizeof ihdr) ||
      !CrcMatches(source, static_cast<std::uint32_t>(crc32(header.TypeCrc(), ihdr, sizeof ihdr)))) {
    return false;
  }
  PngLayout layout{};
  layout.width = LoadBigEndian32(ihdr);
  layout.height = LoadBigEndian32(ihdr + 4);
  layout.bitDepth = ihdr[8];
  layout.colorType = ihdr[9];
  // 8-bit RGB or RGBA, standard compression and filtering, not interlaced.
  if (layout.bitDepth != 8 || (layout.colorType != PNG_COLOR_TYPE_RGB && layout.colorType != PNG_COLOR_TYPE_RGB_ALPHA) ||
      ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] != 0 || layout.width > PNG_UINT_31_MAX ||
      layout.height > PNG_UINT_31_MAX || !PlanLayout(&layout)) {
    return false;
  }
  // Ancillary chunks up to the image data change nothing here, except a background colour.
  for (;;) {
    if (!ReadChunkHeader(source, &header)) return false;
    if (header.Is("IDAT")) break;
    if (header.critical() || header.Is("bKGD") || header.length > kMaxChunkBytes || !SkipChunk(source, header)) {
      return false;
    }
  }
  *dib = PackedDib::AllocateForOverwrite(layout.blockSize);
  if (!*dib) return false;
  WriteHeader(dib, layout);
  // The slack row above the picture is the top row's all-zero prior.
  std::memset(dib->pixels() + std::size_t{layout.height} * layout.stride, 0, static_cast<std::size_t>(layout.stride));
  bool haveNext = false;
  if (!InflateRows(source, header.length, layout, dib, &header, &haveNext)) return false;
  // After the image data: ancillary chunks, then an empty IEND.
  for (;; haveNext = false) {
    if (!haveNext && !ReadChunkHeader(source, &header)) return false;
    if (header.Is("IEND")) return header.length == 0 && CrcMatches(source, header.TypeCrc());
    if (header.critical() || header.length > kMaxChunkBytes || !SkipChunk(source, header)) return false;
  }
}

}  // namespace zelvo::png
