#include "image/png_reader.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "convert/frame_canvas.h"
#include "image/packed_dib.h"
#include "support/png_writer.h"

namespace zelvo {
namespace {

using test::EncodePng;
using test::PngChannels;
using test::PngPicture;
using test::WriteBytes;

// A file in the system's temporary folder, removed again when the test is done.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& name) {
    std::random_device random;
    path_ = (std::filesystem::temp_directory_path() /
             ("zelvo_png_" + std::to_string(random()) + "_" + name))
                .string();
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

PackedDib ReadBytes(const std::vector<std::uint8_t>& bytes, bool headerOnly = false) {
  ScratchFile file("frame.png");
  if (!WriteBytes(file.path(), bytes)) return PackedDib();
  return headerOnly ? ReadPngHeader(file.path()) : ReadPng(file.path());
}

// The picture ReadPng gives, when it came through the direct path rather than libpng.
bool ReadsDirectly(const std::vector<std::uint8_t>& bytes) {
  ScratchFile file("direct.png");
  if (!WriteBytes(file.path(), bytes)) return false;
  PackedDib direct = ReadPlainTruecolourPng(file.path());
  PackedDib whole = ReadPng(file.path());
  return direct && whole && direct.size() == whole.size() &&
         std::memcmp(direct.data(), whole.data(), direct.size()) == 0;
}

// Samples that differ from pixel to pixel and from channel to channel.
PngPicture Pattern(int colorType, int bitDepth, int width, int height) {
  PngPicture p;
  p.width = width;
  p.height = height;
  p.colorType = colorType;
  p.bitDepth = bitDepth;
  const int channels = PngChannels(colorType);
  const std::uint32_t levels = 1u << bitDepth;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < channels; ++c) {
        std::uint32_t v = static_cast<std::uint32_t>(x * 37 + y * 101 + c * 59 + 3);
        if (bitDepth == 16) v = v * 2654435761u >> 16;
        p.samples.push_back(static_cast<std::uint16_t>(v % levels));
      }
    }
  }
  if (colorType == 3) {
    for (std::uint32_t j = 0; j < levels; ++j) {
      p.palette.push_back(static_cast<std::uint8_t>(j * 7 + 1));
      p.palette.push_back(static_cast<std::uint8_t>(255 - j));
      p.palette.push_back(static_cast<std::uint8_t>(j * 13 + 5));
    }
  }
  return p;
}

std::uint16_t Sample(const PngPicture& p, int x, int y, int c) {
  return p.samples[(static_cast<std::size_t>(y) * p.width + x) * PngChannels(p.colorType) + c];
}

// An 8-bit view of a sample: the high byte of a 16-bit one.
std::uint8_t Byte(const PngPicture& p, int x, int y, int c) {
  std::uint16_t v = Sample(p, x, y, c);
  return static_cast<std::uint8_t>(p.bitDepth == 16 ? v >> 8 : v);
}

// The index stored for pixel x of a row of `bits`-bit pixels.
int StoredIndex(const std::uint8_t* row, int x, int bits) {
  const int perByte = 8 / bits;
  const int shift = 8 - bits * (x % perByte + 1);
  return (row[x / perByte] >> shift) & ((1 << bits) - 1);
}

const std::uint8_t* StoredRow(const PackedDib& dib, int topRow) {
  DibHeader h = dib.header();
  return dib.pixels() + static_cast<std::size_t>(h.height - 1 - topRow) * DibStride(h.width, h.bitCount);
}

struct Rgb {
  std::uint8_t red, green, blue;
  bool operator==(const Rgb& o) const { return red == o.red && green == o.green && blue == o.blue; }
};

// What the frame canvas shows for the image, top row first.
std::vector<Rgb> Drawn(const PackedDib& dib) {
  FrameCanvas canvas;
  std::vector<Rgb> out;
  if (!canvas.Create(GetDibWidth(dib), GetDibHeight(dib)) || DrawPackedDib(canvas, dib) != 0) return out;
  for (int y = 0; y < canvas.height(); ++y) {
    const std::uint8_t* row = canvas.data() + (canvas.height() - 1 - y) * canvas.stride();
    for (int x = 0; x < canvas.width(); ++x) out.push_back(Rgb{row[3 * x + 2], row[3 * x + 1], row[3 * x]});
  }
  return out;
}

