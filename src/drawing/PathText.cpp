#include "drawing/PathText.h"

#include <optional>

#include <QBrush>
#include <QPainter>
#include <QPainterPath>

#include "drawing/Colors.h"
#include "raster/Graphics.h"
#include "platform/Numbers.h"
#include "platform/Text.h"

namespace drawing {

using raster::TextAlign;

namespace {

constexpr float kBarShade = -0.15f;

QColor argb(std::int32_t oleColor, std::uint8_t alpha) {
    return QColor::fromRgba(OleToARGB(oleColor, alpha));
}

} // namespace

std::pair<TextAlign, TextAlign> TextAlignment(std::int32_t lAlign) {
    if (lAlign < 1 || lAlign > 9)
        return {TextAlign::Near, TextAlign::Near};
    const int column = (lAlign - 1) % 3; // 0 left, 1 centre, 2 right
    const int row = (lAlign - 1) / 3;    // 0 bottom, 1 middle, 2 top
    const TextAlign horizontal[] = {TextAlign::Near, TextAlign::Centre, TextAlign::Far};
    const TextAlign vertical[] = {TextAlign::Far, TextAlign::Centre, TextAlign::Near};
    return {horizontal[column], vertical[row]};
}

std::int32_t PercentBarWidth(float sngPercent, std::int32_t width) {
    if (!(sngPercent > 0))
        return 0;
    const double percent = sngPercent > 100 ? 100.0 : double(sngPercent);
    return platform::roundToInt32(percent / 100 * width);
}

std::int32_t PercentBarColor(std::int32_t lColor) {
    return ShadeColor(lColor, kBarShade);
}

std::array<QLine, 4> FrameLines(const LayoutRect &rc) {
    const std::int32_t right = platform::checkedAdd(rc.X, rc.Width);
    const std::int32_t bottom = platform::checkedAdd(rc.Y, rc.Height);
    return {QLine(rc.X, rc.Y, right, rc.Y), QLine(rc.X, rc.Y, rc.X, bottom),
            QLine(rc.X, bottom, right, bottom), QLine(right, rc.Y, right, bottom)};
}

raster::TextPathRequest PathTextRequest(const PathTextParams &p) {
    const auto [horizontal, vertical] = TextAlignment(p.lAlign);
    return {platform::trimBlanks(p.strText),
            p.strFontName,
            p.sngFontSize,
            p.lFontStyle,
            qreal(p.rcLayout.Width),
            qreal(p.rcLayout.Height),
            horizontal,
            vertical};
}

QRect PathTextBounds(const PathTextParams &p) {
    const LayoutRect &rc = p.rcLayout;
    // Pixel centres lie on integer coordinates: the box and its frame cover the pixels from
    // X to X + Width and from Y to Y + Height.
    QRect bounds(QPoint(rc.X - 1, rc.Y - 1), QPoint(platform::checkedAdd(rc.X, rc.Width) + 1,
                                                    platform::checkedAdd(rc.Y, rc.Height) + 1));
    const raster::TextPathRequest request = PathTextRequest(p);
    if (request.text.isEmpty())
        return bounds;
    const QPainterPath path = raster::textPath(request);
    if (path.isEmpty())
        return bounds;
    // A miter may reach five pen widths beyond a sharp corner.
    const qreal reach = (p.lOutlineWidth > 0 ? p.lOutlineWidth * 5.0 : 0) + 1;
    return bounds |
           path.controlPointRect()
               .translated(rc.X + raster::kPixelCentreOffset, rc.Y + raster::kPixelCentreOffset)
               .adjusted(-reach, -reach, reach, reach)
               .toAlignedRect();
}

void DrawPathText(QPainter &lGraphics, const PathTextParams &p) {
    const LayoutRect &rc = p.rcLayout;
    const QRectF box(rc.X, rc.Y, rc.Width, rc.Height);
    std::optional<std::array<QLine, 4>> frame;
    if (p.bBorder)
        frame = FrameLines(rc);
    const std::int32_t bar = PercentBarWidth(p.sngPercent, rc.Width);
    const raster::TextPathRequest request = PathTextRequest(p);
    // The bar is the box's colours a little darker; its gradient spans the whole box, so a
    // short bar shows only the first part of the colour run.
    QColor barStart, barEnd;
    if (bar > 0) {
        barStart = argb(PercentBarColor(p.lColor1), p.bAlpha1);
        barEnd = argb(PercentBarColor(p.lColor2), p.bAlpha2);
    }

    lGraphics.save();
    raster::useGdiPixelCentres(lGraphics);
    if (p.bBackground && rc.Width > 0 && rc.Height > 0)
        lGraphics.fillRect(
            box, QBrush(raster::angleGradient(box, p.sngAngle, argb(p.lColor1, p.bAlpha1),
                                                argb(p.lColor2, p.bAlpha2))));
    if (frame) {
        lGraphics.setPen(raster::gdiPen(argb(p.lColor1, p.bAlpha1), 1.0));
        for (const QLine &line : *frame)
            lGraphics.drawLine(QLineF(line));
    }
    if (bar > 0 && rc.Height > 0)
        lGraphics.fillRect(QRectF(rc.X, rc.Y, bar, rc.Height),
                           QBrush(raster::angleGradient(box, p.sngAngle, barStart, barEnd)));
    if (!request.text.isEmpty()) {
        lGraphics.translate(rc.X, rc.Y);
        raster::drawTextPath(lGraphics, request, argb(p.lTextColor, p.bTextAlpha),
                               p.lOutlineWidth, argb(p.lOutlineColor, p.bOutlineAlpha));
    }
    lGraphics.restore();
}

} // namespace drawing
