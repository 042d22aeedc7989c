#pragma once

#include <array>
#include <functional>

#include <QColor>
#include <QLinearGradient>
#include <QPen>
#include <QPointF>
#include <QRect>
#include <QRectF>

class QImage;
class QPainter;
class QPainterPath;

// The drawing model the painters were designed against, rebuilt on QPainter: pixel centres
// at integer coordinates, pens with flat caps, gradients given by a rectangle and an angle,
// centre gradients that follow the outline, colour matrices and a bicubic enlargement that
// fades out at the image's edges. Every function is stateless and never throws.
namespace raster {

// The painters' coordinates put a pixel's centre on integer coordinates, Qt puts it at
// x + 0.5. Shifting by half a pixel makes a 1-pixel line at an integer coordinate cover
// exactly one row of pixels instead of two half-covered ones.
inline constexpr qreal kPixelCentreOffset = 0.5;
void useGdiPixelCentres(QPainter &painter);

// A pen of the given width with flat caps, miter joins and a miter limit of 10.
QPen gdiPen(const QColor &color, qreal width);

// Dash styles: 0 solid, 1 dash (3 on, 1 off), 2 dot (1, 1), 3 dash-dot, 4 dash-dot-dot,
// lengths in pen widths; any other value is solid.
void setGdiDashStyle(QPen &pen, int dashStyle);

// Ends of a linear gradient spanning a rectangle at an angle (degrees, clockwise with y
// down): the gradient line runs through the centre along the angle and is as long as the
// rectangle's extent in that direction, so the corners get the end colours.
struct GradientEnds {
    QPointF start;
    QPointF end;
};
GradientEnds angleGradientEnds(const QRectF &rect, qreal degrees);

// A gradient from c1 to c2 over those ends that repeats beyond them.
QLinearGradient angleGradient(const QRectF &rect, qreal degrees, const QColor &c1,
                              const QColor &c2);

// The centre point of a centre gradient: the mean of all the path's points, curve control
// points and repeated points included.
QPointF pathGradientCentre(const QPainterPath &path);

// A premultiplied image of a centre gradient: pixel (i, j) holds the colour at the point
// origin + (i, j). Lines of equal colour are copies of the outline scaled about `centre`
// (which must lie inside); the centre point has `centreColor`, the outline and everything
// beyond it `surround`. Exact for convex outlines.
QImage pathGradientImage(const QPainterPath &path, QPointF centre, const QColor &centreColor,
                         const QColor &surround, QPoint origin, QSize size);

// A 5 x 5 colour matrix: [r g b a 1] (0..1, straight colour) times the matrix.
using ColorMatrix = std::array<std::array<float, 5>, 5>;
ColorMatrix identityColorMatrix();

// The image with the matrix applied to every pixel's straight colour, results clamped to
// 0..1; returned premultiplied.
QImage applyColorMatrix(const QImage &image, const ColorMatrix &matrix);

// Area-averaging resampling for shrinking: the part `source` of `image` is mapped onto the
// rectangle `target` (fractional, in pixels of the result) of a transparent image of
// `size`. Each result pixel holds the average of what covers it, so nothing aliases however
// large the reduction.
QImage shrinkArea(const QImage &image, const QRectF &source, QSize size, const QRectF &target);

// Bicubic enlargement (Catmull-Rom) of `image` stretched over `target`, computed for the
// pixel centres of `area` only. Samples beyond the image count as transparent, so the
// result fades out over about one source pixel at every edge instead of ending hard.
QImage enlargeBicubic(const QImage &image, const QRectF &target, const QRect &area);

// Qt's raster engine shares out any operation over more than about 96 rows of pixels among
// its thread pool and waits for it; for the window's pictures the hand-over costs more than
// it saves, many times more on a busy machine. Calls `paint` once for each band of at most
// RowsPerBand device rows of `deviceArea`, the painter clipped to the band in device pixels
// (whatever its transform), and restores the painter after each: the same pixels as one
// call, painted on the calling thread.
inline constexpr int RowsPerBand = 64;
void paintInBands(QPainter &painter, const QRect &deviceArea, const std::function<void()> &paint);

// Draws `image` stretched over `target` onto the pixels whose centres lie inside it: with
// the bicubic enlargement when the painter asks for smooth pixmap transforms, else with
// nearest-neighbour sampling. Only the part that can reach the painter's device is computed,
// and strong enlargements compute the bicubic surface on a coarser grid that the painter
// fills in bilinearly.
void drawImageStretched(QPainter &painter, const QImage &image, const QRectF &target);

} // namespace raster