std::vector<std::uint8_t> Table(const PackedDib& dib) {
  const std::uint8_t* colors = dib.colors();
  return std::vector<std::uint8_t>(colors, colors + 4 * DibColorCount(dib.header().bitCount));
}

std::vector<std::uint8_t> GreyTable(std::vector<int> levels, int entries) {
  std::vector<std::uint8_t> table(4 * entries, 0);
  for (std::size_t k = 0; k < levels.size(); ++k) {
    for (int c = 0; c < 3; ++c) table[4 * k + c] = static_cast<std::uint8_t>(levels[k]);
  }
  return table;
}

std::vector<int> Ramp(int count, int step) {
  std::vector<int> r;
  for (int k = 0; k < count; ++k) r.push_back(k * step);
  return r;
}

TEST(PngReader, GreyImagesGetTheirRampAndPackedIndices) {
  struct Case {
    int depth;
    int bitCount;
    std::vector<std::uint8_t> table;
  } cases[] = {
      {1, 1, GreyTable({0, 255}, 2)},
      // 2-bit rows are stored as 4-bit ones: Windows draws no 2-bit bitmaps.
      {2, 4, GreyTable({0, 85, 170, 255}, 16)},
      {4, 4, GreyTable(Ramp(16, 17), 16)},
      {8, 8, GreyTable(Ramp(256, 1), 256)},
      {16, 8, GreyTable(Ramp(256, 1), 256)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("depth " + std::to_string(c.depth));
    PngPicture p = Pattern(0, c.depth, 13, 4);
    PackedDib dib = ReadBytes(EncodePng(p));
    ASSERT_TRUE(dib);
    DibHeader h = dib.header();
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.planes, 1);
    EXPECT_EQ(h.width, 13);
    EXPECT_EQ(h.height, 4);
    EXPECT_EQ(h.bitCount, c.bitCount);
    EXPECT_EQ(h.compression, 0u);
    EXPECT_EQ(h.clrUsed, 0u);
    EXPECT_EQ(Table(dib), c.table);
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        int expected = c.depth == 16 ? Byte(p, x, y, 0) : Sample(p, x, y, 0);
        ASSERT_EQ(StoredIndex(StoredRow(dib, y), x, c.bitCount), expected) << x << "," << y;
      }
    }
  }
}

TEST(PngReader, TruecolourBecomesBlueGreenRedTriples) {
  for (int depth : {8, 16}) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    PngPicture p = Pattern(2, depth, 6, 3);
    PackedDib dib = ReadBytes(EncodePng(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib.header().bitCount, 24);
    EXPECT_EQ(dib.pixels() - dib.data(), 40);
    for (int y = 0; y < p.height; ++y) {
      const std::uint8_t* row = StoredRow(dib, y);
      for (int x = 0; x < p.width; ++x) {
        EXPECT_EQ(row[3 * x + 0], Byte(p, x, y, 2));
        EXPECT_EQ(row[3 * x + 1], Byte(p, x, y, 1));
        EXPECT_EQ(row[3 * x + 2], Byte(p, x, y, 0));
      }
    }
  }
}

TEST(PngReader, IndexedImagesCopyThePaletteAndLeaveTheRestBlack) {
  struct Case {
    int depth;
    int paletteEntries;
    int bitCount;
  } cases[] = {{1, 2, 1}, {2, 3, 4}, {4, 5, 4}, {8, 200, 8}, {8, 256, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE("depth " + std::to_string(c.depth) + " entries " + std::to_string(c.paletteEntries));
    PngPicture p = Pattern(3, c.depth, 9, 5);
    p.palette.resize(3 * c.paletteEntries);
    for (auto& s : p.samples) s = static_cast<std::uint16_t>(s % c.paletteEntries);
    PackedDib dib = ReadBytes(EncodePng(p));
    ASSERT_TRUE(dib);
    ASSERT_EQ(dib.header().bitCount, c.bitCount);
    std::vector<std::uint8_t> expected(4 * DibColorCount(c.bitCount), 0);
    for (int j = 0; j < c.paletteEntries; ++j) {
      expected[4 * j + 0] = p.palette[3 * j + 2];
      expected[4 * j + 1] = p.palette[3 * j + 1];
      expected[4 * j + 2] = p.palette[3 * j + 0];
    }
    EXPECT_EQ(Table(dib), expected);
    std::vector<Rgb> drawn = Drawn(dib);
    ASSERT_EQ(drawn.size(), 45u);
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        int index = Sample(p, x, y, 0);
        ASSERT_EQ(StoredIndex(StoredRow(dib, y), x, c.bitCount), index);
        Rgb want{p.palette[3 * index], p.palette[3 * index + 1], p.palette[3 * index + 2]};
        ASSERT_TRUE(drawn[y * p.width + x] == want) << x << "," << y;
      }
    }
  }
}

