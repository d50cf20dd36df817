#include "image/av_image_reader_posix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "image/av_image_formats_posix.h"
#include "image/frame_reader.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kSeeds = ZELVO_SOURCE_DIR "/fuzz/corpus/image/";

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LibavImageReader : public ::testing::Test {
 protected:
  void SetUp() override {
    AddFrameFormats(LibavImageFormats());
    ASSERT_TRUE(dir_.ok());
  }
  // Writes `bytes` as `name` and reads it as a frame is read: recognised, then read.
  ImageRead Read(const std::string& name, const Bytes& bytes, const char* format) {
    const std::string path = dir_.Join(name);
    EXPECT_TRUE(dir_.AddFile(name, std::string(bytes.begin(), bytes.end())));
    const ImageFormat* found = ProbeFrame(path.c_str());
    EXPECT_STREQ(found != nullptr ? found->name : nullptr, format) << name;
    return found != nullptr ? found->read(*found, path.c_str()) : ImageRead();
  }
  test::TempDir dir_;
};

// The blue, green, red of the picture's pixel (x, y), y counted from the top.
std::uint32_t Pixel(const PackedDib& dib, int x, int y) {
  const DibHeader h = dib.header();
  const std::uint8_t* p = dib.pixels() + static_cast<std::size_t>(h.height - 1 - y) * DibStride(h.width, 24) + 3 * x;
  return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

TEST_F(LibavImageReader, EverySeedIsRecognisedAndReadAsA24BitFrame) {
  struct Case {
    const char* file;
    const char* format;
    int width;
    int height;
    bool cutShort;
  } cases[] = {
      {"baseline.jpg", "JPEG", 24, 16, false},  {"progressive.jpg", "JPEG", 24, 16, false},
      {"grey.jpg", "JPEG", 24, 16, false},      {"cmyk.jpg", "JPEG", 24, 16, false},
      {"exif-orientation-6.jpg", "JPEG", 16, 24, false},  {"cut-short.jpg", "JPEG", 24, 16, true},
      {"rgb8-deflate.tiff", "TIFF", 24, 16, false},  {"rgb16-deflate.tiff", "TIFF", 24, 16, false},
      {"grey-lzw.tiff", "TIFF", 24, 16, false},  {"palette-packbits.tiff", "TIFF", 24, 16, false},
      {"rgba16.tiff", "TIFF", 24, 16, false},   {"lossy.webp", "WebP", 24, 16, false},
      {"lossless.webp", "WebP", 24, 16, false}, {"two-images.gif", "GIF", 24, 16, false},
      {"rgb8.dpx", "DPX", 24, 16, false},       {"rgb10.dpx", "DPX", 24, 16, false},
      {"rgb16.dpx", "DPX", 24, 16, false},      {"half-zip.exr", "OpenEXR", 24, 16, false},
      {"half-piz.exr", "OpenEXR", 24, 16, false},  {"float-rle.exr", "OpenEXR", 24, 16, false},
      {"p3.ppm", "PPM", 24, 16, false},         {"p6.ppm", "PPM", 24, 16, false},
      {"p5.pgm", "PGM", 24, 16, false},         {"p4.pbm", "PBM", 24, 16, false},
      {"p7.pam", "PAM", 24, 16, false},         {"q.qoi", "QOI", 24, 16, false},
      {"s.sgi", "SGI", 24, 16, false},          {"rle.sgi", "SGI", 24, 16, false},
      {"j.jp2", "JPEG 2000", 24, 16, false},    {"j.j2k", "JPEG 2000", 24, 16, false},
      {"plain.tga", "TGA", 24, 16, false},      {"rle.tga", "TGA", 24, 16, false},
      {"palette.tga", "TGA", 24, 16, false},
  };
  for (const Case& c : cases) {
    const ImageRead read = Read(c.file, Load(kSeeds + c.file), c.format);
    ASSERT_TRUE(read.image) << c.file;
    const DibHeader h = read.image.header();
    EXPECT_EQ(h.width, c.width) << c.file;
    EXPECT_EQ(h.height, c.height) << c.file;
    EXPECT_EQ(h.bitCount, 24) << c.file;
    EXPECT_EQ(read.image.size(), kDibHeaderSize + static_cast<std::size_t>(DibStride(h.width, 24)) * h.height)
        << c.file;
    EXPECT_EQ(read.cutShort, c.cutShort) << c.file;
    // The header read gives the same size, turned as the picture is, read twice or once.
    for (int twice = 0; twice < 2; ++twice) {
      const PackedDib header = ReadFrameHeader(dir_.Join(c.file).c_str());
      EXPECT_EQ(GetDibWidth(header), c.width) << c.file;
      EXPECT_EQ(GetDibHeight(header), c.height) << c.file;
    }
  }
}

// A text header followed by sample bytes.
Bytes Netpbm(const std::string& header, std::initializer_list<std::uint8_t> samples) {
  Bytes bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), samples);
  return bytes;
}

