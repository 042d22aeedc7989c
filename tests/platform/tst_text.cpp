#include <clocale>

#include <QTest>
#include <QTime>

#include "platform/Text.h"

using namespace platform;

class tst_Text : public QObject {
    Q_OBJECT
private slots:
    void leadingNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("integer") << "1234" << 1234.0;
        QTest::newRow("digits then letters") << "12abc" << 12.0;
        QTest::newRow("leading blanks") << " \t\n 42" << 42.0;
        QTest::newRow("fraction") << "0.25?more" << 0.25;
        QTest::newRow("negative") << "-0.1" << -0.1;
        QTest::newRow("plus sign") << "+7" << 7.0;
        QTest::newRow("point first") << ".5" << 0.5;
        QTest::newRow("second point stops") << "1.2.3" << 1.2;
        QTest::newRow("exponent") << "1e3x" << 1000.0;
        QTest::newRow("D exponent") << "2D2" << 200.0;
        QTest::newRow("dangling exponent") << "3e" << 3.0;
        QTest::newRow("letters") << "abc" << 0.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("lone sign") << "-" << 0.0;
        QTest::newRow("lone point") << "." << 0.0;
        QTest::newRow("inner blank stops") << "1 2" << 1.0;
        QTest::newRow("comma is not a point") << "1,5" << 1.0;
    }
    void leadingNumber() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(platform::leadingNumber(text), expected);
    }

    void leadingNumberIgnoresLocale() {
        const char *old = std::setlocale(LC_NUMERIC, nullptr);
        const QByteArray saved = old ? QByteArray(old) : QByteArray("C");
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
        QCOMPARE(platform::leadingNumber(u"0.5"), 0.5);
        std::setlocale(LC_NUMERIC, saved.constData());
    }

    void leadingNumberHugeExponent() {
        QVERIFY(std::isinf(platform::leadingNumber(u"1e999")));
        QCOMPARE(platform::leadingNumber(u"1e-999"), 0.0);
    }

    void parseNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("expected");
        QTest::newRow("integer") << "27" << true << 27.0;
        QTest::newRow("blanks around") << " 2.5 " << true << 2.5;
        QTest::newRow("negative") << "-3" << true << -3.0;
        QTest::newRow("exponent") << "1e3" << true << 1000.0;
        QTest::newRow("trailing letters") << "12abc" << false << 0.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("blank") << "   " << false << 0.0;
        QTest::newRow("point") << "." << false << 0.0;
    }
    void parseNumber() {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(double, expected);
        const auto parsed = platform::parseNumber(text);
        QCOMPARE(parsed.has_value(), isNumber);
        if (isNumber)
            QCOMPARE(*parsed, expected);
    }

    void trimBlanksOnlySpaces() {
        QCOMPARE(trimBlanks(u"  a b  "), QStringLiteral("a b"));
        QCOMPARE(trimBlanks(u"   "), QString());
        QCOMPARE(trimBlanks(u"\ta\t"), QStringLiteral("\ta\t"));
    }

    void timeStamp() {
        QCOMPARE(timeStampHHMMSS(QTime(9, 5, 7)), QStringLiteral("090507"));
        QCOMPARE(timeStampHHMMSS(QTime(23, 59, 59)), QStringLiteral("235959"));
    }

    void decodesNamedCharsets_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QString>("expected");
        QTest::newRow("GBK") << QByteArray("\xB8\xFC\xD0\xC2") << QByteArray("GBK")
                             << QStringLiteral("更新");
        QTest::newRow("GB18030") << QByteArray("\xB8\xFC\xD0\xC2") << QByteArray("GB18030")
                                 << QStringLiteral("更新");
        QTest::newRow("UTF-8") << QByteArray("\xE6\x9B\xB4") << QByteArray("UTF-8")
                               << QStringLiteral("更");
        QTest::newRow("invalid byte") << QByteArray("a\xFF"
                                                    "b")
                                      << QByteArray("UTF-8") << QStringLiteral("a\uFFFDb");
        QTest::newRow("cut sequence")
            << QByteArray("a\xE6\x9B") << QByteArray("UTF-8") << QStringLiteral("a\uFFFD\uFFFD");
    }
    void decodesNamedCharsets() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, charset);
        QFETCH(QString, expected);
        QCOMPARE(decodeCharset(bytes, charset), std::optional<QString>(expected));
    }

    // Characters beyond the Basic Multilingual Plane: four bytes in UTF-8 and GB18030, two
    // UTF-16 units in the text. A charset that cannot hold one writes a single "?".
    void nonBmpCharacters_data() {
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("roundTrip");
        const QString grin = QString::fromUcs4(U"a\U0001F600b");
        const QString ideograph = QString::fromUcs4(U"\U00020000\u8FDB");
        QTest::newRow("U+1F600 in UTF-8") << QByteArray("UTF-8") << grin
                                          << QByteArray("a\xF0\x9F\x98\x80"
                                                        "b")
                                          << true;
        QTest::newRow("U+20000 in UTF-8") << QByteArray("UTF-8") << ideograph
                                          << QByteArray("\xF0\xA0\x80\x80\xE8\xBF\x9B") << true;
        QTest::newRow("U+1F600 in GB18030") << QByteArray("GB18030") << grin
                                            << QByteArray("a\x94\x39\xFC\x36"
                                                          "b")
                                            << true;
        QTest::newRow("U+20000 in GB18030")
            << QByteArray("GB18030") << ideograph << QByteArray("\x95\x32\x82\x36\xBD\xF8") << true;
        QTest::newRow("U+1F600 where GBK cannot hold it")
            << QByteArray("GBK") << grin << QByteArray("a?b") << false;
        QTest::newRow("U+20000 where Latin-1 cannot hold it")
            << QByteArray("ISO-8859-1") << ideograph << QByteArray("??") << false;
    }
    void nonBmpCharacters() {
        QFETCH(QByteArray, charset);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, roundTrip);
        QCOMPARE(encodeCharset(text, charset), std::optional<QByteArray>(bytes));
        if (roundTrip)
            QCOMPARE(decodeCharset(bytes, charset), std::optional<QString>(text));
    }

    void unknownCharset() { QVERIFY(!decodeCharset("abc", "NO-SUCH-CHARSET").has_value()); }

    void localeCodesetRoundTrip() {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        QCOMPARE(localeCodeset(), QByteArray("UTF-8"));
        QCOMPARE(toLocaleCodeset(u"进度 0.5"), QByteArray("\xE8\xBF\x9B\xE5\xBA\xA6 0.5"));
        QCOMPARE(fromLocaleCodeset("\xE8\xBF\x9B"), QStringLiteral("进"));
        const QString grin = QString::fromUcs4(U"\U0001F600");
        QCOMPARE(toLocaleCodeset(grin), QByteArray("\xF0\x9F\x98\x80"));
        QCOMPARE(fromLocaleCodeset("\xF0\x9F\x98\x80"), grin);
        // A four-byte sequence cut short is no character, and the byte after it survives.
        QCOMPARE(fromLocaleCodeset("\xF0\x9F\x98"
                                   "a"),
                 QStringLiteral("\uFFFD\uFFFD\uFFFDa"));
        std::setlocale(LC_CTYPE, "C");
        QCOMPARE(toLocaleCodeset(u"a进b"), QByteArray("a?b"));
        QCOMPARE(toLocaleCodeset(QString::fromUcs4(U"a\U0001F600b")), QByteArray("a?b"));
    }
};

QTEST_APPLESS_MAIN(tst_Text)
#include "tst_text.moc"
