// libFuzzer target for JPEG files made into MJPEG frames without decoding them: the first
// byte picks the quantiser, the next four the offered size, the rest is the file. A frame that comes out must be a JPEG
// that libjpeg reads whole, of the size its header says, without a warning.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "image/jpeg_transcode_posix.h"

namespace {

void Jump(j_common_ptr) { std::abort(); }
void Silent(j_common_ptr) {}

void CheckFrame(const zelvo::PackedDib& dib) {
  std::size_t size = 0;
  const std::uint8_t* frame = zelvo::MjpegFrameOf(dib, &size);
  if (!dib) return;
  if (frame == nullptr) std::abort();
  jpeg_decompress_struct d;
  jpeg_error_mgr error;
  d.err = jpeg_std_error(&error);
  error.error_exit = Jump;
  error.output_message = Silent;
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, frame, static_cast<unsigned long>(size));
  jpeg_read_header(&d, TRUE);
  if (static_cast<std::int32_t>(d.image_width) != dib.header().width ||
      static_cast<std::int32_t>(d.image_height) != dib.header().height) {
    std::abort();
  }
  jpeg_read_coefficients(&d);
  jpeg_finish_decompress(&d);
  if (error.num_warnings != 0) std::abort();
  jpeg_destroy_decompress(&d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  zelvo::OfferMjpegFrames(2 + data[0] % 30, data[1] << 8 | data[2], data[3] << 8 | data[4]);
  CheckFrame(zelvo::TranscodeToMjpeg(data + 5, size - 5));
  return 0;
}