TEST(PngReader, TruecolourWidthFiveHasStrideSixteenAndOneSlackRow) {
  PngPicture p = Pattern(2, 8, 5, 7);
  PackedDib dib = ReadBytes(EncodePng(p));
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib.header().bitCount, 24);
  EXPECT_EQ(dib.size(), 40u + 16u * (7 + 1));
  const std::uint8_t* slack = dib.pixels() + 16 * 7;
  EXPECT_EQ(std::vector<std::uint8_t>(slack, slack + 16), std::vector<std::uint8_t>(16, 0));
}

TEST(PngReader, FirstStoredRowIsTheLastRowOfThePicture) {
  PngPicture p = Pattern(0, 8, 4, 3);
  for (int x = 0; x < 4; ++x) {
    p.samples[0 * 4 + x] = 10;   // top
    p.samples[2 * 4 + x] = 200;  // bottom
  }
  PackedDib dib = ReadBytes(EncodePng(p));
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib.pixels()[0], 200);
  EXPECT_EQ(dib.pixels()[2 * 4], 10);
}

// Without a background chunk an alpha image must draw as its own colours, alpha dropped,
// like a 32-bit bitmap whose fourth byte is ignored.
TEST(PngReader, AlphaWithoutBackgroundDrawsItsOwnColours) {
  struct Case {
    int colorType;
    int depth;
  } cases[] = {{6, 8}, {6, 16}, {4, 8}, {4, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE("colour type " + std::to_string(c.colorType) + " depth " + std::to_string(c.depth));
    PngPicture p = Pattern(c.colorType, c.depth, 7, 3);
    PackedDib dib = ReadBytes(EncodePng(p));
    ASSERT_TRUE(dib);
    EXPECT_EQ(dib.header().bitCount, 32);
    EXPECT_EQ(dib.size(), 40u + 28u * 4);
    std::vector<Rgb> drawn = Drawn(dib);
    ASSERT_EQ(drawn.size(), 21u);
    const bool grey = c.colorType == 4;
    const int alphaChannel = grey ? 1 : 3;
    for (int y = 0; y < p.height; ++y) {
      const std::uint8_t* row = StoredRow(dib, y);
      for (int x = 0; x < p.width; ++x) {
        Rgb want = grey ? Rgb{Byte(p, x, y, 0), Byte(p, x, y, 0), Byte(p, x, y, 0)}
                        : Rgb{Byte(p, x, y, 0), Byte(p, x, y, 1), Byte(p, x, y, 2)};
        ASSERT_TRUE(drawn[y * p.width + x] == want) << x << "," << y;
        EXPECT_EQ(row[4 * x + 3], Byte(p, x, y, alphaChannel));  // alpha kept, last
      }
    }
  }
}

// With a background chunk libpng composites: opaque pixels keep their colour, transparent
// ones become the background. Grey with alpha then draws through the 8-bit grey ramp.
TEST(PngReader, AlphaWithBackgroundIsCompositedOverIt) {
  struct Case {
    int colorType;
    int depth;
    int bitCount;
  } cases[] = {{6, 8, 24}, {6, 16, 24}, {4, 8, 8}, {4, 16, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE("colour type " + std::to_string(c.colorType) + " depth " + std::to_string(c.depth));
    PngPicture p = Pattern(c.colorType, c.depth, 6, 4);
    const int channels = PngChannels(c.colorType);
    const std::uint16_t opaque = static_cast<std::uint16_t>((1u << c.depth) - 1);
    for (std::size_t i = 0; i < p.samples.size() / channels; ++i) {
      p.samples[i * channels + channels - 1] = (i % 3 == 0) ? 0 : opaque;
    }
    const std::uint16_t scale = c.depth == 16 ? 257 : 1;
    p.hasBackground = true;
    p.background[0] = static_cast<std::uint16_t>(30 * scale);
    p.background[1] = static_cast<std::uint16_t>(140 * scale);
    p.background[2] = static_cast<std::uint16_t>(220 * scale);
    PackedDib dib = ReadBytes(EncodePng(p));
    ASSERT_TRUE(dib);
    ASSERT_EQ(dib.header().bitCount, c.bitCount);
    if (c.bitCount == 8) {
      EXPECT_EQ(Table(dib), GreyTable(Ramp(256, 1), 256));
    }
    std::vector<Rgb> drawn = Drawn(dib);
    ASSERT_EQ(drawn.size(), 24u);
    const bool grey = c.colorType == 4;
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) {
        bool transparent = (y * p.width + x) % 3 == 0;
        Rgb want;
        if (transparent) {
          want = grey ? Rgb{30, 30, 30} : Rgb{30, 140, 220};
        } else {
          want = grey ? Rgb{Byte(p, x, y, 0), Byte(p, x, y, 0), Byte(p, x, y, 0)}
                      : Rgb{Byte(p, x, y, 0), Byte(p, x, y, 1), Byte(p, x, y, 2)};
        }
        ASSERT_TRUE(drawn[y * p.width + x] == want) << x << "," << y;
      }
    }
  }
}

