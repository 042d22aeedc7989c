#include <unistd.h>

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "E2eKit.h"

using testsupport::XvfbSession;

namespace {

// Runs a program in a private mount namespace in which the system's Qt is gone: /dev/null
// over every Qt library file, an empty folder over the plugin folder.
QStringList withoutSystemQt() {
    const QString hide =
        QStringLiteral("for f in '%1'/libQt6*; do mount --bind /dev/null \"$f\" || exit 97; done; "
                       "mount -t tmpfs none '%2' || exit 97; exec \"$@\"");
    return {QStringLiteral("unshare"),
            QStringLiteral("-m"),
            QStringLiteral("sh"),
            QStringLiteral("-c"),
            hide.arg(QStringLiteral(QT_LIBRARY_DIR), QStringLiteral(QT_PLUGIN_DIR)),
            QStringLiteral("sh")};
}

int run(const QStringList &command, QByteArray *output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The bundled stamp tool, with the system's Qt hidden, stamps the bundled updater into `exe`.
int stampBundled(const QString &bundle, const QString &exe, const QString &portal) {
    return run(withoutSystemQt() << bundle + QStringLiteral("/update-tool-stamp")
                                 << QStringLiteral("write")
                                 << bundle + QStringLiteral("/update-tool") << exe
                                 << QStringLiteral("--name") << QStringLiteral("Bundle")
                                 << QStringLiteral("--id") << QStringLiteral("12")
                                 << QStringLiteral("--portal") << portal);
}

} // namespace

// The relocatable bundle of scripts/package, unpacked in a temporary folder, on a system
// whose Qt has been hidden: the bundled stamp tool stamps the bundled updater, which starts
// under Xvfb, checks and downloads from the demo portal.
class tst_E2eBundle : public QObject {
    Q_OBJECT
private slots:
    void runsWithoutSystemQt() {
        // CI names the bundle and must not skip; elsewhere the test runs once it exists.
        const QString named = qEnvironmentVariable("UPDATE_TOOL_BUNDLE");
        const QString tarball = named.isEmpty() ? QStringLiteral(BUNDLE_TARBALL) : named;
        if (named.isEmpty() && !QFile::exists(tarball))
            QSKIP("no bundle: scripts/package writes it");
        if (named.isEmpty() && (::geteuid() != 0 || !XvfbSession::toolsAvailable()))
            QSKIP("hiding the system's Qt needs root; the run needs Xvfb");
        QVERIFY2(QFile::exists(tarball), qPrintable(tarball));

        XvfbSession x;
        QVERIFY(x.start());
        e2e::Product product;
        QByteArray output;
        QCOMPARE(run({QStringLiteral("tar"), QStringLiteral("-xzf"), tarball, QStringLiteral("-C"),
                      product.dir.path()},
                     &output),
                 0);
        const QString bundle =
            product.dir.filePath(QFileInfo(tarball).fileName().remove(QStringLiteral(".tar.gz")));

        // Every Qt library is resolved inside the bundle.
        QStringList files{bundle + QStringLiteral("/update-tool"),
                          bundle + QStringLiteral("/update-tool-stamp"),
                          bundle + QStringLiteral("/update-tool-notify")};
        QDirIterator plugins(bundle + QStringLiteral("/plugins"), {QStringLiteral("*.so")},
                             QDir::Files, QDirIterator::Subdirectories);
        while (plugins.hasNext())
            files << plugins.next();
        QVERIFY(files.size() >= 5);
        QCOMPARE(run(QStringList{QStringLiteral("ldd")} + files, &output), 0);
        int qtLibraries = 0;
        for (const QByteArray &line : output.split('\n')) {
            if (!line.contains("libQt6"))
                continue;
            ++qtLibraries;
            // "\tlibQt6Core.so.6 => /path/libQt6Core.so.6 (0x...)"
            const QList<QByteArray> parts = line.trimmed().split(' ');
            const QString resolved = parts.size() >= 3 ? QFile::decodeName(parts[2]) : QString();
            QVERIFY2(QFileInfo(resolved).canonicalFilePath().startsWith(
                         QFileInfo(bundle).canonicalFilePath() + QStringLiteral("/lib/")),
                     line);
        }
        QVERIFY(qtLibraries >= 4);

        const QByteArray package = testsupport::randomPackage(300 * 1024);
        e2e::PortalProcess portal;
        const QString base = e2e::servePackage(portal, product, package, QStringLiteral("12"));
        QVERIFY(!base.isEmpty());

        product.exe = bundle + QStringLiteral("/product-updater");
        product.runtimeDir = product.dir.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(product.runtimeDir));
        QFile::setPermissions(product.runtimeDir,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(stampBundled(bundle, product.exe, base), 0);

        QProcess updater;
        updater.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qulonglong window = e2e::startUpdater(
            updater, x, product, e2e::productEnvironment(x, product), withoutSystemQt());
        if (window == 0)
            QFAIL(qPrintable(e2e::whyNoWindow(updater)));
        const qulonglong question = e2e::checkAndDownload(x, window);
        QVERIFY(question != 0);
        e2e::keepShot(x.screenshot(), QStringLiteral("bundle-question"));
        QFile saved(bundle + QStringLiteral("/Demo_2.1.zip"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == package);

        QVERIFY(e2e::declineAndClose(x, question));
        QVERIFY(updater.waitForFinished(15000));
        QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
        QCOMPARE(updater.exitCode(), 0);

        // HTTPS: a copy pointed at an https portal opens its connection with a TLS
        // handshake record, which only a loaded TLS backend sends.
        QTcpServer tls;
        QVERIFY(tls.listen(QHostAddress::LocalHost));
        const QString tlsPortal = QStringLiteral("https://127.0.0.1:%1").arg(tls.serverPort());
        product.exe = bundle + QStringLiteral("/tls-updater");
        QCOMPARE(stampBundled(bundle, product.exe, tlsPortal), 0);
        QProcess tlsUpdater;
        const qulonglong tlsWindow = e2e::startUpdater(
            tlsUpdater, x, product, e2e::productEnvironment(x, product), withoutSystemQt());
        if (tlsWindow == 0)
            QFAIL(qPrintable(e2e::whyNoWindow(tlsUpdater)));
        e2e::clickCheckForUpdates(x, tlsWindow);
        QVERIFY(tls.waitForNewConnection(15000));
        QTcpSocket *client = tls.nextPendingConnection();
        QVERIFY(client->bytesAvailable() > 0 || client->waitForReadyRead(10000));
        QCOMPARE(client->read(1), QByteArray("\x16"));
        tlsUpdater.kill();
        tlsUpdater.waitForFinished(5000);
    }
};

QTEST_MAIN(tst_E2eBundle)
#include "tst_e2e_bundle.moc"
