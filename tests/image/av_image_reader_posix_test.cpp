#include "image/av_image_reader_posix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "image/av_image_formats_posix.h"
#include "image/av_jpeg_yuv_posix.h"
#include "convert/frame_feed.h"
#include "image/frame_reader.h"
#include "platform/file.h"
#include "sequence/sequence.h"
#include "support/counting_budget.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kSeeds = ZELVO_SOURCE_DIR "/fuzz/corpus/image/";

Bytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

using Counting = test::CountingBudget;

class LibavImageReader : public ::testing::Test {
 protected:
  void SetUp() override {
    AddFrameFormats(LibavImageFormats());
    ASSERT_TRUE(dir_.ok());
  }
  // Writes `bytes` as `name` and reads it as a frame, recognised as `format`.
  FrameRead Read(const std::string& name, const Bytes& bytes, const char* format, FrameBudget* budget = nullptr) {
    const std::string path = dir_.Join(name);
    EXPECT_TRUE(dir_.AddFile(name, std::string(bytes.begin(), bytes.end())));
    FrameRead read = ReadFrame(path.c_str(), budget);
    EXPECT_STREQ(read.format != nullptr ? read.format->name : nullptr, format) << name;
    return read;
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
    const FrameRead read = Read(c.file, Load(kSeeds + c.file), c.format);
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
      const PackedDib header = ReadFrameHeader(dir_.Join(c.file).c_str()).image;
      EXPECT_EQ(GetDibWidth(header), c.width) << c.file;
      EXPECT_EQ(GetDibHeight(header), c.height) << c.file;
    }
  }
}

// While an encoder takes JPEG's YUV at the frames' size, 4:2:0 JPEGs shown as stored come
// in that YUV, and their BGR is the very frame libavcodec's reader makes without the offer
// (JPEGs are otherwise read with libjpeg-turbo); the rest stay BGR.
TEST_F(LibavImageReader, JpegsOfTheOfferedSizeComeInTheirOwnYuv) {
  struct Case {
    const char* file;
    const char* format;
    int offerWidth;
    bool yuv;
  } cases[] = {
      {"baseline.jpg", "JPEG", 24, true},  {"progressive.jpg", "JPEG", 24, true},
      {"cut-short.jpg", "JPEG", 24, true}, {"baseline.jpg", "JPEG", 23, false},
      {"grey.jpg", "JPEG", 24, false},     {"cmyk.jpg", "JPEG", 24, false},
      {"exif-orientation-6.jpg", "JPEG", 24, false},  {"lossy.webp", "WebP", 24, false},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Load(kSeeds + c.file);
    OfferJpegYuv(0, 0);
    const std::string name = std::string("bgr-") + c.file;
    ASSERT_TRUE(dir_.AddFile(name, std::string(bytes.begin(), bytes.end())));
    ReadOnlyFile file(dir_.Join(name).c_str());
    const FrameRead bgr =
        ReadWithLibav(std::strcmp(c.format, "JPEG") == 0 ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_WEBP,
                      FrameSource{file, name.c_str(), false, nullptr});
    OfferJpegYuv(c.offerWidth, 16);
    const FrameRead read = Read(std::string("offered-") + c.file, bytes, c.format);
    OfferJpegYuv(0, 0);
    ASSERT_TRUE(bgr.image && read.image) << c.file;
    EXPECT_EQ(read.image.header().compression == kJpegYuvFourcc, c.yuv) << c.file;
    EXPECT_EQ(read.cutShort, bgr.cutShort) << c.file;
    const FrameRead shown = c.yuv ? JpegYuvToBgr(read.image) : FrameRead();
    const PackedDib& made = c.yuv ? shown.image : read.image;
    ASSERT_EQ(made.size(), bgr.image.size()) << c.file;
    EXPECT_EQ(std::memcmp(made.data(), bgr.image.data(), made.size()), 0) << c.file;
  }
}

// A text header followed by sample bytes.
Bytes Netpbm(const std::string& header, std::initializer_list<std::uint8_t> samples) {
  Bytes bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), samples);
  return bytes;
}

