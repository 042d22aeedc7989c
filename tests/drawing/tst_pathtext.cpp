#include <climits>

#include <QImage>
#include <QPainter>
#include <QTest>

#include "drawing/PathText.h"
#include "platform/Numbers.h"
#include "raster/GraphicsText.h"
#include "support/DataRows.h"
#include "support/ImageProbes.h"

using namespace drawing;
using raster::TextAlign;

namespace {

QImage blank(int w = 200, int h = 100) {
    return testsupport::blankImage(w, h);
}

QImage paint(const PathTextParams &p, int w = 200, int h = 100) {
    QImage image = blank(w, h);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawPathText(painter, p);
    return image;
}

PathTextParams text(const QString &s, LayoutRect rc, int align) {
    PathTextParams p;
    p.rcLayout = rc;
    p.strText = s;
    p.lAlign = align;
    p.strFontName = raster::programFontFamily();
    p.sngFontSize = 14;
    p.lTextColor = 0x00FF0000; // blue
    return p;
}

using testsupport::inkedRect;

} // namespace

Q_DECLARE_METATYPE(PathTextParams)

class tst_PathText : public QObject {
    Q_OBJECT
private slots:
    void alignmentCodes_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("horizontal");
        QTest::addColumn<int>("vertical");
        const int n = int(TextAlign::Near), c = int(TextAlign::Centre), f = int(TextAlign::Far);
        QTest::newRow("7") << 7 << n << n;
        QTest::newRow("8") << 8 << c << n;
        QTest::newRow("9") << 9 << f << n;
        QTest::newRow("4") << 4 << n << c;
        QTest::newRow("5") << 5 << c << c;
        QTest::newRow("6") << 6 << f << c;
        QTest::newRow("1") << 1 << n << f;
        QTest::newRow("2") << 2 << c << f;
        QTest::newRow("3") << 3 << f << f;
        QTest::newRow("0: top left") << 0 << n << n;
        QTest::newRow("10: top left") << 10 << n << n;
        QTest::newRow("-5: top left") << -5 << n << n;
    }
    void alignmentCodes() {
        QFETCH(int, code);
        QFETCH(int, horizontal);
        QFETCH(int, vertical);
        const auto [h, v] = TextAlignment(code);
        QCOMPARE(int(h), horizontal);
        QCOMPARE(int(v), vertical);
    }

    void barWidth_data() {
        QTest::addColumn<float>("percent");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("bar");
        QTest::newRow("0: none") << 0.0f << 301 << 0;
        QTest::newRow("-1: none") << -1.0f << 301 << 0;
        QTest::newRow("37.5") << 37.5f << 301 << 113;
        QTest::newRow("50 of 301: 150.5 to even") << 50.0f << 301 << 150;
        QTest::newRow("50 of 303: 151.5 to even") << 50.0f << 303 << 152;
        QTest::newRow("150 caps at 100") << 150.0f << 301 << 301;
        QTest::newRow("NaN: none") << std::numeric_limits<float>::quiet_NaN() << 301 << 0;
    }
    void barWidth() {
        QFETCH(float, percent);
        QFETCH(int, width);
        QFETCH(int, bar);
        QCOMPARE(PercentBarWidth(percent, width), bar);
    }

    void frameLinesReachTheFarEdges() {
        const std::array<QLine, 4> lines = FrameLines({0, 0, 100, 20});
        const std::array<QLine, 4> expected{QLine(0, 0, 100, 0), QLine(0, 0, 0, 20),
                                            QLine(0, 20, 100, 20), QLine(100, 0, 100, 20)};
        QCOMPARE(lines, expected);
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError, FrameLines({INT_MAX - 5, 0, 10, 20}));
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError, FrameLines({0, INT_MAX, 10, 1}));
    }

    void framePixels() {
        PathTextParams p;
        p.rcLayout = {10, 10, 100, 20};
        p.bBorder = true;
        p.lColor1 = 0x000000FF;
        const QImage image = paint(p);
        // One crisp column at X and at X + W, one row at Y and at Y + H.
        QCOMPARE(image.pixel(10, 20), 0xFFFF0000);
        QCOMPARE(image.pixel(110, 20), 0xFFFF0000);
        QCOMPARE(image.pixel(60, 10), 0xFFFF0000);
        QCOMPARE(image.pixel(60, 30), 0xFFFF0000);
        QCOMPARE(qAlpha(image.pixel(111, 20)), 0);
        QCOMPARE(qAlpha(image.pixel(60, 31)), 0);
        QCOMPARE(qAlpha(image.pixel(9, 20)), 0);
        QCOMPARE(qAlpha(image.pixel(60, 20)), 0);
    }

    void barPixels() {
        PathTextParams p;
        p.rcLayout = {0, 0, 301, 20};
        p.sngPercent = 50;
        p.bBackground = true;
        p.lColor1 = p.lColor2 = 0x00102030;
        const QImage image = paint(p, 320, 30);
        // Background 0x102030 (red 0x30); the bar darkened by 38 per channel: 0x00000A.
        QCOMPARE(image.pixel(100, 10), qRgb(0x0A, 0, 0));
        QCOMPARE(image.pixel(149, 10), qRgb(0x0A, 0, 0));
        QCOMPARE(image.pixel(152, 10), qRgb(0x30, 0x20, 0x10));
    }

    void barGradientSpansTheWholeBox() {
        PathTextParams p;
        p.rcLayout = {0, 0, 200, 10};
        p.sngPercent = 50;
        p.lColor1 = 0x00FFFFFF;
        p.lColor2 = 0x00000000;
        p.sngAngle = 0;
        const QImage image = paint(p, 220, 20);
        // Half a bar shows only the first half of the run: at its end the colour is mid-way
        // between the shaded ends (217 and 0), not the end colour.
        QVERIFY(qRed(image.pixel(1, 5)) > 200);
        QVERIFY(std::abs(qRed(image.pixel(98, 5)) - 110) < 12);
        QCOMPARE(qAlpha(image.pixel(110, 5)), 0);
    }

    void nothingToDraw_data() {
        testsupport::addRows<QString>("string",
                                      {{"empty", QString()}, {"blank", QStringLiteral(" ")}});
    }
    void nothingToDraw() {
        QFETCH(QString, string);
        PathTextParams p = text(string, {0, 0, 200, 100}, 5);
        QVERIFY(PathTextRequest(p).text.isEmpty());
        QCOMPARE(paint(p), blank());
    }

    void missingFamilyDrawsBoxButNoText() {
        PathTextParams p = text(QStringLiteral("更新"), {10, 10, 100, 30}, 5);
        p.bBackground = p.bBorder = true;
        p.lColor1 = p.lColor2 = 0x00808080;
        PathTextParams empty = p;
        empty.strText.clear();
        p.strFontName = QStringLiteral("No Such Family");
        QCOMPARE(paint(p), paint(empty));
        p.strFontName = raster::programFontFamily();
        QVERIFY(paint(p) != paint(empty));
    }

    void centredTextIsCentred() {
        const LayoutRect rc{20, 10, 160, 60};
        const QRect ink = inkedRect(paint(text(QStringLiteral("检查更新"), rc, 5)));
        const QPointF centre = QRectF(ink).center();
        QVERIFY2(std::abs(centre.x() - (rc.X + rc.Width / 2.0)) <= 1,
                 qPrintable(QString::number(centre.x())));
        // The line box is centred; the ideographs sit a little below its middle.
        QVERIFY2(std::abs(centre.y() - (rc.Y + rc.Height / 2.0)) <= 3,
                 qPrintable(QString::number(centre.y())));
    }

    void trimmedBeforeAlignment() {
        const LayoutRect rc{0, 0, 200, 40};
        const QRect a = inkedRect(paint(text(QStringLiteral("更新"), rc, 6)));
        const QRect b = inkedRect(paint(text(QStringLiteral("  更新  "), rc, 6)));
        QCOMPARE(a, b);
    }

    void lineBreaksAndWrapping_data() {
        QTest::addColumn<QString>("string");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("lines");
        QTest::newRow("CR LF pairs") << QStringLiteral("第一行\r\n第二行\r\n第三行") << 200 << 3;
        QTest::newRow("Chinese wraps")
            << QStringLiteral("软件作者保证软件不含任何恶意代码或病毒") << 120 << 3;
    }
    void lineBreaksAndWrapping() {
        QFETCH(QString, string);
        QFETCH(int, width);
        QFETCH(int, lines);
        PathTextParams p = text(string, {10, 0, width, 100}, 8);
        QCOMPARE(raster::textLineCount(PathTextRequest(p)), lines);
        const QRect ink = inkedRect(paint(p, 300, 100));
        QVERIFY(ink.left() >= 10);
        QVERIFY2(ink.right() <= 10 + width, qPrintable(QString::number(ink.right())));
        // Every line is centred on its own.
        QVERIFY(std::abs(QRectF(ink).center().x() - (10 + width / 2.0)) <= 8);
    }

    void outline_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("outlined");
        QTest::newRow("0: fill only") << 0 << false;
        QTest::newRow("negative: fill only") << -3 << false;
        QTest::newRow("2: outline outside the glyphs") << 2 << true;
    }
    void outline() {
        QFETCH(int, width);
        QFETCH(bool, outlined);
        PathTextParams p = text(QStringLiteral("更新 A"), {0, 0, 200, 60}, 5);
        p.sngFontSize = 30;
        p.lOutlineWidth = width;
        p.lOutlineColor = 0x000000FF; // red outline, blue fill
        const QImage image = paint(p);
        int red = 0, blue = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                red += qRed(image.pixel(x, y)) > 0;
                blue += qBlue(image.pixel(x, y)) == 255;
            }
        QVERIFY(blue > 100);
        QCOMPARE(red > 0, outlined);
    }

    // Nothing is painted outside the bounds the composer repaints by, however far the text
    // runs beyond its box.
    void boundsHoldEverythingPainted_data() {
        QTest::addColumn<PathTextParams>("params");
        PathTextParams framed = text(QStringLiteral("更新"), {20, 20, 60, 30}, 5);
        framed.bBackground = framed.bBorder = true;
        framed.lColor1 = framed.lColor2 = 0x00808080;
        framed.sngPercent = 50;
        QTest::newRow("box, frame and bar") << framed;
        PathTextParams spilling =
            text(QStringLiteral("下载\r\n更新\r\n工具\r\n完成"), {30, 10, 40, 12}, 7);
        spilling.sngFontSize = 20;
        QTest::newRow("text beyond its box") << spilling;
        PathTextParams outlined = text(QStringLiteral("W A V"), {40, 30, 80, 40}, 5);
        outlined.sngFontSize = 36;
        outlined.lOutlineWidth = 3;
        outlined.lOutlineColor = 0x000000FF;
        QTest::newRow("outline") << outlined;
        PathTextParams emptyBox = text(QString(), {50, 50, 0, 0}, 7);
        emptyBox.bBorder = true;
        QTest::newRow("empty box, framed") << emptyBox;
    }
    void boundsHoldEverythingPainted() {
        QFETCH(PathTextParams, params);
        const QRect bounds = PathTextBounds(params);
        const QRect ink = inkedRect(paint(params));
        QVERIFY2(bounds.contains(ink), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                      .arg(ink.x())
                                                      .arg(ink.y())
                                                      .arg(ink.width())
                                                      .arg(ink.height())));
    }

    void giantTextIsDrawnWithoutACachedPicture() {
        // One glyph far larger than the target: drawn straight from its outline, not through
        // a picture of gigabytes.
        PathTextParams p = text(QStringLiteral("工"), {-20000, -20000, 60000, 60000}, 5);
        p.sngFontSize = 40000;
        p.lOutlineWidth = 3;
        const QImage image = paint(p);
        int inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                inked += qAlpha(image.pixel(x, y)) > 0;
        QVERIFY(inked > 0);
    }

    void painterIsLeftAsItWas() {
        QImage image = blank();
        QPainter painter(&image);
        const QPen pen(Qt::green, 4);
        painter.setPen(pen);
        painter.translate(5, 6);
        PathTextParams p = text(QStringLiteral("更新"), {0, 0, 100, 40}, 5);
        p.bBackground = p.bBorder = true;
        p.sngPercent = 40;
        p.lOutlineWidth = 1;
        DrawPathText(painter, p);
        QCOMPARE(painter.pen(), pen);
        QCOMPARE(painter.transform(), QTransform::fromTranslate(5, 6));
        QVERIFY(!painter.testRenderHint(QPainter::Antialiasing));
        // An overflow is raised before anything is drawn or changed.
        painter.end();
        QImage untouched = blank();
        QPainter second(&untouched);
        p.rcLayout = {INT_MAX, 0, 10, 10};
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError, DrawPathText(second, p));
        QCOMPARE(second.transform(), QTransform());
        second.end();
        QCOMPARE(untouched, blank());
    }
};

QTEST_MAIN(tst_PathText)
#include "tst_pathtext.moc"
