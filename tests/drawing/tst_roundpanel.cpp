#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTest>

#include "drawing/RoundPanel.h"
#include "platform/Numbers.h"
#include "raster/Graphics.h"
#include "support/DataRows.h"
#include "support/ImageProbes.h"

using namespace drawing;
using E = OutlineElement;

namespace {

RoundPanelParams panel(float l, float t, float r, float b, std::int16_t radius) {
    RoundPanelParams p;
    p.sngLeft = l;
    p.sngTop = t;
    p.sngRight = r;
    p.sngBottom = b;
    p.iRadiusTopLeft = p.iRadiusTopRight = p.iRadiusBottomLeft = p.iRadiusBottomRight = radius;
    return p;
}

QImage blank(int w = 140, int h = 90) {
    return testsupport::blankImage(w, h);
}

// A panel at (10, 10)-(109, 69) with square corners: red border, blue bevel, green fill.
RoundPanelParams probePanel() {
    RoundPanelParams p = panel(10, 10, 109, 69, 0);
    p.lColor1 = 0x0000FF00;
    p.lColor3 = 0x000000FF;
    p.lColor4 = 0x00FF0000;
    return p;
}

QImage paint(const RoundPanelParams &p, int w = 140, int h = 90) {
    QImage image = blank(w, h);
    QPainter painter(&image);
    DrawRoundPanel(painter, p);
    return image;
}

} // namespace

class tst_RoundPanel : public QObject {
    Q_OBJECT
private slots:
    void outlineOfTheRoundedExample() {
        const Outline expected{E::line({8, 0}, {191, 0}),    E::arc({183, 0, 16, 16}, 270, 90),
                               E::line({199, 8}, {199, 91}), E::arc({183, 83, 16, 16}, 0, 90),
                               E::line({191, 99}, {8, 99}),  E::arc({0, 83, 16, 16}, 90, 90),
                               E::line({0, 91}, {0, 8}),     E::arc({0, 0, 16, 16}, 180, 90)};
        QCOMPARE(RoundPanelOutline(panel(0, 0, 199, 99, 8)), expected);
        // Arcs join their neighbours exactly, so the path is one smooth closed figure.
        const QPainterPath path = OutlinePath(expected);
        QCOMPARE(path.boundingRect(), QRectF(0, 0, 199, 99));
        QVERIFY(path.contains(QPointF(100, 50)));
        QVERIFY(!path.contains(QPointF(0.5, 0.5)));
    }

    void outlineWithoutRadiiIsARectangle() {
        const Outline expected{E::line({0, 0}, {199, 0}), E::line({199, 0}, {199, 99}),
                               E::line({199, 99}, {0, 99}), E::line({0, 99}, {0, 0})};
        QCOMPARE(RoundPanelOutline(panel(0, 0, 199, 99, 0)), expected);
    }

    void outlineRoundsHalfToEven() {
        // 0.5 + 8 = 8.5 -> 8; 10.5 -> 10; 199.5 - 8 = 191.5 -> 192.
        const Outline o = RoundPanelOutline(panel(0.5f, 10.5f, 199.5f, 99.5f, 8));
        QCOMPARE(o.front(), E::line({8, 10}, {192, 10}));
    }

    void eachCornerDependsOnItsOwnRadius() {
        RoundPanelParams p = panel(0, 0, 199, 99, 0);
        p.iRadiusTopRight = 8;
        const Outline o = RoundPanelOutline(p);
        const Outline expected{E::line({0, 0}, {191, 0}), E::arc({183, 0, 16, 16}, 270, 90),
                               E::line({199, 8}, {199, 99}), E::line({199, 99}, {0, 99}),
                               E::line({0, 99}, {0, 0})};
        QCOMPARE(o, expected);
    }

    void radiusOverflow_data() {
        QTest::addColumn<int>("topLeft");
        QTest::addColumn<int>("topRight");
        QTest::addColumn<int>("bottom");
        QTest::addColumn<bool>("overflows");
        QTest::newRow("16383 doubles to 32766") << 16383 << 0 << 0 << false;
        QTest::newRow("16384 doubled leaves 16 bits") << 16384 << 0 << 0 << true;
        QTest::newRow("-16384 doubles to -32768") << -16384 << 0 << 0 << false;
        QTest::newRow("-16385") << -16385 << 0 << 0 << true;
        QTest::newRow("sum of radii leaves 16 bits") << 10000 << 10000 << 10000 << true;
    }
    void radiusOverflow() {
        QFETCH(int, topLeft);
        QFETCH(int, topRight);
        QFETCH(int, bottom);
        QFETCH(bool, overflows);
        RoundPanelParams p = panel(0, 0, 199, 99, 0);
        p.iRadiusTopLeft = std::int16_t(topLeft);
        p.iRadiusTopRight = std::int16_t(topRight);
        p.iRadiusBottomLeft = p.iRadiusBottomRight = std::int16_t(bottom);
        if (overflows) {
            QVERIFY_THROWS_EXCEPTION(platform::OverflowError, RoundPanelOutline(p));
            // Nothing is drawn when the geometry overflows, not even the fill.
            p.lFillStyle = 0;
            QImage image = blank();
            QPainter painter(&image);
            QVERIFY_THROWS_EXCEPTION(platform::OverflowError, DrawRoundPanel(painter, p));
            painter.end();
            QCOMPARE(image, blank());
        } else {
            QVERIFY(!RoundPanelOutline(p).empty());
        }
    }

