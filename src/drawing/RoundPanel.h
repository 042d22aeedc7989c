#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSize>

class QPainter;
class QPainterPath;

// The rounded panel painter and its soft path shadow. Coordinates are pixels with pixel
// centres on integer coordinates; angles are degrees clockwise from the positive x-axis.
// Everything the outline uses is an integer, rounded half to even from the float sums.
namespace drawing {

// How the panel is filled; any other value fills nothing.
enum FillStyle : std::int32_t {
    SolidFill = 0, // colour 1
    NoFill = 1,
    TextureFill = 2,        // picTexture, clamped: nothing beyond the picture
    CentreGradientFill = 3, // colour 1 in the centre to colour 2 on the outline
    LinearGradientFill = 4, // colour 1 to colour 2 in the lGradientDirection
};

struct RoundPanelParams {
    float sngLeft = 0;
    float sngTop = 0;
    float sngRight = 0; // the right edge itself, not a width
    float sngBottom = 0;
    std::int32_t lFillStyle = SolidFill; // a FillStyle
    QImage picTexture{};                 // TextureFill; a null image means no picture
    float sngLineWidth = 1;              // border and bevel; 0 or less draws neither
    std::int32_t lHideBorder = 0;
    std::int32_t lColor1 = 0;
    std::int32_t lColor2 = -1; // -1: the colour of lColor1
    std::int32_t lColor3 = -1; // -1: the colour of lColor1
    std::int32_t lColor4 = -1; // -1: the colour colour 3 resolved to
    std::int16_t iRadiusTopLeft = 0;
    std::int16_t iRadiusTopRight = 0;
    std::int16_t iRadiusBottomLeft = 0;
    std::int16_t iRadiusBottomRight = 0;
    // LinearGradientFill: 1 -> 90 degrees, 2 -> 0, 3 -> 45, 4 -> 135; others: no fill.
    std::int32_t lGradientDirection = 1;
    std::uint8_t bAlpha1 = 255;
    std::uint8_t bAlpha2 = 255;
    std::uint8_t bAlpha3 = 255;
    std::uint8_t bAlpha4 = 255;
    bool bBevel = false;
    std::int32_t lDashStyle = 0; // 0 solid, 1 dash, 2 dot, 3 dash-dot, 4 dash-dot-dot
    float sngShadowSize = 0;     // > 0 lays a soft shadow under the fill
    std::int32_t lShadowColor = 0;
    std::uint8_t bShadowAlpha = 120;
    std::int32_t lSmoothingMode = 4; // 2, 4, 5, 6 anti-alias; others do not
    friend bool operator==(const RoundPanelParams &, const RoundPanelParams &) = default;
};

struct PathShadowParams {
    std::int32_t lX = 0;
    std::int32_t lY = 0;
    std::int32_t lWidth = 0;
    std::int32_t lHeight = 0;
    float sngSize = 0; // pen width of the silhouette and the scale-down factor; 0: nothing
    std::uint8_t bAlpha = 120;
    std::int32_t lColor = 0;
    float sngOffset = 0;
    bool bSharp = false;
};

// One element of an outline: a line between two points, or the arc of the ellipse inscribed
// in `box` from `startAngle` clockwise through `sweepAngle`.
struct OutlineElement {
    enum class Kind { Line, Arc };
    Kind kind = Kind::Line;
    QPoint from;
    QPoint to;
    QRect box;
    int startAngle = 0;
    int sweepAngle = 0;

    static OutlineElement line(QPoint a, QPoint b) { return {Kind::Line, a, b, {}, 0, 0}; }
    static OutlineElement arc(QRect box, int start, int sweep) {
        return {Kind::Arc, {}, {}, box, start, sweep};
    }
    friend bool operator==(const OutlineElement &, const OutlineElement &) = default;
};
using Outline = std::vector<OutlineElement>;

// The panel's closed figure, element by element. Throws platform::OverflowError when a
// radius doubled leaves the 16-bit range, the radii's 16-bit sum does, or a coordinate
// cannot be held in 32 bits.
Outline RoundPanelOutline(const RoundPanelParams &p);

// The bevel's pieces, drawn separately: the lower-right half of the outline from the middle
// of the top-right corner to the middle of the bottom-left one, its straight parts reaching
// BevelHalfWidth beyond the tangent points. Throws like RoundPanelOutline.
Outline RoundPanelBevel(const RoundPanelParams &p);

// h of the bevel: the line width rounded half to even, halved toward zero.
int BevelHalfWidth(float sngLineWidth);

// The figure as a path: elements joined in order (a straight segment where one ends away
// from where the next starts) and closed.
QPainterPath OutlinePath(const Outline &outline);

// The four working colours as ARGB. An inherited colour takes the red, green and blue of its
// source, never its alpha.
struct PanelColors {
    std::uint32_t c1 = 0;
    std::uint32_t c2 = 0;
    std::uint32_t c3 = 0;
    std::uint32_t c4 = 0;
};
PanelColors RoundPanelColors(const RoundPanelParams &p);

// Angle of the linear gradient for a direction code, or nothing for an unknown code.
std::optional<int> GradientAngle(std::int32_t lGradientDirection);

// The rectangle the linear gradient spans: (L - 1, T - 1) with width R + 1 and height B + 1.
QRect RoundPanelGradientRect(const RoundPanelParams &p);

// Where the shadow bitmap is made and drawn: its size in pixels and the rectangle it is
// stretched over on the target. Nothing when the size is 0. Throws on overflow.
struct PathShadowLayout {
    QSize bitmap;
    QRectF target;
};
std::optional<PathShadowLayout> PathShadowGeometry(const PathShadowParams &p);

// Paints the panel. Leaves the painter's anti-aliasing as lSmoothingMode says and turns on
// smooth pixmap transforms and text anti-aliasing for whatever the caller draws next; all
// other painter state is restored. Throws platform::OverflowError (before drawing anything)
// when the geometry overflows.
void DrawRoundPanel(QPainter &lGraphics, const RoundPanelParams &p);

// Paints the silhouette of `lPath` (stroked with a pen of the shadow size, then filled),
// blurred by drawing it small and enlarging it, or sharp. Leaves the painter unchanged.
void DrawPathShadow(QPainter &lGraphics, const QPainterPath &lPath, const PathShadowParams &p);

} // namespace drawing