TEST(PngReader, InterlacedImageEqualsItsPlainTwin) {
  struct Case {
    int colorType;
    int depth;
    bool background;
  } cases[] = {{0, 1, false}, {0, 2, false}, {0, 4, false}, {0, 8, true},  {0, 16, false},
               {2, 8, false}, {2, 16, true}, {3, 1, false}, {3, 2, false}, {3, 4, false},
               {3, 8, false}, {4, 8, false}, {4, 16, true}, {6, 8, false}, {6, 16, true}};
  for (const Case& c : cases) {
    for (int width : {1, 3, 9, 17}) {
      SCOPED_TRACE("colour type " + std::to_string(c.colorType) + " depth " + std::to_string(c.depth) +
                   " width " + std::to_string(width));
      PngPicture p = Pattern(c.colorType, c.depth, width, 11);
      p.hasBackground = c.background;
      PackedDib plain = ReadBytes(EncodePng(p));
      p.interlaced = true;
      PackedDib interlaced = ReadBytes(EncodePng(p));
      ASSERT_TRUE(plain);
      ASSERT_TRUE(interlaced);
      ASSERT_EQ(plain.size(), interlaced.size());
      EXPECT_EQ(std::vector<std::uint8_t>(plain.data(), plain.data() + plain.size()),
                std::vector<std::uint8_t>(interlaced.data(), interlaced.data() + interlaced.size()));
    }
  }
}

TEST(PngReader, HeaderOnlyReadHasTheFullLayoutWithZeroPixels) {
  const int kinds[][2] = {{0, 2}, {0, 8}, {2, 16}, {3, 4}, {4, 8}, {6, 8}};
  for (const auto& kind : kinds) {
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE("colour type " + std::to_string(kind[0]) + " depth " + std::to_string(kind[1]));
      PngPicture p = Pattern(kind[0], kind[1], 10, 6);
      p.interlaced = interlaced;
      std::vector<std::uint8_t> bytes = EncodePng(p);
      PackedDib full = ReadBytes(bytes);
      PackedDib header = ReadBytes(bytes, true);
      ASSERT_TRUE(full);
      ASSERT_TRUE(header);
      EXPECT_EQ(GetDibWidth(header), 10);
      EXPECT_EQ(GetDibHeight(header), 6);
      ASSERT_EQ(header.size(), full.size());
      std::size_t offset = static_cast<std::size_t>(header.pixels() - header.data());
      EXPECT_EQ(std::vector<std::uint8_t>(header.data(), header.data() + offset),
                std::vector<std::uint8_t>(full.data(), full.data() + offset));
      EXPECT_EQ(std::vector<std::uint8_t>(header.pixels(), header.data() + header.size()),
                std::vector<std::uint8_t>(header.size() - offset, 0));
    }
  }
}

