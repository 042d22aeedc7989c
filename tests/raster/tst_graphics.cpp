#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTest>

#include "raster/Graphics.h"
#include "raster/GraphicsText.h"
#include "support/ImageProbes.h"

using namespace raster;

namespace {

QImage blank(int w, int h) {
    return testsupport::blankImage(w, h);
}

TextPathRequest request(const QString &text, qreal width = 0, qreal height = 0) {
    TextPathRequest r;
    r.text = text;
    r.family = programFontFamily();
    r.emSize = 12;
    r.width = width;
    r.height = height;
    return r;
}

using testsupport::maxChannelDifference;

} // namespace

class tst_Graphics : public QObject {
    Q_OBJECT
private slots:
    void angleGradientEnds_data() {
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<qreal>("degrees");
        QTest::addColumn<QPointF>("start");
        QTest::addColumn<QPointF>("end");
        QTest::newRow("90: top to bottom")
            << QRectF(-1, -1, 200, 100) << 90.0 << QPointF(99, -1) << QPointF(99, 99);
        QTest::newRow("0: left to right")
            << QRectF(0, 0, 100, 20) << 0.0 << QPointF(0, 10) << QPointF(100, 10);
        QTest::newRow("450 wraps to 90")
            << QRectF(0, 0, 100, 20) << 450.0 << QPointF(50, 0) << QPointF(50, 20);
        // Along 45 degrees the line spans the square's diagonal projected: 100 * sqrt(2).
        QTest::newRow("45: corner to corner")
            << QRectF(0, 0, 100, 100) << 45.0 << QPointF(0, 0) << QPointF(100, 100);
        QTest::newRow("135: top right to bottom left")
            << QRectF(0, 0, 100, 100) << 135.0 << QPointF(100, 0) << QPointF(0, 100);
    }
    void angleGradientEnds() {
        QFETCH(QRectF, rect);
        QFETCH(qreal, degrees);
        QFETCH(QPointF, start);
        QFETCH(QPointF, end);
        const GradientEnds ends = raster::angleGradientEnds(rect, degrees);
        QVERIFY2((ends.start - start).manhattanLength() < 1e-9,
                 qPrintable(QString("%1,%2").arg(ends.start.x()).arg(ends.start.y())));
        QVERIFY((ends.end - end).manhattanLength() < 1e-9);
    }

    void angleGradientRepeats() {
        QImage image = blank(30, 1);
        QPainter p(&image);
        p.fillRect(image.rect(),
                   QBrush(angleGradient(QRectF(0, 0, 10, 1), 0, Qt::black, Qt::white)));
        p.end();
        // Beyond its end the run starts again from the first colour.
        QVERIFY(qRed(image.pixel(9, 0)) > 200);
        QVERIFY(qRed(image.pixel(10, 0)) < 30);
        QCOMPARE(image.pixel(3, 0), image.pixel(13, 0));
    }

    void colorMatrix_data() {
        QTest::addColumn<QRgb>("pixel");
        QTest::addColumn<QRgb>("expected");
        QTest::addColumn<float>("shift");
        QTest::addColumn<float>("alpha");
        QTest::newRow("identity") << qRgba(10, 128, 250, 255) << qRgba(10, 128, 250, 255) << 0.0f
                                  << 1.0f;
        QTest::newRow("subtract 0.75 clamps")
            << qRgba(255, 128, 250, 255) << qRgba(64, 0, 59, 255) << -0.75f << 1.0f;
        QTest::newRow("add 127/128 clamps")
            << qRgba(0, 10, 200, 255) << qRgba(253, 255, 255, 255) << 127.0f / 128 << 1.0f;
        QTest::newRow("alpha scaled, colour straight")
            << qRgba(200, 100, 0, 255) << qRgba(200, 100, 0, 128) << 0.0f << 128.0f / 255;
    }
    void colorMatrix() {
        QFETCH(QRgb, pixel);
        QFETCH(QRgb, expected);
        QFETCH(float, shift);
        QFETCH(float, alpha);
        ColorMatrix m = identityColorMatrix();
        m[3][3] = alpha;
        m[4][0] = m[4][1] = m[4][2] = shift;
        QImage image(1, 1, QImage::Format_ARGB32);
        image.setPixel(0, 0, pixel);
        const QImage out = applyColorMatrix(image, m);
        QCOMPARE(out.format(), QImage::Format_ARGB32_Premultiplied);
        const QRgb got = out.convertToFormat(QImage::Format_ARGB32).pixel(0, 0);
        QVERIFY2(std::abs(qRed(got) - qRed(expected)) <= 1 &&
                     std::abs(qGreen(got) - qGreen(expected)) <= 1 &&
                     std::abs(qBlue(got) - qBlue(expected)) <= 1 && qAlpha(got) == qAlpha(expected),
                 qPrintable(QString::number(got, 16)));
    }

