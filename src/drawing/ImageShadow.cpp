#include "drawing/ImageShadow.h"

#include <QImage>
#include <QPainter>

#include "drawing/Colors.h"
#include "platform/Numbers.h"

namespace drawing {

using platform::checkedAdd;
using platform::roundToInt32;

std::optional<ImageShadowLayout> ImageShadowGeometry(const ImageShadowParams &p) {
    if (p.sngBlur == 0 || p.bAlpha == 0)
        return std::nullopt;
    const double b = p.sngBlur;
    const double W = p.lWidth;
    const double H = p.lHeight;
    // The source rectangle of the shrink ends at W - 1 and H - 1.
    checkedAdd(p.lWidth, -1);
    checkedAdd(p.lHeight, -1);
    ImageShadowLayout layout;
    layout.small = QSize(roundToInt32(W / b), roundToInt32(H / b));
    layout.shrunk = QRect(roundToInt32(b / 2), roundToInt32(b / 2), roundToInt32(W - b / 2 - 1),
                          roundToInt32(H - b / 2 - 1));
    layout.k = roundToInt32(b / 2);
    const double k = layout.k;
    layout.target = QRectF(float(p.lX - k + p.sngOffset), float(p.lY - k + p.sngOffset),
                           float(W + 2 * k - 1), float(H + 2 * k - 1));
    return layout;
}

raster::ColorMatrix ImageShadowColorMatrix(std::uint8_t bAlpha, std::int32_t lColor) {
    const ColorRGB shift = SplitColor(lColor);
    raster::ColorMatrix m = raster::identityColorMatrix();
    m[3][3] = bAlpha / 255.0f;
    m[4][0] = (shift.R - 128) / 128.0f;
    m[4][1] = (shift.G - 128) / 128.0f;
    m[4][2] = (shift.B - 128) / 128.0f;
    return m;
}

void DrawImageShadow(QPainter &lGraphics, const QImage &lImage, const ImageShadowParams &p) {
    const std::optional<ImageShadowLayout> layout = ImageShadowGeometry(p);
    if (!layout || lImage.isNull() || layout->small.isEmpty() || p.lWidth <= 0 || p.lHeight <= 0)
        return;
    const double b = p.sngBlur;

    // The image scaled to W x H, its part (0, 0, W - 1, H - 1) drawn into `shrunk`, and all of
    // it scaled by 1 / b and moved by -1 / b: done as one area-averaging shrink straight from
    // the image onto the small bitmap.
    const QRectF source(0, 0, (p.lWidth - 1.0) * lImage.width() / p.lWidth,
                        (p.lHeight - 1.0) * lImage.height() / p.lHeight);
    const QRect &r = layout->shrunk;
    const QRectF onSmall((r.x() - 1) / b, (r.y() - 1) / b, r.width() / b, r.height() / b);
    QImage small = raster::shrinkArea(lImage, source, layout->small, onSmall);
    if (small.isNull())
        return;
    // The colour matrix belongs before the resampling; on the averaged pixels it gives the
    // same result up to clamping and costs a few hundred pixels instead of the whole image.
    small = raster::applyColorMatrix(small, ImageShadowColorMatrix(p.bAlpha, p.lColor));

    lGraphics.save();
    raster::drawImageStretched(lGraphics, small, layout->target);
    lGraphics.restore();
}

} // namespace drawing
