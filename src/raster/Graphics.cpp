#include "raster/Graphics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegion>
#include <QtMath>

namespace raster {

namespace {

// Samples of the bicubic surface per source pixel below which drawImageStretched computes
// every target pixel itself.
constexpr qreal kBicubicSamplesPerSourcePixel = 5;

} // namespace

void useGdiPixelCentres(QPainter &painter) {
    painter.translate(kPixelCentreOffset, kPixelCentreOffset);
}

QPen gdiPen(const QColor &color, qreal width) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setMiterLimit(10);
    return pen;
}

void setGdiDashStyle(QPen &pen, int dashStyle) {
    switch (dashStyle) {
    case 1:
        pen.setDashPattern({3, 1});
        break;
    case 2:
        pen.setDashPattern({1, 1});
        break;
    case 3:
        pen.setDashPattern({3, 1, 1, 1});
        break;
    case 4:
        pen.setDashPattern({3, 1, 1, 1, 1, 1});
        break;
    default:
        pen.setStyle(Qt::SolidLine);
        break;
    }
}

GradientEnds angleGradientEnds(const QRectF &rect, qreal degrees) {
    const QRectF r = rect.normalized();
    const qreal a = qDegreesToRadians(std::fmod(degrees, 360.0));
    const qreal c = std::cos(a);
    const qreal s = std::sin(a);
    const qreal half = (std::abs(c) * r.width() + std::abs(s) * r.height()) / 2;
    const QPointF d(c * half, s * half);
    return {r.center() - d, r.center() + d};
}

QLinearGradient angleGradient(const QRectF &rect, qreal degrees, const QColor &c1,
                              const QColor &c2) {
    const GradientEnds ends = angleGradientEnds(rect, degrees);
    QLinearGradient gradient(ends.start, ends.end);
    gradient.setColorAt(0, c1);
    gradient.setColorAt(1, c2);
    gradient.setSpread(QGradient::RepeatSpread);
    return gradient;
}

QPointF pathGradientCentre(const QPainterPath &path) {
    const int n = path.elementCount();
    if (n == 0)
        return {};
    QPointF sum;
    for (int i = 0; i < n; ++i)
        sum += QPointF(path.elementAt(i));
    return sum / n;
}

QImage pathGradientImage(const QPainterPath &path, QPointF centre, const QColor &centreColor,
                         const QColor &surround, QPoint origin, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    const QPointF c = centre;

    // Each edge contributes the linear function s_e(p) = n.(p - c) / n.(a - c), which is 1 on
    // the edge's line and 0 at the centre; the scale that puts p on the outline is the
    // largest of them.
    struct Edge {
        qreal ax, ay, b;
    };
    std::vector<Edge> edges;
    const QPolygonF polygon = path.toFillPolygon();
    for (qsizetype i = 0; i + 1 < polygon.size(); ++i) {
        const QPointF a = polygon[i];
        const QPointF d = polygon[i + 1] - a;
        QPointF n(d.y(), -d.x());
        qreal denominator = QPointF::dotProduct(n, a - c);
        if (std::abs(denominator) < 1e-9)
            continue;
        if (denominator < 0) {
            n = -n;
            denominator = -denominator;
        }
        edges.push_back(
            {n.x() / denominator, n.y() / denominator, -QPointF::dotProduct(n, c) / denominator});
    }

    const QRgb inner = centreColor.rgba64().premultiplied().toArgb32();
    const QRgb outer = surround.rgba64().premultiplied().toArgb32();
    auto mix = [](int from, int to, qreal t) { return int(std::lround(from + (to - from) * t)); };
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const qreal py = origin.y() + y;
        for (int x = 0; x < size.width(); ++x) {
            const qreal px = origin.x() + x;
            qreal s = 0;
            for (const Edge &e : edges)
                s = std::max(s, e.ax * px + e.ay * py + e.b);
            const qreal t = std::clamp(1 - s, 0.0, 1.0);
            line[x] =
                qRgba(mix(qRed(outer), qRed(inner), t), mix(qGreen(outer), qGreen(inner), t),
                      mix(qBlue(outer), qBlue(inner), t), mix(qAlpha(outer), qAlpha(inner), t));
        }
    }
    return image;
}