    void shrinkAreaAveragesAndCovers() {
        // Stripes of black and white average to grey; a target that starts half-way into the
        // first pixel leaves that pixel half covered.
        QImage stripes(40, 40, QImage::Format_ARGB32_Premultiplied);
        for (int x = 0; x < 40; ++x)
            for (int y = 0; y < 40; ++y)
                stripes.setPixel(x, y, x % 2 ? 0xFFFFFFFF : 0xFF000000);
        const QImage small =
            shrinkArea(stripes, QRectF(0, 0, 40, 40), QSize(5, 5), QRectF(0.5, 0.5, 4, 4));
        QCOMPARE(small.size(), QSize(5, 5));
        QVERIFY(std::abs(qAlpha(small.pixel(2, 2)) - 255) <= 1);
        QVERIFY(std::abs(qRed(small.pixel(2, 2)) - 128) <= 2);
        QVERIFY(std::abs(qAlpha(small.pixel(0, 2)) - 128) <= 1);
        QVERIFY(std::abs(qAlpha(small.pixel(0, 0)) - 64) <= 1);
        QVERIFY(std::abs(qAlpha(small.pixel(4, 2)) - 128) <= 1);
    }

    void enlargeBicubicFadesAtEdges() {
        QImage one(4, 4, QImage::Format_ARGB32_Premultiplied);
        one.fill(0xFF000000);
        const QRectF target(10, 10, 80, 80);
        const QRect area(0, 0, 100, 100);
        const QImage big = enlargeBicubic(one, target, area);
        // The interior keeps the colour; the border pixels are about half as opaque, because
        // the taps beyond the image are transparent; a source pixel further out nothing is left.
        QCOMPARE(qAlpha(big.pixel(50, 50)), 255);
        QVERIFY(qAlpha(big.pixel(0, 50)) < 10);
        QCOMPARE(qAlpha(enlargeBicubic(one, target, QRect(-12, 50, 1, 1)).pixel(0, 0)), 0);
        QVERIFY(qAlpha(big.pixel(10, 50)) > 100 && qAlpha(big.pixel(10, 50)) < 160);
        QVERIFY(qAlpha(big.pixel(89, 50)) > 100 && qAlpha(big.pixel(89, 50)) < 160);
        // Monotonic rise from the edge inwards.
        for (int x = 10; x < 40; ++x)
            QVERIFY(qAlpha(big.pixel(x, 50)) <= qAlpha(big.pixel(x + 1, 50)));
        // Computing only a part gives the same pixels as that part of the whole.
        const QImage part = enlargeBicubic(one, target, QRect(5, 40, 20, 3));
        QCOMPARE(part.pixel(7, 1), big.pixel(12, 41));
    }

    void drawImageStretchedCoversTheTargetsPixels_data() {
        QTest::addColumn<QRectF>("target");
        QTest::addColumn<QRect>("covered");
        QTest::newRow("whole pixels, strong enlargement")
            << QRectF(2, 3, 80, 60) << QRect(2, 3, 80, 60);
        QTest::newRow("half pixels") << QRectF(2.5, 3.5, 6, 6) << QRect(2, 3, 7, 7);
        QTest::newRow("fractions") << QRectF(2.6, 3.4, 6, 6) << QRect(3, 3, 6, 6);
    }
    void drawImageStretchedCoversTheTargetsPixels() {
        QFETCH(QRectF, target);
        QFETCH(QRect, covered);
        QImage one(4, 3, QImage::Format_ARGB32_Premultiplied);
        one.fill(0xFF000000);
        QImage image = blank(100, 80);
        QPainter p(&image);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        drawImageStretched(p, one, target);
        p.end();
        QCOMPARE(testsupport::inkedRect(image), covered);
    }

