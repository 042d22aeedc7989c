#include "raster/Graphics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QImage>

#include "raster/GraphicsPixel.h"

// Reduction: area averaging, with a cheap block average first for strong reductions.
namespace raster {

using detail::pack;
using detail::Pixel;
using detail::unpack;

namespace {

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

} // namespace raster
