#include "image/image_formats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/frame_reader.h"
#include "platform/path_buffer.h"
#include "support/bmp_writer.h"
#include "support/png_writer.h"
#include "support/temp_dir.h"

namespace zelvo {
namespace {

// A format without a signature, known by its extension only, as TGA is.
FrameRead NothingRead(const ImageFormat&, const FrameSource&) { return FrameRead::Failed(FrameFailure::kDamaged); }
const ImageFormat kByName = {"XNAME", "xnm xnm2", nullptr, nullptr, NothingRead, 0};

std::string Bytes(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(ImageFormats, ContentDecidesAndTheExtensionOnlyWhereNoSignatureMatches) {
  AddFrameFormats({kByName});
  test::TempDir dir;
  ASSERT_TRUE(dir.ok());
  test::BmpDescription bmp;
  bmp.width = 4;
  bmp.payload.assign(16, 9);
  test::PngPicture picture;
  picture.width = 2;
  picture.height = 2;
  picture.colorType = 2;
  picture.samples.assign(12, 200);
  const std::string png = Bytes(test::EncodePng(picture));
  struct Case {
    const char* name;
    std::string content;
    const char* format;  // null: no format
  } cases[] = {
      {"a.bmp", Bytes(test::BuildBmp(bmp)), "BMP"},
      {"b.png", png, "PNG"},
      {"c.bmp", png, "PNG"},                           // a PNG named .bmp is a PNG
      {"d.xnm", Bytes(test::BuildBmp(bmp)), "BMP"},    // the signature outranks the name
      {"e.XNM2", "no signature at all", "XNAME"},      // the extension in any case
      {"f.png", "no signature at all", nullptr},
      {"g.bmp", std::string("BM") + std::string(53, '\0'), "BMP"},  // 55 bytes make a BMP
      {"h.bmp", std::string("BM") + std::string(52, '\0'), nullptr},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(dir.AddFile(c.name, c.content)) << c.name;
    const ImageFormat* format = ProbeFrame(dir.Join(c.name).c_str()).format;
    EXPECT_STREQ(format != nullptr ? format->name : nullptr, c.format) << c.name;
  }
  EXPECT_EQ(ProbeFrame(dir.Join("absent.bmp").c_str()).format, nullptr);
  // A frame named without an extension is the file with ".bmp", whatever it holds.
  ASSERT_TRUE(dir.AddFile("shot7.bmp", png));
  const ImageFormat* bare = ProbeFrame(dir.Join("shot7").c_str()).format;
  ASSERT_NE(bare, nullptr);
  EXPECT_STREQ(bare->name, "PNG");
  EXPECT_EQ(GetDibWidth(ReadFrame(dir.Join("shot7").c_str()).image), 2);
}

TEST(ImageFormats, NamesAndTheWindowsTypeListComeFromTheTable) {
  EXPECT_EQ(FrameFormatNames().rfind("BMP, PNG", 0), 0u) << FrameFormatNames();
  // zelvo.exe's Open dialog offers exactly its two formats, RLE files as BMP files.
  EXPECT_EQ(FrameDialogFilter(), "BMP (*.BMP)\n*.bmp\nRLE (*.RLE)\n*.rle\nPNG (*.PNG)\n*.png");
}

TEST(ImageFormats, NamesWithoutAnExtensionTakeTheDefaultOne) {
  const std::string longest(LongestPath() - 4, 'x');  // room for ".bmp": the system's limit
  struct Case {
    std::string path;
    std::string named;
  } cases[] = {
      {"shots/img001", "shots/img001.bmp"},
      {"shots/img001.png", "shots/img001.png"},
      {"shot.s/img001", "shot.s/img001.bmp"},
      {"img001.", "img001."},  // a trailing dot is an extension
      {longest, longest + ".bmp"},
      {longest + "x", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WithDefaultExtension(test::NativePath(c.path).c_str()), test::NativePath(c.named)) << c.path;
  }
}

}  // namespace
}  // namespace zelvo
