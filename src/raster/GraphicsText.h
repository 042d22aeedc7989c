#pragma once

#include <QColor>
#include <QPainterPath>
#include <QString>
#include <QStringList>

class QPainter;

// Text turned into outlines laid out in a box, the way the painters expect it: the em size
// in pixels, explicit line breaks, wrapping within the box's width, alignment of every line
// and of the whole block. Outlines are cached, because every frame draws the same texts
// again. GUI thread only (fonts need the GUI application); never throws.
namespace raster {

enum class TextAlign { Near, Centre, Far };

// Font style bits.
inline constexpr int kFontBold = 1;
inline constexpr int kFontItalic = 2;
inline constexpr int kFontUnderline = 4;
inline constexpr int kFontStrikeout = 8;

// Blank space kept inside the box on the left and right before lines are wrapped and
// aligned, as a fraction of the em size. A sixth of an em is what string drawing of the
// painters' original graphics library reserves; without it left- and right-aligned text
// touches the frame.
inline constexpr qreal kTextPaddingEm = 1.0 / 6;

struct TextPathRequest {
    QString text;
    QString family;
    qreal emSize = 12;
    int fontStyle = 0;
    qreal width = 0; // 0 or less: no wrapping
    qreal height = 0;
    TextAlign horizontal = TextAlign::Near;
    TextAlign vertical = TextAlign::Near;
};

// The outline of the text in the box (0, 0, width, height): lines break at "\r\n" and "\n"
// (empty lines still take their height), wrap after the last space that fits or, in a run
// without spaces such as Chinese, at the last character that fits; each line is aligned
// without its trailing blanks, then the block as a whole. The first baseline lies the font's
// ascent below the top, and lines follow at the font's line spacing. Empty for an empty text,
// a zero or negative size, or a family that is not installed (no substitute is taken).
QPainterPath textPath(const TextPathRequest &request);

// Paints the text's outline with an optional outline pen (width > 0: a pen with flat caps
// and miter joins, stroked first), then fills it, with the box's top-left corner at the
// painter's origin. The fill covers the inner half of the pen. When the painter only
// translates whole images onto a raster device, the finished picture of the text is cached
// and blitted, which gives the same pixels for a fraction of the cost.
void drawTextPath(QPainter &painter, const TextPathRequest &request, const QColor &fill,
                  qreal outlineWidth, const QColor &outline);

// Number of lines the text takes in the box by the same rules (0 when textPath is empty
// because of the text, size or family).
int textLineCount(const TextPathRequest &request);

// Drops every cached outline and text picture (for measurements of the uncached cost).
void clearTextPathCache();

// Whether `family` is installed (names compare without regard to case).
bool fontFamilyExists(const QString &family);

// Whether `family` covers Simplified Chinese.
bool isChineseCapable(const QString &family);

// The program's preferred families in order; the last one is whatever fontconfig makes of
// "sans-serif".
QStringList programFontCandidates();

// The first installed, Chinese-capable family of the program's list, or failing that any
// installed Chinese-capable family; empty when there is none (Chinese text would show as
// boxes, so start-up treats that as graphics failing to start).
QString programFontFamily();

} // namespace raster
