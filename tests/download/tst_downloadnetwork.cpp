#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "download/ctlAsyncDownload.h"
#include "net/NetworkReadService.h"
#include "net/PartialDownloads.h"
#include "support/TestPortal.h"

#include "download/DownloadTestKit.h"

using download::ctlAsyncDownload;
namespace DownloadStatus = download::DownloadStatus;
using net::NetworkReadService;
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
    } else if (kind == "reconnecting drip") {
        // One new byte per connection, continued by byte ranges.
        portal.route("/f", PortalResponse::ok(body).reconnectingDrip("\"v1\"", 1));
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

constexpr qint64 Cut = 64 * 1024;
const QByteArray Etag = "\"v1\"";
const QByteArray Date = "Mon, 07 Dec 2026 10:00:00 GMT";

// A package served with byte ranges under `validator` (an ETag, or the date).
PortalResponse ranged(const QByteArray &body, const QByteArray &validator = Etag) {
    return PortalResponse::ok(body, "application/zip").withRanges(validator, validator == Date);
}

PortalResponse withStatus(int status, const QByteArray &reason) {
    PortalResponse response = PortalResponse::ok("<html/>", "text/html");
    response.status = status;
    response.reason = reason;
    return response;
}

// The answers a flaky server gives, one per request, by the scenario's name.
QList<PortalResponse> flakyAnswers(const QByteArray &scenario, const QByteArray &body,
                                   const QByteArray &changed) {
    const PortalResponse whole = ranged(body);
    if (scenario == "reset once")
        return {PortalResponse(whole).resettingAfter(Cut), whole};
    if (scenario == "reset twice")
        return {PortalResponse(whole).resettingAfter(Cut),
                PortalResponse(whole).resettingAfter(Cut), whole};
    if (scenario == "reset every time")
        return {PortalResponse(whole).resettingAfter(Cut)};
    if (scenario == "stall, then recovery")
        return {PortalResponse(whole).stallingAfter(Cut), whole};
    if (scenario == "no range support")
        return {PortalResponse::ok(body).resettingAfter(Cut), PortalResponse::ok(body)};
    if (scenario == "range ignored")
        return {PortalResponse(whole).resettingAfter(Cut), PortalResponse::ok(body)};
    if (scenario == "validator changes")
        return {PortalResponse(whole).resettingAfter(Cut), ranged(changed, "\"v2\"")};
    if (scenario == "416")
        return {PortalResponse(whole).resettingAfter(Cut), withStatus(416, "Range Not Satisfiable"),
                whole};
    if (scenario == "lying Content-Range") {
        PortalResponse lying = whole;
        lying.lyingRange = true;
        return {PortalResponse(whole).resettingAfter(Cut), lying, whole};
    }
    if (scenario == "503 with Retry-After")
        return {withStatus(503, "Service Unavailable").withHeader("Retry-After", "3"), whole};
    if (scenario == "Last-Modified")
        return {ranged(body, Date).resettingAfter(Cut), ranged(body, Date)};
    return {};
}

// A release and the next one, as a packer makes them from one version to the next: entries
// kept, changed, removed, renamed and added, sometimes reordered, stored or deflated, some
// with data descriptors, with or without a comment.
std::pair<QByteArray, QByteArray> releasePair(QRandomGenerator &random) {
    const auto content = [&random] {
        QByteArray bytes;
        const int size = random.bounded(200, 6000);
        while (bytes.size() < size)
            bytes += random.bounded(3) == 0 ? testsupport::randomBytes(64)
                                            : QByteArray::number(random.bounded(100)).repeated(20);
        return bytes.left(size);
    };
    std::vector<testsupport::ZipItem> base;
    const int count = random.bounded(6, 15);
    for (int i = 0; i < count; ++i)
        base.push_back({"lib/f" + QByteArray::number(i) + ".so", content(), random.bounded(4) != 0,
                        random.bounded(4) == 0});
    std::vector<testsupport::ZipItem> next;
    for (testsupport::ZipItem item : base) {
        const int fate = random.bounded(20);
        if (fate < 2)
            continue; // removed
        if (fate < 5)
            item.data = content();
        else if (fate == 5)
            item.name = "lib/renamed" + QByteArray::number(random.bounded(1000)) + ".so";
        next.push_back(item);
    }
    for (int added = random.bounded(4); added > 0 || next.empty(); --added)
        next.push_back({"lib/new" + QByteArray::number(added) + ".so", content(),
                        random.bounded(2) == 0, random.bounded(3) == 0});
    if (random.bounded(4) == 0)
        std::shuffle(next.begin(), next.end(), random);
    const QByteArray comment = random.bounded(3) == 0 ? "release comment" : "";
    return {testsupport::writeZip(base, random.bounded(3) == 0 ? "old" : ""),
            testsupport::writeZip(next, comment)};
}

QByteArray rangeFrom(qint64 first) {
    return "bytes=" + QByteArray::number(first) + '-';
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
    void resume_data();
    void resume();
    void partialFileAcrossRuns_data();
    void partialFileAcrossRuns();
    void cancelDuringARetryWait();
    void deltaReleasePairs();
    void deltaFallsBack_data();
    void deltaFallsBack();

private:
    bool waitForFinished(int count = 1) {
        return QTest::qWaitFor([&] { return int(m_log->finished.size()) >= count; }, WaitMs);
    }
    // The same without qWaitFor's 10 ms naps, which would dominate runs of small requests
    // between this thread's portal and the network thread.
    bool runUntilFinished(int count) {
        QEventLoop loop;
        m_log->onFinished = [&](const net::AsyncProperty &) {
            if (int(m_log->finished.size()) >= count)
                loop.quit();
        };
        QTimer::singleShot(WaitMs, &loop, &QEventLoop::quit);
        if (int(m_log->finished.size()) < count)
            loop.exec();
        m_log->onFinished = {};
        return int(m_log->finished.size()) >= count;
    }

    std::unique_ptr<TestPortal> m_portal;
    std::unique_ptr<NetworkReadService> m_service;
    std::unique_ptr<ctlAsyncDownload> m_control;
    std::unique_ptr<EventLog> m_log;
    std::unique_ptr<QTemporaryDir> m_dir;
    // The waits the service planned before its retries; it really waits none of them.
    std::vector<std::chrono::milliseconds> m_waits;
};

void tst_DownloadNetwork::init() {
    m_portal = std::make_unique<TestPortal>();
    QVERIFY(m_portal->listen());
    m_service = std::make_unique<NetworkReadService>();
    // Short enough that a broken test fails rather than hangs.
    m_service->setStallTimeout(std::chrono::milliseconds(WaitMs / 3));
    m_waits.clear();
    m_service->setRetryWait([this](std::chrono::milliseconds planned) {
        m_waits.push_back(planned);
        return std::chrono::milliseconds(0);
    });
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
            QVERIFY2(!name.endsWith(QLatin1String(".part")) &&
                         !name.endsWith(QLatin1String(".resume")),
                     qPrintable(name));
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

    const net::AsyncProperty &X = m_log->finished.at(0);
    QVERIFY(X.succeeded());
    QCOMPARE(X.value, body);
    QCOMPARE(X.target, url);
    QCOMPARE(X.contentType, QString::fromLatin1(contentType));
    QCOMPARE(m_log->lines.first(), QStringLiteral("Status Connecting connecting to 127.0.0.1"));
    QVERIFY(m_log->lines.contains("MimeType " + QString::fromLatin1(contentType)));
    QVERIFY(m_log->lines.contains("Status BeginningData " + url));
    QCOMPARE(m_log->lines.last(), "Finished ok 0 " + url);
    QVERIFY(m_log->lines.at(m_log->lines.size() - 2).startsWith("Status Completed "));
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
        if (status == DownloadStatus::ReceivingData && !existing && QFile::exists(target))
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
    QVERIFY(m_log->lines.contains("Status Redirecting " + m_portal->url("/new")));
    QVERIFY(contentsOf(target) == body);
}

void tst_DownloadNetwork::failedReads_data() {
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<bool>("toFile");
    for (const char *kind :
         {"404", "500", "closed mid-body", "length larger than body", "redirect loop",
          "eleventh redirect", "stall", "no answer", "tls error", "slow drip", "reconnecting drip",
          "empty 200", "204", "conflicting lengths"}) {
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

    const net::AsyncProperty &X = m_log->finished.at(0);
    QVERIFY(!X.succeeded());
    QVERIFY(X.value.isEmpty());
    QVERIFY(!X.statusText.isEmpty());
    QVERIFY(m_log->only("FileSaved").isEmpty());
    const QStringList statuses = m_log->only("Status");
    // A read that fails says so twice; bytes that the publish step refuses, once.
    if (!kind.startsWith("chunk"))
        QCOMPARE(statuses.at(statuses.size() - 2), "Status Error " + X.statusText);
    QCOMPARE(statuses.last(), "Status Completed " + X.statusText);
    QCOMPARE(m_log->lines.last(), "Finished failed 0 " + url);
    QStringList left = entriesOf(m_dir->path());
    if (kind == "reconnecting drip" && toFile) {
        // The bytes that came can be resumed: they stay for a later run.
        QCOMPARE(left.size(), 3);
        for (const QString &name : left.filter(QStringLiteral(".update-tool-")))
            QVERIFY(QFile::remove(m_dir->filePath(name)) && left.removeOne(name));
    }
    QCOMPARE(left, QStringList{"pkg.zip"});
    QCOMPARE(contentsOf(target), QByteArray("the old package"));
    if (kind == "tls error")
        QVERIFY2(!X.statusText.contains("no data"), qPrintable(X.statusText));
    if (kind.startsWith("4") || kind.startsWith("5"))
        QVERIFY2(X.statusText.startsWith("HTTP " + kind.left(3)), qPrintable(X.statusText));
    // Failures of the way are tried five times more (the waits are planned as
    // tst_downloaddecisions checks); failures of the answer once.
    const bool transient =
        QList<QByteArray>{"500",       "closed mid-body", "length larger than body", "stall",
                          "no answer", "slow drip",       "reconnecting drip"}
            .contains(kind);
    if (transient) {
        QCOMPARE(m_portal->requestCount("/f"), 6);
        QCOMPARE(m_waits.size(), size_t(5));
    } else if (!kind.contains("redirect") && kind != "tls error") {
        QCOMPARE(m_portal->requestCount("/f"), 1);
        QVERIFY(m_waits.empty());
    }
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
    QCOMPARE(m_log->lines.last(), "Status Cancelled " + url);
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
    QCOMPARE(m_log->lines,
             (QStringList{"Status Cancelled " + urls[0], "Status Cancelled " + urls[1],
                          "Status Cancelled " + urls[2], "Status AllCancelled "}));
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
    QVERIFY(m_log->only("Status").last().startsWith("Status Completed "));
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
    QCOMPARE(m_log->lines, QStringList{"Status Cancelled " + url});
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

// A read to a file over a link that fails now and then ends with the server's bytes exactly,
// asking for the rest where the server allows it and for the whole where it does not.
void tst_DownloadNetwork::resume_data() {
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QByteArrayList>("ranges");   // each request's Range ("" for none)
    QTest::addColumn<QByteArrayList>("ifRanges"); // and its If-Range
    QTest::addColumn<QList<int>>("waits");        // seconds planned before each retry
    QTest::newRow("reset once") << QByteArray("reset once") << QByteArrayList{"", rangeFrom(Cut)}
                                << QByteArrayList{"", Etag} << QList<int>{1};
    QTest::newRow("reset twice") << QByteArray("reset twice")
                                 << QByteArrayList{"", rangeFrom(Cut), rangeFrom(2 * Cut)}
                                 << QByteArrayList{"", Etag, Etag} << QList<int>{1, 1};
    // Each attempt brings new bytes: the link drops, but no failure follows another.
    QTest::newRow("reset every time")
        << QByteArray("reset every time")
        << QByteArrayList{"", rangeFrom(Cut), rangeFrom(2 * Cut), rangeFrom(3 * Cut)}
        << QByteArrayList{"", Etag, Etag, Etag} << QList<int>{1, 1, 1};
    QTest::newRow("stall, then recovery")
        << QByteArray("stall, then recovery") << QByteArrayList{"", rangeFrom(Cut)}
        << QByteArrayList{"", Etag} << QList<int>{1};
    QTest::newRow("no range support") << QByteArray("no range support") << QByteArrayList{"", ""}
                                      << QByteArrayList{"", ""} << QList<int>{1};
    QTest::newRow("range ignored")
        << QByteArray("range ignored") << QByteArrayList{"", rangeFrom(Cut)}
        << QByteArrayList{"", Etag} << QList<int>{1};
    QTest::newRow("validator changes")
        << QByteArray("validator changes") << QByteArrayList{"", rangeFrom(Cut)}
        << QByteArrayList{"", Etag} << QList<int>{1};
    QTest::newRow("416") << QByteArray("416") << QByteArrayList{"", rangeFrom(Cut), ""}
                         << QByteArrayList{"", Etag, ""} << QList<int>{1};
    QTest::newRow("lying Content-Range")
        << QByteArray("lying Content-Range") << QByteArrayList{"", rangeFrom(Cut), ""}
        << QByteArrayList{"", Etag, ""} << QList<int>{1};
    QTest::newRow("503 with Retry-After")
        << QByteArray("503 with Retry-After") << QByteArrayList{"", ""} << QByteArrayList{"", ""}
        << QList<int>{3};
    QTest::newRow("Last-Modified")
        << QByteArray("Last-Modified") << QByteArrayList{"", rangeFrom(Cut)}
        << QByteArrayList{"", Date} << QList<int>{1};
}

void tst_DownloadNetwork::resume() {
    QFETCH(QByteArray, scenario);
    QFETCH(QByteArrayList, ranges);
    QFETCH(QByteArrayList, ifRanges);
    QFETCH(QList<int>, waits);
    m_service->setStallTimeout(std::chrono::milliseconds(400));
    const QByteArray body = zipArchive(packageBytes(3 * Cut + 1000));
    const QByteArray changed = zipArchive(packageBytes(3 * Cut + 2000).toUpper());
    const QByteArray path = "/download/d_load.php?d_id=7&down_id=1";
    m_portal->route(path, flakyAnswers(scenario, body, changed));
    m_control->addPublishCheck(
        [](const QString &, const QString &) { return std::make_unique<FollowingCheck>(); });
    const QString url = m_portal->url(QString::fromLatin1(path));
    const QString target = m_dir->filePath(QStringLiteral("Demo_2.1.zip"));
    m_control->Download(url, target);
    QVERIFY(waitForFinished());

    QVERIFY2(m_log->finished.at(0).succeeded(), qPrintable(m_log->finished.at(0).statusText));
    QVERIFY(contentsOf(target) == (scenario == "validator changes" ? changed : body));
    QByteArrayList askedRanges, askedIfRanges;
    for (const testsupport::PortalRequest &request : m_portal->requests()) {
        askedRanges << request.headers.value("range");
        askedIfRanges << request.headers.value("if-range");
    }
    QCOMPARE(askedRanges, ranges);
    QCOMPARE(askedIfRanges, ifRanges);
    std::vector<std::chrono::milliseconds> planned;
    for (const int seconds : waits)
        planned.push_back(std::chrono::seconds(seconds));
    QCOMPARE(m_waits, planned);
    // Retries are invisible but for progress, which never goes back and ends at the whole.
    QVERIFY(std::is_sorted(m_log->percents.begin(), m_log->percents.end()));
    QCOMPARE(m_log->percents.back(), 100.0F);
    QCOMPARE(m_log->only("Status Error"), QStringList());
    QCOMPARE(m_log->only("Status Connecting").size(), 1);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{"Demo_2.1.zip"});
}

// What is left of a read that ends before its end decides what the next run does: it
// resumes from bytes kept where the server can continue them, and starts over otherwise.
void tst_DownloadNetwork::partialFileAcrossRuns_data() {
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("ranges");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<bool>("changedMeanwhile");
    QTest::newRow("window closes") << "window closes" << true << true << false;
    QTest::newRow("window closes, no ranges") << "window closes" << false << false << false;
    QTest::newRow("read fails for good") << "fails" << true << true << false;
    QTest::newRow("read fails for good, no ranges") << "fails" << false << false << false;
    QTest::newRow("user cancels") << "user cancels" << true << false << false;
    QTest::newRow("package changed meanwhile") << "window closes" << true << true << true;
    // All bytes had come when the run ended (killed while checking them): a 416 to the range
    // after them says they are whole, and nothing is fetched again.
    QTest::newRow("kept whole") << "kept whole" << true << true << false;
}

void tst_DownloadNetwork::partialFileAcrossRuns() {
    QFETCH(QString, end);
    QFETCH(bool, ranges);
    QFETCH(bool, kept);
    QFETCH(bool, changedMeanwhile);
    const QByteArray body = zipArchive(packageBytes(3 * Cut));
    const QByteArray changed = zipArchive(packageBytes(3 * Cut).toUpper());
    const QByteArray path = "/pkg";
    const PortalResponse whole = ranges ? ranged(body) : PortalResponse::ok(body);
    if (end == u"fails") // a reset, then the package is gone
        m_portal->route(path,
                        {PortalResponse(whole).resettingAfter(Cut), PortalResponse::notFound()});
    else
        m_portal->route(path, PortalResponse(whole).dripping(4096, 5));
    const QString url = m_portal->url(QString::fromLatin1(path));
    const QString target = m_dir->filePath(QStringLiteral("pkg.zip"));
    if (end == u"kept whole") {
        QString error;
        auto partial = net::PartialDownload::open(m_dir->path(), url, error);
        QVERIFY2(partial, qPrintable(error));
        QCOMPARE(partial->file().write(body), body.size());
        QVERIFY(partial->writeSidecar({url, Etag, body.size()}));
        partial->keep();
    } else if (end == u"fails") {
        m_control->Download(url, target);
        QVERIFY(waitForFinished());
        QVERIFY(!m_log->finished.at(0).succeeded());
    } else {
        m_control->Download(url, target);
        QVERIFY(QTest::qWaitFor([&] { return m_log->percents.size() >= 3; }, WaitMs));
        if (end == u"user cancels")
            m_control->CancelDownload(url);
        else
            m_control.reset(); // as closing the window does
    }
    QCOMPARE(m_service->runningReads(), 0);
    const QStringList left = entriesOf(m_dir->path());
    QCOMPARE(left.size(), kept ? 2 : 0);
    qint64 keptBytes = 0;
    for (const QString &name : left) {
        QVERIFY2(net::isPartialDownloadName(name), qPrintable(name));
        if (name.endsWith(u".part"))
            keptBytes = QFileInfo(m_dir->filePath(name)).size();
    }
    QVERIFY(!kept || keptBytes > 0);

    // The next run: a new control over the same folder.
    const int before = int(m_portal->requests().size());
    m_portal->route(path, changedMeanwhile ? ranged(changed, "\"v2\"") : whole);
    m_control = std::make_unique<ctlAsyncDownload>(*m_service);
    m_log = std::make_unique<EventLog>();
    m_control->setEventSink(m_log.get());
    m_control->addPublishCheck(
        [](const QString &, const QString &) { return std::make_unique<FollowingCheck>(); });
    m_control->Download(url, target);
    QVERIFY(waitForFinished());
    QVERIFY2(m_log->finished.at(0).succeeded(), qPrintable(m_log->finished.at(0).statusText));
    QVERIFY(contentsOf(target) == (changedMeanwhile ? changed : body));
    const testsupport::PortalRequest &asked = m_portal->requests().at(before);
    QCOMPARE(asked.headers.value("range"), kept ? rangeFrom(keptBytes) : QByteArray());
    QCOMPARE(asked.headers.value("if-range"), kept ? Etag : QByteArray());
    QCOMPARE(int(m_portal->requests().size()), before + 1);
    QCOMPARE(entriesOf(m_dir->path()), QStringList{"pkg.zip"});
}

void tst_DownloadNetwork::cancelDuringARetryWait() {
    m_service->setRetryWait([this](std::chrono::milliseconds planned) {
        m_waits.push_back(planned);
        return std::chrono::milliseconds(60'000);
    });
    m_portal->route("/f", withStatus(503, "Service Unavailable"));
    const QString url = m_portal->url("/f");
    m_control->Download(url, m_dir->filePath(QStringLiteral("pkg.zip")));
    QVERIFY(QTest::qWaitFor([&] { return m_waits.size() == 1; }, WaitMs));
    m_control->CancelDownload(url);
    QCOMPARE(m_service->runningReads(), 0);
    QCOMPARE(m_log->lines.last(), "Status Cancelled " + url);
    QTest::qWait(100);
    QVERIFY(m_log->finished.empty());
    QVERIFY(entriesOf(m_dir->path()).isEmpty());
}

// Every download from a previous release gives the new package byte for byte: assembled from
// the base and ranges, or after a counted fallback, by the full download.
void tst_DownloadNetwork::deltaReleasePairs() {
    QRandomGenerator random(23);
    int used = 0;
    for (int pair = 0; pair < 100; ++pair) {
        const auto [base, next] = releasePair(random);
        const QByteArray path = "/delta/" + QByteArray::number(pair) + ".zip";
        m_portal->route(path, PortalResponse::ok(next, "application/zip")
                                  .withRanges("\"r" + QByteArray::number(pair) + '"'));
        const QString basePath = m_dir->filePath(QStringLiteral("base%1.zip").arg(pair));
        const QString target = m_dir->filePath(QStringLiteral("next%1.zip").arg(pair));
        QVERIFY(writeFile(basePath, base));
        m_control->Download(m_portal->url(QString::fromLatin1(path)), target, basePath);
        QVERIFY(runUntilFinished(pair + 1));
        QVERIFY2(contentsOf(target) == next, qPrintable(QString::number(pair)));
        const auto &outcome = m_control->lastDelta();
        QVERIFY(outcome);
        const qint64 sent = m_portal->bodyBytesSent(path);
        if (outcome->used) {
            ++used;
            QCOMPARE(sent, outcome->report.serverBytes);
            QCOMPARE(outcome->report.serverBytes + outcome->report.baseBytes, next.size());
            QVERIFY(double(sent) < 0.7 * double(next.size()));
            // Progress runs over the whole package, copied bytes included.
            QCOMPARE(m_log->percents.back(), 100.0F);
        } else {
            QVERIFY(sent >= next.size());
        }
    }
    qInfo("%d of 100 release pairs used a delta", used);
    QVERIFY(used >= 50);
}

void tst_DownloadNetwork::deltaFallsBack_data() {
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("server without ranges") << QByteArray("no ranges") << "answered 200";
    QTest::newRow("weak validator") << QByteArray("weak") << "no strong ETag";
    QTest::newRow("package changed between requests") << QByteArray("changed") << "answered 412";
    QTest::newRow("changed, and the server ignores If-Range")
        << QByteArray("changed, conditions ignored") << "another one";
    QTest::newRow("base is no archive") << QByteArray("bad base") << "no usable archive";
    QTest::newRow("descriptors of another form") << QByteArray("descriptors") << "local header";
    QTest::newRow("too much changed") << QByteArray("all new") << "would fetch";
}

void tst_DownloadNetwork::deltaFallsBack() {
    QFETCH(QByteArray, kind);
    QFETCH(QString, reason);
    std::vector<testsupport::ZipItem> items;
    for (int i = 0; i < 8; ++i)
        items.push_back({"lib/f" + QByteArray::number(i) + ".so",
                         testsupport::randomBytes(20000 + i), i % 2 == 0});
    QByteArray base = testsupport::writeZip(items);
    items[3].data = testsupport::randomBytes(5000);
    const QByteArray next = testsupport::writeZip(items);
    items[4].data = testsupport::randomBytes(5000);
    const QByteArray later = testsupport::writeZip(items);
    QByteArray expected = kind.startsWith("changed") ? later : next;
    PortalResponse ranged = PortalResponse::ok(next).withRanges("\"v1\"");
    if (kind == "no ranges")
        ranged = PortalResponse::ok(next);
    else if (kind == "weak")
        ranged.validator = "W/\"v1\"";
    QList<PortalResponse> responses{ranged};
    if (kind.startsWith("changed")) {
        responses << PortalResponse::ok(later).withRanges("\"v2\"");
        responses.back().ignoringConditions = kind != "changed";
    }
    if (kind == "bad base")
        base = packageBytes(base.size());
    if (kind == "all new")
        base = testsupport::writeZip({{"other.so", packageBytes(100)}});
    if (kind == "descriptors") {
        // The same entries, but the new package's data descriptors carry their signature and
        // the base's do not: the plan places the copies 4 bytes off, which the fetched local
        // headers reveal.
        std::vector<testsupport::ZipItem> described = items;
        for (auto &item : described) {
            item.descriptor = true;
            item.descriptorSigned = false;
        }
        base = testsupport::writeZip(described);
        for (auto &item : described)
            item.descriptorSigned = true;
        described[5].data = testsupport::randomBytes(3000);
        expected = testsupport::writeZip(described);
        ranged = PortalResponse::ok(expected).withRanges("\"v1\"");
        responses = {ranged};
    }
    m_portal->route("/p.zip", responses);
    const QString basePath = m_dir->filePath(QStringLiteral("base.zip"));
    const QString target = m_dir->filePath(QStringLiteral("next.zip"));
    QVERIFY(writeFile(basePath, base));
    m_control->Download(m_portal->url(QStringLiteral("/p.zip")), target, basePath);
    QVERIFY(waitForFinished());
    QVERIFY(m_log->finished.at(0).succeeded());
    QVERIFY(contentsOf(target) == expected);
    const auto &outcome = m_control->lastDelta();
    QVERIFY(outcome && !outcome->used);
    QVERIFY2(outcome->fallbackReason.contains(reason), qPrintable(outcome->fallbackReason));
    QCOMPARE(entriesOf(m_dir->path()), (QStringList{"base.zip", "next.zip"}));
}

QTEST_GUILESS_MAIN(tst_DownloadNetwork)
#include "tst_downloadnetwork.moc"
