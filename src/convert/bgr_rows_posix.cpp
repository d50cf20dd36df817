#include "convert/bgr_rows_posix.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZELVO_BGR_ROWS_SSSE3 1
#endif

namespace zelvo {

namespace {

// From pixel `x` on, one at a time: the rows' ends, and processors without SSSE3.
void RgbTail(const std::uint8_t* s, std::uint8_t* d, int x, int width) {
  for (; x < width; ++x) {
    d[3 * x] = s[3 * x + 2];
    d[3 * x + 1] = s[3 * x + 1];
    d[3 * x + 2] = s[3 * x];
  }
}

void Bgr0Tail(const std::uint8_t* s, std::uint8_t* d, int x, int width) {
  for (; x < width; ++x) {
    d[4 * x] = s[3 * x];
    d[4 * x + 1] = s[3 * x + 1];
    d[4 * x + 2] = s[3 * x + 2];
    d[4 * x + 3] = 255;
  }
}

#ifdef ZELVO_BGR_ROWS_SSSE3
bool HaveSsse3() {
  static const bool have = __builtin_cpu_supports("ssse3");
  return have;
}

// Five pixels a step: sixteen bytes are read and written, the sixteenth of each written
// step being rewritten by the next step or the tail. A step runs only while sixteen bytes
// remain in both rows (x + 6 <= width), so nothing outside them is touched.
__attribute__((target("ssse3"))) void RgbSsse3(const std::uint8_t* s, std::uint8_t* d, int width) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  int x = 0;
  for (; x + 6 <= width; x += 5) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 3 * x), _mm_shuffle_epi8(v, order));
  }
  RgbTail(s, d, x, width);
}

// Four pixels a step: twelve bytes of the sixteen read become sixteen written, the fourth
// byte of each pixel set to 255.
__attribute__((target("ssse3"))) void Bgr0Ssse3(const std::uint8_t* s, std::uint8_t* d, int width) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
  int x = 0;
  for (; x + 6 <= width; x += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * x), _mm_or_si128(_mm_shuffle_epi8(v, spread), opaque));
  }
  Bgr0Tail(s, d, x, width);
}
#endif

}  // namespace

void BgrRowToRgb24(const std::uint8_t* bgr, std::uint8_t* rgb, int width) {
#ifdef ZELVO_BGR_ROWS_SSSE3
  if (HaveSsse3()) return RgbSsse3(bgr, rgb, width);
#endif
  RgbTail(bgr, rgb, 0, width);
}

void BgrRowToBgr0(const std::uint8_t* bgr, std::uint8_t* bgr0, int width) {
#ifdef ZELVO_BGR_ROWS_SSSE3
  if (HaveSsse3()) return Bgr0Ssse3(bgr, bgr0, width);
#endif
  Bgr0Tail(bgr, bgr0, 0, width);
}

}  // namespace zelvo
