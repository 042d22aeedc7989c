#include <QImage>
#include <QPainter>
#include <QTest>

#include "drawing/ImageShadow.h"
#include "platform/Numbers.h"
#include "support/ImageProbes.h"

using namespace drawing;

namespace {

QImage blank(int w, int h) {
    return testsupport::blankImage(w, h);
}

QImage opaque(int w, int h, QRgb color) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

QImage shadow(const QImage &source, const ImageShadowParams &p, int w = 440, int h = 340) {
    QImage target = blank(w, h);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    DrawImageShadow(painter, source, p);
    return target;
}

} // namespace

class tst_ImageShadow : public QObject {
    Q_OBJECT
private slots:
    void geometry_data() {
        QTest::addColumn<float>("blur");
        QTest::addColumn<QSize>("small");
        QTest::addColumn<QRect>("shrunk");
        QTest::addColumn<int>("k");
        QTest::addColumn<QRectF>("target");
        // W 400, H 300 at (12, 12).
        QTest::newRow("20") << 20.0f << QSize(20, 15) << QRect(10, 10, 389, 289) << 10
                            << QRectF(2, 2, 419, 319);
        QTest::newRow("5: k 2.5 to even")
            << 5.0f << QSize(80, 60) << QRect(2, 2, 396, 296) << 2 << QRectF(10, 10, 403, 303);
        QTest::newRow("7: k 3.5 to even")
            << 7.0f << QSize(57, 43) << QRect(4, 4, 396, 296) << 4 << QRectF(8, 8, 407, 307);
    }
    void geometry() {
        QFETCH(float, blur);
        QFETCH(QSize, small);
        QFETCH(QRect, shrunk);
        QFETCH(int, k);
        QFETCH(QRectF, target);
        const std::optional<ImageShadowLayout> g =
            ImageShadowGeometry({12, 12, 400, 300, blur, 255, 0x202020, 0});
        QVERIFY(g);
        QCOMPARE(g->small, small);
        QCOMPARE(g->shrunk, shrunk);
        QCOMPARE(g->k, k);
        QCOMPARE(g->target, target);
    }

