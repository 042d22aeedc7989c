// The read service's own clean-up of the files it spools into, seen by a receiver that does
// nothing with them: whatever the download control does on top must not be needed.
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "net/NetworkReadService.h"
#include "support/TestPortal.h"

using net::AsyncProperty;
using net::KeptBytes;
using net::NetworkReadService;
using testsupport::PortalResponse;

Q_DECLARE_METATYPE(testsupport::PortalResponse)
using testsupport::TestPortal;

namespace {

constexpr int WaitMs = 15000;

QStringList entriesOf(const QString &folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class tst_NetworkReadService : public QObject {
    Q_OBJECT

private slots:
    void spoolFolderIsLeftClean_data() {
        QTest::addColumn<QString>("ending");     // "succeeds", "fails" or "cancelled"
        QTest::addColumn<bool>("resumable");     // the server gives byte ranges and a validator
        QTest::addColumn<bool>("keepResumable"); // the cancel asks to keep resumable bytes
        QTest::addColumn<bool>("kept");          // the partial file and its sidecar stay
        QTest::newRow("succeeds, receiver leaves the file")
            << "succeeds" << false << false << false;
        QTest::newRow("succeeds resumable, receiver leaves the file")
            << "succeeds" << true << false << false;
        QTest::newRow("fails with 404") << "fails" << false << false << false;
        QTest::newRow("fails mid-body, not resumable") << "fails" << false << false << false;
        QTest::newRow("cancelled mid-body") << "cancelled" << false << false << false;
        QTest::newRow("cancelled mid-body, resumable") << "cancelled" << true << false << false;
        QTest::newRow("cancelled mid-body, resumable, kept") << "cancelled" << true << true << true;
        // Bytes that no sidecar describes are of no use to a later run.
        QTest::newRow("cancelled mid-body, resumable, kept, sidecar unwritable")
            << "cancelled" << true << true << false;
        QTest::newRow("cancelled mid-body, not resumable, keeping asked")
            << "cancelled" << false << true << false;
    }
    void spoolFolderIsLeftClean() {
        QFETCH(QString, ending);
        QFETCH(bool, resumable);
        QFETCH(bool, keepResumable);
        QFETCH(bool, kept);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        TestPortal portal;
        QVERIFY(portal.listen());
        const QByteArray body(256 * 1024, 'p');
        PortalResponse response = PortalResponse::ok(body, "application/zip");
        if (resumable)
            response.withRanges("\"v1\"");
        if (ending == u"cancelled")
            response.dripping(4096, 20);
        else if (ending == u"fails" && QTest::currentDataTag() == QByteArray("fails with 404"))
            response = PortalResponse::notFound();
        else if (ending == u"fails")
            response.closingAfter(1000);
        portal.route("/p", response);
        const bool sidecarBlocked = QByteArray(QTest::currentDataTag()).endsWith("unwritable");
        const QString sidecarName =
            QStringLiteral(".update-tool-%1.resume")
                .arg(QString::fromLatin1(
                    QCryptographicHash::hash(portal.url("/p").toUtf8(), QCryptographicHash::Sha256)
                        .toHex()
                        .left(32)));
        if (sidecarBlocked) // a folder at the name: the sidecar cannot be moved there
            QVERIFY(QDir(folder.path()).mkdir(sidecarName));

        NetworkReadService service;
        service.setRetryWait(
            [](std::chrono::milliseconds) { return std::chrono::milliseconds(0); });
        std::optional<AsyncProperty> completion;
        bool spooledWhileNotified = false;
        connect(&service, &NetworkReadService::readComplete, this,
                [&](const AsyncProperty &record) {
                    completion = record;
                    spooledWhileNotified = !record.spoolFile.isEmpty() &&
                                           QFile(record.spoolFile).size() == body.size();
                });
        service.AsyncRead(portal.url(QStringLiteral("/p")), QStringLiteral("p"), folder.path());

        if (ending == u"cancelled") {
            QVERIFY(
                QTest::qWaitFor([&] { return portal.bodyBytesSent("/p") >= 16 * 1024; }, WaitMs));
            QVERIFY(!entriesOf(folder.path()).isEmpty());
            service.CancelAsyncRead(QStringLiteral("p"), keepResumable
                                                             ? KeptBytes::KeepWhenResumable
                                                             : KeptBytes::Remove);
            QCOMPARE(service.runningReads(), 0);
        } else {
            QVERIFY(QTest::qWaitFor([&] { return completion.has_value(); }, WaitMs));
            QCOMPARE(completion->succeeded(), ending == u"succeeds");
            QCOMPARE(spooledWhileNotified, ending == u"succeeds");
        }
        QStringList left = entriesOf(folder.path());
        if (sidecarBlocked)
            QVERIFY(left.removeOne(sidecarName));
        if (kept) {
            QCOMPARE(left.size(), 2);
            QVERIFY2(left.filter(QStringLiteral(".part")).size() == 1 &&
                         left.filter(QStringLiteral(".resume")).size() == 1,
                     qPrintable(left.join(u' ')));
        } else {
            QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
        }
    }

    // A head past its bounds fails the read at once, well before the time a head may take,
    // without retries, and its connection is closed; one within them is read. A read
    // cancelled while its head comes closes its connection too.
    void boundedHead_data() {
        QTest::addColumn<int>("bytes");   // the head's size, its blank line included
        QTest::addColumn<int>("lines");   // header lines; 0: an endless head
        QTest::addColumn<bool>("cancel"); // cancelled while the head is incomplete
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("64 KiB") << 65536 << 64 << false << true;
        QTest::newRow("64 KiB and a byte") << 65537 << 64 << false << false;
        QTest::newRow("100 header lines") << 4000 << 100 << false << true;
        QTest::newRow("101 header lines") << 4000 << 101 << false << false;
        QTest::newRow("endless") << 0 << 0 << false << false;
        QTest::newRow("cancelled before its end") << 0 << 1 << true << false;
    }
    void boundedHead() {
        QFETCH(int, bytes);
        QFETCH(int, lines);
        QFETCH(bool, cancel);
        QFETCH(bool, succeeds);
        TestPortal portal;
        QVERIFY(portal.listen());
        if (lines == 0) {
            portal.route("/h", PortalResponse::ok("x").withEndlessHead());
        } else if (cancel) {
            portal.route("/h", PortalResponse::verbatim("HTTP/1.1 200 OK\r\nX-Pad: p\r\n"));
        } else {
            // A status line, Content-Length and padding lines that fill the head exactly.
            QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n";
            const int padding = bytes - int(head.size()) - 2;
            for (int i = 1; i < lines; ++i) {
                const int size = padding / (lines - 1) + (i == 1 ? padding % (lines - 1) : 0);
                head += "X-Pad: " + QByteArray(size - 9, 'p') + "\r\n";
            }
            head += "\r\n";
            QCOMPARE(head.size(), bytes);
            portal.route("/h", PortalResponse::verbatim(head + 'x'));
        }
        NetworkReadService service;
        std::optional<AsyncProperty> completion;
        connect(&service, &NetworkReadService::readComplete, this,
                [&](const AsyncProperty &record) { completion = record; });
        QElapsedTimer clock;
        clock.start();
        service.AsyncRead(portal.url(QStringLiteral("/h")), QStringLiteral("h"), std::nullopt);
        if (cancel) {
            QVERIFY(QTest::qWaitFor([&] { return portal.openConnections() == 1; }, WaitMs));
            QTest::qWait(100);
            service.CancelAsyncRead(QStringLiteral("h"));
        } else {
            QVERIFY(QTest::qWaitFor([&] { return completion.has_value(); }, WaitMs));
            QCOMPARE(completion->succeeded(), succeeds);
            if (succeeds)
                QCOMPARE(completion->value, QByteArray("x"));
            else
                QVERIFY2(completion->statusText.contains(QStringLiteral("head")),
                         qPrintable(completion->statusText));
            QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        }
        QVERIFY(QTest::qWaitFor([&] { return portal.openConnections() == 0; }, 1000));
        QCOMPARE(portal.requestCount("/h"), 1);
        QCOMPARE(service.runningReads(), 0);
    }

    // A body that needs no decoding goes from the socket straight to the reader, after any
    // bytes that came with the head: whatever the pieces, the reader gets exactly the body,
    // in order, and nothing a server sends past its declared length.
    void bodyFraming_data() {
        QTest::addColumn<PortalResponse>("response");
        QTest::addColumn<QByteArray>("body");
        QByteArray large(3 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < large.size(); ++i)
            large[i] = char(i * 7 + i / 4099);
        const QByteArray small = large.first(64 << 10);
        const auto declared = [](const QByteArray &body, const QByteArray &after) {
            return PortalResponse::verbatim(
                "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                "\r\n\r\n" + body + after);
        };
        QTest::newRow("declared, with the head in one write") << declared(large, {}) << large;
        QTest::newRow("declared, then bytes past it") << declared(small, "EXTRA") << small;
        QTest::newRow("until the close")
            << PortalResponse::ok(large).withoutContentLength() << large;
        QTest::newRow("dripping") << PortalResponse::ok(small).dripping(4096, 1) << small;
    }
    void bodyFraming() {
        QFETCH(PortalResponse, response);
        QFETCH(QByteArray, body);
        TestPortal portal;
        QVERIFY(portal.listen());
        portal.route("/b", response);
        NetworkReadService service;
        std::optional<AsyncProperty> completion;
        connect(&service, &NetworkReadService::readComplete, this,
                [&](const AsyncProperty &record) { completion = record; });
        service.AsyncRead(portal.url(QStringLiteral("/b")), QStringLiteral("b"), std::nullopt);
        QVERIFY(QTest::qWaitFor([&] { return completion.has_value(); }, WaitMs));
        QVERIFY2(completion->succeeded(), qPrintable(completion->statusText));
        QCOMPARE(completion->value.size(), body.size());
        QVERIFY(completion->value == body);
    }
};

QTEST_GUILESS_MAIN(tst_NetworkReadService)
#include "tst_networkreadservice.moc"
