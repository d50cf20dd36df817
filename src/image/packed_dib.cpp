#include "image/packed_dib.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace zelvo {

std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void StoreU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void StoreU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

DibHeader LoadDibHeader(const std::uint8_t* bytes) {
  DibHeader h;
  h.size = LoadU32(bytes);
  h.width = static_cast<std::int32_t>(LoadU32(bytes + 4));
  h.height = static_cast<std::int32_t>(LoadU32(bytes + 8));
  h.planes = LoadU16(bytes + 12);
  h.bitCount = LoadU16(bytes + 14);
  h.compression = LoadU32(bytes + 16);
  h.sizeImage = LoadU32(bytes + 20);
  h.xPelsPerMeter = static_cast<std::int32_t>(LoadU32(bytes + 24));
  h.yPelsPerMeter = static_cast<std::int32_t>(LoadU32(bytes + 28));
  h.clrUsed = LoadU32(bytes + 32);
  h.clrImportant = LoadU32(bytes + 36);
  return h;
}

void StoreDibHeader(std::uint8_t* bytes, const DibHeader& h) {
  StoreU32(bytes, h.size);
  StoreU32(bytes + 4, static_cast<std::uint32_t>(h.width));
  StoreU32(bytes + 8, static_cast<std::uint32_t>(h.height));
  StoreU16(bytes + 12, h.planes);
  StoreU16(bytes + 14, h.bitCount);
  StoreU32(bytes + 16, h.compression);
  StoreU32(bytes + 20, h.sizeImage);
  StoreU32(bytes + 24, static_cast<std::uint32_t>(h.xPelsPerMeter));
  StoreU32(bytes + 28, static_cast<std::uint32_t>(h.yPelsPerMeter));
  StoreU32(bytes + 32, h.clrUsed);
  StoreU32(bytes + 36, h.clrImportant);
}

void InitDibHeader(DibHeader* header) {
  header->size = kDibHeaderSize;
  header->planes = 1;
  header->compression = 0;
  header->sizeImage = 0;
  header->xPelsPerMeter = 0;
  header->yPelsPerMeter = 0;
  header->clrUsed = 0;
  header->clrImportant = 0;
}

DibHeader MakeDibHeader(std::int32_t width, std::int32_t height, int bits, std::uint32_t imageBytes) {
  DibHeader header;
  InitDibHeader(&header);
  header.width = width;
  header.height = height;
  header.bitCount = static_cast<std::uint16_t>(bits);
  header.sizeImage = imageBytes;
  return header;
}

int DibStride(int width, int bits) {
  // Wrapping 32-bit arithmetic on purpose: callers with file-controlled sizes use
  // CheckedDibStride; this one serves sizes the program already trusts.
  std::uint32_t rowBits = static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(bits) + 31u;
  return static_cast<int>((rowBits / 32u) * 4u);
}

bool CheckedDibStride(std::int64_t width, int bits, std::uint64_t* stride) {
  if (width < 0 || bits <= 0 || bits > 32) return false;
  // width < 2^63 and bits <= 32 could still overflow, so bound width first.
  if (static_cast<std::uint64_t>(width) > kMaxDibBlock * 8) return false;
  std::uint64_t bytes = ((static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32) * 4;
  if (bytes > kMaxDibBlock) return false;
  *stride = bytes;
  return true;
}

bool CheckedDibGeometry(std::int64_t width, std::int64_t height, int bits, DibGeometry* out) {
  DibGeometry g;
  if (!CheckedDibStride(width, bits, &g.stride)) return false;
  if (height < -static_cast<std::int64_t>(INT32_MAX) || height > INT32_MAX) return false;
  g.rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
  if (g.rows != 0 && g.stride > kMaxDibBlock / g.rows) return false;
  g.bytes = g.stride * g.rows;
  *out = g;
  return true;
}

int DibColorCount(int bits) { return bits >= 0 && bits <= 8 ? 1 << bits : 0; }

int DibPixelOffset(int bits) { return kDibHeaderSize + 4 * DibColorCount(bits); }

PackedDib PackedDib::Allocate(std::uint64_t bytes) { return Make(bytes, true); }

PackedDib PackedDib::AllocateForOverwrite(std::uint64_t bytes) { return Make(bytes, false); }

namespace {

constexpr std::size_t kCachedBlockMinimum = std::size_t{1} << 20;
constexpr std::size_t kCachedBlockCount = 8;
// What the kept blocks may hold together: enough for a few frames of any common size, and
// no reserve of gigabytes after a job whose frames came in odd sizes.
constexpr std::size_t kCachedBytes = std::size_t{64} << 20;

struct CachedBlock {
  std::uint8_t* block;
  std::size_t capacity;
};

// Never destroyed: blocks may come back from threads still running at exit.
struct BlockCache {
  std::mutex mutex;
  std::vector<CachedBlock> blocks;
  std::size_t bytes = 0;
};
BlockCache& Cache() {
  static BlockCache* cache = new BlockCache;
  return *cache;
}

// A kept block of at least `bytes` and at most a quarter more, or null.
std::uint8_t* TakeCachedBlock(std::size_t bytes, std::size_t* capacity) {
  if (bytes < kCachedBlockMinimum) return nullptr;
  BlockCache& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  for (std::size_t i = 0; i < cache.blocks.size(); ++i) {
    const CachedBlock found = cache.blocks[i];
    if (found.capacity >= bytes && found.capacity - bytes <= bytes / 4) {
      cache.blocks.erase(cache.blocks.begin() + static_cast<std::ptrdiff_t>(i));
      cache.bytes -= found.capacity;
      *capacity = found.capacity;
      return found.block;
    }
  }
  return nullptr;
}

}  // namespace

void DibBlockRelease::operator()(std::uint8_t* block) const {
  if (block == nullptr) return;
  if (capacity >= kCachedBlockMinimum && capacity <= kCachedBytes) {
    BlockCache& cache = Cache();
    std::vector<std::uint8_t*> evicted;
    {
      std::lock_guard<std::mutex> lock(cache.mutex);
      try {
        evicted.reserve(kCachedBlockCount);
        cache.blocks.reserve(kCachedBlockCount);
        while (!cache.blocks.empty() &&
               (cache.blocks.size() >= kCachedBlockCount || cache.bytes + capacity > kCachedBytes)) {
          evicted.push_back(cache.blocks.front().block);  // the oldest go
          cache.bytes -= cache.blocks.front().capacity;
          cache.blocks.erase(cache.blocks.begin());
        }
        cache.blocks.push_back({block, capacity});
        cache.bytes += capacity;
        block = nullptr;
      } catch (const std::bad_alloc&) {
      }
    }
    for (std::uint8_t* old : evicted) std::free(old);
  }
  std::free(block);
}

void ReleaseCachedBlocks() {
  BlockCache& cache = Cache();
  std::vector<CachedBlock> blocks;
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    blocks.swap(cache.blocks);
    cache.bytes = 0;
  }
  for (const CachedBlock& b : blocks) std::free(b.block);
}