    void bevelHalfWidth_data() {
        QTest::addColumn<float>("width");
        QTest::addColumn<int>("h");
        QTest::newRow("1") << 1.0f << 0;
        QTest::newRow("2.5 rounds to 2") << 2.5f << 1;
        QTest::newRow("3") << 3.0f << 1;
        QTest::newRow("3.5 rounds to 4") << 3.5f << 2;
    }
    void bevelHalfWidth() {
        QFETCH(float, width);
        QFETCH(int, h);
        QCOMPARE(BevelHalfWidth(width), h);
        RoundPanelParams p = panel(0, 0, 199, 99, 8);
        p.sngLineWidth = width;
        const Outline expected{
            E::arc({183, 0, 16, 16}, 315, 45), E::line({199, 8 - h}, {199, 91 + h}),
            E::arc({183, 83, 16, 16}, 0, 90), E::line({8 - h, 99}, {191 + h, 99}),
            E::arc({0, 83, 16, 16}, 90, 45)};
        QCOMPARE(RoundPanelBevel(p), expected);
    }

    void bevelWithoutRadii() {
        RoundPanelParams p = panel(0, 0, 199, 99, 0);
        p.sngLineWidth = 3;
        const Outline expected{E::line({199, -1}, {199, 100}), E::line({-1, 99}, {200, 99})};
        QCOMPARE(RoundPanelBevel(p), expected);
    }

    void colours_data() {
        QTest::addColumn<int>("color2");
        QTest::addColumn<int>("color3");
        QTest::addColumn<int>("color4");
        QTest::addColumn<uint>("c2");
        QTest::addColumn<uint>("c3");
        QTest::addColumn<uint>("c4");
        // Colour 1 is 0x00804020 (red 0x20) with alpha 0x11; alphas 2..4 are 0x22, 0x33, 0x44.
        QTest::newRow("own colours")
            << 0x000000FF << 0x0000FF00 << 0x00FF0000 << 0x22FF0000u << 0x3300FF00u << 0x440000FFu;
        QTest::newRow("inherited keep their own alpha")
            << -1 << -1 << -1 << 0x22204080u << 0x33204080u << 0x44204080u;
        QTest::newRow("colour 4 follows colour 3")
            << -1 << 0x0000FF00 << -1 << 0x22204080u << 0x3300FF00u << 0x4400FF00u;
    }
    void colours() {
        QFETCH(int, color2);
        QFETCH(int, color3);
        QFETCH(int, color4);
        QFETCH(uint, c2);
        QFETCH(uint, c3);
        QFETCH(uint, c4);
        RoundPanelParams p;
        p.lColor1 = 0x00804020;
        p.lColor2 = color2;
        p.lColor3 = color3;
        p.lColor4 = color4;
        p.bAlpha1 = 0x11;
        p.bAlpha2 = 0x22;
        p.bAlpha3 = 0x33;
        p.bAlpha4 = 0x44;
        const PanelColors c = RoundPanelColors(p);
        QCOMPARE(c.c1, 0x11204080u);
        QCOMPARE(c.c2, c2);
        QCOMPARE(c.c3, c3);
        QCOMPARE(c.c4, c4);
    }

    void gradient_data() {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("angle");
        QTest::newRow("1 vertical") << 1 << 90;
        QTest::newRow("2 horizontal") << 2 << 0;
        QTest::newRow("3 diagonal") << 3 << 45;
        QTest::newRow("4 other diagonal") << 4 << 135;
    }
    void gradient() {
        QFETCH(int, direction);
        QFETCH(int, angle);
        QCOMPARE(GradientAngle(direction), std::optional<int>(angle));
        QVERIFY(!GradientAngle(0));
        QVERIFY(!GradientAngle(5));
    }

