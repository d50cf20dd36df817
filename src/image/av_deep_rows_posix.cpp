#include "image/av_deep_rows_posix.h"

#include "image/av_calls_posix.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstring>
#include <utility>

namespace zelvo {
namespace {

// Red, green and blue of an RGB format's descriptor go to bytes 2, 1 and 0 of a BGR pixel;
// a grey format's one component to all three.
constexpr int kBgrIndex[3] = {2, 1, 0};

bool IsDeep(const AVPixFmtDescriptor* d) {
  if (d == nullptr || (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                                   AV_PIX_FMT_FLAG_BAYER))) {
    return false;
  }
  const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  if (!rgb && d->nb_components > 2) return false;  // YUV: libswscale's own matter
  const int used = rgb ? 3 : 1;
  if (d->nb_components < used) return false;
  for (int c = 0; c < used; ++c) {
    const AVComponentDescriptor& k = d->comp[c];
    const bool fits = (d->flags & AV_PIX_FMT_FLAG_FLOAT)
                          ? k.depth == 32 && k.shift == 0 && k.step % 4 == 0 && k.offset % 4 == 0
                          : k.depth > 8 && k.depth + k.shift <= 16 && k.step % 2 == 0 && k.offset % 2 == 0;
    if (!fits) return false;
  }
  return true;
}

// The nearest 8-bit level of every value of `depth` bits, kept by each thread for the
// next row of the same depth.
const std::uint8_t* LevelsOf(int depth) {
  static thread_local std::array<std::uint8_t, 65536> levels;
  static thread_local int made = 0;
  if (made != depth) {
    const std::uint32_t top = (1u << depth) - 1;
    for (std::uint32_t v = 0; v <= top; ++v) levels[v] = static_cast<std::uint8_t>((v * 510 + top) / (2 * top));
    made = depth;
  }
  return levels.data();
}

// One component of a row into `out`, one byte a pixel. The loops read contiguous samples
// and write contiguous bytes, so that the compiler can vectorise them.
template <bool kBigEndian>
void IntegerLevels(const std::uint8_t* from, int step, int shift, int depth, int width, std::uint8_t* out) {
  const std::uint8_t* levels = LevelsOf(depth);
  const std::uint32_t mask = (1u << depth) - 1;
  for (int x = 0; x < width; ++x, from += step) {
    const std::uint32_t word = kBigEndian ? (std::uint32_t{from[0]} << 8 | from[1]) : (std::uint32_t{from[1]} << 8 | from[0]);
    out[x] = levels[(word >> shift) & mask];
  }
}

// 0 to 1 to the nearest of 256 levels; above 1, infinity and NaN count as 1. Branch-free,
// so that a row of floats converts several at a time.
inline std::uint8_t FloatLevel(float value) {
  float scaled = value * 255.0f + 0.5f;
  scaled = scaled < 255.0f ? scaled : 255.0f;
  // Clamped below before the conversion: minus infinity has no int.
  scaled = scaled > 0.0f ? scaled : 0.0f;
  return static_cast<std::uint8_t>(static_cast<int>(scaled));
}

template <bool kBigEndian>
void FloatLevels(const std::uint8_t* from, int step, int width, std::uint8_t* out) {
  if (!kBigEndian && step == 4 && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) {
    // A plane of native floats, as OpenEXR decodes to: most of an EXR frame's time after
    // the decoder's, so sixteen at a time where the processor can, with the same result
    // as FloatLevel (MINPS gives 255 for NaN; the truncation is cvttss2si's).
    int x = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f), top = _mm_set1_ps(255.0f);
    const __m128 zero = _mm_setzero_ps();
    auto levels = [&](const std::uint8_t* at) {
      __m128 v = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(reinterpret_cast<const float*>(at)), scale), half);
      return _mm_cvttps_epi32(_mm_max_ps(_mm_min_ps(v, top), zero));
    };
    for (; x + 16 <= width; x += 16, from += 64) {
      const __m128i low = _mm_packs_epi32(levels(from), levels(from + 16));
      const __m128i high = _mm_packs_epi32(levels(from + 32), levels(from + 48));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(low, high));
    }
#endif
    for (; x < width; ++x, from += 4) {
      float value;
      std::memcpy(&value, from, sizeof value);
      out[x] = FloatLevel(value);
    }
    return;
  }
  for (int x = 0; x < width; ++x, from += step) {
    std::uint8_t bytes[4] = {from[0], from[1], from[2], from[3]};
    if (kBigEndian == (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)) {
      std::swap(bytes[0], bytes[3]);
      std::swap(bytes[1], bytes[2]);
    }
    float value;
    std::memcpy(&value, bytes, sizeof value);
    out[x] = FloatLevel(value);
  }
}

}  // namespace

bool IsDeepRgbFormat(int format) { return IsDeep(av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format))); }

void DeepRowToBgr(const AVFrame* picture, int y, std::uint8_t* out, std::uint8_t* scratch) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
  const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  const bool bigEndian = (d->flags & AV_PIX_FMT_FLAG_BE) != 0;
  const bool floats = (d->flags & AV_PIX_FMT_FLAG_FLOAT) != 0;
  const int width = picture->width;
  const std::size_t count = static_cast<std::size_t>(width);
  // Each component into a row of its own (blue, green, red), then the rows interleaved.
  for (int c = 0; c < (rgb ? 3 : 1); ++c) {
    const AVComponentDescriptor& k = d->comp[c];
    const std::uint8_t* from = picture->data[k.plane] + static_cast<std::ptrdiff_t>(y) * picture->linesize[k.plane] +
                               k.offset;
    std::uint8_t* to = scratch + (rgb ? kBgrIndex[c] : 0) * count;
    if (floats) {
      bigEndian ? FloatLevels<true>(from, k.step, width, to) : FloatLevels<false>(from, k.step, width, to);
    } else if (bigEndian) {
      IntegerLevels<true>(from, k.step, k.shift, k.depth, width, to);
    } else {
      IntegerLevels<false>(from, k.step, k.shift, k.depth, width, to);
    }
  }
  const std::uint8_t* blue = scratch;
  const std::uint8_t* green = rgb ? blue + count : blue;
  const std::uint8_t* red = rgb ? blue + 2 * count : blue;
  for (int x = 0; x < width; ++x, out += 3) {
    out[0] = blue[x];
    out[1] = green[x];
    out[2] = red[x];
  }
}

}  // namespace zelvo
