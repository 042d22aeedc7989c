#pragma once

// Window positions and sizes are kept in twips; the client area and all drawing use
// logical pixels, 15 twips each (96 dots per inch). Qt maps logical pixels to the
// screen's device pixels.
namespace platform {

inline constexpr int TwipsPerPixel = 15;

constexpr int twipsToPixels(int twips) {
    return twips / TwipsPerPixel;
}
constexpr int pixelsToTwips(int pixels) {
    return pixels * TwipsPerPixel;
}

} // namespace platform