    void gradientEndsForTheVerticalPanel() {
        const RoundPanelParams p = panel(0, 0, 199, 99, 8);
        // Right and bottom plus one, not the size plus two.
        QCOMPARE(RoundPanelGradientRect(p), QRect(-1, -1, 200, 100));
        const raster::GradientEnds ends =
            raster::angleGradientEnds(QRectF(RoundPanelGradientRect(p)), 90);
        QVERIFY(std::abs(ends.start.y() - -1) < 1e-9);
        QVERIFY(std::abs(ends.end.y() - 99) < 1e-9);
        // On the picture: colour 1 on top, colour 2 at the bottom.
        RoundPanelParams painted = p;
        painted.lFillStyle = 4;
        painted.lColor1 = 0x00FFFFFF;
        painted.lColor2 = 0;
        painted.sngLineWidth = 0;
        const QImage image = paint(painted, 200, 100);
        QVERIFY(qRed(image.pixel(100, 1)) > 245);
        QVERIFY(qRed(image.pixel(100, 98)) < 10);
        QVERIFY(std::abs(qRed(image.pixel(100, 49)) - 128) < 6);
    }

    void fillAndLines_data() {
        QTest::addColumn<int>("fillStyle");
        QTest::addColumn<int>("direction");
        QTest::addColumn<float>("lineWidth");
        QTest::addColumn<bool>("filled");
        QTest::addColumn<bool>("lines");
        QTest::newRow("solid") << 0 << 1 << 1.0f << true << true;
        QTest::newRow("style 1: no fill") << 1 << 1 << 1.0f << false << true;
        QTest::newRow("style 2 without picture") << 2 << 1 << 1.0f << false << true;
        QTest::newRow("style 4 direction 5") << 4 << 5 << 1.0f << false << true;
        QTest::newRow("style 9") << 9 << 1 << 1.0f << false << true;
        QTest::newRow("line width 0") << 0 << 1 << 0.0f << true << false;
        QTest::newRow("negative line width") << 1 << 1 << -2.0f << false << false;
    }
    void fillAndLines() {
        QFETCH(int, fillStyle);
        QFETCH(int, direction);
        QFETCH(float, lineWidth);
        QFETCH(bool, filled);
        QFETCH(bool, lines);
        RoundPanelParams p = probePanel();
        p.lFillStyle = fillStyle;
        p.lGradientDirection = direction;
        p.sngLineWidth = lineWidth;
        p.bBevel = true;
        p.sngShadowSize = 6; // drawn only under a fill
        const QImage image = paint(p);
        QCOMPARE(image.pixel(60, 40), filled ? 0xFF00FF00 : 0u);
        // The border's left edge is one crisp column; the bevel covers the right edge.
        if (lines) {
            QCOMPARE(image.pixel(10, 40), 0xFFFF0000);
            QCOMPARE(image.pixel(109, 40), 0xFF0000FFu);
        } else {
            QCOMPARE(qRed(image.pixel(10, 40)), 0);
            QCOMPARE(qBlue(image.pixel(109, 40)), 0);
        }
        if (!filled)
            QCOMPARE(qAlpha(image.pixel(9, 40)), 0);
        // The blurred shadow lies beyond the lower right corner, and only under a fill.
        QCOMPARE(qAlpha(image.pixel(116, 76)) > 0, filled);
    }

    void borderAndBevelAreIndependent() {
        RoundPanelParams p = probePanel();
        p.lFillStyle = 1;
        p.lHideBorder = 1;
        p.bBevel = true;
        const QImage image = paint(p);
        QCOMPARE(qAlpha(image.pixel(10, 40)), 0);
        QCOMPARE(image.pixel(109, 40), 0xFF0000FFu);
        QCOMPARE(image.pixel(60, 69), 0xFF0000FFu);
    }

    void dashedBorderHasGaps() {
        RoundPanelParams p = probePanel();
        p.lFillStyle = 1;
        p.lDashStyle = 1;
        const QImage image = paint(p);
        int on = 0;
        for (int x = 20; x < 100; ++x)
            on += qAlpha(image.pixel(x, 10)) > 128;
        // Dashes of 3 with gaps of 1: about three quarters of the line.
        QVERIFY2(on > 50 && on < 70, qPrintable(QString::number(on)));
    }

    void textureIsAnchoredAtTheOriginAndClamped() {
        QImage picture(30, 20, QImage::Format_ARGB32_Premultiplied);
        picture.fill(0xFF123456);
        RoundPanelParams p = probePanel();
        p.lFillStyle = 2;
        p.picTexture = picture;
        p.sngLineWidth = 0;
        const QImage image = paint(p);
        QCOMPARE(image.pixel(11, 11), 0xFF123456u);
        QCOMPARE(image.pixel(29, 19), 0xFF123456u);
        // Beyond the picture the brush paints nothing, inside the panel or not.
        QCOMPARE(qAlpha(image.pixel(30, 19)), 0);
        QCOMPARE(qAlpha(image.pixel(29, 20)), 0);
        QCOMPARE(qAlpha(image.pixel(5, 5)), 0);
    }

