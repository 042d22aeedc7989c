#include <QTest>

#include "platform/Numbers.h"

using namespace platform;

class tst_Numbers : public QObject {
    Q_OBJECT
private slots:
    void roundsHalfToEven_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("0.5") << 0.5 << 0;
        QTest::newRow("1.5") << 1.5 << 2;
        QTest::newRow("2.5") << 2.5 << 2;
        QTest::newRow("-0.5") << -0.5 << 0;
        QTest::newRow("-1.5") << -1.5 << -2;
        QTest::newRow("-2.5") << -2.5 << -2;
        QTest::newRow("2.4999") << 2.4999 << 2;
        QTest::newRow("-2.5001") << -2.5001 << -3;
        QTest::newRow("max") << 2147483647.0 << 2147483647;
        QTest::newRow("min") << -2147483648.0 << int(-2147483648LL);
        QTest::newRow("max+0.4") << 2147483647.4 << 2147483647;
    }
    void roundsHalfToEven() {
        QFETCH(double, value);
        QFETCH(int, expected);
        QCOMPARE(roundToInt32(value), expected);
    }

    void roundingOverflows_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("sixteenBit");
        QTest::newRow("int32 max+0.5 rounds up") << 2147483647.5 << false;
        QTest::newRow("int32 below min") << -2147483649.0 << false;
        QTest::newRow("infinity") << HUGE_VAL << false;
        QTest::newRow("nan") << std::nan("") << false;
        QTest::newRow("int16 32767.5") << 32767.5 << true;
        QTest::newRow("int16 -32769") << -32769.0 << true;
    }
    void roundingOverflows() {
        QFETCH(double, value);
        QFETCH(bool, sixteenBit);
        if (sixteenBit)
            QVERIFY_THROWS_EXCEPTION(OverflowError, roundToInt16(value));
        else
            QVERIFY_THROWS_EXCEPTION(OverflowError, roundToInt32(value));
    }

    void sixteenBitRange() {
        QCOMPARE(roundToInt16(32766.5), std::int16_t(32766));
        QCOMPARE(roundToInt16(-32768.4), std::int16_t(-32768));
        QCOMPARE(checkedAdd16(16384, 16383), std::int16_t(32767));
        QVERIFY_THROWS_EXCEPTION(OverflowError, checkedAdd16(16384, 16384));
        QVERIFY_THROWS_EXCEPTION(OverflowError, checkedMultiply16(16384, 2));
        QCOMPARE(checkedMultiply16(-16384, 2), std::int16_t(-32768));
    }

    void checkedArithmetic() {
        QCOMPARE(checkedAdd(2147483600, 47), 2147483647);
        QVERIFY_THROWS_EXCEPTION(OverflowError, checkedAdd(2147483600, 48));
        QVERIFY_THROWS_EXCEPTION(OverflowError, checkedAdd(-2147483647, -2));
        QCOMPARE(checkedSubtract(-2147483600, 48), int(-2147483648LL));
        QVERIFY_THROWS_EXCEPTION(OverflowError, checkedSubtract(-2147483600, 49));
        QVERIFY_THROWS_EXCEPTION(OverflowError, checkedSubtract(0, int(-2147483648LL)));
        QCOMPARE(checkedMultiply(255, 65536), 16711680);
        QVERIFY_THROWS_EXCEPTION(OverflowError, checkedMultiply(32768, 65536));
        QCOMPARE(toByte(255), std::uint8_t(255));
        QVERIFY_THROWS_EXCEPTION(OverflowError, toByte(256));
        QVERIFY_THROWS_EXCEPTION(OverflowError, toByte(-1));
    }
};

QTEST_APPLESS_MAIN(tst_Numbers)
#include "tst_numbers.moc"
