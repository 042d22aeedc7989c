#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "platform/PropertyBag.h"
#include "platform/SettingsTrailer.h"
#include "support/DataRows.h"
#include "window/StartupValues.h"
#include "window/UpdaterSettings.h"

using namespace window;
using platform::PropertyBag;
using platform::PropertyValue;

namespace {

const platform::Version TestVersion{1, 0, 195};

BuildValues testBuild() {
    return {QStringLiteral("http://portal.test"), QStringLiteral("12345"),
            QStringLiteral("me@example.com"), TestVersion};
}

} // namespace

class tst_UpdaterSettings : public QObject {
    Q_OBJECT
private slots:
    void convertsEachKey_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<PropertyValue>("stored");
        QTest::addColumn<int>("expected");
        auto text = [](const char *s) { return PropertyValue(QString::fromUtf8(s)); };
        QTest::newRow("id digits") << "SoftwareID" << text("1234") << 1234;
        QTest::newRow("id digits then letters") << "SoftwareID" << text("12abc") << 12;
        QTest::newRow("id leading blanks") << "SoftwareID" << text("  77") << 77;
        QTest::newRow("id no number") << "SoftwareID" << text("abc") << 0;
        QTest::newRow("id tie to even") << "SoftwareID" << text("2.5") << 2;
        QTest::newRow("id tie to even up") << "SoftwareID" << text("3.5") << 4;
        QTest::newRow("id negative") << "SoftwareID" << text("-8") << -8;
        QTest::newRow("id overflow keeps 0") << "SoftwareID" << text("99999999999") << 0;
        QTest::newRow("id stored as number")
            << "SoftwareID" << PropertyValue(std::int32_t(55)) << 55;
        QTest::newRow("style") << "SoftwareThemeStyle" << text("25") << 25;
        QTest::newRow("style fraction") << "SoftwareThemeStyle" << text("14.5") << 14;
        QTest::newRow("style not a number") << "SoftwareThemeStyle" << text("15x") << 0;
        QTest::newRow("colour") << "SoftwareThemeColor" << text("13395507") << 13395507;
        QTest::newRow("colour empty") << "SoftwareThemeColor" << text("") << 0;
        QTest::newRow("special colour") << "SoftwareThemeSpecialColor" << text(" 255 ") << 255;
        QTest::newRow("key in another case") << "SOFTWARETHEMESTYLE" << text("15") << 15;
    }
    void convertsEachKey() {
        QFETCH(QString, key);
        QFETCH(PropertyValue, stored);
        QFETCH(int, expected);
        PropertyBag bag;
        bag.write(key, stored);
        bag.write(QStringLiteral("SoftwareName"), QStringLiteral("Kept"));
        const UpdaterSettings s = settingsFromBag(*PropertyBag::fromContents(bag.contents()));
        const QString lower = key.toLower();
        const int actual = lower == u"softwareid"           ? s.SoftwareID
                           : lower == u"softwarethemestyle" ? s.SoftwareThemeStyle
                           : lower == u"softwarethemecolor" ? s.SoftwareThemeColor
                                                            : s.SoftwareThemeSpecialColor;
        QCOMPARE(actual, expected);
        QCOMPARE(s.SoftwareName, QStringLiteral("Kept")); // one bad value spoils no other
    }

    void derivesStartupValues_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("color");
        QTest::addColumn<int>("special");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("pageUrl");
        QTest::addColumn<int>("themeStyle");
        QTest::addColumn<int>("themeColor");
        QTest::addColumn<int>("themeSpecial");
        QTest::addColumn<QString>("caption");
        QTest::newRow("stamped") << "Demo" << 1234 << 25 << 0x00CC6633 << 0x00112233
                                 << "Demo 更新工具 1.0.195 beta"
                                 << "http://portal.test/content/1234.html" << 25 << 0x00CC6633
                                 << 0x00112233 << "检查更新";
        QTest::newRow("all defaults") << "" << 0 << 0 << 0 << 0 << "更新工具 1.0.195 beta"
                                      << "" << 27 << 0x00FFFFFF << 0x00BFBFBF << "";
        QTest::newRow("blank name, negative id")
            << "   " << -3 << 0 << 0 << 0 << "更新工具 1.0.195 beta"
            << "" << 27 << 0x00FFFFFF << 0x00BFBFBF << "";
        QTest::newRow("name keeps its own blanks")
            << " A " << 1 << 15 << 0x00804020 << 0 << " A  更新工具 1.0.195 beta"
            << "http://portal.test/content/1.html" << 15 << 0x00804020 << 0x00400000 << "检查更新";
    }
    void derivesStartupValues() {
        QFETCH(QString, name);
        QFETCH(int, id);
        QFETCH(int, style);
        QFETCH(int, color);
        QFETCH(int, special);
        UpdaterSettings s;
        s.SoftwareName = name;
        s.SoftwareID = id;
        s.SoftwareThemeStyle = style;
        s.SoftwareThemeColor = color;
        s.SoftwareThemeSpecialColor = special;
        const StartupValues v = deriveStartupValues(s, testBuild());
        QTEST(v.strTitleText, "title");
        QTEST(v.strPageUrl, "pageUrl");
        QTEST(v.lThemeStyle, "themeStyle");
        QTEST(v.lThemeColor, "themeColor");
        QTEST(v.lThemeSpecialColor, "themeSpecial");
        QTEST(v.strActionCaption, "caption");
        QCOMPARE(v.strPackageUrl.isEmpty(), id < 1);
        if (id >= 1)
            QCOMPARE(v.strPackageUrl,
                     QStringLiteral("http://portal.test/download/d_load.php?d_id=") +
                         QString::number(id) + QStringLiteral("&down_id=1"));
    }

    void stampedPortalBaseOverridesTheBuiltIn() {
        UpdaterSettings s;
        s.SoftwareID = 7;
        s.PortalBase = QStringLiteral("http://127.0.0.1:8080");
        QCOMPARE(deriveStartupValues(s, testBuild()).strPageUrl,
                 QStringLiteral("http://127.0.0.1:8080/content/7.html"));
    }

    void agreementHasNineLines() {
        const QStringList lines =
            agreementText(u"12345"_qs, u"me@example.com"_qs).split(u"\r\n"_qs);
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines[0], QStringLiteral("用户协议"));
        QVERIFY(lines[1].isEmpty() && lines[6].isEmpty());
        QCOMPARE(lines[5], QStringLiteral("软件版权归软件作者所有;"));
        QCOMPARE(lines[7], QStringLiteral("联系作者 QQ: 12345"));
        QCOMPARE(lines[8], QStringLiteral("或者电子邮件 me@example.com"));
    }

    void readsTheTrailerOfAFile() {
        QTemporaryDir dir;
        PropertyBag bag;
        bag.write(QStringLiteral("softwarename"), QStringLiteral("转换器"));
        bag.write(QStringLiteral("softwareid"), QStringLiteral("42"));
        QByteArray exe(1000, '\x7f');
        exe.append(platform::makeTrailer(bag.contents(), exe.size()));
        const QString path = dir.filePath(u"exe"_qs);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(exe);
        file.close();
        const UpdaterSettings s = readUpdaterSettings(path);
        QCOMPARE(s.SoftwareName, QStringLiteral("转换器"));
        QCOMPARE(s.SoftwareID, 42);
        QVERIFY(!s.PortalBase);
    }

    void missingOrZeroTrailerGivesDefaults_data() {
        testsupport::addRows<QByteArray>("bytes", {{"last four bytes zero", QByteArray(64, '\0')},
                                                   {"tiny file", QByteArray("ab")},
                                                   {"no file", QByteArray()}});
    }
    void missingOrZeroTrailerGivesDefaults() {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"exe"_qs);
        if (!bytes.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        const UpdaterSettings s = readUpdaterSettings(path);
        QVERIFY(s.SoftwareName.isEmpty());
        QCOMPARE(s.SoftwareID, 0);
        QCOMPARE(s.SoftwareThemeStyle, 0);
        const StartupValues v = deriveStartupValues(s, testBuild());
        QVERIFY(v.strTitleText.startsWith(u"更新工具 "_qs));
        QVERIFY(v.strActionCaption.isEmpty());
    }
};

QTEST_APPLESS_MAIN(tst_UpdaterSettings)
#include "tst_updatersettings.moc"
