#pragma once
// The canvas's BGR24 rows in the two layouts the lossless encoders take: RGB24 (HuffYUV)
// and BGR0 (FFV1). Only bytes move, so a row is converted exactly; where the processor has
// SSSE3, sixteen bytes are reordered at once, several times faster than libswscale's
// converters for these layouts, which run beside the encoder on every frame.
#include <cstdint>

namespace zelvo {

// `width` pixels of B, G, R into R, G, B.
void BgrRowToRgb24(const std::uint8_t* bgr, std::uint8_t* rgb, int width);
// `width` pixels of B, G, R into B, G, R, 255.
void BgrRowToBgr0(const std::uint8_t* bgr, std::uint8_t* bgr0, int width);

}  // namespace zelvo
