#include "image/png_reader.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

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

// libpng's read callback. A file that ends before libpng has what it asked for is a libpng
// error, so a short file never decodes into a picture padded with stale bytes.
void PngFileRead(png_structp png, png_bytep destination, std::size_t length) {
  PngSource* source = static_cast<PngSource*>(png_get_io_ptr(png));
  while (length > 0) {
    if (source->position == source->filled) {
      std::int64_t got = source->file->Read(source->buffer, kReadBufferSize);
      if (got <= 0) png_error(png, "Read Error: file ends inside the PNG data");
      source->filled = static_cast<std::size_t>(got);
      source->position = 0;
    }
    std::size_t available = source->filled - source->position;
    std::size_t take = length < available ? length : available;
    std::memcpy(destination, source->buffer + source->position, take);
    source->position += take;
    destination += take;
    length -= take;
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
  if (!CheckedDibStride(layout->width, layout->storedBits, &layout->stride)) return false;
  std::uint64_t rows = std::uint64_t{layout->height} + 1;  // one zero row of slack
  if (layout->stride != 0 && rows > kMaxDibBlock / layout->stride) return false;
  layout->blockSize = rows * layout->stride + static_cast<std::uint64_t>(DibPixelOffset(layout->storedBits));
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

  png_read_info(png, info);
  PngLayout layout{};
  int bitDepth = 0;
  int colorType = 0;
  int interlace = 0;
  png_get_IHDR(png, info, &layout.width, &layout.height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
  layout.bitDepth = bitDepth;
  layout.colorType = colorType;

  png_set_strip_16(png);
  png_color_16p background = nullptr;
  if (png_get_bKGD(png, info, &background) != 0 && background != nullptr) {
    layout.background = true;
    png_set_background(png, background, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
  }
  if (!PlanLayout(&layout)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA && !layout.background) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  // Alpha stays last wherever it survives, so the stored 32-bit pixel is blue, green, red,
  // alpha and draws with its own colour once the fourth byte is dropped; where the
  // background removed it, swapping is a no-op.
  if (layout.decodedBits != 32) png_set_swap_alpha(png);
  png_set_swap(png);
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);

  int channels = png_get_channels(png, info);
  png_size_t rowBytes = png_get_rowbytes(png, info);
  // The rows libpng will write must be what the block was sized for.
  if (channels * (bitDepth == 16 ? 8 : bitDepth) != layout.decodedBits || rowBytes > layout.stride) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }

  if (!AllocateBlock(dib, layout.blockSize)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  WriteHeader(dib, layout);
  std::uint8_t* colors = dib->colors();
  std::uint8_t* pixels = dib->pixels();
  if ((colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) && layout.decodedBits <= 8) {
    WriteGreyRamp(colors, layout.decodedBits);
  }
  png_colorp palette = nullptr;
  int paletteCount = 0;
  if (png_get_PLTE(png, info, &palette, &paletteCount) != 0 && palette != nullptr) {
    int limit = DibColorCount(layout.decodedBits);
    for (int j = 0; j < paletteCount && j < limit; ++j) {
      colors[4 * j + 0] = palette[j].blue;
      colors[4 * j + 1] = palette[j].green;
      colors[4 * j + 2] = palette[j].red;
      colors[4 * j + 3] = 0;
    }
  }

  if (readRows) {
    // The picture's top row goes to the last stored row. Every pass visits every row, and
    // libpng's display rows keep what earlier passes wrote.
    for (int pass = 0; pass < passes; ++pass) {
      for (std::uint32_t i = 0; i < layout.height; ++i) {
        png_bytep row = pixels + (layout.height - 1 - i) * layout.stride;
        png_read_rows(png, nullptr, &row, 1);
      }
    }
    png_read_end(png, info);
    if (layout.decodedBits == 2) WidenTwoBitRows(pixels, layout.width, layout.height, layout.stride);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

PackedDib ReadPngFile(const char* path, bool readRows) {
  ReadOnlyFile file;
  if (!file.Open(path)) return PackedDib();
  std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kReadBufferSize]);
  if (!buffer) return PackedDib();
  PngSource source{&file, buffer.get(), 0, 0};
  PackedDib dib;
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

PackedDib ReadPngHeader(const char* path) { return ReadPngFile(path, false); }

PackedDib ReadPng(const char* path) { return ReadPngFile(path, true); }

}  // namespace zelvo
