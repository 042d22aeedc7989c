#include "raster/Graphics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

// Pens, gradients and colour matrices; the image scaling lives in GraphicsReduction.cpp,
// GraphicsEnlargement.cpp and GraphicsStretching.cpp.
namespace raster {

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

} // namespace raster