    void coarseGridMatchesTheExactEnlargement() {
        // A card shrunk twenty times at a fractional offset and enlarged again, as a soft
        // shadow is made: the coarse grid with bilinear filling-in stays within a few levels
        // of the exact bicubic surface everywhere, the faded edges included.
        QImage card(400, 300, QImage::Format_ARGB32_Premultiplied);
        card.fill(0xFFF2F2F2);
        QPainter onCard(&card);
        onCard.fillRect(0, 280, 150, 20, QColor(0x40, 0x80, 0xC0));
        onCard.end();
        const QImage small = shrinkArea(card, QRectF(0, 0, 399, 299), QSize(20, 15),
                                        QRectF(0.45, 0.45, 19.45, 14.45));
        const QRectF target(2, 2, 419, 319);
        QImage drawn = blank(440, 340);
        QPainter p(&drawn);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        drawImageStretched(p, small, target);
        p.end();
        const QImage exact = enlargeBicubic(small, target, QRect(2, 2, 419, 319));
        const int difference = maxChannelDifference(drawn.copy(2, 2, 419, 319), exact);
        QVERIFY2(difference <= 6, qPrintable(QString::number(difference)));
    }

    void drawImageStretchedFollowsTheSmoothHint() {
        QImage two(2, 1, QImage::Format_ARGB32_Premultiplied);
        two.setPixel(0, 0, 0xFF000000);
        two.setPixel(1, 0, 0xFFFFFFFF);
        QImage sharp = blank(20, 1), smooth = blank(20, 1);
        {
            QPainter p(&sharp);
            drawImageStretched(p, two, QRectF(0, 0, 20, 1));
        }
        {
            QPainter p(&smooth);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            drawImageStretched(p, two, QRectF(0, 0, 20, 1));
        }
        QCOMPARE(qRed(sharp.pixel(9, 0)), 0);
        QCOMPARE(qRed(sharp.pixel(10, 0)), 255);
        QVERIFY(qRed(smooth.pixel(9, 0)) > 60 && qRed(smooth.pixel(9, 0)) < 200);
    }

    void pathGradientIsAPyramidForARectangle() {
        QPainterPath closed;
        closed.moveTo(0, 0);
        closed.lineTo(100, 0);
        closed.lineTo(100, 100);
        closed.lineTo(0, 100);
        QCOMPARE(pathGradientCentre(closed), QPointF(50, 50));
        const QImage image = pathGradientImage(closed, QPointF(50, 50), Qt::white, Qt::black,
                                               QPoint(0, 0), QSize(101, 101));
        QCOMPARE(qRed(image.pixel(50, 50)), 255);
        QCOMPARE(qRed(image.pixel(0, 50)), 0);
        // Equal colours lie on scaled copies of the square, not on circles.
        QCOMPARE(image.pixel(25, 50), image.pixel(25, 30));
        QCOMPARE(image.pixel(25, 50), image.pixel(25, 25));
        QVERIFY(std::abs(qRed(image.pixel(25, 50)) - 128) <= 1);
    }

    void onePixelLineIsCrisp() {
        QImage image = blank(20, 10);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        useGdiPixelCentres(p);
        p.setPen(gdiPen(Qt::black, 1));
        p.drawLine(QLineF(2, 5, 18, 5));
        p.end();
        QCOMPARE(qAlpha(image.pixel(10, 5)), 255);
        QCOMPARE(qAlpha(image.pixel(10, 4)), 0);
        QCOMPARE(qAlpha(image.pixel(10, 6)), 0);
    }

    void programFontIsChineseCapable() {
        const QString family = programFontFamily();
        QVERIFY2(!family.isEmpty(), "no Chinese-capable font installed");
        QVERIFY(isChineseCapable(family));
        QVERIFY(fontFamilyExists(family.toUpper()));
        QCOMPARE(programFontCandidates().first(), QStringLiteral("Microsoft YaHei"));
        QVERIFY(!textPath(request(QStringLiteral("软件更新"))).isEmpty());
    }