ColorMatrix identityColorMatrix() {
    ColorMatrix m{};
    for (int i = 0; i < 5; ++i)
        m[i][i] = 1;
    return m;
}

QImage applyColorMatrix(const QImage &image, const ColorMatrix &m) {
    QImage straight = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(straight.scanLine(y));
        for (int x = 0; x < straight.width(); ++x) {
            const QRgb p = line[x];
            const float in[4] = {qRed(p) / 255.0f, qGreen(p) / 255.0f, qBlue(p) / 255.0f,
                                 qAlpha(p) / 255.0f};
            int out[4];
            for (int j = 0; j < 4; ++j) {
                float v = m[4][j];
                for (int i = 0; i < 4; ++i)
                    v += in[i] * m[i][j];
                out[j] = int(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
            }
            line[x] = qRgba(out[0], out[1], out[2], out[3]);
        }
    }
    return straight.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

namespace {

// One pixel's four premultiplied channels in the order of a QRgb's bytes (blue, green, red,
// alpha), as one vector so the compiler can work on all four at once.
using Pixel = float __attribute__((vector_size(16)));
using PixelInts = int __attribute__((vector_size(16)));

Pixel unpack(QRgb p) {
    const PixelInts i = {int(p & 0xFF), int((p >> 8) & 0xFF), int((p >> 16) & 0xFF), int(p >> 24)};
    return __builtin_convertvector(i, Pixel);
}

// Rounded and clamped to valid premultiplied bytes: alpha to 0..255, colours to 0..alpha.
QRgb pack(Pixel v) {
    const float a = std::clamp(v[3], 0.0f, 255.0f);
    const Pixel low = {0, 0, 0, 0};
    const Pixel high = {a, a, a, a};
    v = v < low ? low : v;
    v = v > high ? high : v;
    const PixelInts i = __builtin_convertvector(v + 0.5f, PixelInts);
    return QRgb(i[0]) | QRgb(i[1]) << 8 | QRgb(i[2]) << 16 | QRgb(i[3]) << 24;
}

// One contribution of a source pixel to a result pixel along one axis.
struct Tap {
    int source;
    int result;
    float weight;
};

// The overlaps of source pixels of [s0, s1] with result pixels when that span is mapped
// linearly onto [t0, t1], ordered by source and so by result.
std::vector<Tap> areaTaps(qreal s0, qreal s1, int sourceLength, qreal t0, qreal t1,
                          int resultLength) {
    std::vector<Tap> taps;
    if (!(s1 > s0) || !(t1 > t0))
        return taps;
    const qreal scale = (t1 - t0) / (s1 - s0);
    const int first = std::max(0, int(std::floor(s0)));
    const int last = std::min(sourceLength, int(std::ceil(s1)));
    for (int s = first; s < last; ++s) {
        const qreal a = std::max<qreal>(s, s0);
        const qreal b = std::min<qreal>(s + 1, s1);
        if (b <= a)
            continue;
        const qreal ua = t0 + (a - s0) * scale;
        const qreal ub = t0 + (b - s0) * scale;
        const int iFirst = std::max(0, int(std::floor(ua)));
        const int iLast = std::min(resultLength, int(std::ceil(ub)));
        for (int i = iFirst; i < iLast; ++i) {
            const qreal overlap = std::min<qreal>(ub, i + 1) - std::max<qreal>(ua, i);
            if (overlap > 0)
                taps.push_back({s, i, float(overlap)});
        }
    }
    return taps;
}

// Catmull-Rom weights for the taps at -1, 0, 1, 2 around a sample at fraction t.
void cubicWeights(float t, float *w) {
    const float t2 = t * t;
    const float t3 = t2 * t;
    w[0] = -0.5f * t3 + t2 - 0.5f * t;
    w[1] = 1.5f * t3 - 2.5f * t2 + 1;
    w[2] = -1.5f * t3 + 2 * t2 + 0.5f * t;
    w[3] = 0.5f * t3 - 0.5f * t2;
}

// The taps of one result pixel along an axis; taps beyond the image keep weight 0 so the
// image fades out into transparency at its edges.
struct CubicSample {
    int first = 0;
    float weight[4] = {};
};

// The samples of `count` result pixels from `start` on, when the source's `sourceLength`
// pixels are stretched over `tLength` pixels from `t0`.
std::vector<CubicSample> cubicSamples(int start, int count, qreal t0, qreal tLength,
                                      int sourceLength) {
    std::vector<CubicSample> out(static_cast<std::size_t>(count));
    const qreal scale = sourceLength / tLength;
    for (int i = 0; i < count; ++i) {
        const qreal centre = start + i + 0.5;
        const qreal s = (centre - t0) * scale - 0.5;
        const int base = int(std::floor(s));
        CubicSample &sample = out[std::size_t(i)];
        sample.first = base - 1;
        cubicWeights(float(s - base), sample.weight);
        for (int k = 0; k < 4; ++k) {
            const int tap = base - 1 + k;
            if (tap < 0 || tap >= sourceLength)
                sample.weight[k] = 0;
        }
    }
    return out;
}

// Source pixels per result pixel above which shrinkArea first averages blocks of pixels,
// leaving about this many per result pixel.
constexpr qreal kPreShrinkFactor = 4;

// Fills `result` with the averages the taps give of `src`: across each used row first, then
// down the columns.
void averageOnto(QImage &result, const QImage &src, const std::vector<Tap> &across,
                 const std::vector<Tap> &down) {
    const int w = result.width();
    const Pixel zero = {0, 0, 0, 0};
    std::vector<Pixel> rows(std::size_t(src.height()) * w, zero);
    std::vector<bool> used(std::size_t(src.height()), false);
    for (const Tap &d : down)
        used[std::size_t(d.source)] = true;
    // Each result pixel is gathered in a register and stored once.
    for (int y = 0; y < src.height(); ++y) {
        if (!used[std::size_t(y)])
            continue;
        const auto *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        Pixel *row = rows.data() + std::size_t(y) * w;
        int current = across.front().result;
        Pixel sum = zero;
        for (const Tap &t : across) {
            if (t.result != current) {
                row[current] = sum;
                sum = zero;
                current = t.result;
            }
            sum += unpack(line[t.source]) * t.weight;
        }
        row[current] = sum;
    }
    std::vector<Pixel> sums(std::size_t(result.height()) * w, zero);
    for (const Tap &t : down) {
        const Pixel *row = rows.data() + std::size_t(t.source) * w;
        Pixel *out = sums.data() + std::size_t(t.result) * w;
        for (int i = 0; i < w; ++i)
            out[i] += row[i] * t.weight;
    }
    for (int y = 0; y < result.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        const Pixel *sum = sums.data() + std::size_t(y) * w;
        for (int x = 0; x < w; ++x)
            line[x] = pack(sum[x]);
    }
}

// The image reduced by averaging blocks of k x k pixels (fewer at the right and bottom
// edges, where the image ends inside a block). The rows of a block are first summed per
// column, a loop the compiler vectorises, then k columns at a time. k is at most 16, so
// the sums fit the 16-bit lanes that add two channels at once.
QImage averageBlocks(const QImage &src, int k) {
    const int sw = src.width();
    const int sh = src.height();
    const int w = (sw + k - 1) / k;
    const int h = (sh + k - 1) / k;
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return out;
    std::vector<quint32> redBlue(static_cast<std::size_t>(sw));
    std::vector<quint32> alphaGreen(static_cast<std::size_t>(sw));
    for (int by = 0; by < h; ++by) {
        std::fill(redBlue.begin(), redBlue.end(), 0);
        std::fill(alphaGreen.begin(), alphaGreen.end(), 0);
        const int rowsInBlock = std::min(k, sh - by * k);
        for (int y = by * k; y < by * k + rowsInBlock; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
            quint32 *rbColumn = redBlue.data();
            quint32 *agColumn = alphaGreen.data();
            for (int x = 0; x < sw; ++x) {
                rbColumn[x] += line[x] & 0x00FF00FF;
                agColumn[x] += (line[x] >> 8) & 0x00FF00FF;
            }
        }
        auto *outLine = reinterpret_cast<QRgb *>(out.scanLine(by));
        for (int bx = 0; bx < w; ++bx) {
            const int first = bx * k;
            const int end = std::min(sw, first + k);
            quint32 rb = 0, ag = 0;
            for (int x = first; x < end; ++x) {
                rb += redBlue[std::size_t(x)];
                ag += alphaGreen[std::size_t(x)];
            }
            const quint32 count = quint32(rowsInBlock * (end - first));
            auto mean = [count](quint32 sum) { return (sum + count / 2) / count; };
            outLine[bx] = mean(rb & 0xFFFF) | mean(rb >> 16) << 16 | mean(ag & 0xFFFF) << 8 |
                          mean(ag >> 16) << 24;
        }
    }
    return out;
}

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

} // namespace

QImage shrinkArea(const QImage &image, const QRectF &source, QSize size, const QRectF &target) {
    QImage result(size, QImage::Format_ARGB32_Premultiplied);
    if (result.isNull())
        return result;
    result.fill(Qt::transparent);
    QImage src = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QRectF from = source;
    if (src.isNull() || !(target.width() > 0) || !(target.height() > 0))
        return result;
    // Both are box filters, so averaging twice differs from averaging once by a fraction
    // of a result pixel; the first pass, over whole blocks, costs a few operations a pixel.
    const qreal reduction =
        std::min(from.width() / target.width(), from.height() / target.height());
    const int k = std::min(16, int(reduction / kPreShrinkFactor));
    if (k >= 2) {
        src = averageBlocks(src, k);
        if (src.isNull())
            return result;
        from = QRectF(from.left() / k, from.top() / k, from.width() / k, from.height() / k);
    }
    const std::vector<Tap> across = areaTaps(from.left(), from.right(), src.width(), target.left(),
                                             target.right(), size.width());
    const std::vector<Tap> down = areaTaps(from.top(), from.bottom(), src.height(), target.top(),
                                           target.bottom(), size.height());
    if (across.empty() || down.empty())
        return result;

    averageOnto(result, src, across, down);
    return result;
}

QImage enlargeBicubic(const QImage &image, const QRectF &target, const QRect &area) {
    QImage result(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (result.isNull())
        return result;
    result.fill(Qt::transparent);
    const QImage src = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (src.isNull() || !(target.width() > 0) || !(target.height() > 0))
        return result;

    const int w = area.width();
    const int h = area.height();
    const std::vector<CubicSample> across =
        cubicSamples(area.left(), w, target.left(), target.width(), src.width());
    const std::vector<CubicSample> down =
        cubicSamples(area.top(), h, target.top(), target.height(), src.height());

    // Horizontal pass over the source rows the result reaches, then the vertical pass row by
    // row.
    const Pixel zero = {0, 0, 0, 0};
    std::vector<Pixel> rows(std::size_t(src.height()) * w, zero);
    const int firstRow = std::max(0, down.front().first);
    const int lastRow = std::min(src.height() - 1, down.back().first + 3);
    for (int y = firstRow; y <= lastRow; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        Pixel *row = rows.data() + std::size_t(y) * w;
        for (int x = 0; x < w; ++x) {
            const CubicSample &s = across[std::size_t(x)];
            const int base = s.first;
            Pixel sum = zero;
            for (int k = 0; k < 4; ++k)
                if (s.weight[k] != 0)
                    sum += unpack(line[base + k]) * s.weight[k];
            row[x] = sum;
        }
    }
    // Taps beyond the image read a row of zeros.
    const std::vector<Pixel> zeros(std::size_t(w), zero);
    for (int y = 0; y < h; ++y) {
        const CubicSample &s = down[std::size_t(y)];
        const Pixel *r[4];
        for (int k = 0; k < 4; ++k)
            r[k] = s.weight[k] == 0 ? zeros.data() : rows.data() + std::size_t(s.first + k) * w;
        const float w0 = s.weight[0], w1 = s.weight[1], w2 = s.weight[2], w3 = s.weight[3];
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = pack(r[0][x] * w0 + r[1][x] * w1 + r[2][x] * w2 + r[3][x] * w3);
    }
    return result;
}

namespace {

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
