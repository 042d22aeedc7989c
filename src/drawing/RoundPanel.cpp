#include "drawing/RoundPanel.h"

#include <cmath>

#include <QBrush>
#include <QPainter>
#include <QPainterPath>

#include "drawing/Colors.h"
#include "raster/Graphics.h"
#include "platform/Numbers.h"

namespace drawing {

using platform::checkedAdd;
using platform::roundToInt32;

namespace {

struct Corners {
    int tl, tr, bl, br;     // radii
    int tl2, tr2, bl2, br2; // doubled in 16 bits
};

Corners cornersOf(const RoundPanelParams &p) {
    auto twice = [](std::int16_t r) { return int(platform::checkedMultiply16(2, r)); };
    return {p.iRadiusTopLeft,           p.iRadiusTopRight,          p.iRadiusBottomLeft,
            p.iRadiusBottomRight,       twice(p.iRadiusTopLeft),    twice(p.iRadiusTopRight),
            twice(p.iRadiusBottomLeft), twice(p.iRadiusBottomRight)};
}

// A float edge plus or minus integers, as the integer coordinate the outline uses.
int at(float edge, int delta = 0) {
    return roundToInt32(double(edge) + delta);
}

QColor argb(std::uint32_t value) {
    return QColor::fromRgba(value);
}

bool antiAliased(std::int32_t smoothingMode) {
    return smoothingMode == 2 || smoothingMode >= 4;
}

QPainterPath elementPath(const OutlineElement &e) {
    QPainterPath path;
    if (e.kind == OutlineElement::Kind::Line) {
        path.moveTo(e.from);
        path.lineTo(e.to);
    } else {
        // Qt's angles run counter-clockwise on screen, ours clockwise.
        path.arcMoveTo(QRectF(e.box), -e.startAngle);
        path.arcTo(QRectF(e.box), -e.startAngle, -e.sweepAngle);
    }
    return path;
}

// The fill brush of the style, or nothing when the style paints no fill. Brushes are built
// for a painter whose pixel centres lie on integer coordinates.
std::optional<QBrush> fillBrush(const RoundPanelParams &p, const PanelColors &colors,
                                const Outline &outline, const QPainterPath &path) {
    switch (p.lFillStyle) {
    case SolidFill:
        return QBrush(argb(colors.c1));
    case TextureFill: {
        if (p.picTexture.isNull())
            return std::nullopt;
        QBrush brush(p.picTexture);
        // The picture's pixel (0, 0) covers the target's pixel (0, 0).
        brush.setTransform(QTransform::fromTranslate(-raster::kPixelCentreOffset,
                                                     -raster::kPixelCentreOffset));
        return brush;
    }
    case CentreGradientFill: {
        const QRect bounds = path.boundingRect().toAlignedRect().adjusted(-1, -1, 1, 1);
        // The centre is the mean of the figure's points as each element lists them: both
        // ends of every line and the four points of every quarter arc.
        QPainterPath points;
        for (const OutlineElement &e : outline)
            points.addPath(elementPath(e));
        QBrush brush(raster::pathGradientImage(path, raster::pathGradientCentre(points),
                                                 argb(colors.c1), argb(colors.c2), bounds.topLeft(),
                                                 bounds.size()));
        brush.setTransform(QTransform::fromTranslate(bounds.left() - raster::kPixelCentreOffset,
                                                     bounds.top() - raster::kPixelCentreOffset));
        return brush;
    }
    case LinearGradientFill: {
        const std::optional<int> angle = GradientAngle(p.lGradientDirection);
        if (!angle)
            return std::nullopt;
        return QBrush(raster::angleGradient(QRectF(RoundPanelGradientRect(p)), *angle,
                                              argb(colors.c1), argb(colors.c2)));
    }
    default:
        return std::nullopt;
    }
}

} // namespace

int BevelHalfWidth(float sngLineWidth) {
    return roundToInt32(sngLineWidth) / 2;
}

Outline RoundPanelOutline(const RoundPanelParams &p) {
    const Corners c = cornersOf(p);
    const float L = p.sngLeft, T = p.sngTop, R = p.sngRight, B = p.sngBottom;
    using E = OutlineElement;
    const std::int16_t sum = platform::checkedAdd16(
        platform::checkedAdd16(platform::checkedAdd16(p.iRadiusTopLeft, p.iRadiusTopRight),
                               p.iRadiusBottomLeft),
        p.iRadiusBottomRight);
    if (sum == 0) {
        const QPoint tl(at(L), at(T)), tr(at(R), at(T)), br(at(R), at(B)), bl(at(L), at(B));
        return {E::line(tl, tr), E::line(tr, br), E::line(br, bl), E::line(bl, tl)};
    }
    Outline o;
    o.push_back(E::line({at(L, c.tl), at(T)}, {at(R, -c.tr), at(T)}));
    if (c.tr > 0)
        o.push_back(E::arc({at(R, -c.tr2), at(T), c.tr2, c.tr2}, 270, 90));
    o.push_back(E::line({at(R), at(T, c.tr)}, {at(R), at(B, -c.br)}));
    if (c.br > 0)
        o.push_back(E::arc({at(R, -c.br2), at(B, -c.br2), c.br2, c.br2}, 0, 90));
    o.push_back(E::line({at(R, -c.br), at(B)}, {at(L, c.bl), at(B)}));
    if (c.bl > 0)
        o.push_back(E::arc({at(L), at(B, -c.bl2), c.bl2, c.bl2}, 90, 90));
    o.push_back(E::line({at(L), at(B, -c.bl)}, {at(L), at(T, c.tl)}));
    if (c.tl > 0)
        o.push_back(E::arc({at(L), at(T), c.tl2, c.tl2}, 180, 90));
    return o;
}

Outline RoundPanelBevel(const RoundPanelParams &p) {
    const Corners c = cornersOf(p);
    const int h = BevelHalfWidth(p.sngLineWidth);
    const float L = p.sngLeft, T = p.sngTop, R = p.sngRight, B = p.sngBottom;
    using E = OutlineElement;
    Outline o;
    if (c.tr > 0)
        o.push_back(E::arc({at(R, -c.tr2), at(T), c.tr2, c.tr2}, 315, 45));
    o.push_back(E::line({at(R), at(T, c.tr - h)}, {at(R), at(B, -c.br + h)}));
    if (c.br > 0)
        o.push_back(E::arc({at(R, -c.br2), at(B, -c.br2), c.br2, c.br2}, 0, 90));
    o.push_back(E::line({at(L, c.bl - h), at(B)}, {at(R, -c.br + h), at(B)}));
    if (c.bl > 0)
        o.push_back(E::arc({at(L), at(B, -c.bl2), c.bl2, c.bl2}, 90, 45));
    return o;
}

QPainterPath OutlinePath(const Outline &outline) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    bool first = true;
    for (const OutlineElement &e : outline) {
        if (e.kind == OutlineElement::Kind::Line) {
            if (first)
                path.moveTo(e.from);
            else if (path.currentPosition() != QPointF(e.from))
                path.lineTo(e.from);
            path.lineTo(e.to);
        } else {
            if (first)
                path.arcMoveTo(QRectF(e.box), -e.startAngle);
            // arcTo joins the current point to the arc's start with a line of its own.
            path.arcTo(QRectF(e.box), -e.startAngle, -e.sweepAngle);
        }
        first = false;
    }
    path.closeSubpath();
    return path;
}

