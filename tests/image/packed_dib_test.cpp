#include "image/packed_dib.h"

#include <gtest/gtest.h>

#include <cstring>

#include <utility>

namespace zelvo {
namespace {

struct StrideCase {
  int width;
  int bits;
  int stride;
};

TEST(DibStride, RoundsRowBitsUpToWholeWords) {
  const StrideCase cases[] = {
      {33, 1, 8}, {17, 2, 8}, {3, 4, 4}, {5, 8, 8}, {5, 24, 16}, {1, 32, 4},
      {1, 24, 4}, {32, 1, 4}, {0, 24, 0}, {1920, 24, 5760}, {7, 16, 16},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DibStride(c.width, c.bits), c.stride) << c.width << " x " << c.bits;
    std::uint64_t checked = 0;
    ASSERT_TRUE(CheckedDibStride(c.width, c.bits, &checked));
    EXPECT_EQ(checked, static_cast<std::uint64_t>(c.stride));
  }
}

TEST(CheckedDibStride, RefusesWhatCannotBeAFrame) {
  struct Case {
    std::int64_t width;
    int bits;
  } cases[] = {{-1, 8}, {10, 0}, {10, 33}, {10, -8}, {INT64_MAX, 32},
               {std::int64_t{1} << 31, 32}, {(std::int64_t{1} << 33) + 1, 1}};
  for (const auto& c : cases) {
    std::uint64_t stride = 77;
    EXPECT_FALSE(CheckedDibStride(c.width, c.bits, &stride)) << c.width << " x " << c.bits;
  }
  std::uint64_t stride = 0;
  EXPECT_TRUE(CheckedDibStride(std::int64_t{1} << 28, 32, &stride));  // exactly 1 GiB
  EXPECT_EQ(stride, kMaxDibBlock);
}

TEST(DibLayout, TableLengthFollowsBitCountAlone) {
  const std::pair<int, int> offsets[] = {{1, 48}, {2, 56}, {4, 104}, {8, 1064}, {16, 40}, {24, 40}, {32, 40}};
  for (const auto& [bits, offset] : offsets) {
    EXPECT_EQ(DibPixelOffset(bits), offset) << bits;
    EXPECT_EQ(DibColorCount(bits), bits <= 8 ? 1 << bits : 0) << bits;
  }
}

TEST(DibLayout, FourBitThreeByTwoEndsAt112) {
  PackedDib dib = PackedDib::Allocate(DibPixelOffset(4) + 2 * DibStride(3, 4));
  ASSERT_TRUE(dib);
  DibHeader h;
  InitDibHeader(&h);
  h.width = 3;
  h.height = 2;
  h.bitCount = 4;
  dib.set_header(h);
  EXPECT_EQ(dib.pixels() - dib.data(), 104);
  EXPECT_EQ(dib.size(), 112u);
  EXPECT_EQ(dib.colors() - dib.data(), 40);
}

TEST(InitDibHeader, SetsFixedFieldsAndLeavesSizeFields) {
  DibHeader h;
  h.width = 9;
  h.height = -4;
  h.bitCount = 8;
  h.compression = 2;
  h.sizeImage = 5;
  h.xPelsPerMeter = 1;
  h.yPelsPerMeter = 2;
  h.clrUsed = 3;
  h.clrImportant = 4;
  InitDibHeader(&h);
  EXPECT_EQ(h.size, 40u);
  EXPECT_EQ(h.planes, 1);
  EXPECT_EQ(h.compression, 0u);
  EXPECT_EQ(h.sizeImage, 0u);
  EXPECT_EQ(h.xPelsPerMeter, 0);
  EXPECT_EQ(h.yPelsPerMeter, 0);
  EXPECT_EQ(h.clrUsed, 0u);
  EXPECT_EQ(h.clrImportant, 0u);
  EXPECT_EQ(h.width, 9);
  EXPECT_EQ(h.height, -4);
  EXPECT_EQ(h.bitCount, 8);
}

TEST(DibHeaderBytes, StoredLittleEndianAndLoadedBack) {
  DibHeader h;
  h.size = 40;
  h.width = 0x01020304;
  h.height = -2;
  h.planes = 1;
  h.bitCount = 24;
  h.xPelsPerMeter = 3790;
  std::uint8_t bytes[40] = {};
  StoreDibHeader(bytes, h);
  EXPECT_EQ(bytes[4], 0x04);
  EXPECT_EQ(bytes[7], 0x01);
  EXPECT_EQ(bytes[8], 0xFE);
  EXPECT_EQ(bytes[11], 0xFF);
  EXPECT_EQ(bytes[14], 24);
  DibHeader back = LoadDibHeader(bytes);
  EXPECT_EQ(back.width, h.width);
  EXPECT_EQ(back.height, -2);
  EXPECT_EQ(back.bitCount, 24);
  EXPECT_EQ(back.xPelsPerMeter, 3790);
}

TEST(PackedDibAllocate, ZeroFilledWithinLimits) {
  PackedDib dib = PackedDib::Allocate(5000);
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib.size(), 5000u);
  for (std::size_t i = 0; i < dib.size(); ++i) ASSERT_EQ(dib.data()[i], 0) << i;
  EXPECT_FALSE(PackedDib::Allocate(0));
  EXPECT_FALSE(PackedDib::Allocate(kMaxDibBlock + 1));
  EXPECT_FALSE(PackedDib::Allocate(UINT64_MAX));
}

TEST(PackedDibOwner, MovesOwnershipAndReportsSizeOfEmptyAsMinusOne) {
  PackedDib empty;
  EXPECT_EQ(GetDibWidth(empty), -1);
  EXPECT_EQ(GetDibHeight(empty), -1);
  PackedDib dib = PackedDib::Allocate(40);
  DibHeader h;
  InitDibHeader(&h);
  h.width = 12;
  h.height = -7;
  h.bitCount = 24;
  dib.set_header(h);
  PackedDib moved = std::move(dib);
  EXPECT_FALSE(dib);  // NOLINT: a moved-from owner is empty
  EXPECT_EQ(GetDibWidth(moved), 12);
  EXPECT_EQ(GetDibHeight(moved), -7);
}

}  // namespace
}  // namespace zelvo

namespace zelvo {
namespace {

// Blocks of freed frames are given to the next frames; a zero-filled block must still come
// zero-filled whatever the frame before left in it, and every size must be honoured.
TEST(PackedDibBlocks, ReusedBlocksComeZeroedAndOfTheAskedSize) {
  const std::uint64_t sizes[] = {std::uint64_t{2} << 20, (std::uint64_t{2} << 20) + 7, std::uint64_t{3} << 20,
                                 std::uint64_t{2} << 20};
  for (std::uint64_t size : sizes) {
    PackedDib dirty = PackedDib::Allocate(size);
    ASSERT_TRUE(dirty);
    std::memset(dirty.data(), 0xAB, dirty.size());
    dirty = PackedDib();  // back to the kept blocks
    PackedDib next = PackedDib::Allocate(size);
    ASSERT_TRUE(next);
    EXPECT_EQ(next.size(), size);
    std::size_t nonzero = 0;
    for (std::size_t i = 0; i < next.size(); ++i) nonzero += next.data()[i] != 0;
    EXPECT_EQ(nonzero, 0u) << size;
  }
  ReleaseCachedBlocks();
}

}  // namespace
}  // namespace zelvo
