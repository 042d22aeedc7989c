#include "raster/GraphicsText.h"

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include <QCache>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <QTransform>

#include "raster/Graphics.h"

namespace raster {

namespace {

// Fonts are laid out at a large integer pixel size without hinting and the outline scaled
// down afterwards: QFont pixel sizes are integers, while em sizes may be fractional, and
// unhinted metrics at this size keep the geometry exact.
constexpr int kLayoutPixelSize = 2048;

// Upper bound of the outline cache in path elements (a short status line has about 500).
constexpr int kCacheCost = 400000;

// Upper bound of the picture cache in KiB; one frame's texts take well under 2 MiB.
constexpr int kPictureCacheKiB = 32 * 1024;

// Texts whose picture would be larger than this many pixels are drawn as outlines each time.
constexpr qint64 kLargestPicture = 2048 * 1024;

// Sub-pixel positions of cached pictures are kept to this fraction of a pixel.
constexpr qreal kSubPixelSteps = 64;

struct TextOutline {
    QPainterPath path;
    int lineCount = 0;
};

QString cacheKey(const TextPathRequest &r) {
    auto bits = [](qreal v) {
        quint64 b = 0;
        std::memcpy(&b, &v, sizeof b);
        return QString::number(b, 16);
    };
    return QStringList{r.text,
                       r.family,
                       bits(r.emSize),
                       QString::number(r.fontStyle),
                       bits(r.width),
                       bits(r.height),
                       QString::number(int(r.horizontal)),
                       QString::number(int(r.vertical))}
        .join(QChar(0x1F));
}

qreal alignedOffset(TextAlign align, qreal room) {
    switch (align) {
    case TextAlign::Centre:
        return room / 2;
    case TextAlign::Far:
        return room;
    case TextAlign::Near:
        break;
    }
    return 0;
}

// What every line of one request is laid out with.
struct LineFrame {
    const TextPathRequest &request;
    const QFontMetricsF &metrics;
    qreal padding = 0; // inside the box on the left and the right
    qreal room = 0;    // the width the lines wrap at and align in
    bool wrap = false;
};

// The outline of one laid-out line, aligned in the box and underlined or struck out as the
// style asks.
QPainterPath lineOutline(const LineFrame &frame, const QTextLine &line, const QString &paragraph) {
    const TextPathRequest &r = frame.request;
    const QFontMetricsF &metrics = frame.metrics;
    // Trailing blanks do not count for alignment (Qt's natural width includes them).
    int end = line.textStart() + line.textLength();
    while (end > line.textStart() && paragraph.at(end - 1).isSpace())
        --end;
    const qreal width = line.cursorToX(end) - line.cursorToX(line.textStart());
    const qreal dx = frame.padding + alignedOffset(r.horizontal, frame.room - width);
    // Every line keeps the first font's ascent even when a fallback font is taller.
    const qreal dy = metrics.ascent() - line.ascent();
    QPainterPath path;
    for (const QGlyphRun &run : line.glyphRuns()) {
        const QRawFont raw = run.rawFont();
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        for (qsizetype g = 0; g < glyphs.size(); ++g)
            path.addPath(raw.pathForGlyph(glyphs[g]).translated(positions[g]));
    }
    const qreal baseline = line.y() + line.ascent();
    if (r.fontStyle & kFontUnderline)
        path.addRect(QRectF(0, baseline + metrics.underlinePos(), width, metrics.lineWidth()));
    if (r.fontStyle & kFontStrikeout)
        path.addRect(QRectF(0, baseline - metrics.strikeOutPos(), width, metrics.lineWidth()));
    return path.translated(dx, dy);
}

// Lays one paragraph out from `top` down, adding its lines' outlines to `path` and moving
// `top` below them; returns how many lines it took.
int addParagraph(const LineFrame &frame, const QFont &font, const QString &paragraph,
                 QPainterPath &path, qreal &top) {
    const qreal lineSpacing = frame.metrics.lineSpacing();
    if (paragraph.isEmpty()) {
        top += lineSpacing;
        return 1;
    }
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setUseDesignMetrics(true);
    QTextLayout layout(paragraph, font);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(frame.wrap ? frame.room : 1e9);
        line.setPosition(QPointF(0, top));
        top += lineSpacing;
    }
    layout.endLayout();
    for (int i = 0; i < layout.lineCount(); ++i)
        path.addPath(lineOutline(frame, layout.lineAt(i), paragraph));
    return layout.lineCount();
}

TextOutline layOut(const TextPathRequest &r) {
    TextOutline outline;
    if (r.text.isEmpty() || !(r.emSize > 0) || !fontFamilyExists(r.family))
        return outline;

    QFont font(r.family);
    font.setPixelSize(kLayoutPixelSize);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setBold(r.fontStyle & kFontBold);
    font.setItalic(r.fontStyle & kFontItalic);
    const QFontMetricsF metrics(font);
    const qreal scale = r.emSize / kLayoutPixelSize;
    const qreal padding = kTextPaddingEm * kLayoutPixelSize;
    const bool wrap = r.width > 0;
    const qreal boxWidth = wrap ? r.width / scale : 0;
    const LineFrame frame{r, metrics, padding, std::max<qreal>(0, boxWidth - 2 * padding), wrap};

    // CR LF and LF break lines; a lone CR breaks nothing and draws nothing, so dropping
    // every CR leaves exactly the breaks to split at.
    QString text = r.text;
    text.remove(QChar('\r'));
    QPainterPath path;
    qreal top = 0;
    for (const QString &paragraph : text.split(QChar('\n')))
        outline.lineCount += addParagraph(frame, font, paragraph, path, top);

    const qreal boxHeight = std::max<qreal>(0, r.height / scale);
    const qreal dy = alignedOffset(r.vertical, boxHeight - top);
    outline.path = QTransform::fromScale(scale, scale).map(path.translated(0, dy));
    outline.path.setFillRule(Qt::OddEvenFill);
    return outline;
}

QCache<QString, TextOutline> &cache() {
    thread_local QCache<QString, TextOutline> outlines(kCacheCost);
    return outlines;
}

TextOutline cachedOutline(const TextPathRequest &request) {
    const QString key = cacheKey(request);
    if (const TextOutline *hit = cache().object(key))
        return *hit; // paths are implicitly shared: the copy costs nothing
    TextOutline outline = layOut(request);
    cache().insert(key, new TextOutline(outline), int(outline.path.elementCount()) + 1);
    return outline;
}

struct TextPicture {
    QImage image;
    QPoint offset; // of the image's top-left pixel from the device pixel the origin lies in
};

QCache<QString, TextPicture> &pictures() {
    thread_local QCache<QString, TextPicture> cached(kPictureCacheKiB);
    return cached;
}

void paintOutline(QPainter &painter, const QPainterPath &path, const QColor &fill,
                  qreal outlineWidth, const QColor &outline) {
    if (outlineWidth > 0)
        painter.strokePath(path, gdiPen(outline, outlineWidth));
    painter.fillPath(path, fill);
}

} // namespace

