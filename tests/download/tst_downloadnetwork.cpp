#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "download/ctlAsyncDownload.h"
#include "platform/NetworkReadService.h"
#include "support/TestPortal.h"

#include "download/DownloadTestKit.h"

using download::ctlAsyncDownload;
using platform::NetworkReadService;
using testsupport::PortalResponse;
using testsupport::TestPortal;
using testsupport::zipArchive;

namespace {

constexpr int WaitMs = 15000;

QByteArray packageBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 251) & 0xff);
    return bytes;
}

// A chunked answer carrying `body` in two chunks, the second announced as `secondSize`
// (its true size in hex when empty). The connection stays open, as a server's would.
QByteArray chunked(const QByteArray &body, QByteArray secondSize = {}) {
    const qsizetype half = body.size() / 2;
    if (secondSize.isEmpty())
        secondSize = QByteArray::number(body.size() - half, 16);
    return "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nTransfer-Encoding: "
           "chunked\r\n\r\n" +
           QByteArray::number(half, 16) + "\r\n" + body.left(half) + "\r\n" + secondSize + "\r\n" +
           body.mid(half) + "\r\n0\r\n\r\n";
}

// The scripted failures, by name, so that data rows can name them.
void routeFailure(TestPortal &portal, const QByteArray &kind, NetworkReadService &service) {
    const QByteArray body = packageBytes(4096);
    if (kind == "404")
        portal.route("/f", PortalResponse::notFound());
    else if (kind == "500")
        portal.route("/f", PortalResponse::serverError());
    else if (kind == "closed mid-body")
        portal.route("/f", PortalResponse::ok(body).closingAfter(1000));
    else if (kind == "length larger than body")
        portal.route("/f", PortalResponse::ok(body).withContentLength(body.size() + 100));
    else if (kind == "redirect loop") {
        portal.route("/f", PortalResponse::redirect("/g"));
        portal.route("/g", PortalResponse::redirect("/f"));
    } else if (kind == "eleventh redirect") {
        portal.route("/f", PortalResponse::redirect("/r1"));
        for (int i = 1; i <= 10; ++i)
            portal.route("/r" + QByteArray::number(i),
                         PortalResponse::redirect("/r" + QByteArray::number(i + 1)));
        portal.route("/r11", PortalResponse::ok(body));
    } else if (kind == "stall") {
        portal.route("/f", PortalResponse::ok(body).stallingAfter(100));
        service.setStallTimeout(std::chrono::milliseconds(400));
    } else if (kind == "no answer") {
        portal.route("/f", PortalResponse::ok(body).stallingAfter(0));
        service.setStallTimeout(std::chrono::milliseconds(400));
    } else if (kind == "slow drip") {
        // 100 bytes per 100 ms: steady, but far below the least a download must make.
        portal.route("/f", PortalResponse::ok(body).dripping(100, 100));
        service.setStallTimeout(std::chrono::milliseconds(600));
    } else if (kind == "empty 200") {
        portal.route("/f", PortalResponse::ok(QByteArray()));
    } else if (kind == "204") {
        PortalResponse response = PortalResponse::ok(QByteArray()).withoutContentLength();
        response.status = 204;
        response.reason = "No Content";
        portal.route("/f", response);
    } else if (kind == "conflicting lengths") {
        portal.route("/f", PortalResponse::ok(body.left(100))
                               .withHeader("Content-Length", "100")
                               .withContentLength(200004));
    } else if (kind.startsWith("chunk size")) {
        // A body of two 16-byte chunks, one of them framed wrong.
        const QByteArray size = kind == "chunk size zz"   ? "zz"
                                : kind == "chunk size -1" ? "-1"
                                                          : "11"; // one too large
        portal.route("/f",
                     PortalResponse::verbatim("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                              "Connection: close\r\n\r\n10\r\n" +
                                              body.left(16) + "\r\n" + size + "\r\n" +
                                              body.mid(16, 16) + "\r\n0\r\n\r\n"));
    } else if (kind == "over memory limit") {
        portal.route("/f", PortalResponse::ok(body).withoutContentLength());
        service.setMemoryReadLimit(1024);
    } else if (kind == "declared over memory limit") {
        portal.route("/f", PortalResponse::ok(body));
        service.setMemoryReadLimit(1024);
    }
}

} // namespace

