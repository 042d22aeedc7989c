#include "platform/Graphics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

namespace platform {

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

// One contribution of a source pixel to a result pixel along one axis.
struct Tap {
    int source;
    int result;
    float weight;
};

// The overlaps of source pixels of [s0, s1] with result pixels when that span is mapped
// linearly onto [t0, t1].
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

QRgb packPremultiplied(const float *v) {
    const int a = std::clamp(int(std::lround(v[3])), 0, 255);
    auto channel = [a](float c) { return std::clamp(int(std::lround(c)), 0, a); };
    return qRgba(channel(v[0]), channel(v[1]), channel(v[2]), a);
}

void unpack(QRgb p, float *v) {
    v[0] = float(qRed(p));
    v[1] = float(qGreen(p));
    v[2] = float(qBlue(p));
    v[3] = float(qAlpha(p));
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

} // namespace

QImage shrinkArea(const QImage &image, const QRectF &source, QSize size, const QRectF &target) {
    QImage result(size, QImage::Format_ARGB32_Premultiplied);
    if (result.isNull())
        return result;
    result.fill(Qt::transparent);
    const QImage src = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const std::vector<Tap> across = areaTaps(source.left(), source.right(), src.width(),
                                             target.left(), target.right(), size.width());
    const std::vector<Tap> down = areaTaps(source.top(), source.bottom(), src.height(),
                                           target.top(), target.bottom(), size.height());
    if (across.empty() || down.empty())
        return result;

    const int w = size.width();
    std::vector<float> rows(std::size_t(src.height()) * w * 4, 0.0f);
    std::vector<bool> used(std::size_t(src.height()), false);
    for (const Tap &d : down)
        used[std::size_t(d.source)] = true;
    for (int y = 0; y < src.height(); ++y) {
        if (!used[std::size_t(y)])
            continue;
        const auto *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        float *row = rows.data() + std::size_t(y) * w * 4;
        for (const Tap &t : across) {
            float v[4];
            unpack(line[t.source], v);
            float *out = row + std::size_t(t.result) * 4;
            for (int c = 0; c < 4; ++c)
                out[c] += v[c] * t.weight;
        }
    }
    std::vector<float> sums(std::size_t(size.height()) * w * 4, 0.0f);
    for (const Tap &t : down) {
        const float *row = rows.data() + std::size_t(t.source) * w * 4;
        float *out = sums.data() + std::size_t(t.result) * w * 4;
        for (int i = 0; i < w * 4; ++i)
            out[i] += row[i] * t.weight;
    }
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        const float *sum = sums.data() + std::size_t(y) * w * 4;
        for (int x = 0; x < w; ++x)
            line[x] = packPremultiplied(sum + std::size_t(x) * 4);
    }
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

    // The taps of one result pixel along an axis; taps beyond the image keep weight 0 so the
    // image fades out into transparency at its edges.
    struct Sample {
        bool inside = false;
        int first = 0;
        float weight[4] = {};
    };
    auto samples = [](int start, int count, qreal t0, qreal tLength, int sourceLength) {
        std::vector<Sample> out(static_cast<std::size_t>(count));
        const qreal scale = sourceLength / tLength;
        for (int i = 0; i < count; ++i) {
            const qreal centre = start + i + 0.5;
            if (centre < t0 || centre > t0 + tLength)
                continue;
            const qreal s = (centre - t0) * scale - 0.5;
            const int base = int(std::floor(s));
            Sample &sample = out[std::size_t(i)];
            sample.inside = true;
            sample.first = base - 1;
            cubicWeights(float(s - base), sample.weight);
            for (int k = 0; k < 4; ++k) {
                const int tap = base - 1 + k;
                if (tap < 0 || tap >= sourceLength)
                    sample.weight[k] = 0;
            }
        }
        return out;
    };
    const int w = area.width();
    const int h = area.height();
    const std::vector<Sample> across =
        samples(area.left(), w, target.left(), target.width(), src.width());
    const std::vector<Sample> down =
        samples(area.top(), h, target.top(), target.height(), src.height());

    // Horizontal pass over every source row, then the vertical pass row by row over
    // contiguous memory.
    std::vector<float> rows(std::size_t(src.height()) * w * 4, 0.0f);
    for (int y = 0; y < src.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        float *row = rows.data() + std::size_t(y) * w * 4;
        for (int x = 0; x < w; ++x) {
            const Sample &s = across[std::size_t(x)];
            if (!s.inside)
                continue;
            float *out = row + std::size_t(x) * 4;
            for (int k = 0; k < 4; ++k) {
                if (s.weight[k] == 0)
                    continue;
                float v[4];
                unpack(line[s.first + k], v);
                for (int c = 0; c < 4; ++c)
                    out[c] += v[c] * s.weight[k];
            }
        }
    }
    std::vector<float> sum(std::size_t(w) * 4);
    for (int y = 0; y < h; ++y) {
        const Sample &s = down[std::size_t(y)];
        if (!s.inside)
            continue;
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (int k = 0; k < 4; ++k) {
            if (s.weight[k] == 0)
                continue;
            const float *row = rows.data() + std::size_t(s.first + k) * w * 4;
            const float weight = s.weight[k];
            for (int i = 0; i < w * 4; ++i)
                sum[std::size_t(i)] += row[i] * weight;
        }
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = packPremultiplied(sum.data() + std::size_t(x) * 4);
    }
    return result;
}

void drawImageStretched(QPainter &painter, const QImage &image, const QRectF &target) {
    if (image.isNull() || !(target.width() > 0) || !(target.height() > 0))
        return;
    if (!painter.testRenderHint(QPainter::SmoothPixmapTransform)) {
        painter.drawImage(target, image);
        return;
    }
    QRect area = target.toAlignedRect();
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
    painter.drawImage(area.topLeft(), enlargeBicubic(image, target, area));
}

} // namespace platform
