#include "image/png_reader.h"

#include <png.h>
#include <zlib.h>
#ifdef ZELVO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/file.h"

namespace zelvo {
namespace {

// libpng asks for its data in many small pieces (8-byte chunk headers, 4-byte CRCs, IDAT
// slices of a few KiB); serving them from one buffer turns hundreds of system calls per
// frame into one per 64 KiB.
constexpr std::size_t kReadBufferSize = 64 * 1024;

// Ancillary chunks are kept in memory up to this size. The reader needs none of them
// beyond the few bytes of bKGD, tRNS and the colour-space chunks, so a file cannot make
// it hold megabytes of text or profiles.
constexpr png_alloc_size_t kMaxChunkBytes = 1 << 20;

// Chunks that never change the picture; libpng is told to skip them instead of
// decompressing text and checking profiles that nobody will look at.
constexpr png_byte kIgnoredChunks[] =
    "tEXt\0zTXt\0iTXt\0sPLT\0eXIf\0tIME\0pCAL\0sCAL\0hIST\0pHYs\0oFFs\0sTER\0";
constexpr int kIgnoredChunkCount = (sizeof kIgnoredChunks - 1) / 5;

// The io pointer handed to libpng: the open file and the read-ahead buffer. Plain data,
// because libpng's error path leaves PngFileRead by longjmp.
struct PngSource {
  ReadOnlyFile* file;
  std::uint8_t* buffer;
  std::size_t filled;
  std::size_t position;
};

// Makes at least one unread byte available; false at the end of the file or on an error.
bool FillSource(PngSource* source) {
  if (source->position < source->filled) return true;
  std::int64_t got = source->file->Read(source->buffer, kReadBufferSize);
  if (got <= 0) return false;
  source->filled = static_cast<std::size_t>(got);
  source->position = 0;
  return true;
}

// Copies the next `length` bytes; false when the file ends first.
bool ReadSource(PngSource* source, std::uint8_t* destination, std::size_t length) {
  while (length > 0) {
    // What the buffer would only pass through (the image data gathered whole) is read
    // straight into place.
    if (source->position == source->filled && length >= kReadBufferSize) {
      const std::int64_t got = source->file->Read(destination, length);
      if (got <= 0) return false;
      destination += got;
      length -= static_cast<std::size_t>(got);
      continue;
    }
    if (!FillSource(source)) return false;
    std::size_t take = std::min(length, source->filled - source->position);
    std::memcpy(destination, source->buffer + source->position, take);
    source->position += take;
    destination += take;
    length -= take;
  }
  return true;
}

// libpng's read callback. A file that ends before libpng has what it asked for is a libpng
// error, so a short file never decodes into a picture padded with stale bytes.
void PngFileRead(png_structp png, png_bytep destination, std::size_t length) {
  if (!ReadSource(static_cast<PngSource*>(png_get_io_ptr(png)), destination, length)) {
    png_error(png, "Read Error: file ends inside the PNG data");
  }
}

// What the stored image looks like, decided from the IHDR and the presence of bKGD before
// libpng is asked for any transformation.
struct PngLayout {
  std::uint32_t width;
  std::uint32_t height;
  int bitDepth;
  int colorType;
  bool background;
  int decodedBits;  // bits per pixel of the rows libpng delivers
  int storedBits;   // bits per pixel of the PackedDib
  std::uint64_t stride;
  std::uint64_t blockSize;
};

int DecodedBits(int colorType, int bitDepth, bool background) {
  int depth = bitDepth == 16 ? 8 : bitDepth;
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      return depth;
    case PNG_COLOR_TYPE_RGB:
      return 24;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      // Composited over the background it is one grey byte; without one it is widened to
      // blue, green, red, alpha so that it draws as a 32-bit pixel with alpha dropped.
      return background ? 8 : 32;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return background ? 24 : 32;
    default:
      return 0;
  }
}

// Fills in the layout and checks in 64-bit arithmetic that the block fits kMaxDibBlock.
bool PlanLayout(PngLayout* layout) {
  layout->decodedBits = DecodedBits(layout->colorType, layout->bitDepth, layout->background);
  // Windows draws no 2-bit bitmaps (StretchDIBits draws nothing for them), so 2-bit rows are
  // stored as 4-bit ones with the same indices.
  layout->storedBits = layout->decodedBits == 2 ? 4 : layout->decodedBits;
  if (layout->decodedBits == 0 || layout->width == 0 || layout->height == 0) return false;
  DibGeometry geometry;  // the picture and one zero row of slack
  if (!CheckedDibGeometry(layout->width, std::int64_t{layout->height} + 1, layout->storedBits, &geometry)) return false;
  layout->stride = geometry.stride;
  layout->blockSize = geometry.bytes + static_cast<std::uint64_t>(DibPixelOffset(layout->storedBits));
  return layout->blockSize <= kMaxDibBlock;
}

// Kept out of line so that DecodePng itself holds no object with a destructor, not even a
// temporary, when libpng longjmps back to it.
bool AllocateBlock(PackedDib* dib, std::uint64_t bytes) {
  *dib = PackedDib::Allocate(bytes);
  return static_cast<bool>(*dib);
}

void WriteHeader(PackedDib* dib, const PngLayout& layout) {
  DibHeader header;
  InitDibHeader(&header);
  header.width = static_cast<std::int32_t>(layout.width);
  header.height = static_cast<std::int32_t>(layout.height);
  header.bitCount = static_cast<std::uint16_t>(layout.storedBits);
  dib->set_header(header);
}

void WriteGreyRamp(std::uint8_t* colors, int bits) {
  int count = 1 << bits;
  for (int k = 0; k < count; ++k) {
    std::uint8_t level = static_cast<std::uint8_t>(k * 255 / (count - 1));
    colors[4 * k + 0] = level;
    colors[4 * k + 1] = level;
    colors[4 * k + 2] = level;
    colors[4 * k + 3] = 0;
  }
}

// Turns rows of 2-bit indices, each at the start of its 4-bit row, into 4-bit indices in
// place. Working from the end of the row down, each output byte is computed from its source
// byte before it is written, and no output byte lands on a source byte still to be read.
void WidenTwoBitRows(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, std::uint64_t stride) {
  std::uint64_t outBytes = (std::uint64_t{width} + 1) / 2;
  for (std::uint32_t row = 0; row < height; ++row) {
    std::uint8_t* line = pixels + row * stride;
    for (std::uint64_t j = outBytes; j-- > 0;) {
      std::uint8_t source = line[j / 2];
      int shift = (j % 2) ? 2 : 6;  // pixels 2j and 2j+1 sit in bits 7-4 or 3-0 of line[j/2]
      std::uint8_t high = (source >> shift) & 3;
      std::uint8_t low = (source >> (shift - 2)) & 3;
      if (2 * j + 1 >= width) low = 0;  // keep the padding nibble clear
      line[j] = static_cast<std::uint8_t>((high << 4) | low);
    }
  }
}

// The helpers below run between setjmp and png_destroy_read_struct: libpng may leave them
// by longjmp, so they hold no object with a destructor either.

// Reads through the caller's source, with the limits and shortcuts of this reader.
void ConfigureReader(png_structp png, PngSource* source) {
  png_set_read_fn(png, source, PngFileRead);
  // libpng refuses in the IHDR what no block could hold: every row takes at least 4 bytes
  // and one slack row follows the image.
  png_set_user_limits(png, PNG_UINT_31_MAX, static_cast<png_uint_32>(kMaxDibBlock / 4 - 1));
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks, kIgnoredChunkCount);
#ifdef PNG_IGNORE_ADLER32
  // Every IDAT chunk already carries a CRC that libpng checks, so damaged data is still
  // refused; the second checksum over the inflated stream only costs time.
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
}