PanelColors RoundPanelColors(const RoundPanelParams &p) {
    const std::int32_t rgb2 = p.lColor2 == -1 ? p.lColor1 : p.lColor2;
    const std::int32_t rgb3 = p.lColor3 == -1 ? p.lColor1 : p.lColor3;
    const std::int32_t rgb4 = p.lColor4 == -1 ? rgb3 : p.lColor4;
    return {OleToARGB(p.lColor1, p.bAlpha1), OleToARGB(rgb2, p.bAlpha2), OleToARGB(rgb3, p.bAlpha3),
            OleToARGB(rgb4, p.bAlpha4)};
}

std::optional<int> GradientAngle(std::int32_t lGradientDirection) {
    switch (lGradientDirection) {
    case 1:
        return 90;
    case 2:
        return 0;
    case 3:
        return 45;
    case 4:
        return 135;
    default:
        return std::nullopt;
    }
}

QRect RoundPanelGradientRect(const RoundPanelParams &p) {
    return {checkedAdd(at(p.sngLeft), -1), checkedAdd(at(p.sngTop), -1),
            checkedAdd(at(p.sngRight), 1), checkedAdd(at(p.sngBottom), 1)};
}

std::optional<PathShadowLayout> PathShadowGeometry(const PathShadowParams &p) {
    if (p.sngSize == 0)
        return std::nullopt;
    const double s = p.sngSize;
    const double right = double(checkedAdd(p.lX, p.lWidth)) + s;
    const double bottom = double(checkedAdd(p.lY, p.lHeight)) + s;
    if (p.bSharp)
        return PathShadowLayout{{roundToInt32(right), roundToInt32(bottom)},
                                QRectF(p.sngOffset, p.sngOffset, right, bottom)};
    return PathShadowLayout{{roundToInt32(right / s), roundToInt32(bottom / s)},
                            QRectF(s / 2 + p.sngOffset, s / 2 + p.sngOffset, right, bottom)};
}