TEST(PngProbe, AcceptsOnlyFilesStartingWithThePngSignature) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool png;
  } cases[] = {
      {"signature.png", {137, 80, 78, 71}, true},
      {"wrong_tail.png", {137, 80, 78, 71, 0, 0, 0, 0, 1, 2, 3}, true},
      {"short.png", {137, 80, 78}, false},
      {"empty.png", {}, false},
      {"bitmap.png", {'B', 'M', 0, 0, 0, 0}, false},
      {"text.png", {'P', 'N', 'G', ' '}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFile file(c.name);
    ASSERT_TRUE(WriteBytes(file.path(), c.bytes));
    EXPECT_EQ(IsPngFile(file.path()), c.png);
  }
  ScratchFile missing("missing.png");
  EXPECT_FALSE(IsPngFile(missing.path()));
  EXPECT_FALSE(ReadPng(missing.path()));
  EXPECT_FALSE(ReadPngHeader(missing.path()));
}

TEST(PngReader, SignatureStartWithoutAValidPngIsRefused) {
  std::vector<std::uint8_t> bytes = {137, 80, 78, 71, 'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};
  bytes.resize(4096, 0x55);
  ScratchFile file("fake.png");
  ASSERT_TRUE(WriteBytes(file.path(), bytes));
  EXPECT_TRUE(IsPngFile(file.path()));
  EXPECT_FALSE(ReadPng(file.path()));
  EXPECT_FALSE(ReadPngHeader(file.path()));
}

TEST(PngReader, PngNamedLikeABitmapIsReadByContent) {
  PngPicture p = Pattern(2, 8, 4, 2);
  ScratchFile file("shot0001.bmp");
  ASSERT_TRUE(WriteBytes(file.path(), EncodePng(p)));
  EXPECT_TRUE(IsPngFile(file.path()));
  PackedDib dib = ReadPng(file.path());
  ASSERT_TRUE(dib);
  EXPECT_EQ(GetDibWidth(dib), 4);
}

// A short read is a libpng error: no prefix of a file gives a picture, and the header
// reader needs at least everything up to the image data.
TEST(PngReader, EveryTruncatedFileIsRefused) {
  for (bool interlaced : {false, true}) {
    PngPicture p = Pattern(3, 4, 12, 9);
    p.interlaced = interlaced;
    p.hasBackground = true;
    std::vector<std::uint8_t> bytes = EncodePng(p);
    ASSERT_TRUE(ReadBytes(bytes));
    // The header reader stops once it has seen the type of the first IDAT chunk.
    std::size_t headerEnd = 8;
    while (headerEnd + 8 <= bytes.size() && std::string(bytes.begin() + headerEnd + 4, bytes.begin() + headerEnd + 8) != "IDAT") {
      headerEnd += 12 + (std::uint32_t{bytes[headerEnd]} << 24 | bytes[headerEnd + 1] << 16 | bytes[headerEnd + 2] << 8 | bytes[headerEnd + 3]);
    }
    headerEnd += 8;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
      std::vector<std::uint8_t> prefix(bytes.begin(), bytes.begin() + length);
      ASSERT_FALSE(ReadBytes(prefix)) << "length " << length;
      ASSERT_EQ(static_cast<bool>(ReadBytes(prefix, true)), length >= headerEnd) << "length " << length;
    }
  }
}