class tst_DownloadNetwork : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pageIntoMemory_data();
    void pageIntoMemory();
    void packageToFile_data();
    void packageToFile();
    void redirectIsFollowed();
    void failedReads_data();
    void failedReads();
    void progress_data();
    void progress();
    void cancelStopsTheTransfer();
    void cancelAllStopsEveryTransfer();
    void unwritableDestination_data();
    void unwritableDestination();
    void destructionStopsTransfers();

private:
    bool waitForFinished(int count = 1) {
        return QTest::qWaitFor([&] { return int(m_log->finished.size()) >= count; }, WaitMs);
    }

    std::unique_ptr<TestPortal> m_portal;
    std::unique_ptr<NetworkReadService> m_service;
    std::unique_ptr<ctlAsyncDownload> m_control;
    std::unique_ptr<EventLog> m_log;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_DownloadNetwork::init() {
    m_portal = std::make_unique<TestPortal>();
    QVERIFY(m_portal->listen());
    m_service = std::make_unique<NetworkReadService>();
    // Short enough that a broken test fails rather than hangs.
    m_service->setStallTimeout(std::chrono::milliseconds(WaitMs / 3));
    m_control = std::make_unique<ctlAsyncDownload>(*m_service);
    m_log = std::make_unique<EventLog>();
    m_control->setEventSink(m_log.get());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_DownloadNetwork::cleanup() {
    m_control.reset();
    m_log.reset();
    m_service.reset();
    m_portal.reset();
    // Whatever a test did, no temporary file may stay behind.
    if (m_dir) {
        for (const QString &name : entriesOf(m_dir->path()))
            QVERIFY2(!name.endsWith(QLatin1String(".part")), qPrintable(name));
    }
    m_dir.reset();
}

void tst_DownloadNetwork::pageIntoMemory_data() {
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    const QByteArray gbk("<h1 title=\"\xb8\xfc\xd0\xc2 2.1\">"); // GBK bytes
    const QByteArray utf8("<h1 title=\"\xe6\x9b\xb4\xe6\x96\xb0 2.1\">");
    QTest::newRow("gbk") << QByteArray("text/html; charset=gbk") << gbk;
    QTest::newRow("utf-8") << QByteArray("text/html; charset=UTF-8") << utf8;
    QTest::newRow("no charset") << QByteArray("text/html") << utf8;
}

void tst_DownloadNetwork::pageIntoMemory() {
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    m_portal->route("/content/7.html",
                    PortalResponse::ok(body, contentType).withHeader("X-Portal", "test"));
    const QString url = m_portal->url(QStringLiteral("/content/7.html"));
    m_control->Download(url);
    QVERIFY(waitForFinished());

    const platform::AsyncProperty &X = m_log->finished.at(0);
    QVERIFY(X.succeeded());
    QCOMPARE(X.value, body);
    QCOMPARE(X.target, url);
    QCOMPARE(X.contentType, QString::fromLatin1(contentType));
    QCOMPARE(m_log->lines.first(), QStringLiteral("Status 1 connecting to 127.0.0.1"));
    QVERIFY(m_log->lines.contains("MimeType " + QString::fromLatin1(contentType)));
    QVERIFY(m_log->lines.contains("Status 2 " + url));
    QCOMPARE(m_log->lines.last(), "Finished ok 0 " + url);
    QVERIFY(m_log->lines.at(m_log->lines.size() - 2).startsWith("Status 0 "));
    QCOMPARE(m_control->DownloadsCount(), 0);
    QVERIFY(entriesOf(m_dir->path()).isEmpty());

    // Always from the server, and the bytes exactly as the server has them.
    const testsupport::PortalRequest &request = m_portal->requests().at(0);
    QCOMPARE(request.headers.value("accept-encoding"), QByteArray("identity"));
    QCOMPARE(request.headers.value("cache-control"), QByteArray("no-cache"));
}

void tst_DownloadNetwork::packageToFile_data() {
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("savedAs");
    QTest::addColumn<bool>("chunked");
    QTest::newRow("new") << false << false << "Demo_2.1.zip" << false;
    QTest::newRow("existing, stamped") << true << false << "Demo_2.1, 101530.zip" << false;
    QTest::newRow("existing, overwritten") << true << true << "Demo_2.1.zip" << false;
    QTest::newRow("chunked") << false << false << "Demo_2.1.zip" << true;
}

void tst_DownloadNetwork::packageToFile() {
    QFETCH(bool, existing);
    QFETCH(bool, overwrite);
    QFETCH(QString, savedAs);
    QFETCH(bool, chunked);
    const QByteArray body = zipArchive(packageBytes(3 * 1024 * 1024 + 17));
    m_portal->route("/download/d_load.php?d_id=7&down_id=1",
                    chunked ? PortalResponse::verbatim(::chunked(body))
                            : PortalResponse::ok(body, "application/zip"));
    // A check that follows the bytes sees each once, in order.
    m_control->addPublishCheck(
        [](const QString &, const QString &) { return std::make_unique<FollowingCheck>(); });
    const QString url = m_portal->url(QStringLiteral("/download/d_load.php?d_id=7&down_id=1"));
    const QString target = m_dir->filePath(QStringLiteral("Demo_2.1.zip"));
    const QByteArray old(5 * 1024 * 1024, 'o'); // longer than the new package
    if (existing)
        QVERIFY(writeFile(target, old));
    const mode_t mask = ::umask(027);
    m_control->setClock([] { return QTime(10, 15, 30); });
    m_control->setOverwrite(overwrite);
    // Like the updater's handler: pending events run inside Progress, so the end of the
    // transfer may arrive there.
    m_log->onProgress = [] { QCoreApplication::processEvents(); };
    m_control->Download(url, target);
    // No partial file is ever visible at the save path.
    bool sawPartial = false;
    m_log->onStatus = [&](std::int32_t status, const QString &) {
        if (status == 3 && !existing && QFile::exists(target))
            sawPartial = true;
    };
    const bool finished = waitForFinished();
    ::umask(mask);
    QVERIFY(finished);
    QVERIFY(!sawPartial);

    const QString path = m_dir->filePath(savedAs);
    QVERIFY(m_log->finished.at(0).succeeded());
    QCOMPARE(m_log->only("FileSaved"), QStringList{"FileSaved " + path + " " + url});
    QVERIFY(contentsOf(path) == body);
    if (existing && !overwrite)
        QVERIFY(contentsOf(target) == old);
    // The permissions of any new file, not the owner-only ones of a temporary file.
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777u, 0640u);
    QStringList expected{QStringLiteral("Demo_2.1.zip")};
    if (savedAs != expected[0])
        expected.prepend(savedAs);
    QCOMPARE(entriesOf(m_dir->path()), expected);
}

