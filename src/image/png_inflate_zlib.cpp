#include "image/png_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>

#include "image/png_direct.h"

namespace zelvo::png {
namespace {

// Output written per inflate call, in whole rows: large enough that zlib spends its time
// in its fast loop rather than in the careful one it needs near the end of each output
// buffer, small enough to stay in the cache while the rows are unfiltered.
constexpr std::size_t kStripBytes = 128 * 1024;

// The zlib stream spread over consecutive IDAT chunks, each chunk's CRC checked.
class IdatStream {
 public:
  // `limit`: the longest IDAT chunk taken; libpng refuses, or in newer versions only warns
  // about, chunks longer than the image data could need.
  IdatStream(PngSource* source, std::uint32_t firstLength, std::uint64_t limit)
      : source_(source), limit_(limit), left_(firstLength) {
    crc_ = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4));
    // The window size comes from the stream's own header, as libpng takes it.
    ready_ = firstLength <= limit && inflateInit2(&zstream_, 0) == Z_OK;
#if defined(PNG_IGNORE_ADLER32) && ZLIB_VERNUM >= 0x1290
    // Skipped exactly when libpng skips it (see ConfigureReader in png_libpng.cpp).
    if (ready_) inflateValidate(&zstream_, 0);
#endif
  }
  ~IdatStream() {
    if (ready_) inflateEnd(&zstream_);
  }
  IdatStream(const IdatStream&) = delete;
  IdatStream& operator=(const IdatStream&) = delete;

  // Inflates exactly `size` bytes; false when the stream ends early or anything is wrong.
  bool Inflate(std::uint8_t* out, std::size_t size) {
    if (!ready_ || ended_) return false;
    zstream_.next_out = out;
    zstream_.avail_out = static_cast<uInt>(size);
    while (zstream_.avail_out > 0) {
      if (zstream_.avail_in == 0 && !Feed()) return false;
      const int result = inflate(&zstream_, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        ended_ = true;
        return zstream_.avail_out == 0;
      }
      if (result != Z_OK) return false;
    }
    return true;
  }

  // True when the stream ends after the picture with no data to spare, in the last IDAT
  // chunk, and that chunk's CRC holds.
  bool Finish() {
    while (!ended_) {
      std::uint8_t scratch[64];
      zstream_.next_out = scratch;
      zstream_.avail_out = sizeof scratch;
      if (zstream_.avail_in == 0 && !Feed()) return false;
      const int result = inflate(&zstream_, Z_NO_FLUSH);
      if (zstream_.avail_out != sizeof scratch) return false;  // more rows than the picture
      if (result == Z_STREAM_END) ended_ = true;
      else if (result != Z_OK) return false;
    }
    return zstream_.avail_in == 0 && left_ == 0 && CrcMatches(source_, crc_);
  }

 private:
  // Hands zlib the next piece of IDAT data, moving on to the next chunk (which must be an
  // IDAT) when this one is used up.
  bool Feed() {
    while (left_ == 0) {
      ChunkHeader next;
      if (!CrcMatches(source_, crc_) || !ReadChunkHeader(source_, &next) || !next.Is("IDAT") ||
          next.length > limit_) {
        return false;
      }
      left_ = next.length;
      crc_ = next.TypeCrc();
    }
    if (!FillSource(source_)) return false;
    const std::size_t take = std::min<std::size_t>(left_, source_->filled - source_->position);
    zstream_.next_in = source_->buffer + source_->position;
    zstream_.avail_in = static_cast<uInt>(take);
    crc_ = static_cast<std::uint32_t>(crc32(crc_, zstream_.next_in, zstream_.avail_in));
    source_->position += take;
    left_ -= static_cast<std::uint32_t>(take);
    return true;
  }

  PngSource* source_;
  std::uint64_t limit_;
  z_stream zstream_{};
  std::uint32_t left_;  // bytes of the current chunk not yet handed to zlib
  std::uint32_t crc_;
  bool ready_ = false;
  bool ended_ = false;
};

}  // namespace

// The rows of a plain truecolour file, from the first IDAT chunk on, into the block, strip
// by strip as zlib inflates them.
bool InflateRows(PngSource* source, std::uint32_t idatLength, const PngLayout& layout, PackedDib* dib,
                 ChunkHeader* /*after*/, bool* haveAfter) {
  *haveAfter = false;
  const std::size_t rowSize = FilteredRowSize(layout);
  const std::size_t stripRows = std::max<std::size_t>(1, std::min<std::size_t>(layout.height, kStripBytes / rowSize));
  std::unique_ptr<std::uint8_t[]> strip(new (std::nothrow) std::uint8_t[stripRows * rowSize]);
  if (!strip) return false;
  IdatStream stream(source, idatLength, IdatChunkLimit(layout));
  for (std::uint32_t y = 0; y < layout.height;) {
    const std::size_t rows = std::min<std::size_t>(stripRows, layout.height - y);
    if (!stream.Inflate(strip.get(), rows * rowSize) || !UnfilterRows(strip.get(), rows, y, layout, dib)) return false;
    y += static_cast<std::uint32_t>(rows);
  }
  return stream.Finish();
}

const char* InflaterLibrary() { return "zlib"; }
const char* InflaterVersion() { return zlibVersion(); }

}  // namespace zelvo::png