TEST_F(LibavImageReader, PixelsComeOutBgrBottomUpAlphaDroppedDeepSamplesRounded) {
  FrameRead read = Read("rgb.ppm", Netpbm("P6 2 2 255\n", {255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3}), "PPM");
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
  const FrameRead stored = Read("stored.jpg", jpeg, "JPEG");
  ASSERT_TRUE(stored.image);
  const int w = stored.image.header().width, h = stored.image.header().height;
  for (int orientation = 1; orientation <= 8; ++orientation) {
    const std::string name = "o" + std::to_string(orientation) + ".jpg";
    const FrameRead shown = Read(name, WithOrientation(jpeg, orientation), "JPEG");
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
    FrameFailure failure;
  } cases[] = {
      {"huge.jpg", hugeJpeg, "JPEG", FrameFailure::kTooLarge},
      {"huge.exr", hugeExr, "OpenEXR", FrameFailure::kTooLarge},
      {"header-only.tiff", Bytes(tiff.begin(), tiff.begin() + 8), "TIFF", FrameFailure::kDamaged},
      {"signature-only.jpg", {0xFF, 0xD8, 0xFF, 0xD9}, "JPEG", FrameFailure::kDamaged},
      {"text.tga", Bytes(3, 'x'), "TGA", FrameFailure::kDamaged},
  };
  for (const Case& c : cases) {
    Counting budget(true);
    const FrameRead read = Read(c.name, c.bytes, c.format, &budget);
    EXPECT_FALSE(read.image) << c.name;
    EXPECT_EQ(static_cast<int>(read.failure), static_cast<int>(c.failure)) << c.name;
    EXPECT_EQ(budget.calls, 0) << c.name;  // refused before any picture memory is asked for
  }
}

// The budget is asked once, before the decoder takes its picture's memory, for all the read
// holds: the 24-bit block and the decoder's own picture in its own format (4:2:0 JPEG,
// 16-bit RGB TIFF, float OpenEXR), which may be several times the block. A budget that
// says no ends the read for want of memory.
TEST_F(LibavImageReader, AsksTheBudgetOnceForTheBlockAndTheDecodersPicture) {
  struct Case {
    const char* file;
    const char* format;
    int pictureHalfBytes;  // the decoder's picture: half-bytes a pixel, at least
  } cases[] = {
      {"baseline.jpg", "JPEG", 3},
      {"rgb16-deflate.tiff", "TIFF", 12},
      {"float-rle.exr", "OpenEXR", 24},
  };
  const std::uint64_t block = kDibHeaderSize + 72 * 16;  // 24 x 16 at 24 bits
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Bytes bytes = Load(kSeeds + c.file);
    Counting refusing(false);
    const FrameRead refused = Read(c.file, bytes, c.format, &refusing);
    EXPECT_EQ(refused.failure, FrameFailure::kNoMemory);
    EXPECT_FALSE(refused.image);
    EXPECT_EQ(refusing.calls, 1);
    EXPECT_GE(refusing.asked, block + 24 * 16 * c.pictureHalfBytes / 2);
    Counting granting(true);
    const FrameRead read = Read(c.file, bytes, c.format, &granting);
    ASSERT_TRUE(read);
    EXPECT_EQ(granting.calls, 1);
    EXPECT_EQ(granting.asked, refusing.asked);
    EXPECT_EQ(read.bytes, granting.asked);
    EXPECT_EQ(ReadFrameHeader(dir_.Join(c.file).c_str()).bytes, read.bytes);
  }
}

// Read ahead by reader threads, frames in libavcodec's formats ask the feed's budget from
// inside their decoders, once each, and all arrive in their place.
TEST_F(LibavImageReader, FramesReadAheadAskTheFeedsBudgetForTheirDecodersPictures) {
  const char* seeds[] = {"baseline.jpg", "rgb16-deflate.tiff", "float-rle.exr"};
  constexpr int kFrames = 12;
  std::uint64_t largest = 0;
  for (int n = 1; n <= kFrames; ++n) {
    const std::string name = "r" + std::to_string(100 + n) + ".jpg";  // the content decides
    ASSERT_TRUE(dir_.AddFile(name, [&] {
      const Bytes bytes = Load(kSeeds + seeds[n % 3]);
      return std::string(bytes.begin(), bytes.end());
    }()));
    largest = std::max(largest, ReadFrameHeader(dir_.Join(name).c_str()).bytes);
  }
  ASSERT_GT(largest, 0u);
  for (int readers : {1, 3}) {
    SCOPED_TRACE(std::to_string(readers) + " readers");
    const std::string first = dir_.Join("r101.jpg");
    std::string path = first;
    FrameWalk walk;
    walk.firstPath = first.c_str();
    walk.first = 101;
    walk.last = 100 + kFrames;
    walk.count = kFrames;
    ReadAheadFeed feed(walk, readers, 8, 8 * largest);
    for (int n = 1; n <= kFrames; ++n) {
      const FrameRead frame = feed.Take(path.c_str());
      ASSERT_TRUE(frame) << n;
      EXPECT_EQ(GetDibWidth(frame.image), 24) << n;
      NextFrameName(&path, 101, 100 + kFrames);
    }
    // A frame being decoded counts twice: its block and decoder's picture, and the working
    // memory beside them.
    EXPECT_GE(feed.MostReserved(), 2 * largest);
    EXPECT_LE(feed.MostReserved(), 8 * largest);
  }
}

}  // namespace
}  // namespace zelvo
