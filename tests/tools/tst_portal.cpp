#include <csignal>

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "support/DataRows.h"
#include "support/ZipArchive.h"
#include "window/PageTitle.h"

using testsupport::randomBytes;

namespace {

struct Fetched {
    int status = 0;
    QByteArray contentType;
    QByteArray contentLength;
    QByteArray body;
    int progressSignals = 0;
};

Fetched fetch(const QString &url) {
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    QNetworkReply *reply = manager.get(request);
    Fetched result;
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [&result](qint64, qint64) { ++result.progressSignals; });
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.contentType = reply->rawHeader("Content-Type");
    result.contentLength = reply->rawHeader("Content-Length");
    result.body = reply->readAll();
    delete reply;
    return result;
}

// The portal binary, started with the given arguments; `base` is "http://127.0.0.1:PORT"
// once it said where it listens.
struct Portal {
    QProcess process;
    QString base;

    bool start(const QStringList &arguments) {
        process.start(QStringLiteral(PORTAL_EXE), arguments);
        if (!process.waitForStarted(10000))
            return false;
        while (!process.canReadLine())
            if (!process.waitForReadyRead(10000))
                return false;
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        static const QRegularExpression listening(
            QStringLiteral(R"(^listening on (http://127\.0\.0\.1:([1-9][0-9]*))$)"));
        const auto match = listening.match(line);
        if (!match.hasMatch())
            return false;
        base = match.captured(1);
        return true;
    }
    ~Portal() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};

} // namespace

