// JPEG files made into MJPEG frames without their pictures: only 4:2:0 YCbCr files of the
// offered size, read without a warning, and the frame carries libavcodec's tables and
// shows the file's picture.
#include "image/jpeg_transcode_posix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace zelvo {
namespace {

enum class Kind { k420, k444, kGrey };

// A noisy 3-colour picture of width x height as a JPEG at libjpeg's quality 90.
std::vector<std::uint8_t> MakeJpeg(int width, int height, Kind kind) {
  jpeg_compress_struct c;
  jpeg_error_mgr error;
  c.err = jpeg_std_error(&error);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = kind == Kind::kGrey ? 1 : 3;
  c.in_color_space = kind == Kind::kGrey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  if (kind == Kind::k444) c.comp_info[0].h_samp_factor = c.comp_info[0].v_samp_factor = 1;
  jpeg_start_compress(&c, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * c.input_components);
  unsigned seed = 7;
  for (int y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < row.size(); ++x) {
      seed = seed * 1103515245u + 12345u;
      row[x] = static_cast<std::uint8_t>((x * 255 / row.size() + y * 3 + (seed >> 16) % 16) & 0xff);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<std::uint8_t> jpeg(out, out + size);
  std::free(out);
  return jpeg;
}

// The picture as RGB, and the first quantisation table, as libjpeg reads them.
struct Decoded {
  std::vector<std::uint8_t> rgb;
  std::vector<int> table;
};
Decoded Decode(const std::uint8_t* data, std::size_t size) {
  jpeg_decompress_struct d;
  jpeg_error_mgr error;
  d.err = jpeg_std_error(&error);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
  jpeg_read_header(&d, TRUE);
  Decoded out;
  for (int k = 0; k < 64; ++k) out.table.push_back(d.quant_tbl_ptrs[0]->quantval[k]);
  d.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d);
  out.rgb.resize(static_cast<std::size_t>(d.output_width) * d.output_height * 3);
  while (d.output_scanline < d.output_height) {
    JSAMPROW rows[1] = {out.rgb.data() + static_cast<std::size_t>(d.output_scanline) * d.output_width * 3};
    jpeg_read_scanlines(&d, rows, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return out;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * a.size() / sum);
}

TEST(JpegTranscode, OnlyOffered420FilesOfTheOfferedSizeBecomeFrames) {
  struct Case {
    const char* name;
    Kind kind;
    int qscale, offerWidth, offerHeight;
    bool cut;  // the file ends half way
    bool made;
  } cases[] = {
      {"4:2:0", Kind::k420, 3, 70, 45, false, true},
      {"4:2:0, quantiser 31", Kind::k420, 31, 70, 45, false, true},
      {"4:2:0, another size", Kind::k420, 3, 72, 45, false, false},
      {"no offer", Kind::k420, 0, 70, 45, false, false},
      {"an offer of no size", Kind::k420, 3, 0, 0, false, false},
      {"4:4:4", Kind::k444, 3, 70, 45, false, false},
      {"grey", Kind::kGrey, 3, 70, 45, false, false},
      {"cut short", Kind::k420, 3, 70, 45, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> jpeg = MakeJpeg(70, 45, c.kind);
    if (c.cut) jpeg.resize(jpeg.size() / 2);
    OfferMjpegFrames(c.qscale, c.offerWidth, c.offerHeight);
    const PackedDib dib = TranscodeToMjpeg(jpeg.data(), jpeg.size());
    OfferMjpegFrames(0);
    std::size_t size = 0;
    const std::uint8_t* frame = MjpegFrameOf(dib, &size);
    ASSERT_EQ(frame != nullptr, c.made);
    if (!frame) continue;
    EXPECT_EQ(dib.header().width, 70);
    EXPECT_EQ(dib.header().height, 45);
    const Decoded made = Decode(frame, size);
    std::uint16_t expected[64];
    MjpegQuantTable(c.qscale, expected);
    EXPECT_EQ(made.table, std::vector<int>(expected, expected + 64));
    // The picture is the file's, as a frame its encoder makes at that quantiser shows it.
    EXPECT_GT(Psnr(made.rgb, Decode(jpeg.data(), jpeg.size()).rgb), c.qscale == 3 ? 38.0 : 22.0);
  }
}

TEST(JpegTranscode, OtherBlocksHoldNoFrame) {
  EXPECT_EQ(MjpegFrameOf(PackedDib(), nullptr), nullptr);
  PackedDib plain = PackedDib::Allocate(kDibHeaderSize + 12);
  plain.set_header(MakeDibHeader(2, 2, 24, 12));
  EXPECT_EQ(MjpegFrameOf(plain, nullptr), nullptr);
}

}  // namespace
}  // namespace zelvo