// Reads the header chunks, plans the block and sets the transformations that deliver rows
// in its layout. False when no block can hold the picture or the rows would not fit it.
bool PlanRows(png_structp png, png_infop info, PngLayout* layout, int* passes) {
  png_read_info(png, info);
  int bitDepth = 0;
  int colorType = 0;
  int interlace = 0;
  png_get_IHDR(png, info, &layout->width, &layout->height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
  layout->bitDepth = bitDepth;
  layout->colorType = colorType;

  png_set_strip_16(png);
  png_color_16p background = nullptr;
  if (png_get_bKGD(png, info, &background) != 0 && background != nullptr) {
    layout->background = true;
    png_set_background(png, background, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
  }
  if (!PlanLayout(layout)) return false;
  if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA && !layout->background) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  // Alpha stays last wherever it survives, so the stored 32-bit pixel is blue, green, red,
  // alpha and draws with its own colour once the fourth byte is dropped; where the
  // background removed it, swapping is a no-op.
  if (layout->decodedBits != 32) png_set_swap_alpha(png);
  png_set_swap(png);
  *passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  const int channels = png_get_channels(png, info);
  const png_size_t rowBytes = png_get_rowbytes(png, info);
  // The rows libpng will write must be what the block was sized for.
  return channels * (bitDepth == 16 ? 8 : bitDepth) == layout->decodedBits && rowBytes <= layout->stride;
}

// The colour table: a grey ramp for grey pictures of 8 bits or fewer, the palette for
// indexed ones.
void FillColorTable(png_structp png, png_infop info, const PngLayout& layout, std::uint8_t* colors) {
  const int colorType = layout.colorType;
  if ((colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) && layout.decodedBits <= 8) {
    WriteGreyRamp(colors, layout.decodedBits);
  }
  png_colorp palette = nullptr;
  int paletteCount = 0;
  if (png_get_PLTE(png, info, &palette, &paletteCount) != 0 && palette != nullptr) {
    const int limit = DibColorCount(layout.decodedBits);
    for (int j = 0; j < paletteCount && j < limit; ++j) {
      colors[4 * j + 0] = palette[j].blue;
      colors[4 * j + 1] = palette[j].green;
      colors[4 * j + 2] = palette[j].red;
      colors[4 * j + 3] = 0;
    }
  }
}

// Every row into the block, the picture's top row into the last stored row. Every pass
// visits every row, and libpng's display rows keep what earlier passes wrote.
void ReadAllRows(png_structp png, png_infop info, const PngLayout& layout, int passes, std::uint8_t* pixels) {
  for (int pass = 0; pass < passes; ++pass) {
    for (std::uint32_t i = 0; i < layout.height; ++i) {
      png_bytep row = pixels + (layout.height - 1 - i) * layout.stride;
      png_read_rows(png, nullptr, &row, 1);
    }
  }
  png_read_end(png, info);
  if (layout.decodedBits == 2) WidenTwoBitRows(pixels, layout.width, layout.height, layout.stride);
}

// Everything between creating and destroying libpng's structures. libpng reports errors by
// longjmp back into this function, so it holds only plain data: the file, the buffer and the
// block are owned by the caller, which releases them whatever the outcome. The block is left
// for the caller to drop when the result is false.
bool DecodePng(PngSource* source, bool readRows, PackedDib* dib) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  ConfigureReader(png, source);
  PngLayout layout{};
  int passes = 1;
  if (!PlanRows(png, info, &layout, &passes) || !AllocateBlock(dib, layout.blockSize)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  WriteHeader(dib, layout);
  FillColorTable(png, info, layout, dib->colors());
  if (readRows) ReadAllRows(png, info, layout, passes, dib->pixels());
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// ---- The direct path for plain truecolour frames ------------------------------------
//
// Rendered frames are nearly always 8-bit RGB or RGBA, not interlaced, without a
// background colour. For them the reader inflates and unfilters the image data itself,
// straight into the block: libpng's call per row, its copy of each row, its separate pass
// that swaps red and blue and its byte-at-a-time Sub filter cost about a tenth of the
// frame's CPU time. Zlib is fed from the read-ahead buffer without a copy and fills many
// rows per call.
//
// libpng keeps the last word: this path returns only what libpng would return for the
// same file, byte for byte. Whatever it does not fully expect (another colour type, a
// critical chunk besides IHDR, IDAT and IEND, a bKGD chunk, a CRC mismatch, damaged or
// surplus image data, a file that ends early) makes it give up, and the whole file goes
// to libpng, which then accepts or refuses it as before.

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
std::uint32_t LoadBigEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

struct ChunkHeader {
  std::uint32_t length;
  std::uint8_t type[4];
  bool Is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
  // Critical chunks have an upper-case first letter.
  bool critical() const { return (type[0] & 0x20) == 0; }
  std::uint32_t TypeCrc() const { return static_cast<std::uint32_t>(crc32(0, type, 4)); }
};

// A chunk header libpng would take: a length below 2^31 and a type of four ASCII letters.
bool ReadChunkHeader(PngSource* source, ChunkHeader* header) {
  std::uint8_t bytes[8];
  if (!ReadSource(source, bytes, sizeof bytes)) return false;
  header->length = LoadBigEndian32(bytes);
  std::memcpy(header->type, bytes + 4, 4);
  if (header->length > PNG_UINT_31_MAX) return false;
  for (std::uint8_t c : header->type) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

bool CrcMatches(PngSource* source, std::uint32_t crc) {
  std::uint8_t stored[4];
  return ReadSource(source, stored, sizeof stored) && LoadBigEndian32(stored) == crc;
}

// Passes over a chunk's data, checking its CRC.
bool SkipChunk(PngSource* source, const ChunkHeader& header) {
  std::uint32_t crc = header.TypeCrc();
  for (std::uint32_t left = header.length; left > 0;) {
    if (!FillSource(source)) return false;
    std::size_t take = std::min<std::size_t>(left, source->filled - source->position);
    crc = static_cast<std::uint32_t>(crc32(crc, source->buffer + source->position, static_cast<uInt>(take)));
    source->position += take;
    left -= static_cast<std::uint32_t>(take);
  }
  return CrcMatches(source, crc);
}

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

// Bytes of one filtered row: the filter type byte and the pixels.
std::size_t FilteredRowSize(const PngLayout& layout) {
  return std::size_t{layout.width} * static_cast<std::size_t>(layout.storedBits / 8) + 1;
}

using RowUnfilter = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint32_t);

// Indexed by the row's filter type byte.
template <int kBpp>
constexpr RowUnfilter kUnfilters[5] = {UnfilterRow<kBpp, 0>, UnfilterRow<kBpp, 1>, UnfilterRow<kBpp, 2>,
                                       UnfilterRow<kBpp, 3>, UnfilterRow<kBpp, 4>};

// Unfilters `count` filtered rows (each a filter type byte and the row) into the block,
// starting at picture row `y` from the top. False on a filter type libpng would refuse.
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

// The longest IDAT chunk taken: libpng refuses, or in newer versions only warns about,
// chunks longer than the image data could need.
std::uint64_t IdatChunkLimit(const PngLayout& layout) {
  return std::max<std::uint64_t>(kMaxChunkBytes, std::uint64_t{layout.height} * FilteredRowSize(layout));
}

#ifdef ZELVO_HAVE_LIBDEFLATE

// libdeflate inflates a whole stream about two and a half times as fast as zlib, which is
// most of what a noisy frame costs; it wants the whole stream and the whole output at once,
// so each reader thread keeps two buffers (the compressed stream and the filtered rows)
// for all the frames it decodes.
struct WholeStreamBuffers {
  std::vector<std::uint8_t> compressed;
  std::vector<std::uint8_t> rows;
  libdeflate_decompressor* decompressor = nullptr;
  WholeStreamBuffers() = default;
  WholeStreamBuffers(const WholeStreamBuffers&) = delete;
  WholeStreamBuffers& operator=(const WholeStreamBuffers&) = delete;
  ~WholeStreamBuffers() { libdeflate_free_decompressor(decompressor); }
};

// The data of consecutive IDAT chunks, each chunk's CRC checked, into the first *gathered
// bytes of `out`; *after is the header of the chunk that follows them. False on anything
// libpng should judge instead. `out` only ever grows: what it held for an earlier frame is
// overwritten, not cleared first.
bool GatherIdat(PngSource* source, std::uint32_t firstLength, std::uint64_t chunkLimit, std::uint64_t totalLimit,
                std::vector<std::uint8_t>* out, std::size_t* gathered, ChunkHeader* after) {
  std::size_t at = 0;
  std::uint32_t length = firstLength;
  for (;;) {
    if (length > chunkLimit || std::uint64_t{at} + length > totalLimit) return false;
    try {
      if (out->size() < at + length) out->resize(at + length);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (!ReadSource(source, out->data() + at, length)) return false;
    const std::uint32_t crc = libdeflate_crc32(libdeflate_crc32(0, "IDAT", 4), out->data() + at, length);
    at += length;
    if (!CrcMatches(source, crc) || !ReadChunkHeader(source, after)) return false;
    if (!after->Is("IDAT")) {
      *gathered = at;
      return true;
    }
    length = after->length;
  }
}

// The rows of a plain truecolour file, from the first IDAT chunk on, into the block; the
// header of the chunk after the image data goes to *after.
bool InflateRows(PngSource* source, std::uint32_t idatLength, const PngLayout& layout, PackedDib* dib,
                 ChunkHeader* after, bool* haveAfter) {
  static thread_local WholeStreamBuffers buffers;
  const std::size_t size = FilteredRowSize(layout) * layout.height;
  // Deflate never grows data by more than a few bytes in 64 KiB: anything longer is left to
  // libpng, which reads it piece by piece.
  std::size_t compressed = 0;
  if (!GatherIdat(source, idatLength, IdatChunkLimit(layout), size + size / 8 + 4096, &buffers.compressed, &compressed,
                  after)) {
    return false;
  }
  *haveAfter = true;
  if (buffers.decompressor == nullptr) buffers.decompressor = libdeflate_alloc_decompressor();
  if (buffers.decompressor == nullptr) return false;
  try {
    if (buffers.rows.size() < size) buffers.rows.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The stream must fill the picture exactly and end with the data: what it says besides
  // (surplus rows or bytes, a bad checksum) is for libpng to judge.
  std::size_t used = 0, made = 0;
  return libdeflate_zlib_decompress_ex(buffers.decompressor, buffers.compressed.data(), compressed,
                                       buffers.rows.data(), size, &used, &made) == LIBDEFLATE_SUCCESS &&
         used == compressed && made == size && UnfilterRows(buffers.rows.data(), layout.height, 0, layout, dib);
}

#else

// Output written per inflate call, in whole rows: large enough that zlib spends its time
// in its fast loop rather than in the careful one it needs near the end of each output
// buffer, small enough to stay in the cache while the rows are unfiltered.
constexpr std::size_t kStripBytes = 128 * 1024;

// The zlib stream spread over consecutive IDAT chunks, each chunk's CRC checked.
class IdatStream {
 public:
  // `limit`: the longest IDAT chunk taken; libpng refuses, or in newer versions only warns
  // about, chunks longer than the image data could need.
  IdatStream(PngSource* source, std::uint32_t firstLength, std::uint64_t limit)
      : source_(source), limit_(limit), left_(firstLength) {
    crc_ = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4));
    // The window size comes from the stream's own header, as libpng takes it.
    ready_ = firstLength <= limit && inflateInit2(&zstream_, 0) == Z_OK;
#if defined(PNG_IGNORE_ADLER32) && ZLIB_VERNUM >= 0x1290
    // Skipped exactly when libpng skips it (see DecodePng).
    if (ready_) inflateValidate(&zstream_, 0);
#endif
  }
  ~IdatStream() {
    if (ready_) inflateEnd(&zstream_);
  }
  IdatStream(const IdatStream&) = delete;
  IdatStream& operator=(const IdatStream&) = delete;

  // Inflates exactly `size` bytes; false when the stream ends early or anything is wrong.
  bool Inflate(std::uint8_t* out, std::size_t size) {
    if (!ready_ || ended_) return false;
    zstream_.next_out = out;
    zstream_.avail_out = static_cast<uInt>(size);
    while (zstream_.avail_out > 0) {
      if (zstream_.avail_in == 0 && !Feed()) return false;
      const int result = inflate(&zstream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        ended_ = true;
        return zstream_.avail_out == 0;
      }
      if (result != Z_OK) return false;
    }
    return true;
  }

  // True when the stream ends after the picture with no data to spare, in the last IDAT
  // chunk, and that chunk's CRC holds.
  bool Finish() {
    while (!ended_) {
      std::uint8_t scratch[64];
      zstream_.next_out = scratch;
      zstream_.avail_out = sizeof scratch;
      if (zstream_.avail_in == 0 && !Feed()) return false;
      const int result = inflate(&zstream_, Z_NO_FLUSH);
      if (zstream_.avail_out != sizeof scratch) return false;  // more rows than the picture
      if (result == Z_STREAM_END) ended_ = true;
      else if (result != Z_OK) return false;
    }
    return zstream_.avail_in == 0 && left_ == 0 && CrcMatches(source_, crc_);
  }

 private:
  // Hands zlib the next piece of IDAT data, moving on to the next chunk (which must be an
  // IDAT) when this one is used up.
  bool Feed() {
    while (left_ == 0) {
      ChunkHeader next;
      if (!CrcMatches(source_, crc_) || !ReadChunkHeader(source_, &next) || !next.Is("IDAT") ||
          next.length > limit_) {
        return false;
      }
      left_ = next.length;
      crc_ = next.TypeCrc();
    }
    if (!FillSource(source_)) return false;
    const std::size_t take = std::min<std::size_t>(left_, source_->filled - source_->position);
    zstream_.next_in = source_->buffer + source_->position;
    zstream_.avail_in = static_cast<uInt>(take);
    crc_ = static_cast<std::uint32_t>(crc32(crc_, zstream_.next_in, zstream_.avail_in));
    source_->position += take;
    left_ -= static_cast<std::uint32_t>(take);
    return true;
  }

  PngSource* source_;
  std::uint64_t limit_;
  z_stream zstream_{};
  std::uint32_t left_;  // bytes of the current chunk not yet handed to zlib
  std::uint32_t crc_;
  bool ready_ = false;
  bool ended_ = false;
};

// The rows of a plain truecolour file, from the first IDAT chunk on, into the block, strip
// by strip as zlib inflates them.
bool InflateRows(PngSource* source, std::uint32_t idatLength, const PngLayout& layout, PackedDib* dib,
                 ChunkHeader* /*after*/, bool* haveAfter) {
  *haveAfter = false;
  const std::size_t rowSize = FilteredRowSize(layout);
  const std::size_t stripRows = std::max<std::size_t>(1, std::min<std::size_t>(layout.height, kStripBytes / rowSize));
  std::unique_ptr<std::uint8_t[]> strip(new (std::nothrow) std::uint8_t[stripRows * rowSize]);
  if (!strip) return false;
  IdatStream stream(source, idatLength, IdatChunkLimit(layout));
  for (std::uint32_t y = 0; y < layout.height;) {
    const std::size_t rows = std::min<std::size_t>(stripRows, layout.height - y);
    if (!stream.Inflate(strip.get(), rows * rowSize) || !UnfilterRows(strip.get(), rows, y, layout, dib)) return false;
    y += static_cast<std::uint32_t>(rows);
  }
  return stream.Finish();
}

#endif

// The whole file through the direct path; false leaves it to libpng.
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

enum class PngPath { kHeaderOnly, kWhole, kDirectOnly };

PackedDib ReadPngFile(const char* path, PngPath how) {
  ReadOnlyFile file;
  if (!file.Open(path)) return PackedDib();
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kReadBufferSize]);
  if (!buffer) return PackedDib();
  PngSource source{&file, buffer.get(), 0, 0};
  PackedDib dib;
  const bool readRows = how != PngPath::kHeaderOnly;
  if (readRows) {
    if (DecodePlainTruecolour(&source, &dib)) return dib;
    if (how == PngPath::kDirectOnly) return PackedDib();
    // Not a plain truecolour file, or not one the direct path is sure of: libpng reads it
    // from the start.
    dib = PackedDib();
    if (!file.Seek(0)) return PackedDib();
    source.filled = 0;
    source.position = 0;
  }
  if (!DecodePng(&source, readRows, &dib)) return PackedDib();
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
