#include "image/bmp_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/frame_reader.h"
#include "support/bmp_writer.h"

namespace zelvo {
namespace {

using test::BmpDescription;
using test::BuildBmp;
using test::PadRows;
using test::RenderRgb;
using test::WriteTempFile;

using Rgb = std::vector<std::uint8_t>;

PackedDib ReadBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  return ReadBmp(WriteTempFile(name, bytes).c_str());
}

// A 2x2 picture: top row red, green; bottom row blue, white.
const Rgb kTwoByTwo = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

struct PictureCase {
  const char* name;
  BmpDescription desc;
};

std::vector<PictureCase> TwoByTwoInEveryForm() {
  const std::vector<std::uint32_t> palette = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  std::vector<PictureCase> cases;
  auto add = [&](const char* name, BmpDescription desc) { cases.push_back({name, desc}); };
  BmpDescription s;
  s.width = 2;
  s.height = 2;

  s.bitCount = 2;
  s.palette = palette;
  s.payload = PadRows({{0xB0}, {0x10}});  // bottom row first: blue, white; then red, green
  add("2-bit", s);
  s.bitCount = 4;
  s.payload = PadRows({{0x23}, {0x01}});
  add("4-bit", s);
  s.bitCount = 8;
  s.payload = PadRows({{2, 3}, {0, 1}});
  add("8-bit", s);
  BmpDescription core = s;
  core.headerSize = 12;
  add("8-bit core header, short table", core);
  BmpDescription v5 = s;
  v5.headerSize = 124;
  add("8-bit v5 header", v5);
  BmpDescription v4 = s;
  v4.headerSize = 108;
  v4.bitCount = 4;
  v4.payload = PadRows({{0x23}, {0x01}});
  add("4-bit v4 header", v4);
  BmpDescription os2 = s;
  os2.headerSize = 16;
  add("8-bit OS/2 16-byte header", os2);
  BmpDescription os2full = s;
  os2full.headerSize = 64;
  add("8-bit OS/2 64-byte header", os2full);
  BmpDescription topDown = s;
  topDown.height = -2;
  topDown.payload = PadRows({{0, 1}, {2, 3}});
  add("8-bit top-down", topDown);
  BmpDescription rle8 = s;
  rle8.compression = 1;
  rle8.payload = {0x01, 0x02, 0x01, 0x03, 0x00, 0x00, 0x01, 0x00, 0x01, 0x01, 0x00, 0x01};
  add("8-bit RLE8", rle8);
  BmpDescription rle4 = s;
  rle4.bitCount = 4;
  rle4.compression = 2;
  rle4.payload = {0x02, 0x23, 0x00, 0x00, 0x02, 0x01, 0x00, 0x01};
  add("4-bit RLE4", rle4);

  s.palette.clear();
  s.bitCount = 24;
  s.payload = PadRows({{255, 0, 0, 255, 255, 255}, {0, 0, 255, 0, 255, 0}});
  add("24-bit", s);
  BmpDescription s24v5 = s;
  s24v5.headerSize = 124;
  add("24-bit v5 header", s24v5);
  BmpDescription s24core = s;
  s24core.headerSize = 12;
  add("24-bit core header", s24core);
  s.bitCount = 32;
  s.payload = {255, 0, 0, 9, 255, 255, 255, 9, 0, 0, 255, 9, 0, 255, 0, 9};
  add("32-bit", s);
  s.bitCount = 16;
  s.payload = {0x1F, 0x00, 0xFF, 0x7F, 0x00, 0x7C, 0xE0, 0x03};
  add("16-bit", s);

  BmpDescription bf565 = s;
  bf565.compression = 3;
  bf565.masks = {0xF800, 0x07E0, 0x001F};
  bf565.payload = {0x1F, 0x00, 0xFF, 0xFF, 0x00, 0xF8, 0xE0, 0x07};
  add("16-bit bit fields 5-6-5", bf565);
  BmpDescription bf565v5 = bf565;
  bf565v5.headerSize = 124;
  add("16-bit bit fields 5-6-5, v5 header", bf565v5);
  BmpDescription bf555 = s;
  bf555.compression = 3;
  bf555.masks = {0x7C00, 0x03E0, 0x001F};
  add("16-bit bit fields 5-5-5", bf555);
  BmpDescription bf32 = s;
  bf32.bitCount = 32;
  bf32.compression = 3;
  bf32.masks = {0x000000FF, 0x0000FF00, 0x00FF0000};  // red in the first byte
  bf32.payload = {0, 0, 255, 0, 255, 255, 255, 0, 255, 0, 0, 0, 0, 255, 0, 0};
  add("32-bit bit fields R,G,B order", bf32);
  BmpDescription bf32alpha = bf32;
  bf32alpha.compression = 6;
  bf32alpha.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
  bf32alpha.payload = {0, 0, 255, 128, 255, 255, 255, 128, 255, 0, 0, 128, 0, 255, 0, 128};
  add("32-bit alpha bit fields, 40-byte header", bf32alpha);
  BmpDescription bf32td = bf32;
  bf32td.height = -2;
  bf32td.payload = {255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 255, 255, 255, 0};
  add("32-bit bit fields top-down", bf32td);
  BmpDescription bf32std = bf32;
  bf32std.masks = {0xFF0000, 0xFF00, 0xFF};
  bf32std.payload = {255, 0, 0, 9, 255, 255, 255, 9, 0, 0, 255, 9, 0, 255, 0, 9};
  add("32-bit bit fields in the plain order", bf32std);
  BmpDescription bf16wide = s;
  bf16wide.compression = 3;
  bf16wide.masks = {0x0F00, 0x00F0, 0x000F};  // 4-4-4
  bf16wide.payload = {0x0F, 0x00, 0xFF, 0x0F, 0x00, 0x0F, 0xF0, 0x00};
  add("16-bit bit fields 4-4-4", bf16wide);
  return cases;
}

TEST(BmpReader, EveryFormDrawsTheSamePicture) {
  for (const auto& c : TwoByTwoInEveryForm()) {
    PackedDib dib = ReadBytes("form.bmp", BuildBmp(c.desc));
    ASSERT_TRUE(dib) << c.name;
    DibHeader h = dib.header();
    EXPECT_EQ(h.width, 2) << c.name;
    EXPECT_EQ(h.height, 2) << c.name;
    EXPECT_EQ(h.compression, 0u) << c.name;
    EXPECT_EQ(h.size, 40u) << c.name;
    EXPECT_EQ(RenderRgb(dib), kTwoByTwo) << c.name;
    // The memory decoder used by the fuzz target agrees with the file reader.
    std::vector<std::uint8_t> bytes = BuildBmp(c.desc);
    PackedDib fromMemory = ReadBmpFromMemory(bytes.data(), bytes.size());
    ASSERT_TRUE(fromMemory) << c.name;
    EXPECT_EQ(RenderRgb(fromMemory), kTwoByTwo) << c.name;
  }
}

TEST(BmpReader, OneBitPixelsIndexFromTheHighBit) {
  BmpDescription s;
  s.width = 10;
  s.height = 1;
  s.bitCount = 1;
  s.palette = {0x000000, 0xFFFFFF};
  s.payload = PadRows({{0xA0, 0x40}});  // 1010000001
  PackedDib dib = ReadBytes("one.bmp", BuildBmp(s));
  ASSERT_TRUE(dib);
  Rgb rgb = RenderRgb(dib);
  const int expect[] = {1, 0, 1, 0, 0, 0, 0, 0, 0, 1};
  for (int x = 0; x < 10; ++x) EXPECT_EQ(rgb[x * 3], expect[x] * 255) << x;
}

TEST(BmpReader, FileWithoutExtensionIsLookedForAsBmp) {
  BmpDescription s;
  s.width = 20;
  s.payload.assign(64, 7);
  std::string path = WriteTempFile("shot0001.bmp", BuildBmp(s));
  std::string bare = path.substr(0, path.size() - 4);
  EXPECT_TRUE(IsBmpFile(bare.c_str()));
  EXPECT_TRUE(ReadBmp(bare.c_str()));
  EXPECT_TRUE(ReadBmpHeader(bare.c_str()));
  ASSERT_TRUE(ProbeFrame(bare.c_str()));
  EXPECT_STREQ(ProbeFrame(bare.c_str()).format->name, "BMP");
}

TEST(BmpProbe, NeedsMoreThan54BytesStartingWithBM) {
  std::vector<std::uint8_t> bytes(55, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  EXPECT_TRUE(IsBmpFile(WriteTempFile("p55.bmp", bytes).c_str()));
  bytes.resize(54);
  EXPECT_FALSE(IsBmpFile(WriteTempFile("p54.bmp", bytes).c_str()));
  bytes.resize(100);
  bytes[0] = 'M';
  bytes[1] = 'B';
  EXPECT_FALSE(IsBmpFile(WriteTempFile("pmb.bmp", bytes).c_str()));
  EXPECT_FALSE(IsBmpFile("/nonexistent-folder-zelvo/none.bmp"));
  EXPECT_FALSE(ReadBmp("/nonexistent-folder-zelvo/none.bmp"));
  EXPECT_FALSE(ReadBmpHeader("/nonexistent-folder-zelvo/none.bmp"));
}

TEST(BmpReader, ContentNotNameDecidesCompression) {
  BmpDescription plain;
  plain.width = 4;
  plain.height = 1;
  plain.bitCount = 8;
  plain.palette.assign(256, 0);
  plain.payload = {1, 2, 3, 4};
  PackedDib asRle = ReadBmp(WriteTempFile("plain.rle", BuildBmp(plain)).c_str());
  ASSERT_TRUE(asRle);
  EXPECT_EQ(std::vector<std::uint8_t>(asRle.pixels(), asRle.pixels() + 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));
  BmpDescription rle = plain;
  rle.compression = 1;
  rle.payload = {0x04, 0x09, 0x00, 0x01};
  PackedDib asBmp = ReadBmp(WriteTempFile("rle.bmp", BuildBmp(rle)).c_str());
  ASSERT_TRUE(asBmp);
  EXPECT_EQ(std::vector<std::uint8_t>(asBmp.pixels(), asBmp.pixels() + 4), (std::vector<std::uint8_t>{9, 9, 9, 9}));
}

TEST(BmpReader, CoreHeaderBecomesInformationHeader) {
  BmpDescription s;
  s.headerSize = 12;
  s.width = 3;
  s.height = 2;
  s.bitCount = 8;
  for (std::uint32_t i = 0; i < 256; ++i) s.palette.push_back(i * 0x010203u & 0xFFFFFF);
  s.payload = PadRows({{0, 1, 255}, {2, 3, 4}});
  PackedDib dib = ReadBytes("core.bmp", BuildBmp(s));
  ASSERT_TRUE(dib);
  DibHeader h = dib.header();
  EXPECT_EQ(h.size, 40u);
  EXPECT_EQ(h.planes, 1);
  EXPECT_EQ(h.xPelsPerMeter, 3790);
  EXPECT_EQ(h.yPelsPerMeter, 3800);
  EXPECT_EQ(h.clrUsed, 0u);
  for (int i = 0; i < 256; ++i) {
    std::uint32_t c = s.palette[i];
    ASSERT_EQ(dib.colors()[i * 4], c & 0xFF) << i;
    ASSERT_EQ(dib.colors()[i * 4 + 1], (c >> 8) & 0xFF) << i;
    ASSERT_EQ(dib.colors()[i * 4 + 2], c >> 16) << i;
    ASSERT_EQ(dib.colors()[i * 4 + 3], 0) << i;
  }
  EXPECT_EQ(dib.pixels()[2], 255);
}

TEST(BmpReader, TopDownComesBackBottomUpWhileHeaderKeepsSign) {
  BmpDescription s;
  s.width = 1;
  s.height = -3;
  s.payload = PadRows({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});  // top row first
  std::string path = WriteTempFile("topdown.bmp", BuildBmp(s));
  PackedDib dib = ReadBmp(path.c_str());
  ASSERT_TRUE(dib);
  EXPECT_EQ(GetDibHeight(dib), 3);
  EXPECT_EQ(dib.pixels()[0], 3);
  EXPECT_EQ(dib.pixels()[4], 2);
  EXPECT_EQ(dib.pixels()[8], 1);
  PackedDib header = ReadBmpHeader(path.c_str());
  ASSERT_TRUE(header);
  EXPECT_EQ(GetDibHeight(header), -3);
  EXPECT_EQ(header.size(), 40u);
}

TEST(BmpReader, ColourTableRuleForUsedAndImportantCounts) {
  BmpDescription s;
  s.width = 4;
  s.height = 1;
  s.bitCount = 8;
  for (int i = 0; i < 16; ++i) s.palette.push_back(0x010101u * i);
  s.payload = {0x21, 0x22, 0x23, 0x24};
  s.clrUsed = 16;
  s.clrImportant = 16;
  PackedDib both = ReadBytes("both.bmp", BuildBmp(s));
  ASSERT_TRUE(both);
  EXPECT_EQ(both.header().clrUsed, 0u);
  EXPECT_EQ(both.header().clrImportant, 0u);
  EXPECT_EQ(both.colors()[15 * 4], 15);
  for (int i = 16; i < 256; ++i) {
    ASSERT_EQ(both.colors()[i * 4], 255) << i;
    ASSERT_EQ(both.colors()[i * 4 + 2], 255) << i;
  }
  s.clrImportant = 0;
  PackedDib usedOnly = ReadBytes("used.bmp", BuildBmp(s));
  ASSERT_TRUE(usedOnly);
  EXPECT_EQ(usedOnly.header().clrUsed, 16u);
  // Entry 16 holds the bytes that follow the file's table: the pixel data.
  EXPECT_EQ(usedOnly.colors()[16 * 4], 0x21);
  EXPECT_EQ(usedOnly.colors()[16 * 4 + 3], 0x24);
  // Past the end of the file nothing is invented: those entries are zero.
  EXPECT_EQ(usedOnly.colors()[17 * 4], 0);
  EXPECT_EQ(usedOnly.colors()[255 * 4 + 2], 0);
}

TEST(BmpReader, HeaderOnlyKeepsFileFields) {
  BmpDescription s;
  s.headerSize = 124;
  s.width = 5;
  s.bitCount = 8;
  s.compression = 1;
  s.height = 6;
  s.palette.assign(256, 0x123456);
  s.payload = {0x00, 0x01};
  PackedDib dib = ReadBmpHeader(WriteTempFile("hdr.bmp", BuildBmp(s)).c_str());
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib.size(), 1064u);
  DibHeader h = dib.header();
  EXPECT_EQ(h.size, 124u);
  EXPECT_EQ(h.compression, 1u);
  EXPECT_EQ(h.sizeImage, 2u);
  EXPECT_EQ(dib.colors()[255 * 4 + 2], 0x12);
}

TEST(BmpReader, ShortFileLeavesMissingPixelsZero) {
  BmpDescription s;
  s.width = 4;
  s.height = 4;
  s.payload = {9, 9, 9, 9, 9};
  PackedDib dib = ReadBytes("short.bmp", BuildBmp(s));
  ASSERT_TRUE(dib);
  const std::uint8_t* p = dib.pixels();
  EXPECT_EQ(p[4], 9);
  for (int i = 5; i < 48; ++i) ASSERT_EQ(p[i], 0) << i;
  BmpDescription fields;
  fields.width = 2;
  fields.height = 2;
  fields.bitCount = 32;
  fields.compression = 3;
  fields.masks = {0xFF, 0xFF00, 0xFF0000};
  fields.payload = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10};  // the last pixel is cut off
  PackedDib cut = ReadBytes("shortfields.bmp", BuildBmp(fields));
  ASSERT_TRUE(cut);
  EXPECT_EQ(std::vector<std::uint8_t>(cut.pixels(), cut.pixels() + 16),
            (std::vector<std::uint8_t>{3, 2, 1, 0, 6, 5, 4, 0, 9, 8, 7, 0, 0, 0, 0, 0}));
  std::vector<std::uint8_t> far = BuildBmp(s);
  far[12] = 0x10;  // the pixel data would begin 1 MiB on, past the end of the file
  PackedDib none = ReadBytes("far.bmp", far);
  ASSERT_TRUE(none);
  for (int i = 0; i < 48; ++i) ASSERT_EQ(none.pixels()[i], 0) << i;
}

