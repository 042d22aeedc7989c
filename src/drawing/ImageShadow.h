#pragma once

#include <cstdint>
#include <optional>

#include <QRectF>
#include <QSize>

#include "raster/Graphics.h"

class QImage;
class QPainter;

// A blurred, colour-shifted, alpha-scaled copy of a whole image, drawn under the image as
// its shadow.
namespace drawing {

struct ImageShadowParams {
    std::int32_t lX = 0; // the area the image covers on the target
    std::int32_t lY = 0;
    std::int32_t lWidth = 0;
    std::int32_t lHeight = 0;
    float sngBlur = 0; // scale-down factor b, twice the spread; 0 draws nothing
    std::uint8_t bAlpha = 255;
    std::int32_t lColor = 0x808080; // shift colour; 0x808080 keeps the image's colours
    float sngOffset = 0;            // extra shift right and down
};

// The numbers of the blur: the small bitmap's size (W / b, H / b); the rectangle, in
// units of the image area, that the image is shrunk into before the scale by 1 / b and the
// shift by -1 / b; the spread k = b / 2; and the rectangle the small bitmap is stretched
// over on the target, k beyond the area on each side. Nothing for a blur or alpha of 0.
// Throws platform::OverflowError when a size or coordinate leaves 32 bits.
struct ImageShadowLayout {
    QSize small;
    QRect shrunk;
    std::int32_t k = 0;
    QRectF target;
};
std::optional<ImageShadowLayout> ImageShadowGeometry(const ImageShadowParams &p);

// The colour matrix: colours shifted by (channel - 128) / 128 of the shift colour, alpha
// scaled by bAlpha / 255.
raster::ColorMatrix ImageShadowColorMatrix(std::uint8_t bAlpha, std::int32_t lColor);

// Draws the shadow of `lImage` (scaled to the area whatever its own size). The enlargement
// follows the painter's smooth-pixmap hint; the painter is left unchanged. A null image
// draws nothing.
void DrawImageShadow(QPainter &lGraphics, const QImage &lImage, const ImageShadowParams &p);

} // namespace drawing
