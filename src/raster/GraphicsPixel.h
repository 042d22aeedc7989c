#pragma once

#include <algorithm>

#include <QRgb>

// Inside the raster engine only: the pixel arithmetic that the reduction and the enlargement
// share.
namespace raster::detail {

// One pixel's four premultiplied channels in the order of a QRgb's bytes (blue, green, red,
// alpha), as one vector so the compiler can work on all four at once.
using Pixel = float __attribute__((vector_size(16)));
using PixelInts = int __attribute__((vector_size(16)));

inline Pixel unpack(QRgb p) {
    const PixelInts i = {int(p & 0xFF), int((p >> 8) & 0xFF), int((p >> 16) & 0xFF), int(p >> 24)};
    return __builtin_convertvector(i, Pixel);
}

// Rounded and clamped to valid premultiplied bytes: alpha to 0..255, colours to 0..alpha.
inline QRgb pack(Pixel v) {
    const float a = std::clamp(v[3], 0.0f, 255.0f);
    const Pixel low = {0, 0, 0, 0};
    const Pixel high = {a, a, a, a};
    v = v < low ? low : v;
    v = v > high ? high : v;
    const PixelInts i = __builtin_convertvector(v + 0.5f, PixelInts);
    return QRgb(i[0]) | QRgb(i[1]) << 8 | QRgb(i[2]) << 16 | QRgb(i[3]) << 24;
}

} // namespace raster::detail
