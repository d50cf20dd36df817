// Feeds arbitrary bytes to the BMP decoder: the header-only reader and the full reader,
// which covers the plain, bit-field and both run-length paths.
#include <cstddef>
#include <cstdint>

#include "image/bmp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelvo::PackedDib header = zelvo::ReadBmpHeaderFromMemory(data, size);
  // Images whose block would pass 1 MiB are left to the unit tests: zero-filling up to
  // 1 GiB per input would slow the search a thousandfold without reaching new code.
  if (header) {
    zelvo::DibHeader h = header.header();
    std::uint64_t stride = 0;
    std::uint64_t rows = h.height < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(h.height))
                                      : static_cast<std::uint64_t>(h.height);
    if (!zelvo::CheckedDibStride(h.width, 32, &stride) || stride * rows > (std::uint64_t{1} << 20)) return 0;
  }
  zelvo::PackedDib dib = zelvo::ReadBmpFromMemory(data, size);
  if (dib) {
    // A full image must hold every row its header promises, uncompressed and bottom-up,
    // since the canvas draws from the header alone.
    zelvo::DibHeader h = dib.header();
    std::uint64_t stride = 0;
    if (h.compression != 0 || h.height < 0 || !zelvo::CheckedDibStride(h.width, h.bitCount, &stride) ||
        zelvo::DibPixelOffset(h.bitCount) + stride * static_cast<std::uint64_t>(h.height) > dib.size()) {
      __builtin_trap();
    }
    // Reading every byte lets the sanitizers see uninitialised or freed memory.
    volatile std::uint8_t sink = 0;
    for (std::size_t i = 0; i < dib.size(); ++i) sink = sink ^ dib.data()[i];
  }
  (void)header;
  return 0;
}
