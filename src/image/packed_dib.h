#pragma once
// The one in-memory image form: a packed device-independent bitmap. One contiguous block
// holds a 40-byte BITMAPINFOHEADER, a colour table of DibColorCount(bits) four-byte
// entries (blue, green, red, reserved) and bottom-up pixel rows of DibStride bytes each,
// optionally followed by reader slack. Every reader returns a PackedDib; its owner frees
// it by letting it go out of scope (the type is move-only, so it is freed exactly once).
#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelvo {

constexpr int kDibHeaderSize = 40;
// Blocks above this size are refused: no frame of a video tool needs more, and a hostile
// header must not make a reader ask for gigabytes.
constexpr std::uint64_t kMaxDibBlock = std::uint64_t{1} << 30;

struct DibHeader {
  std::uint32_t size = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t planes = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = 0;
  std::uint32_t sizeImage = 0;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t clrUsed = 0;
  std::uint32_t clrImportant = 0;
};

// Little-endian field access; headers are never copied as raw structs.
DibHeader LoadDibHeader(const std::uint8_t* bytes);
void StoreDibHeader(std::uint8_t* bytes, const DibHeader& header);
std::uint16_t LoadU16(const std::uint8_t* p);
std::uint32_t LoadU32(const std::uint8_t* p);
void StoreU16(std::uint8_t* p, std::uint16_t v);
void StoreU32(std::uint8_t* p, std::uint32_t v);

// Sets size 40, planes 1 and compression, sizeImage, resolutions and colour counts to 0;
// width, height and bit count are left to the caller.
void InitDibHeader(DibHeader* header);
// The 40-byte header of an uncompressed bottom-up picture of width x height at `bits`,
// with sizeImage `imageBytes`: what a stream format or a packed DIB starts with.
DibHeader MakeDibHeader(std::int32_t width, std::int32_t height, int bits, std::uint32_t imageBytes);

// Bytes of one pixel row: ((width * bits + 31) / 32) * 4 in 32-bit arithmetic.
int DibStride(int width, int bits);
// The same in checked 64-bit arithmetic for sizes a file controls: false when width is
// negative, bits is 0 or above 32, or the result does not fit kMaxDibBlock.
bool CheckedDibStride(std::int64_t width, int bits, std::uint64_t* stride);
// The pixel area of a DIB of width x |height| pixels at `bits` per pixel.
struct DibGeometry {
  std::uint64_t stride = 0;  // bytes of one row, padded to whole 32-bit words
  std::uint64_t rows = 0;    // |height|
  std::uint64_t bytes = 0;   // stride * rows
};
// The one place where sizes a file or a caller controls become a stride and a block size:
// false when width is negative, bits is not 1 to 32, |height| exceeds INT32_MAX (a top-down
// height of -2^31 has no bottom-up counterpart), or a row or the whole area would pass
// kMaxDibBlock.
bool CheckedDibGeometry(std::int64_t width, std::int64_t height, int bits, DibGeometry* out);

// 2^bits for bits <= 8, else 0.
int DibColorCount(int bits);
// Offset of the pixel rows from the start of the block: 40 + 4 * DibColorCount(bits).
int DibPixelOffset(int bits);

// Hands a packed DIB's block back: large ones are kept for the next frame (see
// ReleaseCachedBlocks below).
struct DibBlockRelease {
  std::size_t capacity = 0;
  void operator()(std::uint8_t* block) const;
};

class PackedDib {
 public:
  PackedDib() = default;
  PackedDib(PackedDib&&) noexcept = default;
  PackedDib& operator=(PackedDib&&) noexcept = default;
  PackedDib(const PackedDib&) = delete;
  PackedDib& operator=(const PackedDib&) = delete;

  // A block of `bytes` bytes, zero-filled; empty when the size is 0, above kMaxDibBlock or
  // cannot be allocated. Its pages cost memory only once written: a reader may leave the
  // parts a file lacks untouched.
  static PackedDib Allocate(std::uint64_t bytes);
  // The same without the zero fill, for a reader that writes every byte of the block
  // itself (padding and slack included), so that no byte is left undefined.
  static PackedDib AllocateForOverwrite(std::uint64_t bytes);

  explicit operator bool() const { return block_ != nullptr; }
  std::uint8_t* data() { return block_.get(); }
  const std::uint8_t* data() const { return block_.get(); }
  std::size_t size() const { return size_; }

  DibHeader header() const;  // decoded header; all zero for an empty block
  void set_header(const DibHeader& header);
  // Colour table and pixel rows as laid out by the header's bit count.
  std::uint8_t* colors() { return block_.get() + kDibHeaderSize; }
  const std::uint8_t* colors() const { return block_.get() + kDibHeaderSize; }
  std::uint8_t* pixels();
  const std::uint8_t* pixels() const;

 private:
  static PackedDib Make(std::uint64_t bytes, bool zeroed);

  std::unique_ptr<std::uint8_t[], DibBlockRelease> block_;
  std::size_t size_ = 0;
};

// The frames of a job are blocks of the same few megabytes again and again, made on one
// thread and freed on another. A handful of freed blocks of a megabyte or more (64 MiB
// together at most) are kept and given to the next frame of about the same size that its
// reader overwrites whole, so a frame costs no fresh pages of memory (page faults) and no
// heap grows with the length of a job. This frees the kept ones; a job calls it when it
// ends.
void ReleaseCachedBlocks();

// A packed DIB checked for drawing, with where its parts are.
struct DibView {
  DibHeader header;
  DibGeometry geometry;  // of the stored rows
  bool topDown = false;  // a negative height: the first stored row is the picture's top
  const std::uint8_t* colors = nullptr;
  const std::uint8_t* pixels = nullptr;
};
enum class DibDrawable {
  kYes,         // *view describes rows that all lie inside the block
  kNothing,     // a valid header of width or height 0: nothing to cover
  kNo,          // a block too short for its header, a compressed image, an unknown bit
                // count, a negative width, or rows beyond the end of the block
};
// The check both canvases make before drawing, so that neither reads outside the block
// whatever its header claims.
DibDrawable ViewDrawableDib(const PackedDib& image, DibView* view);

// Width and height from the header; -1 for an empty block.
int GetDibWidth(const PackedDib& dib);
int GetDibHeight(const PackedDib& dib);

}  // namespace zelvo