// Rewrites the IHDR's width and height and its CRC, so libpng accepts the chunk.
std::vector<std::uint8_t> WithSize(std::vector<std::uint8_t> bytes, std::uint32_t width, std::uint32_t height) {
  for (int i = 0; i < 4; ++i) {
    bytes[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
    bytes[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
  }
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, bytes.data() + 12, 17));
  for (int i = 0; i < 4; ++i) bytes[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  return bytes;
}

TEST(PngReader, SizeBeyondTheBlockLimitIsRefused) {
  struct Case {
    int colorType;
    int depth;
    std::uint32_t width;
    std::uint32_t height;
  } cases[] = {
      {6, 8, 20000, 20000},        // 1.6 GB of rows
      {2, 8, 0x7fffffff, 1},       // one row of 6 GB
      {0, 1, 1, 0x7fffffff},       // more rows than libpng may have
      {0, 1, 1, 268435455},        // 4-byte rows: just over 1 GiB with the slack row
      {4, 16, 16384, 16385},       // grey + alpha stored as 32 bits: 1 GiB + a row
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    std::vector<std::uint8_t> bytes = WithSize(EncodePng(Pattern(c.colorType, c.depth, 2, 2)), c.width, c.height);
    EXPECT_FALSE(ReadBytes(bytes, true));
    EXPECT_FALSE(ReadBytes(bytes));
  }
}

// Damage anywhere in the file either gives null or a complete block of the right size;
// under the sanitizers this also shows that every error path frees what it took.
TEST(PngReader, DamagedBytesGiveNullOrAWholeImage) {
  PngPicture p = Pattern(6, 8, 5, 4);
  p.hasBackground = true;
  std::vector<std::uint8_t> bytes = EncodePng(p);
  for (std::size_t i = 8; i < bytes.size(); ++i) {
    std::vector<std::uint8_t> damaged = bytes;
    damaged[i] ^= 0x5a;
    PackedDib dib = ReadBytes(damaged);
    if (!dib) continue;
    DibHeader h = dib.header();
    ASSERT_GT(h.height, 0);
    std::uint64_t rows = static_cast<std::uint64_t>(h.height) + 1;
    EXPECT_EQ(dib.size(), rows * DibStride(h.width, h.bitCount) + DibPixelOffset(h.bitCount)) << "byte " << i;
  }
}


// ---- Plain 8-bit RGB and RGBA frames: the reader's own decoding, judged by libpng ------

// The file in memory, served to libpng.
struct MemoryFile {
  const std::vector<std::uint8_t>* bytes;
  std::size_t at;
};

void MemoryRead(png_structp png, png_bytep out, std::size_t length) {
  MemoryFile* file = static_cast<MemoryFile*>(png_get_io_ptr(png));
  if (length > file->bytes->size() - file->at) png_error(png, "file ends");
  std::memcpy(out, file->bytes->data() + file->at, length);
  file->at += length;
}

// libpng with the settings the reader gives it (blue first, alpha last, Adler-32 not
// checked): the rows top first, or false when libpng refuses the file.
bool LibpngDecode(MemoryFile* file, std::uint8_t* out, std::size_t capacity) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, file, MemoryRead);
  png_set_chunk_malloc_max(png, 1 << 20);
#ifdef PNG_IGNORE_ADLER32
  png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
  png_read_info(png, info);
  png_set_bgr(png);
  png_read_update_info(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (rowBytes * height > capacity) png_error(png, "too large for the test");
  for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, out + y * rowBytes, nullptr);
  png_read_end(png, info);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// Room for the rows of every picture the comparisons below decode.
constexpr std::size_t kRowsCompared = 1 << 18;

std::vector<std::uint8_t> LibpngRows(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::uint8_t> rows(kRowsCompared);
  MemoryFile file{&bytes, 0};
  return LibpngDecode(&file, rows.data(), rows.size()) ? rows : std::vector<std::uint8_t>();
}

// The reader's picture in the same form, padding and slack checked to be zero; empty when
// it refused the file.
std::vector<std::uint8_t> ReaderRows(const std::vector<std::uint8_t>& bytes) {
  PackedDib dib = ReadBytes(bytes);
  std::vector<std::uint8_t> rows;
  if (!dib) return rows;
  const DibHeader h = dib.header();
  const std::size_t stride = DibStride(h.width, h.bitCount);
  const std::size_t used = static_cast<std::size_t>(h.width) * h.bitCount / 8;
  for (int y = 0; y < h.height; ++y) {
    const std::uint8_t* row = StoredRow(dib, y);
    rows.insert(rows.end(), row, row + used);
    for (std::size_t i = used; i < stride; ++i) EXPECT_EQ(row[i], 0) << "padding of row " << y;
  }
  const std::uint8_t* slack = dib.pixels() + h.height * stride;
  for (std::size_t i = 0; i < stride; ++i) EXPECT_EQ(slack[i], 0) << "slack row";
  rows.resize(kRowsCompared, 0);
  return rows;
}

TEST(PngReader, PlainTruecolourRowsUnderEveryFilterAreLibpngs) {
  const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH,
                         PNG_ALL_FILTERS};
  for (int colorType : {2, 6}) {
    for (int filter : filters) {
      for (int width : {1, 7, 50}) {
        SCOPED_TRACE("colour type " + std::to_string(colorType) + ", filters " + std::to_string(filter) +
                     ", width " + std::to_string(width));
        PngPicture p = Pattern(colorType, 8, width, 9);
        // Noise, so that every filter meets every kind of neighbour.
        std::minstd_rand noise(static_cast<unsigned>(filter * 100 + width));
        for (std::uint16_t& v : p.samples) v = static_cast<std::uint16_t>((v + noise() % 64) & 255);
        p.filters = filter;
        p.idatSize = 37;  // many IDAT chunks
        std::vector<std::uint8_t> bytes = EncodePng(p);
        std::vector<std::uint8_t> expected = LibpngRows(bytes);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(ReaderRows(bytes) == expected);
        EXPECT_TRUE(ReadsDirectly(bytes));
        const int channels = PngChannels(colorType);
        EXPECT_EQ(expected[0], Byte(p, 0, 0, 2));  // blue first
        EXPECT_EQ(expected[std::size_t{8} * width * channels + 1], Byte(p, 0, 8, 1));
      }
    }
  }
}

