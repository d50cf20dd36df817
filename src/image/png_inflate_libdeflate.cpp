#include "image/png_inflate.h"

#include <libdeflate.h>

#include <new>
#include <vector>

#include "image/png_direct.h"

namespace zelvo::png {
namespace {

// libdeflate inflates a whole stream about two and a half times as fast as zlib, which is
// most of what a noisy frame costs; it wants the whole stream and the whole output at once,
// so each reader thread keeps two buffers (the compressed stream and the filtered rows)
// for all the frames it decodes.
struct WholeStreamBuffers {
  std::vector<std::uint8_t> compressed;
  std::vector<std::uint8_t> rows;
  libdeflate_decompressor* decompressor = nullptr;
  WholeStreamBuffers() = default;
  WholeStreamBuffers(const WholeStreamBuffers&) = delete;
  WholeStreamBuffers& operator=(const WholeStreamBuffers&) = delete;
  ~WholeStreamBuffers() { libdeflate_free_decompressor(decompressor); }
};

// The data of consecutive IDAT chunks, each chunk's CRC checked, into the first *gathered
// bytes of `out`; *after is the header of the chunk that follows them. False on anything
// libpng should judge instead. `out` only ever grows: what it held for an earlier frame is
// overwritten, not cleared first.
bool GatherIdat(PngSource* source, std::uint32_t firstLength, std::uint64_t chunkLimit, std::uint64_t totalLimit,
                std::vector<std::uint8_t>* out, std::size_t* gathered, ChunkHeader* after) {
  std::size_t at = 0;
  std::uint32_t length = firstLength;
  for (;;) {
    if (length > chunkLimit || std::uint64_t{at} + length > totalLimit) return false;
    try {
      if (out->size() < at + length) out->resize(at + length);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (!ReadSource(source, out->data() + at, length)) return false;
    const std::uint32_t crc = libdeflate_crc32(libdeflate_crc32(0, "IDAT", 4), out->data() + at, length);
    at += length;
    if (!CrcMatches(source, crc) || !ReadChunkHeader(source, after)) return false;
    if (!after->Is("IDAT")) {
      *gathered = at;
      return true;
    }
    length = after->length;
  }
}

}  // namespace

bool InflateRows(PngSource* source, std::uint32_t idatLength, const PngLayout& layout, PackedDib* dib,
                 ChunkHeader* after, bool* haveAfter) {
  static thread_local WholeStreamBuffers buffers;
  const std::size_t size = FilteredRowSize(layout) * layout.height;
  // Deflate never grows data by more than a few bytes in 64 KiB: anything longer is left to
  // libpng, which reads it piece by piece.
  std::size_t compressed = 0;
  if (!GatherIdat(source, idatLength, IdatChunkLimit(layout), size + size / 8 + 4096, &buffers.compressed, &compressed,
                  after)) {
    return false;
  }
  *haveAfter = true;
  if (buffers.decompressor == nullptr) buffers.decompressor = libdeflate_alloc_decompressor();
  if (buffers.decompressor == nullptr) return false;
  try {
    if (buffers.rows.size() < size) buffers.rows.resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The stream must fill the picture exactly and end with the data: what it says besides
  // (surplus rows or bytes, a bad checksum) is for libpng to judge.
  std::size_t used = 0, made = 0;
  return libdeflate_zlib_decompress_ex(buffers.decompressor, buffers.compressed.data(), compressed,
                                       buffers.rows.data(), size, &used, &made) == LIBDEFLATE_SUCCESS &&
         used == compressed && made == size && UnfilterRows(buffers.rows.data(), layout.height, 0, layout, dib);
}

const char* InflaterLibrary() { return "libdeflate"; }
const char* InflaterVersion() { return LIBDEFLATE_VERSION_STRING; }

}  // namespace zelvo::png
