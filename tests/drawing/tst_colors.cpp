#include <QTest>

#include "drawing/Colors.h"
#include "platform/Numbers.h"

using namespace drawing;

class tst_Colors : public QObject {
    Q_OBJECT
private slots:
    void splitColor_data() {
        QTest::addColumn<int>("color");
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("g");
        QTest::addColumn<int>("b");
        QTest::newRow("bytes") << 0x00804020 << 0x20 << 0x40 << 0x80;
        QTest::newRow("white") << 0x00FFFFFF << 255 << 255 << 255;
        QTest::newRow("minus one truncates toward zero") << -1 << 255 << 0 << 0;
        QTest::newRow("ARGB FF123456") << int(0xFF123456u) << 0x56 << 0x35 << 0x13;
    }
    void splitColor() {
        QFETCH(int, color);
        QFETCH(int, r);
        QFETCH(int, g);
        QFETCH(int, b);
        QCOMPARE(SplitColor(color), (ColorRGB{r, g, b}));
    }

    void makeRGBDoesNotMask() {
        QCOMPARE(MakeRGB(0x20, 0x40, 0x80), 0x00804020);
        QCOMPARE(MakeRGB(256, 0, 0), 0x00000100);
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError, MakeRGB(0, 0, 32768));
    }

    void makeARGB() {
        QCOMPARE(MakeARGB(255, 0x12, 0x34, 0x56), 0xFF123456u);
        QCOMPARE(MakeARGB(0, 0, 0, 0), 0u);
        QCOMPARE(OleToARGB(0x00804020, 0x80), 0x80204080u);
    }

    void shadeColor_data() {
        QTest::addColumn<int>("color");
        QTest::addColumn<float>("amount");
        QTest::addColumn<int>("expected");
        QTest::newRow("+0.25") << 0x00804020 << 0.25f << 0x00C08060;
        QTest::newRow("white clamps") << 0x00FFFFFF << 0.2f << 0x00FFFFFF;
        QTest::newRow("black stays") << 0 << -0.25f << 0;
        QTest::newRow("-0.15 clamps at 0") << 0x00102030 << -0.15f << 0x0000000A;
        QTest::newRow("-0.1 float rounding") << 0x007F7F7F << -0.1f << 0x00656565;
        QTest::newRow("+0.35 float rounding") << 0 << 0.35f << 0x00595959;
        QTest::newRow("+0.2 adds 51") << 0 << 0.2f << 0x00333333;
        QTest::newRow("-0.25 from white") << 0x00FFFFFF << -0.25f << 0x00BFBFBF;
        QTest::newRow("-0.15 subtracts 38") << 0x00FFFFFF << -0.15f << 0x00D9D9D9;
    }
    void shadeColor() {
        QFETCH(int, color);
        QFETCH(float, amount);
        QFETCH(int, expected);
        QCOMPARE(ShadeColor(color, amount), expected);
    }

    void shadeByZeroKeepsEveryColour() {
        for (int color = 0; color <= 0x00FFFFFF; color += 0x010307)
            QCOMPARE(ShadeColor(color, 0.0f), color);
    }

    void shadeRejectsNonFinite() {
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError,
                                 ShadeColor(0, std::numeric_limits<float>::infinity()));
    }
};

QTEST_APPLESS_MAIN(tst_Colors)
#include "tst_colors.moc"
