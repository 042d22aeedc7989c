#pragma once

#include <array>
#include <cstdint>
#include <utility>

#include <QLine>
#include <QRect>
#include <QString>

#include "raster/GraphicsText.h"

class QPainter;

// The labelled box painter: gradient background, 1-pixel frame, percentage bar and a text
// drawn as outlines with an optional outline pen. Pixel centres lie on integer coordinates.
namespace drawing {

// X, Y, width, height; the right edge is X + Width, the bottom Y + Height.
struct LayoutRect {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    friend bool operator==(const LayoutRect &, const LayoutRect &) = default;
};

struct PathTextParams {
    LayoutRect rcLayout;
    QString strText; // trimmed of spaces; CR LF breaks lines
    // 1..9 as on a numeric keypad (7 top left, 5 centred, 3 bottom right); others: top left.
    std::int32_t lAlign = 7;
    QString strFontName;         // a family that is not installed draws no text
    float sngFontSize = 12;      // em size in pixels
    std::int32_t lFontStyle = 0; // 1 bold, 2 italic, 4 underline, 8 strikeout
    std::int32_t lTextColor = 0;
    std::uint8_t bTextAlpha = 255;
    std::int32_t lOutlineWidth = 0; // 0 or less: no outline
    std::int32_t lOutlineColor = 0xFFFFFF;
    std::uint8_t bOutlineAlpha = 255;
    float sngPercent = 0; // 0 or less: no bar; above 100 counts as 100
    bool bBackground = false;
    bool bBorder = false;
    std::int32_t lColor1 = 0; // background and bar start, frame
    std::int32_t lColor2 = 0; // background and bar end
    std::uint8_t bAlpha1 = 255;
    std::uint8_t bAlpha2 = 255;
    float sngAngle = 90; // gradient angle, degrees clockwise (90: colour 1 on top)
    friend bool operator==(const PathTextParams &, const PathTextParams &) = default;
};

// Horizontal and vertical alignment of a code.
std::pair<raster::TextAlign, raster::TextAlign> TextAlignment(std::int32_t lAlign);

// Bar width: percent (capped at 100) of the width, rounded half to even; 0 when there is no
// bar. Throws platform::OverflowError when it does not fit 32 bits.
std::int32_t PercentBarWidth(float sngPercent, std::int32_t width);
// The progress bar's colour over a background of `lColor`.
std::int32_t PercentBarColor(std::int32_t lColor);

// The frame's four lines in drawing order: top, left, bottom, right, reaching X + Width and
// Y + Height. Throws platform::OverflowError when those leave 32 bits.
std::array<QLine, 4> FrameLines(const LayoutRect &rc);

// The outline request for the text (trimmed) in the layout box.
raster::TextPathRequest PathTextRequest(const PathTextParams &p);

// The pixels DrawPathText may touch, or more: the box with its frame, and the text, which may
// run beyond the box, with its outline, one pixel wider on every side for anti-aliasing.
QRect PathTextBounds(const PathTextParams &p);

// Paints background, frame, bar and text in that order. Changes no setting of the painter;
// anti-aliasing is whatever the caller chose. Throws platform::OverflowError before drawing
// anything when the rectangle or the bar width overflows.
void DrawPathText(QPainter &lGraphics, const PathTextParams &p);

} // namespace drawing
