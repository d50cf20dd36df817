// The PngSuite images that Debian's libpng source package carries, and the files that once
// crashed libpng. Each suite image must read with the layout its colour type calls for and
// draw as libpng's own straightforward RGB decoding of the same file does.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/frame_canvas.h"
#include "image/packed_dib.h"
#include "image/png_reader.h"

namespace zelvo {
namespace {

namespace fs = std::filesystem;

const fs::path kLibpngContrib = fs::path(ZELVO_SOURCE_DIR) / ".cache" / "libpng" / "contrib";

std::vector<fs::path> PngFilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.is_regular_file() && entry.path().extension() == ".png") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct FileFacts {
  int bitDepth = 0;
  int colorType = 0;
  bool background = false;
};

// The IHDR fields and whether a bKGD chunk precedes the image data, from the bytes.
FileFacts Facts(const std::vector<std::uint8_t>& bytes) {
  FileFacts facts;
  if (bytes.size() < 33) return facts;
  facts.bitDepth = bytes[24];
  facts.colorType = bytes[25];
  std::size_t at = 8;
  while (at + 8 <= bytes.size()) {
    std::string type(bytes.begin() + at + 4, bytes.begin() + at + 8);
    if (type == "IDAT") break;
    if (type == "bKGD") facts.background = true;
    at += 12 + (std::size_t{bytes[at]} << 24 | std::size_t{bytes[at + 1]} << 16 | std::size_t{bytes[at + 2]} << 8 |
                bytes[at + 3]);
  }
  return facts;
}

// Bits per pixel of the stored image for a file of this kind.
int ExpectedBitCount(const FileFacts& f) {
  const int depth = f.bitDepth == 16 ? 8 : f.bitDepth;
  switch (f.colorType) {
    case 0:
    case 3:
      return depth == 2 ? 4 : depth;  // Windows draws no 2-bit bitmaps
    case 2:
      return 24;
    case 4:
      return f.background ? 8 : 32;
    case 6:
      return f.background ? 24 : 32;
  }
  return -1;
}

struct Reference {
  std::uint32_t width;
  std::uint32_t height;
  std::uint8_t* rgb;  // width * height * 3 bytes, top row first
  std::size_t capacity;
};

// libpng's plain decoding to 8-bit RGB: everything expanded, composited over bKGD when the
// file has one, alpha dropped otherwise.
bool DecodeReference(std::FILE* file, Reference* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_color_16p background = nullptr;
  if (png_get_bKGD(png, info, &background) != 0) {
    png_set_background(png, background, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
  } else {
    png_set_strip_alpha(png);
  }
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != out->width * 3u || std::size_t{out->width} * out->height * 3 > out->capacity) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  for (int pass = 0; pass < passes; ++pass) {
    for (std::uint32_t y = 0; y < out->height; ++y) png_read_row(png, out->rgb + std::size_t{y} * out->width * 3, nullptr);
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

std::vector<std::uint8_t> ReferenceRgb(const fs::path& path) {
  std::vector<std::uint8_t> rgb(1 << 20);
  std::FILE* file = std::fopen(path.string().c_str(), "rb");
  if (file == nullptr) return {};
  Reference reference{0, 0, rgb.data(), rgb.size()};
  bool ok = DecodeReference(file, &reference);
  std::fclose(file);
  if (!ok) return {};
  rgb.resize(std::size_t{reference.width} * reference.height * 3);
  return rgb;
}

// What the frame canvas shows for the image, as RGB, top row first.
std::vector<std::uint8_t> DrawnRgb(const PackedDib& dib) {
  FrameCanvas canvas;
  std::vector<std::uint8_t> out;
  if (!canvas.Create(GetDibWidth(dib), GetDibHeight(dib)) || DrawPackedDib(canvas, dib) != 0) return out;
  for (int y = 0; y < canvas.height(); ++y) {
    const std::uint8_t* row = canvas.data() + (canvas.height() - 1 - y) * canvas.stride();
    for (int x = 0; x < canvas.width(); ++x) {
      out.push_back(row[3 * x + 2]);
      out.push_back(row[3 * x + 1]);
      out.push_back(row[3 * x]);
    }
  }
  return out;
}

std::vector<fs::path> SuiteImages() {
  const fs::path suite = kLibpngContrib / "pngsuite";
  std::vector<fs::path> files = PngFilesIn(suite);
  std::vector<fs::path> interlaced = PngFilesIn(suite / "interlaced");
  files.insert(files.end(), interlaced.begin(), interlaced.end());
  return files;
}

TEST(PngSuite, EveryImageReadsWithItsLayoutAndDrawsAsLibpngDecodesIt) {
  std::vector<fs::path> files = SuiteImages();
  if (files.empty()) GTEST_SKIP() << "PngSuite not found under " << kLibpngContrib.string();
  int basic = 0;
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    std::string name = path.filename().string();
    if (name.rfind("basn", 0) == 0 || name.rfind("ibasn", 0) == 0) ++basic;
    std::vector<std::uint8_t> bytes = FileBytes(path);
    FileFacts facts = Facts(bytes);
    std::string p = path.string();
    ASSERT_TRUE(IsPngFile(p.c_str()));
    PackedDib dib = ReadPng(p.c_str());
    PackedDib header = ReadPngHeader(p.c_str());
    ASSERT_TRUE(dib);
    ASSERT_TRUE(header);
    DibHeader h = dib.header();
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.planes, 1);
    EXPECT_EQ(h.compression, 0u);
    EXPECT_EQ(h.bitCount, ExpectedBitCount(facts));
    EXPECT_EQ(dib.size(), (std::uint64_t(h.height) + 1) * DibStride(h.width, h.bitCount) + DibPixelOffset(h.bitCount));
    EXPECT_EQ(header.size(), dib.size());
    EXPECT_EQ(GetDibWidth(header), h.width);
    EXPECT_EQ(GetDibHeight(header), h.height);
    std::vector<std::uint8_t> reference = ReferenceRgb(path);
    ASSERT_FALSE(reference.empty());
    EXPECT_TRUE(DrawnRgb(dib) == reference) << "drawn picture differs from libpng's RGB decoding";
  }
  EXPECT_GE(basic, 15 + 15);
}

// The suite's interlaced files were encoded separately: palettes may be ordered differently
// and some lack the plain file's bKGD. Where the background agrees, the pictures must be
// the same pixel for pixel, with the same layout.
TEST(PngSuite, InterlacedImagesEqualTheirPlainTwins) {
  std::vector<fs::path> files = SuiteImages();
  if (files.empty()) GTEST_SKIP() << "PngSuite not found under " << kLibpngContrib.string();
  int pairs = 0;
  for (const fs::path& path : files) {
    std::string name = path.filename().string();
    if (name[0] != 'i') continue;
    fs::path twin = kLibpngContrib / "pngsuite" / name.substr(1);
    if (!fs::exists(twin)) continue;
    if (Facts(FileBytes(path)).background != Facts(FileBytes(twin)).background) continue;
    SCOPED_TRACE(path.string());
    PackedDib interlaced = ReadPng(path.string().c_str());
    PackedDib plain = ReadPng(twin.string().c_str());
    ASSERT_TRUE(interlaced);
    ASSERT_TRUE(plain);
    ASSERT_EQ(interlaced.size(), plain.size());
    EXPECT_EQ(interlaced.header().bitCount, plain.header().bitCount);
    std::vector<std::uint8_t> drawn = DrawnRgb(interlaced);
    EXPECT_FALSE(drawn.empty());
    EXPECT_TRUE(drawn == DrawnRgb(plain));
    ++pairs;
  }
  EXPECT_GE(pairs, 15);
}

// Files that crashed libpng or carry absurd chunks: refused or read, never a crash, a read
// outside the block or a leak (the sanitizer build checks the last two).
TEST(PngSuite, CrasherFilesAreRefusedOrReadSafely) {
  std::vector<fs::path> files = PngFilesIn(kLibpngContrib / "testpngs" / "crashers");
  if (files.empty()) GTEST_SKIP() << "libpng's crasher files not found under " << kLibpngContrib.string();
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.string());
    std::string p = path.string();
    EXPECT_TRUE(IsPngFile(p.c_str()));
    for (bool headerOnly : {true, false}) {
      PackedDib dib = headerOnly ? ReadPngHeader(p.c_str()) : ReadPng(p.c_str());
      if (!dib) continue;
      DibHeader h = dib.header();
      ASSERT_GT(h.width, 0);
      ASSERT_GT(h.height, 0);
      EXPECT_EQ(dib.size(), (std::uint64_t(h.height) + 1) * DibStride(h.width, h.bitCount) + DibPixelOffset(h.bitCount));
    }
  }
}

}  // namespace
}  // namespace zelvo
