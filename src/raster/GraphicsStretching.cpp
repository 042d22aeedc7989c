#include "raster/Graphics.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QRegion>

// Stretching onto a painter: only the part the device shows, in bands of rows, strong
// enlargements from a coarser bicubic grid.
namespace raster {

namespace {

// Samples of the bicubic surface per source pixel below which drawImageStretched computes
// every target pixel itself.
constexpr qreal kBicubicSamplesPerSourcePixel = 5;

// The rectangles that cover the part of `area` inside `clip`: bands of at most
// RowsPerBand rows, each cut into the horizontal stretches the clip occupies in that band.
// A frame's shadow shows in a thin margin; filled in one go, the painter would share the
// work of the whole, mostly clipped area among its threads, which costs more than it saves.
std::vector<QRect> piecesOf(const QRegion &clip, const QRect &area) {
    std::vector<QRect> pieces;
    for (int top = area.top(); top <= area.bottom(); top += RowsPerBand) {
        const QRect band(area.left(), top, area.width(),
                         std::min(RowsPerBand, area.bottom() + 1 - top));
        // The clip's rectangles in the band, one pixel larger for the rounding of a clip set
        // at another pixel ratio, merged where they overlap across.
        std::vector<std::pair<int, int>> stretches;
        for (const QRect &rc : clip.intersected(band.adjusted(-1, -1, 1, 1)))
            stretches.emplace_back(rc.left() - 1, rc.right() + 1);
        std::sort(stretches.begin(), stretches.end());
        std::vector<std::pair<int, int>> merged;
        for (const auto &s : stretches) {
            if (!merged.empty() && s.first <= merged.back().second + 1)
                merged.back().second = std::max(merged.back().second, s.second);
            else
                merged.push_back(s);
        }
        for (const auto &[left, right] : merged)
            if (const QRect piece =
                    QRect(QPoint(left, band.top()), QPoint(right, band.bottom())) & band;
                !piece.isEmpty())
                pieces.push_back(piece);
    }
    return pieces;
}

// The bicubic surface of an image sampled every `step` pixels: sample (i, j) of the grid
// lies at origin + (i, j) * step on the target, and `onGrid` is where the image lies in
// units of samples.
struct BicubicGrid {
    const QImage &image;
    QRectF onGrid;
    QPointF origin;
    QSize size;
    int step = 1;
};

// Fills `pixels` from the grid, the painter filling in between samples bilinearly. Only the
// samples around the pixels' centres are computed, with one more on each side so that the
// painter never reaches the edge of the piece it is given: each pixel gets the same samples
// as from the whole grid.
void fillFromGrid(QPainter &painter, const BicubicGrid &grid, const QRect &pixels) {
    const auto cell = [&](qreal centre, qreal start) {
        return int(std::floor((centre - start) / grid.step));
    };
    const QRect cells = QRect(QPoint(cell(pixels.left() + 0.5, grid.origin.x()) - 1,
                                     cell(pixels.top() + 0.5, grid.origin.y()) - 1),
                              QPoint(cell(pixels.right() + 0.5, grid.origin.x()) + 2,
                                     cell(pixels.bottom() + 0.5, grid.origin.y()) + 2)) &
                        QRect(QPoint(0, 0), grid.size);
    const QImage coarse = enlargeBicubic(grid.image, grid.onGrid, cells);
    painter.save();
    painter.setClipRect(pixels, Qt::IntersectClip);
    painter.drawImage(QRectF(grid.origin + QPointF(cells.left(), cells.top()) * grid.step,
                             QSizeF(cells.width() * grid.step, cells.height() * grid.step)),
                      coarse);
    painter.restore();
}

} // namespace

void paintInBands(QPainter &painter, const QRect &deviceArea, const std::function<void()> &paint) {
    const QTransform world = painter.worldTransform();
    // The clip is kept in device pixels once set: set it with the transform that maps the
    // painter's coordinates back to device pixels.
    bool invertible = false;
    const QTransform fromDevice = painter.deviceTransform().inverted(&invertible) * world;
    for (int top = deviceArea.top(); top <= deviceArea.bottom(); top += RowsPerBand) {
        painter.save();
        if (invertible) {
            painter.setWorldTransform(fromDevice);
            painter.setClipRect(QRect(deviceArea.left(), top, deviceArea.width(),
                                      std::min(RowsPerBand, deviceArea.bottom() + 1 - top)),
                                Qt::IntersectClip);
            painter.setWorldTransform(world);
        }
        paint();
        painter.restore();
        if (!invertible)
            return;
    }
}

void drawImageStretched(QPainter &painter, const QImage &image, const QRectF &target) {
    if (image.isNull() || !(target.width() > 0) || !(target.height() > 0))
        return;
    if (!painter.testRenderHint(QPainter::SmoothPixmapTransform)) {
        painter.drawImage(target, image);
        return;
    }
    // The pixels whose centres lie inside the target, as far as the device and clip reach.
    const int left = int(std::ceil(target.left() - 0.5));
    const int top = int(std::ceil(target.top() - 0.5));
    const int right = int(std::floor(target.right() - 0.5));
    const int bottom = int(std::floor(target.bottom() - 0.5));
    QRect area(QPoint(left, top), QPoint(right, bottom));
    if (const QPaintDevice *device = painter.device()) {
        bool invertible = false;
        const QTransform toLogical = painter.combinedTransform().inverted(&invertible);
        if (invertible)
            area &= toLogical.mapRect(QRectF(0, 0, device->width(), device->height()))
                        .toAlignedRect()
                        .adjusted(-1, -1, 1, 1);
    }
    if (painter.hasClipping())
        area &= painter.clipBoundingRect().toAlignedRect();
    if (area.isEmpty())
        return;

    const qreal scale = std::min(target.width() / image.width(), target.height() / image.height());
    const int step = std::max(1, int(scale / kBicubicSamplesPerSourcePixel));
    if (step == 1) {
        painter.drawImage(area.topLeft(), enlargeBicubic(image, target, area));
        return;
    }
    // Strong enlargements: the bicubic surface on a grid of `step` pixels, with enough
    // samples per source pixel that the painter's bilinear filling-in between them cannot be
    // told apart, at a fraction of the cost. The first sample sits on the first pixel's
    // centre and the grid runs one sample past the last, so no pixel depends on Qt's
    // repetition of edge samples.
    const QSize grid((area.width() - 1) / step + 2, (area.height() - 1) / step + 2);
    const QPointF origin(area.left() + 0.5 - step / 2.0, area.top() + 0.5 - step / 2.0);
    const QRectF onGrid((target.left() - origin.x()) / step, (target.top() - origin.y()) / step,
                        target.width() / step, target.height() / step);
    const BicubicGrid surface{image, onGrid, origin, grid, step};
    const auto fill = [&](const QRect &pixels) { fillFromGrid(painter, surface, pixels); };
    if (!painter.hasClipping() || !(painter.clipRegion().rectCount() > 1)) {
        fill(area);
        return;
    }
    for (const QRect &piece : piecesOf(painter.clipRegion(), area))
        fill(piece);
}

} // namespace raster