void tst_DownloadNetwork::redirectIsFollowed() {
    const QByteArray body = zipArchive(packageBytes(1000));
    m_portal->route("/old", PortalResponse::redirect(m_portal->url("/new").toLatin1(), 301));
    m_portal->route("/new", PortalResponse::ok(body));
    const QString url = m_portal->url(QStringLiteral("/old"));
    const QString target = m_dir->filePath(QStringLiteral("pkg.zip"));
    m_control->Download(url, target);
    QVERIFY(waitForFinished());
    QVERIFY(m_log->finished.at(0).succeeded());
    QCOMPARE(m_log->finished.at(0).target, url);
    QVERIFY(m_log->lines.contains("Status 4 " + m_portal->url("/new")));
    QVERIFY(contentsOf(target) == body);
}

void tst_DownloadNetwork::failedReads_data() {
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<bool>("toFile");
    for (const char *kind : {"404", "500", "closed mid-body", "length larger than body",
                             "redirect loop", "eleventh redirect", "stall", "no answer",
                             "tls error", "slow drip", "empty 200", "204", "conflicting lengths"}) {
        QTest::addRow("%s, memory", kind) << QByteArray(kind) << false;
        QTest::addRow("%s, file", kind) << QByteArray(kind) << true;
    }
    for (const char *kind : {"chunk size zz", "chunk size -1"})
        QTest::addRow("%s, file", kind) << QByteArray(kind) << true;
    QTest::newRow("over memory limit") << QByteArray("over memory limit") << false;
    QTest::newRow("declared over memory limit")
        << QByteArray("declared over memory limit") << false;
    // Files are not held in memory: the limit does not apply to them.
}

