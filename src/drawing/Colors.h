#pragma once

#include <cstdint>

// Colour arithmetic between the two forms the program uses: OLE colours 0x00BBGGRR (the
// theme settings, every colour parameter) and ARGB 0xAARRGGBB (what the painters hand to
// QPainter). All functions are pure.
namespace drawing {

struct ColorRGB {
    std::int32_t R = 0;
    std::int32_t G = 0;
    std::int32_t B = 0;
    friend bool operator==(const ColorRGB &, const ColorRGB &) = default;
};

// Channels of an OLE colour. The divisions truncate toward zero, so a negative input does
// not split into its bytes: -1 gives (255, 0, 0). Exact bytes for 0..0x00FFFFFF.
ColorRGB SplitColor(std::int32_t lColor);

// lRed + lGreen * 256 + lBlue * 65536, unmasked; throws platform::OverflowError when the
// arithmetic leaves the 32-bit range.
std::int32_t MakeRGB(std::int32_t lRed, std::int32_t lGreen, std::int32_t lBlue);

// 0xAARRGGBB as a 32-bit pattern.
std::uint32_t MakeARGB(std::uint8_t bAlpha, std::uint8_t bRed, std::uint8_t bGreen,
                       std::uint8_t bBlue);

// Moves every channel by sngAmount * 255 (rounded half to even from the float's exact
// value), clamped at 255 when lightening and at 0 when darkening. Throws
// platform::OverflowError for non-finite or out-of-range results.
std::int32_t ShadeColor(std::int32_t lColor, float sngAmount);

// The ARGB value for an OLE colour with the given alpha, as every painter needs it.
std::uint32_t OleToARGB(std::int32_t lColor, std::uint8_t bAlpha);

// The relative luminance of an OLE colour's low three bytes as WCAG 2 defines it: 0 for
// black, 1 for white.
double RelativeLuminance(std::int32_t lColor);

// WCAG 2's contrast ratio of two OLE colours, from 1 (the same luminance) to 21.
double ContrastRatio(std::int32_t lColor1, std::int32_t lColor2);

} // namespace drawing