void DrawPathShadow(QPainter &lGraphics, const QPainterPath &lPath, const PathShadowParams &p) {
    const std::optional<PathShadowLayout> layout = PathShadowGeometry(p);
    if (!layout || layout->bitmap.isEmpty())
        return;
    QImage bitmap(layout->bitmap, QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull())
        return;
    bitmap.fill(Qt::transparent);
    const QColor color = argb(OleToARGB(p.lColor, p.bAlpha));
    {
        QPainter painter(&bitmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal o = raster::kPixelCentreOffset;
        if (p.bSharp) {
            painter.translate(o, o);
        } else {
            // A path point p lands on (p - 1) / s of the small bitmap.
            const qreal s = p.sngSize;
            painter.setTransform(QTransform(1 / s, 0, 0, 1 / s, -1 / s + o, -1 / s + o));
        }
        painter.strokePath(lPath, raster::gdiPen(color, p.sngSize));
        painter.fillPath(lPath, color);
    }
    lGraphics.save();
    if (p.bSharp)
        lGraphics.drawImage(layout->target, bitmap);
    else
        raster::drawImageStretched(lGraphics, bitmap, layout->target);
    lGraphics.restore();
}

void DrawRoundPanel(QPainter &lGraphics, const RoundPanelParams &p) {
    lGraphics.setRenderHint(QPainter::Antialiasing, antiAliased(p.lSmoothingMode));
    lGraphics.setRenderHint(QPainter::SmoothPixmapTransform);
    lGraphics.setRenderHint(QPainter::TextAntialiasing);

    // All geometry first, so an overflow leaves the target untouched.
    const PanelColors colors = RoundPanelColors(p);
    const Outline outline = RoundPanelOutline(p);
    const QPainterPath path = OutlinePath(outline);
    const bool lines = p.sngLineWidth > 0;
    const Outline bevel = lines && p.bBevel ? RoundPanelBevel(p) : Outline{};
    std::optional<PathShadowParams> shadow;
    if (p.sngShadowSize > 0) {
        shadow = PathShadowParams{.lX = at(p.sngLeft),
                                  .lY = at(p.sngTop),
                                  .lWidth = roundToInt32(double(p.sngRight) - p.sngLeft),
                                  .lHeight = roundToInt32(double(p.sngBottom) - p.sngTop),
                                  .sngSize = p.sngShadowSize,
                                  .bAlpha = p.bShadowAlpha,
                                  .lColor = p.lShadowColor};
        (void)PathShadowGeometry(*shadow); // raises its overflow before anything is drawn
    }
    const std::optional<QBrush> brush = fillBrush(p, colors, outline, path);

    lGraphics.save();
    if (brush) {
        if (shadow)
            DrawPathShadow(lGraphics, path, *shadow);
        lGraphics.save();
        raster::useGdiPixelCentres(lGraphics);
        if (p.lFillStyle == TextureFill) {
            // Clamped texture: nothing beyond the picture.
            const qreal o = raster::kPixelCentreOffset;
            lGraphics.setClipRect(QRectF(QPointF(-o, -o), QSizeF(p.picTexture.size())),
                                  Qt::IntersectClip);
        }
        lGraphics.fillPath(path, *brush);
        lGraphics.restore();
    }
    raster::useGdiPixelCentres(lGraphics);
    if (lines && p.lHideBorder == 0) {
        QPen pen = raster::gdiPen(argb(colors.c3), p.sngLineWidth);
        raster::setGdiDashStyle(pen, p.lDashStyle);
        if (pen.style() != Qt::SolidLine)
            pen.setDashOffset(5.0); // on a solid pen Qt would turn it into an empty dash

        lGraphics.strokePath(path, pen);
    }
    if (!bevel.empty()) {
        QPen pen = raster::gdiPen(argb(colors.c4), p.sngLineWidth);
        raster::setGdiDashStyle(pen, p.lDashStyle);
        for (const OutlineElement &e : bevel)
            lGraphics.strokePath(elementPath(e), pen);
    }
    lGraphics.restore();
}

} // namespace drawing