    void centreGradientRunsFromCentreToOutline() {
        RoundPanelParams p = panel(0, 0, 100, 60, 0);
        p.lFillStyle = 3;
        p.lColor1 = 0x00FFFFFF;
        p.lColor2 = 0;
        p.sngLineWidth = 0;
        const QImage image = paint(p, 101, 61);
        QVERIFY(qRed(image.pixel(50, 30)) > 245);
        QVERIFY(qRed(image.pixel(1, 30)) < 15);
        QVERIFY(qRed(image.pixel(50, 1)) < 15);
        QCOMPARE(qAlpha(image.pixel(50, 30)), 255);
    }

    void lastingPainterSettings_data() {
        QTest::addColumn<int>("smoothing");
        QTest::addColumn<bool>("antialiased");
        QTest::newRow("4 anti-alias") << 4 << true;
        QTest::newRow("2 high quality") << 2 << true;
        QTest::newRow("3 none") << 3 << false;
        QTest::newRow("0 default") << 0 << false;
    }
    void lastingPainterSettings() {
        QFETCH(int, smoothing);
        QFETCH(bool, antialiased);
        QImage image = blank();
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, !antialiased);
        const QPen pen(Qt::magenta, 3);
        painter.setPen(pen);
        painter.translate(3, 4);
        RoundPanelParams p = probePanel();
        p.lSmoothingMode = smoothing;
        p.bBevel = true;
        p.sngShadowSize = 4;
        DrawRoundPanel(painter, p);
        QCOMPARE(painter.testRenderHint(QPainter::Antialiasing), antialiased);
        QVERIFY(painter.testRenderHint(QPainter::SmoothPixmapTransform));
        QVERIFY(painter.testRenderHint(QPainter::TextAntialiasing));
        QCOMPARE(painter.pen(), pen);
        QCOMPARE(painter.transform(), QTransform::fromTranslate(3, 4));
    }

    void pathShadowGeometry_data() {
        QTest::addColumn<bool>("sharp");
        QTest::addColumn<float>("size");
        QTest::addColumn<QSize>("bitmap");
        QTest::addColumn<QRectF>("target");
        // Bounds (10, 10, 100, 60): right 110, bottom 70.
        QTest::newRow("blurred 10")
            << false << 10.0f << QSize(12, 8) << QRectF(5 + 2, 5 + 2, 120, 80);
        QTest::newRow("blurred 7: sizes round half to even")
            << false << 7.0f << QSize(17, 11) << QRectF(3.5 + 2, 3.5 + 2, 117, 77);
        QTest::newRow("sharp 4") << true << 4.0f << QSize(114, 74) << QRectF(2, 2, 114, 74);
    }
    void pathShadowGeometry() {
        QFETCH(bool, sharp);
        QFETCH(float, size);
        QFETCH(QSize, bitmap);
        QFETCH(QRectF, target);
        const PathShadowParams p{10, 10, 100, 60, size, 120, 0, 2, sharp};
        const std::optional<PathShadowLayout> layout = PathShadowGeometry(p);
        QVERIFY(layout);
        QCOMPARE(layout->bitmap, bitmap);
        QCOMPARE(layout->target, target);
        QVERIFY(!PathShadowGeometry({10, 10, 100, 60, 0, 120, 0, 2, sharp}));
        QVERIFY_THROWS_EXCEPTION(
            platform::OverflowError,
            PathShadowGeometry({2147483600, 0, 100, 60, size, 120, 0, 0, sharp}));
    }

    void pathShadowOfAShape_data() {
        testsupport::addRows<bool>("sharp", {{"blurred", false}, {"sharp", true}});
    }
    void pathShadowOfAShape() {
        QFETCH(bool, sharp);
        QPainterPath square;
        square.addRect(20, 20, 40, 40);
        QImage image = blank(100, 100);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        DrawPathShadow(painter, square, {20, 20, 40, 40, 4, 200, 0x00000080, 0, sharp});
        painter.end();
        // Opaque in the middle in the shadow colour at the shadow alpha; nothing far away.
        const QRgb middle = image.pixel(42, 42);
        QVERIFY2(std::abs(qAlpha(middle) - 200) <= 2, qPrintable(QString::number(qAlpha(middle))));
        QVERIFY(qRed(middle) > 90 && qGreen(middle) == 0);
        QCOMPARE(qAlpha(image.pixel(5, 5)), 0);
        QCOMPARE(qAlpha(image.pixel(95, 95)), 0);
        if (sharp) {
            // The pen of width 4 widens the silhouette by 2 on each side.
            QVERIFY(qAlpha(image.pixel(19, 40)) > 190);
            QCOMPARE(qAlpha(image.pixel(17, 40)), 0);
        }
    }
};

QTEST_MAIN(tst_RoundPanel)
#include "tst_roundpanel.moc"
