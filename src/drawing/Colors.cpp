#include "drawing/Colors.h"

#include <algorithm>
#include <cmath>

#include "platform/Numbers.h"

namespace drawing {

ColorRGB SplitColor(std::int32_t lColor) {
    return {lColor & 0xFF, (lColor / 256) & 0xFF, (lColor / 65536) & 0xFF};
}

std::int32_t MakeRGB(std::int32_t lRed, std::int32_t lGreen, std::int32_t lBlue) {
    using platform::checkedAdd;
    using platform::checkedMultiply;
    return checkedAdd(checkedAdd(lRed, checkedMultiply(lGreen, 256)),
                      checkedMultiply(lBlue, 65536));
}

std::uint32_t MakeARGB(std::uint8_t bAlpha, std::uint8_t bRed, std::uint8_t bGreen,
                       std::uint8_t bBlue) {
    return std::uint32_t(bAlpha) << 24 | std::uint32_t(bRed) << 16 | std::uint32_t(bGreen) << 8 |
           std::uint32_t(bBlue);
}

std::int32_t ShadeColor(std::int32_t lColor, float sngAmount) {
    const ColorRGB rgb = SplitColor(lColor);
    const double step = static_cast<double>(sngAmount) * 255.0;
    auto shade = [&](std::int32_t channel) {
        const std::int32_t shaded = platform::roundToInt32(step + channel);
        if (sngAmount > 0)
            return shaded > 255 ? 255 : shaded;
        return shaded < 0 ? 0 : shaded;
    };
    const std::int32_t r = shade(rgb.R);
    const std::int32_t g = shade(rgb.G);
    const std::int32_t b = shade(rgb.B);
    return MakeRGB(r, g, b);
}

std::uint32_t OleToARGB(std::int32_t lColor, std::uint8_t bAlpha) {
    const ColorRGB rgb = SplitColor(lColor);
    return MakeARGB(bAlpha, platform::toByte(rgb.R), platform::toByte(rgb.G),
                    platform::toByte(rgb.B));
}

double RelativeLuminance(std::int32_t lColor) {
    const auto linear = [](std::int32_t channel) {
        const double c = double(channel & 0xFF) / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(lColor) + 0.7152 * linear(lColor >> 8) + 0.0722 * linear(lColor >> 16);
}

double ContrastRatio(std::int32_t lColor1, std::int32_t lColor2) {
    const double a = RelativeLuminance(lColor1);
    const double b = RelativeLuminance(lColor2);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

} // namespace drawing