TEST_F(LibavImageReader, PixelsComeOutBgrBottomUpAlphaDroppedDeepSamplesRounded) {
  ImageRead read = Read("rgb.ppm", Netpbm("P6 2 2 255\n", {255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3}), "PPM");
  ASSERT_TRUE(read.image);
  EXPECT_EQ(Pixel(read.image, 0, 0), 0x0000FFu);  // red, stored blue, green, red
  EXPECT_EQ(Pixel(read.image, 1, 0), 0x00FF00u);
  EXPECT_EQ(Pixel(read.image, 0, 1), 0xFF0000u);
  EXPECT_EQ(Pixel(read.image, 1, 1), 0x030201u);
  EXPECT_EQ(read.image.pixels()[6], 0);  // row padding
  EXPECT_EQ(read.image.pixels()[7], 0);
  // Transparent pixels keep their own colour.
  const char* pam = "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
  read = Read("clear.pam", Netpbm(pam, {16, 32, 48, 0}), "PAM");
  ASSERT_TRUE(read.image);
  EXPECT_EQ(Pixel(read.image, 0, 0), 0x302010u);
  // 16-bit samples round to the nearest 8-bit level: 255/65535 is 1, not 0; 32767/65535
  // is 127.498, not 128; 10-bit grey 512/1023 is 127.6.
  read = Read("deep.ppm", Netpbm("P6 1 1 65535\n", {0, 255, 0x7F, 0xFF, 255, 255}), "PPM");
  ASSERT_TRUE(read.image);
  EXPECT_EQ(Pixel(read.image, 0, 0), 0xFF7F01u);
  read = Read("grey10.pgm", Netpbm("P5 1 1 1023\n", {2, 0}), "PGM");
  ASSERT_TRUE(read.image);
  EXPECT_EQ(Pixel(read.image, 0, 0), 0x808080u);
}

// The file with an EXIF segment carrying `orientation` right after its start marker.
Bytes WithOrientation(const Bytes& jpeg, int orientation) {
  const std::uint8_t tiff[] = {'M', 'M', 0, '*', 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1,
                               0, static_cast<std::uint8_t>(orientation), 0, 0, 0, 0, 0, 0};
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  const std::uint8_t app1[] = {0xFF, 0xE1, 0, 2 + 6 + sizeof tiff, 'E', 'x', 'i', 'f', 0, 0};
  out.insert(out.end(), std::begin(app1), std::end(app1));
  out.insert(out.end(), std::begin(tiff), std::end(tiff));
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

TEST_F(LibavImageReader, ExifOrientationTurnsTheJpegUpright) {
  const Bytes jpeg = Load(kSeeds + "baseline.jpg");
  const ImageRead stored = Read("stored.jpg", jpeg, "JPEG");
  ASSERT_TRUE(stored.image);
  const int w = stored.image.header().width, h = stored.image.header().height;
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string name = "o" + std::to_string(orientation) + ".jpg";
    const ImageRead shown = Read(name, WithOrientation(jpeg, orientation), "JPEG");
    ASSERT_TRUE(shown.image) << orientation;
    const bool across = orientation >= 5;
    ASSERT_EQ(shown.image.header().width, across ? h : w) << orientation;
    ASSERT_EQ(shown.image.header().height, across ? w : h) << orientation;
    for (int v = 0; v < shown.image.header().height; ++v) {
      for (int u = 0; u < shown.image.header().width; ++u) {
        // Where the shown pixel (u, v) is stored, as photo viewers read the tag.
        const int x[] = {u, w - 1 - u, w - 1 - u, u, v, v, w - 1 - v, w - 1 - v};
        const int y[] = {v, v, h - 1 - v, h - 1 - v, u, h - 1 - u, h - 1 - u, u};
        ASSERT_EQ(Pixel(shown.image, u, v), Pixel(stored.image, x[orientation - 1], y[orientation - 1]))
            << "orientation " << orientation << " at " << u << "," << v;
      }
    }
  }
}

TEST_F(LibavImageReader, RefusedFilesSayWhy) {
  Bytes hugeJpeg = Load(kSeeds + "baseline.jpg");
  for (std::size_t i = 0; i + 8 < hugeJpeg.size(); ++i) {
    if (hugeJpeg[i] == 0xFF && hugeJpeg[i + 1] == 0xC0) {  // start of frame: height, width
      const std::uint8_t size[] = {0xFD, 0xE8, 0xFD, 0xE8};  // 65000 x 65000
      std::memcpy(&hugeJpeg[i + 5], size, sizeof size);
      break;
    }
  }
  Bytes hugeExr = Load(kSeeds + "half-zip.exr");
  const std::string windows[] = {"dataWindow", "displayWindow"};
  for (const std::string& name : windows) {
    auto at = std::search(hugeExr.begin(), hugeExr.end(), name.begin(), name.end());
    ASSERT_NE(at, hugeExr.end());
    const std::size_t box = (at - hugeExr.begin()) + name.size() + 1 + 6 + 4 + 8;  // type "box2i", size, min
    const std::uint8_t max[] = {0x3F, 0x9C, 0, 0, 0x3F, 0x9C, 0, 0};  // 39999, 39999
    std::memcpy(&hugeExr[box], max, sizeof max);
  }
  const Bytes tiff = Load(kSeeds + "rgb8-deflate.tiff");
  struct Case {
    const char* name;
    Bytes bytes;
    const char* format;
    ImageFailure failure;
  } cases[] = {
      {"huge.jpg", hugeJpeg, "JPEG", ImageFailure::kTooLarge},
      {"huge.exr", hugeExr, "OpenEXR", ImageFailure::kTooLarge},
      {"header-only.tiff", Bytes(tiff.begin(), tiff.begin() + 8), "TIFF", ImageFailure::kDamaged},
      {"signature-only.jpg", {0xFF, 0xD8, 0xFF, 0xD9}, "JPEG", ImageFailure::kDamaged},
      {"text.tga", Bytes(3, 'x'), "TGA", ImageFailure::kDamaged},
  };
  for (const Case& c : cases) {
    const ImageRead read = Read(c.name, c.bytes, c.format);
    EXPECT_FALSE(read.image) << c.name;
    EXPECT_EQ(static_cast<int>(read.failure), static_cast<int>(c.failure)) << c.name;
  }
}

}  // namespace
}  // namespace zelvo
