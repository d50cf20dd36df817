#include "image/png_libpng.h"

#include <csetjmp>
#include <cstdint>

#include "image/png_layout.h"

namespace zelvo::png {
namespace {

// Chunks that never change the picture; libpng is told to skip them instead of
// decompressing text and checking profiles that nobody will look at.
constexpr png_byte kIgnoredChunks[] =
    "tEXt\0zTXt\0iTXt\0sPLT\0eXIf\0tIME\0pCAL\0sCAL\0hIST\0pHYs\0oFFs\0sTER\0";
constexpr int kIgnoredChunkCount = (sizeof kIgnoredChunks - 1) / 5;

// libpng's read callback. A file that ends before libpng has what it asked for is a libpng
// error, so a short file never decodes into a picture padded with stale bytes.
void PngFileRead(png_structp png, png_bytep destination, std::size_t length) {
  if (!ReadSource(static_cast<PngSource*>(png_get_io_ptr(png)), destination, length)) {
    png_error(png, "Read Error: file ends inside the PNG data");
  }
}

// Kept out of line so that DecodeWithLibpng itself holds no object with a destructor, not
// even a temporary, when libpng longjmps back to it.
bool AllocateBlock(PackedDib* dib, std::uint64_t bytes) {
  *dib = PackedDib::Allocate(bytes);
  return static_cast<bool>(*dib);
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

}  // namespace

// Everything between creating and destroying libpng's structures. libpng reports errors by
// longjmp back into this function, so it holds only plain data: the file, the buffer and the
// block are owned by the caller, which releases them whatever the outcome. The block is left
// for the caller to drop when the result is false.
bool DecodeWithLibpng(PngSource* source, bool readRows, PackedDib* dib) {
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

}  // namespace zelvo::png