TEST(BmpReader, RefusesWhatItCannotDrawCorrectly) {
  BmpDescription base;
  base.width = 4;
  base.height = 2;
  base.payload.assign(64, 1);
  struct Case {
    const char* name;
    BmpDescription desc;
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, auto change) {
    BmpDescription s = base;
    change(s);
    cases.push_back({name, s});
  };
  add("JPEG inside", [](BmpDescription& s) { s.compression = 4; });
  add("PNG inside", [](BmpDescription& s) { s.compression = 5; });
  add("RLE24 with an OS/2 header", [](BmpDescription& s) { s.headerSize = 64; s.compression = 4; });
  add("Huffman with an OS/2 header", [](BmpDescription& s) { s.headerSize = 64; s.bitCount = 1; s.compression = 3; });
  add("unknown compression", [](BmpDescription& s) { s.compression = 7; });
  add("RLE8 at 4 bits", [](BmpDescription& s) { s.bitCount = 4; s.compression = 1; });
  add("RLE4 at 8 bits", [](BmpDescription& s) { s.bitCount = 8; s.compression = 2; });
  add("RLE8 top-down", [](BmpDescription& s) { s.bitCount = 8; s.compression = 1; s.height = -2; });
  add("bit fields at 24 bits", [](BmpDescription& s) { s.compression = 3; s.masks = {0xFF0000, 0xFF00, 0xFF}; });
  add("bit fields at 8 bits", [](BmpDescription& s) { s.bitCount = 8; s.compression = 3; });
  add("bit count 0", [](BmpDescription& s) { s.bitCount = 0; });
  add("bit count 3", [](BmpDescription& s) { s.bitCount = 3; });
  add("bit count 64", [](BmpDescription& s) { s.bitCount = 64; });
  add("negative width", [](BmpDescription& s) { s.width = -4; });
  add("width overflows the stride", [](BmpDescription& s) { s.width = 0x7FFFFFFF; s.bitCount = 32; });
  add("block above 1 GiB", [](BmpDescription& s) { s.width = 20000; s.height = 20000; });
  add("height of -2^31", [](BmpDescription& s) { s.height = INT32_MIN; });
  // Found by fuzzing: no bytes to allocate, and the flipped height did not fit an int.
  add("height of -2^31 at width 0", [](BmpDescription& s) { s.width = 0; s.height = INT32_MIN; s.payload.clear(); });
  add("header size 200", [](BmpDescription& s) { s.headerSize = 200; });
  add("header size 13", [](BmpDescription& s) { s.headerSize = 13; });
  add("header size 0", [](BmpDescription& s) { s.headerSize = 0; });
  for (const auto& c : cases) {
    std::string path = WriteTempFile("refused.bmp", BuildBmp(c.desc));
    EXPECT_FALSE(ReadBmp(path.c_str())) << c.name;
    EXPECT_FALSE(ReadBmpHeader(path.c_str())) << c.name;
    EXPECT_FALSE(ReadFrame(path.c_str())) << c.name;
  }
}