QPainterPath textPath(const TextPathRequest &request) {
    return cachedOutline(request).path;
}

int textLineCount(const TextPathRequest &request) {
    return cachedOutline(request).lineCount;
}

void clearTextPathCache() {
    cache().clear();
    pictures().clear();
}

namespace {

// A cached picture composed with source-over gives the same pixels as stroking and filling
// one after the other only at full opacity, on a raster device, and when the painter
// merely translates.
bool picturesGiveTheSamePixels(const QPainter &painter) {
    const QPaintEngine *engine = painter.paintEngine();
    return painter.deviceTransform().type() <= QTransform::TxTranslate &&
           !painter.viewTransformEnabled() && painter.opacity() == 1.0 &&
           painter.compositionMode() == QPainter::CompositionMode_SourceOver && engine &&
           engine->type() == QPaintEngine::Raster;
}

// The outline painted into a picture at a fraction (fracX, fracY) of a pixel, or nothing
// when the picture would be too large to keep.
std::optional<TextPicture> makePicture(const QPainterPath &path, QPointF fraction, bool antialiased,
                                       const QColor &fill, qreal outlineWidth,
                                       const QColor &outline) {
    // Room for the pen: a miter may reach five pen widths beyond a sharp corner.
    const qreal reach = outlineWidth > 0 ? outlineWidth * 5 + 1 : 1;
    const QRectF area =
        path.controlPointRect().translated(fraction).adjusted(-reach, -reach, reach, reach);
    if (!(area.width() * area.height() <= qreal(kLargestPicture)))
        return std::nullopt;
    const QRect bounds = area.toAlignedRect();
    TextPicture picture{QImage(bounds.size(), QImage::Format_ARGB32_Premultiplied),
                        bounds.topLeft()};
    if (picture.image.isNull())
        return std::nullopt;
    picture.image.fill(Qt::transparent);
    QPainter onPicture(&picture.image);
    onPicture.setRenderHint(QPainter::Antialiasing, antialiased);
    onPicture.translate(fraction - bounds.topLeft());
    paintOutline(onPicture, path, fill, outlineWidth, outline);
    return picture;
}

// Draws the picture with its origin in the device pixel (whole.x, whole.y).
void drawPicture(QPainter &painter, const TextPicture &picture, QPointF whole) {
    painter.save();
    painter.resetTransform();
    painter.drawImage(whole + picture.offset, picture.image);
    painter.restore();
}

} // namespace

