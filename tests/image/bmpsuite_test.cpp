// The public-domain BMP suite: good files must read and look like their reference
// renderings, questionable ones must read or be refused, bad ones must never be read
// outside their bytes.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "image/bmp_reader.h"
#include "support/bmp_writer.h"

namespace zelvo {
namespace {

namespace fs = std::filesystem;

fs::path SuiteDir() { return fs::path(ZELVO_SOURCE_DIR) / ".." / "shared" / "corpus" / "bmpsuite"; }

std::vector<fs::path> FilesIn(const char* sub) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(SuiteDir() / sub, ec)) {
    if (e.is_regular_file() && e.path().extension() == ".bmp") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

struct Reference {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

bool DecodePng(const fs::path& path, Reference* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.string().c_str())) return false;
  // libpng's simple reader takes 16-bit samples as linear light and would turn them
  // into sRGB on the way to 8 bits; read them as they are and scale instead.
  const bool sixteen = (image.format & PNG_FORMAT_FLAG_LINEAR) != 0;
  image.format = sixteen ? PNG_FORMAT_LINEAR_RGB : PNG_FORMAT_RGB;
  out->width = static_cast<int>(image.width);
  out->height = static_cast<int>(image.height);
  std::vector<std::uint8_t> buffer(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  if (!sixteen) {
    out->rgb = std::move(buffer);
    return true;
  }
  out->rgb.resize(buffer.size() / 2);
  for (std::size_t i = 0; i < out->rgb.size(); ++i) {
    unsigned v = buffer[2 * i] | (buffer[2 * i + 1] << 8);  // host order: little-endian here
    out->rgb[i] = static_cast<std::uint8_t>((v * 255u + 32767u) / 65535u);
  }
  return true;
}

// Largest difference of any sample; 16-bit sources widen 5 or 6 bits to 8, which
// renderers do in slightly different ways.
int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  int worst = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

// Files of the suite that show the same picture as a differently named reference.
const std::map<std::string, std::string> kSamePictureAs = {
    {"pal1wb", "pal1"},        {"pal4rle", "pal4"},     {"pal8-0", "pal8"},       {"pal8os2", "pal8"},
    {"pal8rle", "pal8"},       {"pal8topdown", "pal8"}, {"pal8v4", "pal8"},       {"pal8v5", "pal8"},
    {"rgb16-565pal", "rgb16-565"}, {"rgb16bfdef", "rgb16"}, {"rgb24pal", "rgb24"}, {"rgb32", "rgb24"},
    {"rgb32bf", "rgb24"},      {"rgb32bfdef", "rgb24"},
    // Questionable files that this reader reads and whose picture is settled.
    {"pal8os2v2", "pal8"},     {"pal8os2v2-16", "pal8"}, {"pal8os2-sz", "pal8"},  {"pal8os2v2-sz", "pal8"},
    {"pal8oversizepal", "pal8"}, {"pal8os2sp", "pal8"},  {"rgb24largepal", "rgb24"}, {"rgb32-xbgr", "rgb24"},
};

bool ReferenceFor(const fs::path& bmp, Reference* ref) {
  std::string stem = bmp.stem().string();
  auto alias = kSamePictureAs.find(stem);
  if (alias != kSamePictureAs.end()) stem = alias->second;
  fs::path png = SuiteDir() / "reference" / (stem + ".png");
  return fs::exists(png) && DecodePng(png, ref);
}

void ExpectMatchesReference(const fs::path& file, const PackedDib& dib, int tolerance, int* compared) {
  Reference ref;
  if (!ReferenceFor(file, &ref)) return;
  ++*compared;
  EXPECT_EQ(GetDibWidth(dib), ref.width) << file;
  EXPECT_EQ(GetDibHeight(dib), ref.height) << file;
  std::vector<std::uint8_t> rgb = test::RenderRgb(dib);
  ASSERT_EQ(rgb.size(), ref.rgb.size()) << file;
  EXPECT_LE(MaxDifference(rgb, ref.rgb), tolerance) << file;
}

#define SKIP_WITHOUT_SUITE()                                                        \
  if (!fs::is_directory(SuiteDir() / "g")) {                                        \
    GTEST_SKIP() << "BMP suite not found at " << SuiteDir() << "; corpus tests skipped"; \
  }

TEST(BmpSuite, EveryGoodFileReadsAndMatchesItsReference) {
  SKIP_WITHOUT_SUITE();
  int compared = 0;
  std::vector<fs::path> files = FilesIn("g");
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    PackedDib header = ReadBmpHeader(file.string().c_str());
    PackedDib dib = ReadBmp(file.string().c_str());
    ASSERT_TRUE(header) << file;
    ASSERT_TRUE(dib) << file;
    EXPECT_EQ(GetDibWidth(header), GetDibWidth(dib)) << file;
    EXPECT_EQ(std::abs(GetDibHeight(header)), GetDibHeight(dib)) << file;
    ASSERT_FALSE(test::RenderRgb(dib).empty()) << file;
    ExpectMatchesReference(file, dib, header.header().bitCount == 16 ? 8 : 0, &compared);
  }
  EXPECT_GE(compared, 20) << "too few good files have a reference picture";
}

TEST(BmpSuite, QuestionableFilesReadOrAreRefused) {
  SKIP_WITHOUT_SUITE();
  // Compressions this reader does not decode and bit counts no frame can hold.
  const std::set<std::string> refused = {"pal1huffmsb", "rgb24jpeg", "rgb24png", "rgb24rle24", "rgba64"};
  int compared = 0;
  for (const auto& file : FilesIn("q")) {
    const std::string stem = file.stem().string();
    PackedDib dib = ReadBmp(file.string().c_str());
    PackedDib header = ReadBmpHeader(file.string().c_str());
    if (refused.count(stem) != 0) {
      EXPECT_FALSE(dib) << file;
      EXPECT_FALSE(header) << file;
      continue;
    }
    if (!dib) continue;
    EXPECT_TRUE(header) << file;
    ASSERT_FALSE(test::RenderRgb(dib).empty()) << file;
    if (kSamePictureAs.count(stem) != 0 || stem == "rgb16-231" || stem == "rgb16-3103" || stem == "rgb32-7187") {
      ExpectMatchesReference(file, dib, 8, &compared);
    }
  }
  EXPECT_GE(compared, 5);
}

TEST(BmpSuite, BadFilesAreRefusedOrReadWithinTheirBytes) {
  SKIP_WITHOUT_SUITE();
  const std::set<std::string> refused = {"badbitcount", "badheadersize", "badwidth", "reallybig", "rletopdown"};
  for (const auto& file : FilesIn("b")) {
    PackedDib dib = ReadBmp(file.string().c_str());
    PackedDib header = ReadBmpHeader(file.string().c_str());
    if (refused.count(file.stem().string()) != 0) {
      EXPECT_FALSE(dib) << file;
    }
    if (dib) {
      EXPECT_FALSE(test::RenderRgb(dib).empty()) << file;
    }
  }
}

}  // namespace
}  // namespace zelvo
