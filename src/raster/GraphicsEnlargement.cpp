#include "raster/Graphics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QImage>

#include "raster/GraphicsPixel.h"

// Enlargement: separable Catmull-Rom interpolation that fades out at the image's edges.
namespace raster {

using detail::pack;
using detail::Pixel;
using detail::unpack;

namespace {

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

} // namespace

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

} // namespace raster