void drawTextPath(QPainter &painter, const TextPathRequest &request, const QColor &fill,
                  qreal outlineWidth, const QColor &outline) {
    const QPainterPath path = textPath(request);
    if (path.isEmpty())
        return;
    if (!picturesGiveTheSamePixels(painter)) {
        paintOutline(painter, path, fill, outlineWidth, outline);
        return;
    }
    const QTransform toDevice = painter.deviceTransform();
    const QPointF whole(std::floor(toDevice.dx()), std::floor(toDevice.dy()));
    const QPointF fraction(
        std::round((toDevice.dx() - whole.x()) * kSubPixelSteps) / kSubPixelSteps,
        std::round((toDevice.dy() - whole.y()) * kSubPixelSteps) / kSubPixelSteps);
    const bool antialiased = painter.testRenderHint(QPainter::Antialiasing);
    const QString key =
        cacheKey(request) + QChar(0x1E) +
        QStringList{QString::number(fill.rgba(), 16),    QString::number(outlineWidth),
                    QString::number(outline.rgba(), 16), QString::number(fraction.x()),
                    QString::number(fraction.y()),       QString::number(int(antialiased))}
            .join(QChar(0x1F));
    if (const TextPicture *cached = pictures().object(key)) {
        drawPicture(painter, *cached, whole);
        return;
    }
    std::optional<TextPicture> made =
        makePicture(path, fraction, antialiased, fill, outlineWidth, outline);
    if (!made) {
        paintOutline(painter, path, fill, outlineWidth, outline);
        return;
    }
    drawPicture(painter, *made, whole);
    const int kib = int(made->image.sizeInBytes() / 1024) + 1;
    // The cache owns what it is given, and drops a picture too large to keep at once.
    pictures().insert(key, new TextPicture(std::move(*made)), kib);
}

bool fontFamilyExists(const QString &family) {
    if (!qGuiApp || family.isEmpty())
        return false;
    return QFontDatabase::hasFamily(family);
}

bool isChineseCapable(const QString &family) {
    return fontFamilyExists(family) &&
           QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese);
}

QStringList programFontCandidates() {
    QStringList families{QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC"),
                         QStringLiteral("WenQuanYi Micro Hei"),
                         QStringLiteral("Source Han Sans SC")};
    if (qGuiApp) {
        QFont sans(QStringLiteral("sans-serif"));
        sans.setStyleHint(QFont::SansSerif);
        families << QFontInfo(sans).family();
    }
    return families;
}

QString programFontFamily() {
    if (!qGuiApp)
        return {};
    static QString resolved;
    if (!resolved.isEmpty())
        return resolved;
    for (const QString &family : programFontCandidates()) {
        if (isChineseCapable(family))
            return resolved = family;
    }
    const QStringList chinese = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    if (!chinese.isEmpty())
        resolved = chinese.first();
    return resolved;
}

} // namespace raster