void tst_DownloadNetwork::failedReads() {
    QFETCH(QByteArray, kind);
    QFETCH(bool, toFile);
    routeFailure(*m_portal, kind, *m_service);
    QString url = m_portal->url(QStringLiteral("/f"));
    if (kind == "tls error") // the portal speaks plain HTTP: the handshake fails
        url.replace(QStringLiteral("http:"), QStringLiteral("https:"));
    const QString target = m_dir->filePath(QStringLiteral("pkg.zip"));
    QVERIFY(writeFile(target, "the old package"));
    m_control->setOverwrite(true);
    m_control->Download(url, toFile ? target : QString());
    QVERIFY(waitForFinished());

    const platform::AsyncProperty &X = m_log->finished.at(0);
    QVERIFY(!X.succeeded());
    QVERIFY(X.value.isEmpty());
    QVERIFY(!X.statusText.isEmpty());
    QVERIFY(m_log->only("FileSaved").isEmpty());
    const QStringList statuses = m_log->only("Status");
    // A read that fails says so twice; bytes that the publish step refuses, once.
    if (!kind.startsWith("chunk"))
        QCOMPARE(statuses.at(statuses.size() - 2), "Status 7 " + X.statusText);
    QCOMPARE(statuses.last(), "Status 0 " + X.statusText);
    QCOMPARE(m_log->lines.last(), "Finished failed 0 " + url);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{"pkg.zip"});
    QCOMPARE(contentsOf(target), QByteArray("the old package"));
    if (kind == "tls error")
        QVERIFY2(!X.statusText.contains("no data"), qPrintable(X.statusText));
    if (kind.startsWith("4") || kind.startsWith("5"))
        QVERIFY2(X.statusText.startsWith("HTTP " + kind.left(3)), qPrintable(X.statusText));
}

void tst_DownloadNetwork::progress_data() {
    QTest::addColumn<bool>("knownSize");
    QTest::addColumn<bool>("hostPumpsEvents");
    QTest::newRow("known size") << true << false;
    QTest::newRow("unknown size") << false << false;
    // The updater's Progress handler lets pending events run: notifications then nest.
    QTest::newRow("known size, host pumps events") << true << true;
    QTest::newRow("unknown size, host pumps events") << false << true;
}