// PNG chunks, to build files that are unusual or damaged in one chosen way.
struct Chunk {
  std::string type;
  std::vector<std::uint8_t> data;
  bool badCrc = false;
};

std::vector<std::uint8_t> JoinChunks(const std::vector<Chunk>& chunks) {
  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  auto put32 = [&out](std::uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (const Chunk& c : chunks) {
    put32(static_cast<std::uint32_t>(c.data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), c.type.begin(), c.type.end());
    out.insert(out.end(), c.data.begin(), c.data.end());
    put32(static_cast<std::uint32_t>(crc32(0, &out[start], static_cast<uInt>(out.size() - start))) ^ (c.badCrc ? 1 : 0));
  }
  return out;
}

// IHDR of an 8-bit RGB image, then the zlib stream of `raw` in IDAT chunks of `piece`
// bytes (the last one shorter), then IEND.
std::vector<Chunk> RgbFile(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& raw,
                           std::size_t piece) {
  std::vector<std::uint8_t> ihdr(13, 0);
  for (int i = 0; i < 4; ++i) {
    ihdr[i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
    ihdr[4 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
  }
  ihdr[8] = 8;
  ihdr[9] = 2;
  std::vector<Chunk> chunks = {{"IHDR", ihdr}};
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> z(size);
  compress(z.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  z.resize(size);
  for (std::size_t at = 0; at < z.size(); at += piece) {
    chunks.push_back({"IDAT", std::vector<std::uint8_t>(z.begin() + at, z.begin() + std::min(z.size(), at + piece))});
  }
  chunks.push_back({"IEND", {}});
  return chunks;
}

// Every way a plain file can be unusual or damaged gives what libpng gives: the same
// picture, or a refusal.
TEST(PngReader, UnusualAndDamagedPlainFilesReadAsLibpngReadsThem) {
  constexpr std::uint32_t kWidth = 6, kHeight = 5;
  std::minstd_rand noise(7);
  auto noisyRows = [&noise](std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> rows;  // each row's filter type in turn, then noise
    for (std::uint32_t y = 0; y < height; ++y) {
      rows.push_back(static_cast<std::uint8_t>(y % 5));
      for (std::uint32_t i = 0; i < width * 3; ++i) rows.push_back(static_cast<std::uint8_t>(noise()));
    }
    return rows;
  };
  const std::vector<std::uint8_t> raw = noisyRows(kWidth, kHeight);
  auto file = [&](std::size_t piece) { return RgbFile(kWidth, kHeight, raw, piece); };
  // Puts a chunk at `at`, counted from the front, or from behind IEND when negative.
  auto insert = [](std::vector<Chunk> c, std::ptrdiff_t at, Chunk chunk) {
    c.insert(at >= 0 ? c.begin() + at : c.end() + at, chunk);
    return c;
  };
  auto rawWith = [&](std::size_t at, std::uint8_t value) {
    std::vector<std::uint8_t> r = raw;
    r[at] = value;
    return r;
  };
  std::vector<std::uint8_t> shortRaw(raw.begin(), raw.end() - 1);
  std::vector<std::uint8_t> longRaw = raw;
  longRaw.push_back(0);
  std::vector<Chunk> badIdatCrc = file(1000);
  badIdatCrc[1].badCrc = true;
  std::vector<Chunk> badTextCrc = insert(file(1000), 1, {"tEXt", {'a', 0, 'b'}, true});
  std::vector<Chunk> noEnd = file(1000);
  noEnd.pop_back();
  std::vector<Chunk> fullEnd = file(1000);
  fullEnd.back().data = {1, 2};
  std::vector<std::uint8_t> afterEnd = JoinChunks(file(1000));
  afterEnd.insert(afterEnd.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  std::vector<Chunk> surplus = file(1000);
  surplus[1].data.insert(surplus[1].data.end(), {3, 0});  // bytes after the end of the stream
  std::vector<Chunk> badAdler = file(1000);
  badAdler[1].data.back() ^= 0xff;
  std::vector<Chunk> lateIdat = insert(insert(file(1000), -1, {"tIME", {7, 230, 1, 1, 0, 0, 0}}), -1, {"IDAT", {}});
  // Image data of several read buffers in one chunk, then the same file cut off inside it.
  const std::vector<std::uint8_t> large = JoinChunks(RgbFile(256, 200, noisyRows(256, 200), 1 << 20));
  const std::vector<std::uint8_t> largeCut(large.begin(), large.begin() + large.size() / 2);
  // Read by the direct path, read by libpng after the direct path left it, read by either
  // (whole-stream libdeflate and strip-wise zlib see some streams differently), or refused.
  enum class Outcome { kDirect, kLibpng, kEither, kRefused };
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    Outcome outcome;
  } cases[] = {
      {"plain", JoinChunks(file(1000)), Outcome::kDirect},
      {"one-byte IDAT chunks", JoinChunks(file(1)), Outcome::kDirect},
      {"empty IDAT chunks around", JoinChunks(insert(insert(file(1000), 1, {"IDAT", {}}), -1, {"IDAT", {}})),
       Outcome::kEither},
      {"ancillary chunks before and after",
       JoinChunks(insert(insert(insert(file(7), 1, {"gAMA", {0, 0, 0xb1, 0x8f}}), 1, {"tRNS", {0, 1, 0, 2, 0, 3}}),
                         -1, {"prVt", {1, 2, 3}})),
       Outcome::kDirect},
      {"a suggested palette", JoinChunks(insert(file(1000), 1, {"PLTE", {1, 2, 3, 4, 5, 6}})), Outcome::kLibpng},
      {"an ancillary chunk with a bad CRC (libpng warns)", JoinChunks(badTextCrc), Outcome::kLibpng},
      {"wrong Adler-32 (not checked)", JoinChunks(badAdler), Outcome::kEither},
      {"an IEND with data (libpng warns)", JoinChunks(fullEnd), Outcome::kLibpng},
      {"bytes after IEND", afterEnd, Outcome::kDirect},
      {"bytes after the end of the stream (libpng warns)", JoinChunks(surplus), Outcome::kLibpng},
      {"an empty IDAT after other chunks (libpng warns)", JoinChunks(lateIdat), Outcome::kLibpng},
      {"one byte of image data too many (libpng warns)", JoinChunks(RgbFile(kWidth, kHeight, longRaw, 1000)),
       Outcome::kLibpng},
      {"an IDAT chunk longer than the read buffer", large, Outcome::kDirect},
      {"a file cut off inside a long IDAT chunk", largeCut, Outcome::kRefused},
      {"an IDAT with a bad CRC", JoinChunks(badIdatCrc), Outcome::kRefused},
      {"no IEND", JoinChunks(noEnd), Outcome::kRefused},
      {"one byte of image data short", JoinChunks(RgbFile(kWidth, kHeight, shortRaw, 1000)), Outcome::kRefused},
      {"filter type 5", JoinChunks(RgbFile(kWidth, kHeight, rawWith(19 * 2, 5), 1000)), Outcome::kRefused},
      {"an unknown critical chunk", JoinChunks(insert(file(1000), 1, {"CRIT", {}})), Outcome::kRefused},
      {"a chunk type with a digit", JoinChunks(insert(file(1000), 1, {"tEX1", {}})), Outcome::kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> expected = LibpngRows(c.bytes);
    EXPECT_EQ(!expected.empty(), c.outcome != Outcome::kRefused);
    EXPECT_TRUE(ReaderRows(c.bytes) == expected);
    if (c.outcome != Outcome::kEither) {
      EXPECT_EQ(ReadsDirectly(c.bytes), c.outcome == Outcome::kDirect);
    }
  }
  // Each byte of the compressed data damaged in turn, the CRC made to match again.
  std::vector<Chunk> chunks = file(1000);
  for (std::size_t i = 0; i < chunks[1].data.size(); ++i) {
    std::vector<Chunk> damaged = chunks;
    damaged[1].data[i] ^= 0x5a;
    std::vector<std::uint8_t> bytes = JoinChunks(damaged);
    EXPECT_TRUE(ReaderRows(bytes) == LibpngRows(bytes)) << "byte " << i;
  }
}

}  // namespace
}  // namespace zelvo