    void textWithoutGlyphsDrawsNothing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("family");
        QTest::addColumn<qreal>("size");
        QTest::newRow("empty") << QString() << programFontFamily() << 12.0;
        QTest::newRow("missing family")
            << QStringLiteral("abc") << QStringLiteral("No Such Family") << 12.0;
        QTest::newRow("zero size") << QStringLiteral("abc") << programFontFamily() << 0.0;
    }
    void textWithoutGlyphsDrawsNothing() {
        QFETCH(QString, text);
        QFETCH(QString, family);
        QFETCH(qreal, size);
        TextPathRequest r = request(text);
        r.family = family;
        r.emSize = size;
        QVERIFY(textPath(r).isEmpty());
        QCOMPARE(textLineCount(r), 0);
    }

    void lineBreaks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qreal>("width");
        QTest::addColumn<int>("lines");
        QTest::newRow("one line") << QStringLiteral("abc") << 0.0 << 1;
        QTest::newRow("CR LF") << QStringLiteral("a\r\nb\r\nc") << 0.0 << 3;
        QTest::newRow("LF") << QStringLiteral("a\nb") << 0.0 << 2;
        QTest::newRow("empty lines count") << QStringLiteral("a\r\n\r\n\r\nb") << 0.0 << 4;
        QTest::newRow("lone CR does not break") << QStringLiteral("a\rb") << 0.0 << 1;
        QTest::newRow("no wrap without width")
            << QStringLiteral("正在下载请稍等正在下载请稍等") << 0.0 << 1;
        // Fourteen 12-pixel characters in 100 pixels (less the padding) need two lines.
        QTest::newRow("Chinese wraps between characters")
            << QStringLiteral("正在下载请稍等正在下载请稍等") << 100.0 << 2;
        QTest::newRow("words wrap at spaces") << QStringLiteral("aaaa bbbb") << 50.0 << 2;
        QTest::newRow("a long word breaks anywhere")
            << QStringLiteral("aaaaaaaaaaaaaaaa") << 50.0 << 3;
    }
    void lineBreaks() {
        QFETCH(QString, text);
        QFETCH(qreal, width);
        QFETCH(int, lines);
        QCOMPARE(textLineCount(request(text, width)), lines);
    }

    void wrappedTextStaysInsideTheWidth() {
        const TextPathRequest r =
            request(QStringLiteral("软件作者保证软件不含任何恶意代码或病毒"), 100);
        const QRectF bounds = textPath(r).boundingRect();
        QVERIFY(bounds.left() >= 0);
        QVERIFY2(bounds.right() <= 100, qPrintable(QString::number(bounds.right())));
        QVERIFY(textLineCount(r) >= 2);
    }

    void linesFollowAtTheLineSpacing() {
        const QRectF one = textPath(request(QStringLiteral("工"))).boundingRect();
        const QRectF two = textPath(request(QStringLiteral("工\r\n工"))).boundingRect();
        const qreal spacing = two.height() - one.height();
        // Noto Sans CJK: 1.448 em; any CJK font lies between 1.2 and 1.6 em.
        QVERIFY2(spacing > 12 * 1.2 && spacing < 12 * 1.6, qPrintable(QString::number(spacing)));
    }

    void alignment_data() {
        QTest::addColumn<int>("horizontal");
        QTest::addColumn<int>("vertical");
        QTest::newRow("near near") << int(TextAlign::Near) << int(TextAlign::Near);
        QTest::newRow("centre centre") << int(TextAlign::Centre) << int(TextAlign::Centre);
        QTest::newRow("far far") << int(TextAlign::Far) << int(TextAlign::Far);
    }
    void alignment() {
        QFETCH(int, horizontal);
        QFETCH(int, vertical);
        TextPathRequest r = request(QStringLiteral("工具   "), 200, 100);
        r.horizontal = TextAlign(horizontal);
        r.vertical = TextAlign(vertical);
        const QRectF b = textPath(r).boundingRect();
        const qreal padding = kTextPaddingEm * r.emSize;
        switch (TextAlign(horizontal)) {
        case TextAlign::Near:
            QVERIFY(b.left() >= padding && b.left() < padding + 3);
            QVERIFY(b.top() > 0 && b.top() < 12);
            break;
        case TextAlign::Centre:
            // Trailing blanks do not count: the glyphs sit in the middle.
            QVERIFY2(std::abs(b.center().x() - 100) <= 1,
                     qPrintable(QString::number(b.center().x())));
            QVERIFY2(std::abs(b.center().y() - 50) <= 3,
                     qPrintable(QString::number(b.center().y())));
            break;
        case TextAlign::Far:
            QVERIFY(b.right() <= 200 - padding && b.right() > 200 - padding - 3);
            QVERIFY(b.bottom() < 100 && b.bottom() > 88);
            break;
        }
    }

    void styleBitsChangeTheOutline() {
        const TextPathRequest plain = request(QStringLiteral("Ab"));
        TextPathRequest underline = plain;
        underline.fontStyle = kFontUnderline;
        TextPathRequest strike = plain;
        strike.fontStyle = kFontStrikeout;
        TextPathRequest bold = plain;
        bold.fontStyle = kFontBold;
        const QRectF p = textPath(plain).boundingRect();
        // The underline lies below the baseline, the strikeout inside the glyphs.
        QVERIFY(textPath(underline).boundingRect().bottom() > p.bottom() + 1);
        QCOMPARE(textPath(strike).boundingRect().bottom(), p.bottom());
        QVERIFY(textPath(strike).elementCount() > textPath(plain).elementCount());
        QVERIFY(textPath(bold) != textPath(plain));
    }

    void fractionalSizesScaleExactly() {
        TextPathRequest small = request(QStringLiteral("工"));
        TextPathRequest big = small;
        big.emSize = 24.5;
        const QRectF a = textPath(small).boundingRect();
        const QRectF b = textPath(big).boundingRect();
        QVERIFY(std::abs(b.width() / a.width() - 24.5 / 12) < 1e-6);
    }

    void cachedPictureMatchesDirectDrawing_data() {
        QTest::addColumn<qreal>("outline");
        QTest::addColumn<QPointF>("at");
        QTest::newRow("fill, whole pixels") << 0.0 << QPointF(10, 5);
        QTest::newRow("outline, half pixels") << 2.0 << QPointF(10.5, 5.5);
        QTest::newRow("outline, odd fraction") << 1.0 << QPointF(3.25, 7.75);
    }
    void cachedPictureMatchesDirectDrawing() {
        QFETCH(qreal, outline);
        QFETCH(QPointF, at);
        const TextPathRequest r = request(QStringLiteral("软件 Update"), 150, 30);
        QImage cached = blank(180, 50), direct = blank(180, 50);
        cached.fill(0xFF406080);
        direct.fill(0xFF406080);
        for (int round = 0; round < 2; ++round) { // first fills the cache, second uses it
            QPainter p(&cached);
            p.setRenderHint(QPainter::Antialiasing);
            p.translate(at);
            drawTextPath(p, r, QColor(255, 200, 0, 200), outline, QColor(0, 0, 0, 120));
        }
        for (int round = 0; round < 2; ++round) {
            QPainter p(&direct);
            p.setRenderHint(QPainter::Antialiasing);
            p.translate(at);
            const QPainterPath path = textPath(r);
            if (outline > 0)
                p.strokePath(path, gdiPen(QColor(0, 0, 0, 120), outline));
            p.fillPath(path, QColor(255, 200, 0, 200));
        }
        int touched = 0;
        for (int y = 0; y < cached.height(); ++y)
            for (int x = 0; x < cached.width(); ++x)
                touched += cached.pixel(x, y) != 0xFF406080;
        QVERIFY(touched > 100);
        const int difference = maxChannelDifference(cached, direct);
        QVERIFY2(difference <= 2, qPrintable(QString::number(difference)));
    }
};

QTEST_MAIN(tst_Graphics)
#include "tst_graphics.moc"
