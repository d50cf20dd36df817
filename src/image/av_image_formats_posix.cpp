#include "image/av_image_formats_posix.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>
#include <iterator>

#include "image/av_image_reader_posix.h"
#include "image/jpeg_reader_posix.h"

namespace zelvo {
namespace {

bool Starts(const std::uint8_t* head, std::size_t size, const char* bytes, std::size_t count, std::size_t at = 0) {
  return size >= at + count && std::memcmp(head + at, bytes, count) == 0;
}

bool IsJpeg(const std::uint8_t* h, std::size_t n) { return Starts(h, n, "\xFF\xD8\xFF", 3); }
bool IsTiff(const std::uint8_t* h, std::size_t n) {
  return Starts(h, n, "II*\0", 4) || Starts(h, n, "MM\0*", 4);
}
bool IsWebp(const std::uint8_t* h, std::size_t n) { return Starts(h, n, "RIFF", 4) && Starts(h, n, "WEBP", 4, 8); }
bool IsGif(const std::uint8_t* h, std::size_t n) { return Starts(h, n, "GIF87a", 6) || Starts(h, n, "GIF89a", 6); }
bool IsDpx(const std::uint8_t* h, std::size_t n) { return Starts(h, n, "SDPX", 4) || Starts(h, n, "XPDS", 4); }
bool IsExr(const std::uint8_t* h, std::size_t n) { return Starts(h, n, "\x76\x2F\x31\x01", 4); }
bool IsQoi(const std::uint8_t* h, std::size_t n) { return Starts(h, n, "qoif", 4); }
// The magic number 474, then run-length or verbatim storage of 1 or 2 bytes a sample.
bool IsSgi(const std::uint8_t* h, std::size_t n) {
  return Starts(h, n, "\x01\xDA", 2) && n >= 4 && h[2] <= 1 && (h[3] == 1 || h[3] == 2);
}
// A bare codestream or the JP2 file format's signature box.
bool IsJpeg2000(const std::uint8_t* h, std::size_t n) {
  return Starts(h, n, "\xFF\x4F\xFF\x51", 4) || Starts(h, n, "\0\0\0\x0CjP  \r\n\x87\n", 12);
}
// "P", the kind's digit, then white space: the Netpbm family, one kind per decoder.
bool IsNetpbm(const std::uint8_t* h, std::size_t n, char plain, char raw) {
  return n >= 3 && h[0] == 'P' && (h[1] == plain || h[1] == raw) && std::strchr(" \t\r\n", h[2]) != nullptr &&
         h[2] != '\0';
}
bool IsPbm(const std::uint8_t* h, std::size_t n) { return IsNetpbm(h, n, '1', '4'); }
bool IsPgm(const std::uint8_t* h, std::size_t n) { return IsNetpbm(h, n, '2', '5'); }
bool IsPpm(const std::uint8_t* h, std::size_t n) { return IsNetpbm(h, n, '3', '6'); }
bool IsPam(const std::uint8_t* h, std::size_t n) { return IsNetpbm(h, n, '7', '7'); }

FrameRead Read(const ImageFormat& format, const FrameSource& frame) { return ReadWithLibav(format.decoder, frame); }

}  // namespace

std::vector<ImageFormat> LibavImageFormats() {
  const ImageFormat all[] = {
      {"JPEG", "jpg jpeg jpe jfif", nullptr, IsJpeg, ReadJpeg, AV_CODEC_ID_MJPEG},
      {"TIFF", "tif tiff", nullptr, IsTiff, Read, AV_CODEC_ID_TIFF},
      {"WebP", "webp", nullptr, IsWebp, Read, AV_CODEC_ID_WEBP},
      {"GIF", "gif", nullptr, IsGif, Read, AV_CODEC_ID_GIF},
      {"DPX", "dpx", nullptr, IsDpx, Read, AV_CODEC_ID_DPX},
      {"OpenEXR", "exr", nullptr, IsExr, Read, AV_CODEC_ID_EXR},
      {"PPM", "ppm pnm", nullptr, IsPpm, Read, AV_CODEC_ID_PPM},
      {"PGM", "pgm", nullptr, IsPgm, Read, AV_CODEC_ID_PGM},
      {"PBM", "pbm", nullptr, IsPbm, Read, AV_CODEC_ID_PBM},
      {"PAM", "pam", nullptr, IsPam, Read, AV_CODEC_ID_PAM},
      {"QOI", "qoi", nullptr, IsQoi, Read, AV_CODEC_ID_QOI},
      {"SGI", "sgi rgb rgba bw", nullptr, IsSgi, Read, AV_CODEC_ID_SGI},
      {"JPEG 2000", "jp2 j2k j2c jpc", nullptr, IsJpeg2000, Read, AV_CODEC_ID_JPEG2000},
      {"TGA", "tga tpic icb vda vst", nullptr, nullptr, Read, AV_CODEC_ID_TARGA},
  };
  return std::vector<ImageFormat>(std::begin(all), std::end(all));
}

}  // namespace zelvo