class tst_Portal : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_package;
    QString m_packagePath;
    QString m_signaturePath;
    // A signature file in the right form (the portal only announces it; it checks nothing).
    const QByteArray m_signature =
        "untrusted comment: test\n" + ("ED" + QByteArray(72, '\7')).toBase64() +
        "\ntrusted comment: file:demo.zip\n" + QByteArray(64, '\5').toBase64() + "\n";

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_package = randomBytes(200 * 1024 + 3);
        m_packagePath = m_dir.filePath(QStringLiteral("demo.zip"));
        QFile file(m_packagePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(m_package), m_package.size());
        m_signaturePath = m_dir.filePath(QStringLiteral("demo.zip.minisig"));
        QFile signature(m_signaturePath);
        QVERIFY(signature.open(QIODevice::WriteOnly) && signature.write(m_signature) > 0);
    }

    void servesPageAndPackage_data() {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QByteArray>("titleBytes");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("UTF-8 by default") << QStringList() << QStringLiteral("Demo 2.1")
                                          << QByteArray("Demo 2.1") << QByteArray("UTF-8");
        QTest::newRow("GBK") << QStringList{QStringLiteral("--page-charset"), QStringLiteral("GBK")}
                             << QStringLiteral("演示 2.1") << QByteArray("\xD1\xDD\xCA\xBE 2.1")
                             << QByteArray("GBK");
        QTest::newRow("throttled")
            << QStringList{QStringLiteral("--throttle"), QStringLiteral("100")}
            << QStringLiteral("Slow 1.0") << QByteArray("Slow 1.0") << QByteArray("UTF-8");
        QTest::newRow("GBK after =")
            << QStringList{QStringLiteral("--page-charset=GBK")} << QStringLiteral("演示 2.1")
            << QByteArray("\xD1\xDD\xCA\xBE 2.1") << QByteArray("GBK");
        QTest::newRow("signed") << QStringList{QStringLiteral("--signature"), m_signaturePath}
                                << QStringLiteral("Signed 1.0") << QByteArray("Signed 1.0")
                                << QByteArray("UTF-8");
    }
    void servesPageAndPackage() {
        QFETCH(QStringList, extra);
        QFETCH(QString, title);
        QFETCH(QByteArray, titleBytes);
        QFETCH(QByteArray, charset);
        Portal portal;
        QVERIFY2(portal.start(QStringList{u"--port"_qs, u"0"_qs, u"--id"_qs, u"42"_qs,
                                          u"--title"_qs, title, u"--package"_qs, m_packagePath} +
                              extra),
                 portal.process.readAllStandardError().constData());

        const Fetched page = fetch(portal.base + u"/content/42.html"_qs);
        QCOMPARE(page.status, 200);
        QCOMPARE(page.contentType, "text/html; charset=" + charset);
        QVERIFY2(page.body.contains("<h1 title=\"" + titleBytes + "\">"), page.body.constData());
        // What the updater makes of it.
        QCOMPARE(window::pageTitle(window::decodePage(page.body, page.contentType)),
                 std::optional<QString>(title));
        QCOMPARE(window::pageTitle(window::decodePage(page.body, "text/html")),
                 std::optional<QString>(title)); // the page's own meta says it too
        const auto signature = window::packageSignature(window::decodePage(page.body, "text/html"));
        if (extra.contains(u"--signature"_qs))
            QCOMPARE(signature, std::optional<QByteArray>(m_signature));
        else
            QVERIFY(!signature);

        const Fetched package = fetch(portal.base + u"/download/d_load.php?d_id=42&down_id=1"_qs);
        QCOMPARE(package.status, 200);
        QCOMPARE(package.contentType, QByteArray("application/zip"));
        QCOMPARE(package.contentLength, QByteArray::number(m_package.size()));
        QVERIFY(package.body == m_package);
        if (!extra.contains(u"--throttle"_qs))
            return;
        // A throttled package comes in pieces of a tenth of a second each (200 KiB at 100 KiB/s: 21
        // pieces).
        QVERIFY2(package.progressSignals > 10, QByteArray::number(package.progressSignals));
    }

    void otherPathsAreNotFound_data() {
        testsupport::addRows<QString>(
            "path", {{"other id", u"/content/43.html"_qs},
                     {"other package", u"/download/d_load.php?d_id=43&down_id=1"_qs},
                     {"root", u"/"_qs},
                     {"traversal", u"/../../etc/passwd"_qs}});
    }
    void otherPathsAreNotFound() {
        QFETCH(QString, path);
        Portal portal;
        QVERIFY(portal.start({u"--port"_qs, u"0"_qs, u"--id"_qs, u"42"_qs, u"--title"_qs,
                              u"Demo"_qs, u"--package"_qs, m_packagePath}));
        QCOMPARE(fetch(portal.base + path).status, 404);
    }

    void stopsOnSignals_data() {
        testsupport::addRows<int>("signal", {{"SIGTERM", int(SIGTERM)}, {"SIGINT", int(SIGINT)}});
    }
    void stopsOnSignals() {
        QFETCH(int, signal);
        Portal portal;
        QVERIFY(portal.start({u"--port"_qs, u"0"_qs, u"--id"_qs, u"1"_qs, u"--title"_qs, u"Demo"_qs,
                              u"--package"_qs, m_packagePath}));
        QCOMPARE(::kill(pid_t(portal.process.processId()), signal), 0);
        QVERIFY(portal.process.waitForFinished(10000));
        QCOMPARE(portal.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(portal.process.exitCode(), 0);
    }

    void badArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const auto with = [this](const QStringList &changed) {
            QStringList args{u"--port"_qs,  u"0"_qs,    u"--id"_qs,      u"7"_qs,
                             u"--title"_qs, u"Demo"_qs, u"--package"_qs, m_packagePath};
            for (qsizetype i = 0; i + 1 < changed.size(); i += 2) {
                const qsizetype at = args.indexOf(changed[i]);
                if (changed[i + 1].isNull())
                    args.remove(at, 2);
                else if (at >= 0)
                    args[at + 1] = changed[i + 1];
                else
                    args << changed[i] << changed[i + 1];
            }
            return args;
        };
        QTest::newRow("no port") << with({u"--port"_qs, QString()}) << 2
                                 << u"--port is required"_qs;
        QTest::newRow("no package")
            << with({u"--package"_qs, QString()}) << 2 << u"--package is required"_qs;
        QTest::newRow("port not a number")
            << with({u"--port"_qs, u"eighty"_qs}) << 2 << u"--port"_qs;
        QTest::newRow("port too large") << with({u"--port"_qs, u"65536"_qs}) << 2 << u"--port"_qs;
        QTest::newRow("id zero") << with({u"--id"_qs, u"0"_qs}) << 2 << u"--id"_qs;
        QTest::newRow("id negative") << with({u"--id"_qs, u"-3"_qs}) << 2 << u"--id"_qs;
        QTest::newRow("throttle zero")
            << with({u"--throttle"_qs, u"0"_qs}) << 2 << u"--throttle"_qs;
        QTest::newRow("unknown charset")
            << with({u"--page-charset"_qs, u"NO-SUCH-SET"_qs}) << 2 << u"unknown page charset"_qs;
        QTest::newRow("title the charset cannot hold")
            << with({u"--title"_qs, u"演示"_qs, u"--page-charset"_qs, u"ISO-8859-1"_qs}) << 2
            << u"cannot be written in ISO-8859-1"_qs;
        QTest::newRow("title with markup")
            << with({u"--title"_qs, u"a\">b"_qs}) << 2 << u"may not contain"_qs;
        QTest::newRow("unknown option") << with({u"--colour"_qs, u"red"_qs}) << 2 << u"colour"_qs;
        QTest::newRow("stray argument")
            << with({}) + QStringList{u"extra"_qs} << 2 << u"unexpected argument extra"_qs;
        QTest::newRow("missing signature file")
            << with({u"--signature"_qs, m_dir.filePath(u"none.minisig"_qs)}) << 2
            << u"cannot read the signature"_qs;
        QTest::newRow("signature file of another kind")
            << with({u"--signature"_qs, m_packagePath}) << 2 << u"is no minisign signature"_qs;
        QTest::newRow("missing package file")
            << with({u"--package"_qs, m_dir.filePath(u"none.zip"_qs)}) << 1
            << u"cannot read the package"_qs;
    }
    void badArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QProcess process;
        process.start(QStringLiteral(PORTAL_EXE), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        const QString error = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(error.startsWith(u"update-tool-portal: "_qs) && error.contains(message) &&
                     error.count(u'\n') == 1 && error.endsWith(u'\n'),
                 qPrintable(error));
    }

    void portInUse() {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        QProcess process;
        process.start(QStringLiteral(PORTAL_EXE),
                      {u"--port"_qs, QString::number(taken.serverPort()), u"--id"_qs, u"7"_qs,
                       u"--title"_qs, u"Demo"_qs, u"--package"_qs, m_packagePath});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("cannot listen on 127.0.0.1:"));
    }
};

QTEST_GUILESS_MAIN(tst_Portal)
#include "tst_portal.moc"