void tst_DownloadNetwork::progress() {
    QFETCH(bool, knownSize);
    QFETCH(bool, hostPumpsEvents);
    if (hostPumpsEvents)
        m_log->onProgress = [] { QCoreApplication::processEvents(); };
    const QByteArray body = packageBytes(2048);
    PortalResponse response = PortalResponse::ok(body).dripping(256, 15);
    if (!knownSize)
        response.withoutContentLength();
    m_portal->route("/p", response);
    const QString target = m_dir->filePath(QStringLiteral("p.bin"));
    m_control->Download(m_portal->url("/p"), target);
    QVERIFY(waitForFinished());
    QVERIFY(m_log->finished.at(0).succeeded());
    QVERIFY(contentsOf(target) == body);

    const std::vector<float> &percents = m_log->percents;
    QVERIFY2(percents.size() >= 3, "the drip should arrive in several pieces");
    if (knownSize) {
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));
        QVERIFY(percents.front() > 0.0F && percents.front() < 100.0F);
        QCOMPARE(percents.back(), 100.0F);
    } else {
        QVERIFY(std::all_of(percents.begin(), percents.end(), [](float p) { return p == 0; }));
    }
    // Each Progress counts the read itself and reports the bytes so far.
    QVERIFY(m_log->only("Progress")
                .last()
                .contains(QStringLiteral(" 1 2048/%1 ").arg(knownSize ? 2048 : 0)));
}

void tst_DownloadNetwork::cancelStopsTheTransfer() {
    m_portal->route("/slow", PortalResponse::ok(packageBytes(1 << 20)).dripping(1024, 20));
    m_portal->route("/page", PortalResponse::ok("<html/>", "text/html").dripping(1, 50));
    const QString url = m_portal->url("/slow");
    m_control->Download(url, m_dir->filePath(QStringLiteral("slow.zip")));
    m_control->Download(m_portal->url("/page"));
    QVERIFY(QTest::qWaitFor([&] { return m_log->percents.size() >= 2; }, WaitMs));

    m_control->CancelDownload(url);
    QCOMPARE(m_log->lines.last(), "Status 5 " + url);
    QVERIFY(QTest::qWaitFor([&] { return m_portal->abandoned("/slow") == 1; }, WaitMs));
    // The other download goes on to its end; the cancelled one says nothing more.
    QVERIFY(waitForFinished());
    QCOMPARE(m_log->finished.at(0).target, m_portal->url("/page"));
    QVERIFY(m_log->finished.at(0).succeeded());
    QTest::qWait(100);
    QCOMPARE(m_log->finished.size(), size_t(1));
    QVERIFY(entriesOf(m_dir->path()).isEmpty());
    QCOMPARE(m_service->runningReads(), 0);
}

void tst_DownloadNetwork::cancelAllStopsEveryTransfer() {
    QStringList urls;
    for (const char *path : {"/a", "/b", "/c"}) {
        m_portal->route(path, PortalResponse::ok(packageBytes(1 << 20)).dripping(1024, 20));
        urls << m_portal->url(QString::fromLatin1(path));
    }
    m_control->Download(urls[0], m_dir->filePath(QStringLiteral("a.zip")));
    m_control->Download(urls[1]);
    m_control->Download(urls[2], m_dir->filePath(QStringLiteral("c.zip")));
    QVERIFY(QTest::qWaitFor([&] { return m_portal->requests().size() == 3; }, WaitMs));
    m_log->lines.clear();
    m_control->CancelAllDownload();
    QCOMPARE(m_log->lines, (QStringList{"Status 5 " + urls[0], "Status 5 " + urls[1],
                                        "Status 5 " + urls[2], "Status 6 "}));
    QCOMPARE(m_control->DownloadsCount(), 0);
    QVERIFY(QTest::qWaitFor(
        [&] {
            return m_portal->abandoned("/a") + m_portal->abandoned("/b") +
                       m_portal->abandoned("/c") ==
                   3;
        },
        WaitMs));
    QVERIFY(entriesOf(m_dir->path()).isEmpty());
    QVERIFY(m_log->finished.empty());
}

void tst_DownloadNetwork::unwritableDestination_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder is a file") << "folder is a file";
    QTest::newRow("folder missing") << "folder missing";
    QTest::newRow("no folder in the name") << "no folder";
    QTest::newRow("empty folder part") << "empty folder";
    QTest::newRow("read-only folder") << "read-only folder";
    QTest::newRow("write fails (file size limit)") << "write fails";
}