TEST(BmpReader, TruncatedHeaderIsRefused) {
  BmpDescription s;
  s.headerSize = 124;
  s.width = 4;
  std::vector<std::uint8_t> bytes = BuildBmp(s);
  bytes.resize(14 + 60);
  EXPECT_FALSE(ReadBmp(WriteTempFile("cut.bmp", bytes).c_str()));
  EXPECT_FALSE(ReadBmpHeaderFromMemory(bytes.data(), 17));
  EXPECT_FALSE(ReadBmpFromMemory(bytes.data(), 0));
}

TEST(FrameReader, ChoosesTheReaderByContent) {
  BmpDescription s;
  s.width = 3;
  s.height = 2;
  s.payload.assign(24, 5);
  std::string bmpNamedPng = WriteTempFile("frame.png", BuildBmp(s));
  const FrameRead probe = ProbeFrame(bmpNamedPng.c_str());
  ASSERT_TRUE(probe);
  EXPECT_STREQ(probe.format->name, "BMP");
  const FrameRead header = ReadFrameHeader(bmpNamedPng.c_str());
  ASSERT_TRUE(header);
  EXPECT_EQ(GetDibWidth(header.image), 3);
  const FrameRead full = ReadFrame(bmpNamedPng.c_str());
  ASSERT_TRUE(full);
  EXPECT_EQ(full.image.pixels()[0], 5);
  std::string text = WriteTempFile("frame.bmp", std::vector<std::uint8_t>(100, 'x'));
  EXPECT_FALSE(ProbeFrame(text.c_str()));
  EXPECT_FALSE(ReadFrameHeader(text.c_str()));
  EXPECT_FALSE(ReadFrame(text.c_str()));
  EXPECT_FALSE(ProbeFrame("/nonexistent-folder-zelvo/frame.bmp"));
}

}  // namespace
}  // namespace zelvo
