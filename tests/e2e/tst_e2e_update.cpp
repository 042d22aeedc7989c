#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include "E2eKit.h"

using testsupport::XvfbSession;

namespace {

// The demo portal as a process: reads the address it prints when it listens.
class PortalProcess {
public:
    ~PortalProcess() {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    QString start(const QStringList &args) {
        m_process.start(e2e::toolPath(PORTAL_EXE), args);
        if (!m_process.waitForStarted() || !m_process.waitForReadyRead(10000))
            return {};
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        return line.startsWith(u"listening on ") ? line.mid(13) : QString();
    }

private:
    QProcess m_process;
};

} // namespace

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
        QTest::addColumn<bool>("keyboard");
        QTest::newRow("yes opens the package") << true << false;
        QTest::newRow("no tells where it is") << false << false;
        QTest::newRow("by keyboard") << true << true;
    }
    void checkDownloadAndAnswer() {
        QFETCH(bool, openIt);
        QFETCH(bool, keyboard);
        if (!XvfbSession::toolsAvailable())
            QSKIP("Xvfb, xdotool or imagemagick is not installed");
        XvfbSession x;
        QVERIFY(x.start());
        e2e::Product product;

        QByteArray package(700 * 1024, Qt::Uninitialized);
        for (char &c : package)
            c = char(QRandomGenerator::global()->bounded(256));
        const QString packageFile = product.dir.filePath(QStringLiteral("served.bin"));
        QFile served(packageFile);
        QVERIFY(served.open(QIODevice::WriteOnly) && served.write(package) == package.size());
        served.close();
        PortalProcess portal;
        const QString base = portal.start({"--port", "0", "--id", "77", "--title", "Demo 2.1",
                                           "--package", packageFile, "--page-charset", "GBK"});
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
        QRect frame = x.windowGeometry(window);
        QCOMPARE(frame.size(), QSize(460, 220));

        const auto keys = [&](const QStringList &names) {
            x.run(QStringLiteral("xdotool"),
                  QStringList{QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                              QString::number(window), QStringLiteral("key"),
                              QStringLiteral("--window"), QString::number(window)} +
                      names);
        };
        // 检查更新: the action button's centre in the compact card, 10 pixels in.
        if (keyboard) {
            keys({QStringLiteral("Tab")});
            e2e::keepShot(e2e::settledScreenshot(x).copy(frame), QStringLiteral("keyboard-focus"));
            keys({QStringLiteral("Return")});
        } else {
            x.click(frame.x() + 10 + 350, frame.y() + 10 + 157);
        }
        QTRY_COMPARE_WITH_TIMEOUT(x.windowGeometry(window).size(), QSize(400, 460), 15000);
        frame = x.windowGeometry(window);
        e2e::keepShot(e2e::settledScreenshot(x).copy(frame), QStringLiteral("update-found"));

        // 开始下载 in the expanded card, where the focus stayed.
        if (keyboard)
            keys({QStringLiteral("Return")});
        else
            x.click(frame.x() + 10 + 290, frame.y() + 10 + 397);
        const qulonglong question = x.waitForWindow(QStringLiteral("更新工具"), 20000);
        QVERIFY(question != 0);
        e2e::keepShot(x.screenshot(), QStringLiteral("update-question"));
        const QString saved = product.dir.filePath(QStringLiteral("Demo_2.1.zip"));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), package);

        x.run(QStringLiteral("xdotool"),
              {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(question),
               QStringLiteral("key"), QStringLiteral("--window"), QString::number(question),
               openIt ? QStringLiteral("Return") : QStringLiteral("Escape")});
        if (!openIt) {
            // "文件已经下载到当前目录。" comes next; OK ends the program.
            QTRY_VERIFY_WITH_TIMEOUT(x.waitForWindow(QStringLiteral("更新工具"), 100) != question,
                                     10000);
            const qulonglong notice = x.waitForWindow(QStringLiteral("更新工具"));
            QVERIFY(notice != 0);
            x.run(QStringLiteral("xdotool"),
                  {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(notice),
                   QStringLiteral("key"), QStringLiteral("--window"), QString::number(notice),
                   QStringLiteral("Return")});
        }
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