void tst_DownloadNetwork::unwritableDestination() {
    QFETCH(QString, kind);
    const QByteArray body = packageBytes(512 * 1024);
    m_portal->route("/pkg", PortalResponse::ok(body));
    QString target = m_dir->filePath(QStringLiteral("pkg.zip"));
    const QString sub = m_dir->filePath(QStringLiteral("sub"));
    rlimit oldLimit{};
    if (kind == "folder is a file") {
        QFile file(sub);
        QVERIFY(file.open(QIODevice::WriteOnly));
        target = sub + QStringLiteral("/pkg.zip");
    } else if (kind == "folder missing") {
        target = sub + QStringLiteral("/pkg.zip");
    } else if (kind == "no folder") {
        target = QStringLiteral("update-tool-test-pkg.zip");
    } else if (kind == "empty folder") {
        target = QStringLiteral("\\update-tool-test-pkg.zip");
    } else if (kind == "read-only folder") {
        if (::geteuid() == 0)
            QSKIP("permissions do not bind the superuser");
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("sub")));
        QVERIFY(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner));
        target = sub + QStringLiteral("/pkg.zip");
    } else {
        // Writes beyond 64 KiB fail (EFBIG) as they would on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
        rlimit small = oldLimit;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    m_control->Download(m_portal->url("/pkg"), target);
    const bool finished = waitForFinished();
    if (kind == "write fails")
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);
    if (kind == "read-only folder")
        QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(finished);
    QVERIFY(!m_log->finished.at(0).succeeded());
    QVERIFY(m_log->only("FileSaved").isEmpty());
    QVERIFY(m_log->only("Status").last().startsWith("Status 0 "));
    // Nothing appeared in the current folder either.
    const QStringList here =
        entriesOf(QDir::currentPath()).filter(QStringLiteral("update-tool-test"));
    QVERIFY2(here.isEmpty(), qPrintable(here.join(',')));
    const QStringList left = entriesOf(m_dir->path());
    QVERIFY2(left.isEmpty() || left == QStringList{"sub"}, qPrintable(left.join(',')));
    if (QFileInfo(sub).isDir())
        QVERIFY(entriesOf(sub).isEmpty());
}

void tst_DownloadNetwork::destructionStopsTransfers() {
    m_portal->route("/slow", PortalResponse::ok(packageBytes(1 << 20)).dripping(1024, 20));
    const QString url = m_portal->url("/slow");
    m_control->Download(url, m_dir->filePath(QStringLiteral("slow.zip")));
    QVERIFY(QTest::qWaitFor([&] { return !m_log->percents.empty(); }, WaitMs));
    QVERIFY(!entriesOf(m_dir->path()).isEmpty()); // the hidden temporary file
    m_log->lines.clear();
    m_control.reset();
    QCOMPARE(m_log->lines, QStringList{"Status 5 " + url});
    QVERIFY(QTest::qWaitFor([&] { return m_portal->abandoned("/slow") == 1; }, WaitMs));
    QVERIFY(entriesOf(m_dir->path()).isEmpty());
    QCOMPARE(m_service->runningReads(), 0);

    // A service that goes away with reads running removes their files too.
    m_service->AsyncRead(url, m_dir->filePath(QStringLiteral("slow.zip")), m_dir->path());
    QVERIFY(QTest::qWaitFor([&] { return m_portal->requests().size() == 2; }, WaitMs));
    QCOMPARE(m_service->runningReads(), 1);
    QVERIFY(!entriesOf(m_dir->path()).isEmpty());
    m_service.reset();
    QVERIFY(entriesOf(m_dir->path()).isEmpty());
    QVERIFY(QTest::qWaitFor([&] { return m_portal->abandoned("/slow") == 2; }, WaitMs));
}

QTEST_GUILESS_MAIN(tst_DownloadNetwork)
#include "tst_downloadnetwork.moc"