    void geometryEdges() {
        QVERIFY(!ImageShadowGeometry({12, 12, 400, 300, 0, 255, 0, 0}));
        QVERIFY(!ImageShadowGeometry({12, 12, 400, 300, 20, 0, 0, 0}));
        const std::optional<ImageShadowLayout> shifted =
            ImageShadowGeometry({12, 12, 400, 300, 20, 255, 0, 2.5f});
        QCOMPARE(shifted->target.topLeft(), QPointF(4.5, 4.5));
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError,
                                 ImageShadowGeometry({0, 0, 400, 300, 1e-9f, 255, 0, 0}));
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError,
                                 ImageShadowGeometry({0, 0, INT_MIN, 300, 20, 255, 0, 0}));
    }

    void colourMatrix() {
        raster::ColorMatrix neutral = ImageShadowColorMatrix(255, 0x808080);
        QCOMPARE(neutral, raster::identityColorMatrix());
        const raster::ColorMatrix dark = ImageShadowColorMatrix(128, 0x202020);
        QCOMPARE(dark[4][0], -0.75f);
        QCOMPARE(dark[4][1], -0.75f);
        QCOMPARE(dark[4][2], -0.75f);
        QCOMPARE(dark[3][3], 128 / 255.0f);
        const raster::ColorMatrix red = ImageShadowColorMatrix(255, 0x0000FF);
        QCOMPARE(red[4][0], 127 / 128.0f);
        QCOMPARE(red[4][2], -1.0f);
    }

    void drawsNothing_data() {
        QTest::addColumn<float>("blur");
        QTest::addColumn<int>("alpha");
        QTest::addColumn<bool>("nullImage");
        QTest::newRow("blur 0") << 0.0f << 255 << false;
        QTest::newRow("alpha 0") << 20.0f << 0 << false;
        QTest::newRow("no image") << 20.0f << 255 << true;
        QTest::newRow("negative blur") << -20.0f << 255 << false;
    }
    void drawsNothing() {
        QFETCH(float, blur);
        QFETCH(int, alpha);
        QFETCH(bool, nullImage);
        const QImage source = nullImage ? QImage() : opaque(400, 300, 0xFFFFFFFF);
        const QImage target =
            shadow(source, {12, 12, 400, 300, blur, std::uint8_t(alpha), 0x202020, 0});
        QCOMPARE(target, blank(440, 340));
    }

    void coversExactlyItsRectangle() {
        const QImage target =
            shadow(opaque(400, 300, 0xFFFFFFFF), {12, 12, 400, 300, 20, 255, 0x808080, 0});
        // (2, 2) with width 419 and height 319: pixels 2..420 and 2..320.
        QCOMPARE(qAlpha(target.pixel(1, 160)), 0);
        QVERIFY(qAlpha(target.pixel(2, 160)) > 0);
        QVERIFY(qAlpha(target.pixel(420, 160)) > 0);
        QCOMPARE(qAlpha(target.pixel(421, 160)), 0);
        QCOMPARE(qAlpha(target.pixel(200, 1)), 0);
        QVERIFY(qAlpha(target.pixel(200, 2)) > 0);
        QVERIFY(qAlpha(target.pixel(200, 320)) > 0);
        QCOMPARE(qAlpha(target.pixel(200, 321)), 0);
        // Soft edges: the alpha rises from the border inwards to opaque.
        QVERIFY(qAlpha(target.pixel(2, 160)) < 128);
        QVERIFY(qAlpha(target.pixel(2, 160)) < qAlpha(target.pixel(12, 160)));
        QVERIFY(qAlpha(target.pixel(12, 160)) < qAlpha(target.pixel(25, 160)));
        QCOMPARE(qAlpha(target.pixel(200, 160)), 255);
        // A neutral shift colour keeps the colours.
        QCOMPARE(target.pixel(200, 160), 0xFFFFFFFFu);
    }

    void shiftColourAndAlpha_data() {
        QTest::addColumn<int>("color");
        QTest::addColumn<int>("alpha");
        QTest::addColumn<int>("grey");
        QTest::newRow("0x202020 darkens by 0.75") << 0x202020 << 255 << 64;
        QTest::newRow("alpha 128 halves the opacity") << 0x808080 << 128 << 255;
    }
    void shiftColourAndAlpha() {
        QFETCH(int, color);
        QFETCH(int, alpha);
        QFETCH(int, grey);
        const QImage target = shadow(opaque(400, 300, 0xFFFFFFFF),
                                     {12, 12, 400, 300, 20, std::uint8_t(alpha), color, 0});
        const QRgb middle = target.pixel(200, 160);
        QVERIFY2(std::abs(qAlpha(middle) - alpha) <= 1, qPrintable(QString::number(middle, 16)));
        // Pixels are premultiplied: undo it to read the colour.
        const int red = qAlpha(middle) ? qRed(middle) * 255 / qAlpha(middle) : 0;
        QVERIFY2(std::abs(red - grey) <= 2, qPrintable(QString::number(red)));
    }

    void painterIsLeftAsItWas() {
        QImage target = blank(440, 340);
        QPainter painter(&target);
        painter.translate(1, 2);
        painter.setOpacity(0.5);
        DrawImageShadow(painter, opaque(400, 300, 0xFF000000), {12, 12, 400, 300, 20, 255, 0, 0});
        QCOMPARE(painter.transform(), QTransform::fromTranslate(1, 2));
        QCOMPARE(painter.opacity(), 0.5);
        QVERIFY(!painter.testRenderHint(QPainter::SmoothPixmapTransform));
    }
};

QTEST_MAIN(tst_ImageShadow)
#include "tst_imageshadow.moc"
