#include "support/png_writer.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace zelvo {
namespace test {
namespace {

struct ByteSink {
  std::vector<std::uint8_t>* bytes;
};

void SinkWrite(png_structp png, png_bytep data, std::size_t length) {
  ByteSink* sink = static_cast<ByteSink*>(png_get_io_ptr(png));
  sink->bytes->insert(sink->bytes->end(), data, data + length);
}

void SinkFlush(png_structp) {}

// Packs the samples of each row at the file's depth, big-endian for 16 bits.
std::vector<std::uint8_t> PackRows(const PngPicture& p, std::size_t* rowBytes) {
  const int channels = PngChannels(p.colorType);
  const std::size_t bitsPerRow = static_cast<std::size_t>(p.width) * channels * p.bitDepth;
  *rowBytes = (bitsPerRow + 7) / 8;
  std::vector<std::uint8_t> rows(*rowBytes * p.height, 0);
  for (int y = 0; y < p.height; ++y) {
    std::uint8_t* row = rows.data() + y * *rowBytes;
    for (int i = 0; i < p.width * channels; ++i) {
      std::uint16_t v = p.samples[static_cast<std::size_t>(y) * p.width * channels + i];
      if (p.bitDepth == 16) {
        row[2 * i] = static_cast<std::uint8_t>(v >> 8);
        row[2 * i + 1] = static_cast<std::uint8_t>(v);
      } else if (p.bitDepth == 8) {
        row[i] = static_cast<std::uint8_t>(v);
      } else {
        const int perByte = 8 / p.bitDepth;
        const int shift = 8 - p.bitDepth * (i % perByte + 1);
        row[i / perByte] = static_cast<std::uint8_t>(row[i / perByte] | (v << shift));
      }
    }
  }
  return rows;
}

// The libpng part: only plain data here, since libpng's errors longjmp back.
bool Encode(const PngPicture* p, std::uint8_t* rows, std::size_t rowBytes, ByteSink* sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, sink, SinkWrite, SinkFlush);
  png_set_IHDR(png, info, p->width, p->height, p->bitDepth, p->colorType,
               p->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color colors[256];
  int colorCount = static_cast<int>(p->palette.size() / 3);
  if (colorCount > 256) colorCount = 256;
  if (p->colorType == PNG_COLOR_TYPE_PALETTE) {
    for (int j = 0; j < colorCount; ++j) {
      colors[j].red = p->palette[3 * j];
      colors[j].green = p->palette[3 * j + 1];
      colors[j].blue = p->palette[3 * j + 2];
    }
    png_set_PLTE(png, info, colors, colorCount);
  }
  if (p->hasBackground) {
    png_color_16 background{};
    background.index = static_cast<png_byte>(p->background[0]);
    background.gray = p->background[0];
    background.red = p->background[0];
    background.green = p->background[1];
    background.blue = p->background[2];
    png_set_bKGD(png, info, &background);
  }
  if (p->filters != 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, p->filters);
  if (p->idatSize != 0) png_set_compression_buffer_size(png, p->idatSize);
  png_write_info(png, info);
  int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < p->height; ++y) png_write_row(png, rows + y * rowBytes);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

int PngChannels(int colorType) {
  switch (colorType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
  }
}

std::vector<std::uint8_t> EncodePng(const PngPicture& picture) {
  std::vector<std::uint8_t> bytes;
  std::size_t expected = static_cast<std::size_t>(picture.width) * picture.height * PngChannels(picture.colorType);
  if (picture.width <= 0 || picture.height <= 0 || picture.samples.size() != expected) return bytes;
  std::size_t rowBytes = 0;
  std::vector<std::uint8_t> rows = PackRows(picture, &rowBytes);
  ByteSink sink{&bytes};
  if (!Encode(&picture, rows.data(), rowBytes, &sink)) bytes.clear();
  return bytes;
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool WritePngFile(const std::string& path, const PngPicture& picture) {
  std::vector<std::uint8_t> bytes = EncodePng(picture);
  return !bytes.empty() && WriteBytes(path, bytes);
}

}  // namespace test
}  // namespace zelvo