PackedDib PackedDib::Make(std::uint64_t bytes, bool zeroed) {
  PackedDib dib;
  if (bytes == 0 || bytes > kMaxDibBlock || bytes > SIZE_MAX) return dib;
  const std::size_t size = static_cast<std::size_t>(bytes);
  std::size_t capacity = size;
  // A zeroed block comes straight from the system, whose fresh pages are zero until
  // written: a picture whose file holds little of it costs little, whatever its size. A
  // block its reader overwrites whole may be one kept from an earlier frame.
  std::uint8_t* block = zeroed ? nullptr : TakeCachedBlock(size, &capacity);
  if (block == nullptr) {
    block = static_cast<std::uint8_t*>(zeroed ? std::calloc(size, 1) : std::malloc(size));
    if (block == nullptr) return dib;
  }
  dib.block_ = std::unique_ptr<std::uint8_t[], DibBlockRelease>(block, DibBlockRelease{capacity});
  dib.size_ = size;
  return dib;
}

DibHeader PackedDib::header() const {
  if (!block_ || size_ < static_cast<std::size_t>(kDibHeaderSize)) return DibHeader{};
  return LoadDibHeader(block_.get());
}

void PackedDib::set_header(const DibHeader& header) {
  if (!block_ || size_ < static_cast<std::size_t>(kDibHeaderSize)) return;
  StoreDibHeader(block_.get(), header);
}

std::uint8_t* PackedDib::pixels() {
  if (!block_) return nullptr;
  return block_.get() + DibPixelOffset(LoadU16(block_.get() + 14));
}

const std::uint8_t* PackedDib::pixels() const {
  if (!block_) return nullptr;
  return block_.get() + DibPixelOffset(LoadU16(block_.get() + 14));
}

DibDrawable ViewDrawableDib(const PackedDib& image, DibView* view) {
  if (!image || image.size() < static_cast<std::size_t>(kDibHeaderSize)) return DibDrawable::kNo;
  DibView v;
  v.header = LoadDibHeader(image.data());
  const int bits = v.header.bitCount;
  if (v.header.compression != 0) return DibDrawable::kNo;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    return DibDrawable::kNo;
  }
  if (v.header.width < 0) return DibDrawable::kNo;
  if (v.header.width == 0 || v.header.height == 0) return DibDrawable::kNothing;
  if (!CheckedDibGeometry(v.header.width, v.header.height, bits, &v.geometry)) return DibDrawable::kNo;
  const std::uint64_t offset = static_cast<std::uint64_t>(DibPixelOffset(bits));
  // A header that promises more rows than the block holds is refused before any pixel is
  // touched, instead of being read past the block's end.
  if (offset > image.size() || v.geometry.bytes > image.size() - offset) return DibDrawable::kNo;
  v.topDown = v.header.height < 0;
  v.colors = image.data() + kDibHeaderSize;
  v.pixels = image.data() + offset;
  *view = v;
  return DibDrawable::kYes;
}

int GetDibWidth(const PackedDib& dib) { return dib ? dib.header().width : -1; }

int GetDibHeight(const PackedDib& dib) { return dib ? dib.header().height : -1; }

}  // namespace zelvo
