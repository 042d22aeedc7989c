#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "E2eKit.h"
#include "support/MinisignKit.h"

using testsupport::XvfbSession;

namespace {

enum class Signing {
    None,       // a copy without a key
    Signed,     // a copy with the vendor's key, the page announces the package's signature
    OtherBytes, // the same, but the portal serves other bytes than were signed
};

} // namespace

Q_DECLARE_METATYPE(Signing)

// The whole road of a check and a download with the real updater under a private X server:
// the demo portal serves the page and the package, xdotool clicks where the layout puts the
// action button, and the message boxes are answered with keys.
class tst_E2eUpdate : public QObject {
    Q_OBJECT
private slots:
    // With the keyboard alone the road is the same: Tab to the action button, Return to
    // check and again to download, the question answered with a key; no pointer event.
    void checkDownloadAndAnswer_data() {
        QTest::addColumn<bool>("openIt");
        QTest::addColumn<Signing>("signing");
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<bool>("english"); // an English desktop
        QTest::newRow("yes opens the package") << true << Signing::None << false << false;
        QTest::newRow("no tells where it is") << false << Signing::None << false << false;
        QTest::newRow("by keyboard") << true << Signing::None << true << false;
        QTest::newRow("signed copy, signed package") << true << Signing::Signed << false << false;
        QTest::newRow("signed copy, bytes differ from the signed ones")
            << true << Signing::OtherBytes << false << false;
        QTest::newRow("in English") << false << Signing::None << false << true;
    }
    void checkDownloadAndAnswer() {
        QFETCH(bool, openIt);
        QFETCH(Signing, signing);
        QFETCH(bool, keyboard);
        QFETCH(bool, english);
        if (!XvfbSession::toolsAvailable())
            QSKIP("Xvfb, xdotool or imagemagick is not installed");
        XvfbSession x;
        QVERIFY(x.start());
        e2e::Product product;

        const QByteArray package = testsupport::randomPackage(700 * 1024);
        const QString packageFile = product.dir.filePath(QStringLiteral("served.bin"));
        QFile served(packageFile);
        QVERIFY(served.open(QIODevice::WriteOnly) && served.write(package) == package.size());
        served.close();
        QStringList portalArgs{"--port",         "0",        "--id",      "77",
                               "--title",        "Demo 2.1", "--package", packageFile,
                               "--page-charset", "GBK"};
        QStringList stampArgs{"--name", "E2E", "--id", "77", "--style", "27"};
        if (signing != Signing::None) {
            // The vendor's key pair and signature, made by the real minisign tool.
            const QString vendor = product.dir.filePath(QStringLiteral("vendor"));
            const QString signature = product.dir.filePath(QStringLiteral("served.minisig"));
            QVERIFY(testsupport::makeMinisignKey(vendor));
            QVERIFY(testsupport::minisignFile(packageFile, vendor, signature));
            portalArgs << "--signature" << signature;
            stampArgs << "--public-key" << vendor + QStringLiteral(".pub");
            if (signing == Signing::OtherBytes) {
                QVERIFY(served.open(QIODevice::WriteOnly | QIODevice::Truncate));
                QVERIFY(served.write(testsupport::zipArchive("not what was signed")) > 0);
                served.close();
            }
        }
        e2e::PortalProcess portal;
        const QString base = portal.start(portalArgs);
        QVERIFY(!base.isEmpty());
        QVERIFY(product.stamp(stampArgs << "--portal" << base));

        // The desktop's opener, replaced by one that writes down what it was asked to open.
        const QString bin = product.dir.filePath(QStringLiteral("bin"));
        const QString opened = product.dir.filePath(QStringLiteral("opened.txt"));
        QDir().mkpath(bin);
        QFile opener(bin + QStringLiteral("/xdg-open"));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write(
            QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\n").arg(opened).toUtf8());
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = e2e::productEnvironment(x, product);
        env.insert(QStringLiteral("PATH"), bin + u':' + env.value(QStringLiteral("PATH")));
        if (english) {
            for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
                env.remove(QString::fromLatin1(name));
            env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        }
        // The boxes carry the window's title: "E2E 更新工具 1.0.0 beta" or "E2E Updater …".
        const QString boxTitle = english ? u"Updater"_qs : e2e::ChineseBoxTitle;

        QProcess updater;
        const qulonglong window = e2e::startUpdater(updater, x, product, env);
        if (window == 0)
            QFAIL(qPrintable(e2e::whyNoWindow(updater)));
        QCOMPARE(x.windowGeometry(window).size(), QSize(460, 220));
        const qulonglong question = e2e::checkAndDownload(x, window, keyboard, boxTitle);
        QVERIFY(question != 0);
        if (signing == Signing::OtherBytes) {
            // "软件包签名校验失败，文件已删除。" with OK; the window stays, and nothing was
            // published or left behind.
            e2e::keepShot(x.screenshot(), QStringLiteral("update-signature-failed"));
            QCOMPARE(QDir(product.dir.path()).entryList({QStringLiteral("*.zip")}), QStringList());
            e2e::pressKey(x, question, QStringLiteral("Return"));
            QTRY_VERIFY_WITH_TIMEOUT(x.waitForWindow(QStringLiteral("更新工具"), 100) == 0, 10000);
            QCOMPARE(updater.state(), QProcess::Running);
            QCOMPARE(x.windowGeometry(window).size(), QSize(460, 220));
            const QStringList left = QDir(product.dir.path()).entryList(QDir::Files | QDir::Hidden);
            QCOMPARE(left.filter(u".zip"_qs), QStringList());
            QCOMPARE(left.filter(u".part"_qs), QStringList());
            updater.terminate();
            QVERIFY(updater.waitForFinished(10000));
            return;
        }
        e2e::keepShot(x.screenshot(), english ? u"update-question-en"_qs : u"update-question"_qs);
        const QString saved = product.dir.filePath(QStringLiteral("Demo_2.1.zip"));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), package);

        if (openIt)
            e2e::pressKey(x, question, QStringLiteral("Return"));
        else
            QVERIFY(e2e::declineAndClose(x, question, boxTitle));
        QVERIFY(updater.waitForFinished(15000));
        QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
        QCOMPARE(updater.exitCode(), 0);
        if (openIt) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(opened), 5000);
            QFile record(opened);
            QVERIFY(record.open(QIODevice::ReadOnly));
            QVERIFY(QString::fromUtf8(record.readAll()).contains(u"Demo_2.1.zip"));
        } else {
            QVERIFY(!QFile::exists(opened));
        }
        // Nothing but the package was left in the folder: no temporary files.
        const QStringList left = QDir(product.dir.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.filter(u".part"_qs), QStringList());
    }
};

QTEST_MAIN(tst_E2eUpdate)
#include "tst_e2e_update.moc"
