#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include "E2eKit.h"

using testsupport::XvfbSession;

// The whole road of a check and a download with the real updater under a private X server:
// the demo portal serves the page and the package, xdotool clicks where the layout puts the
// action button, and the message boxes are answered with keys.
class tst_E2eUpdate : public QObject {
    Q_OBJECT
private slots:
    void checkDownloadAndAnswer_data() {
        QTest::addColumn<bool>("openIt");
        QTest::newRow("yes opens the package") << true;
        QTest::newRow("no tells where it is") << false;
    }
    void checkDownloadAndAnswer() {
        QFETCH(bool, openIt);
        if (!XvfbSession::toolsAvailable())
            QSKIP("Xvfb, xdotool or imagemagick is not installed");
        XvfbSession x;
        QVERIFY(x.start());
        e2e::Product product;

        const QByteArray package = e2e::randomPackage(700 * 1024);
        e2e::PortalProcess portal;
        const QString base = e2e::servePackage(portal, product, package, QStringLiteral("77"),
                                               {"--page-charset", "GBK"});
        QVERIFY(!base.isEmpty());
        QVERIFY(product.stamp({"--name", "E2E", "--id", "77", "--style", "27", "--portal", base}));

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

        QProcess updater;
        const qulonglong window = e2e::startUpdater(updater, x, product, env);
        QVERIFY(window != 0);
        QCOMPARE(x.windowGeometry(window).size(), QSize(460, 220));
        const qulonglong question = e2e::checkAndDownload(x, window);
        QVERIFY(question != 0);
        e2e::keepShot(x.screenshot(), QStringLiteral("update-question"));
        const QString saved = product.dir.filePath(QStringLiteral("Demo_2.1.zip"));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), package);

        if (openIt)
            e2e::pressKey(x, question, QStringLiteral("Return"));
        else
            QVERIFY(e2e::declineAndClose(x, question));
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
