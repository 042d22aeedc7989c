#include <chrono>
#include <semaphore>
#include <stdexcept>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include "download/ctlAsyncDownload.h"

#include "download/DownloadTestKit.h"
#include "download/FakeReadService.h"
#include "support/InjectedFault.h"

using download::ctlAsyncDownload;
namespace DownloadStatus = download::DownloadStatus;
using net::ReadOutcome;
using testsupport::zipArchive;
namespace Code = net::AsyncStatusCode;

namespace {

const QString PageUrl = QStringLiteral("http://portal.test/content/7.html");
const QString PackageUrl = QStringLiteral("http://portal.test/download/d_load.php?d_id=7");

// A control over a fake service, reporting to a log that outlives it (the control raises
// events while it goes).
struct Rig {
    FakeReadService service;
    EventLog log;
    ctlAsyncDownload control{service};
    Rig() { control.setEventSink(&log); }
};

} // namespace

class tst_AsyncDownload : public QObject {
    Q_OBJECT

private slots:
    void startsReadsUnderTheRightName();
    void pendingListIgnoresLetterCase();
    void progressCodes_data();
    void progressCodes();
    void percent_data();
    void percent();
    void pageIntoMemory();
    void saveFile_data();
    void saveFile();
    void failedReadWritesNothing_data();
    void failedReadWritesNothing();
    void secondReadOfTheSameAddress();
    void cancelStopsTheReadWhateverItsName();
    void cancelAll();
    void cancelAllFromAHandler();
    void notificationsAfterCancelAreIgnored();
    void destructionCancelsOldestFirst();
};

void tst_AsyncDownload::startsReadsUnderTheRightName() {
    Rig rig;
    auto &[service, log, control] = rig;
    QCOMPARE(control.DownloadsCount(), 0);
    control.Download(PageUrl);
    control.Download(PackageUrl, QStringLiteral("/srv/dl/pkg.zip"));
    QCOMPARE(service.started.size(), size_t(2));
    QCOMPARE(service.started[0].propertyName, PageUrl);
    QVERIFY(!service.started[0].spoolFolder);
    QCOMPARE(service.started[1].propertyName, QStringLiteral("/srv/dl/pkg.zip"));
    QCOMPARE(service.started[1].spoolFolder, std::optional<QString>(QStringLiteral("/srv/dl")));
    QCOMPARE(control.DownloadsCount(), 2);
    QVERIFY(log.lines.isEmpty()); // starting raises nothing
}

void tst_AsyncDownload::pendingListIgnoresLetterCase() {
    FakeReadService service;
    ctlAsyncDownload control(service);
    control.Download(PageUrl);
    control.Download(PageUrl.toUpper());
    QCOMPARE(service.started.size(), size_t(2)); // a second read all the same
    QCOMPARE(control.DownloadsCount(), 1);
    control.CancelDownload(PageUrl.toUpper());
    QCOMPARE(control.DownloadsCount(), 0);
}

void tst_AsyncDownload::progressCodes_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("status");

    QTest::newRow("0 error") << 0 << QStringList{"Status Error text"} << "Error";
    QTest::newRow("1 finding") << 1 << QStringList{} << "Completed";
    QTest::newRow("2 connecting") << 2 << QStringList{"Status Connecting text"} << "Connecting";
    QTest::newRow("3 redirecting") << 3 << QStringList{"Status Redirecting text"} << "Redirecting";
    QTest::newRow("4 begin: target, not text")
        << 4 << QStringList{"Status BeginningData " + PageUrl} << "BeginningData";
    QTest::newRow("5 data") << 5
                            << QStringList{"Status ReceivingData text",
                                           "Progress 25 1 512/2048 " + PageUrl}
                            << "ReceivingData";
    QTest::newRow("6 complete") << 6
                                << QStringList{"Status ReceivingData text",
                                               "Progress 25 1 512/2048 " + PageUrl}
                                << "ReceivingData";
    QTest::newRow("11") << 11 << QStringList{} << "Completed";
    QTest::newRow("13 mime") << 13 << QStringList{"MimeType text"} << "Completed";
    QTest::newRow("14 cache") << 14 << QStringList{"CacheFileAvailable text"} << "Completed";
    QTest::newRow("15") << 15 << QStringList{} << "Completed";
    QTest::newRow("-1") << -1 << QStringList{} << "Completed";
}

void tst_AsyncDownload::progressCodes() {
    QFETCH(int, code);
    QFETCH(QStringList, events);
    QFETCH(QString, status);
    Rig rig;
    auto &[service, log, control] = rig;
    control.Download(PageUrl);
    service.progress(
        FakeReadService::record(PageUrl, PageUrl, code, QStringLiteral("text"), 512, 2048));
    QCOMPARE(log.lines, events);
    QCOMPARE(statusName(control.Status()), status);
}

void tst_AsyncDownload::percent_data() {
    QTest::addColumn<qint64>("read");
    QTest::addColumn<qint64>("max");
    QTest::addColumn<float>("expected");
    QTest::newRow("unknown size") << qint64(100) << qint64(0) << 0.0F;
    QTest::newRow("negative size") << qint64(100) << qint64(-1) << 0.0F;
    QTest::newRow("quarter") << qint64(512) << qint64(2048) << 25.0F;
    QTest::newRow("third, not rounded") << qint64(1) << qint64(3) << 33.333332F;
    QTest::newRow("all") << qint64(2048) << qint64(2048) << 100.0F;
    QTest::newRow("beyond 2 GiB") << qint64(3) * 1024 * 1024 * 1024
                                  << qint64(4) * 1024 * 1024 * 1024 << 75.0F;
}

void tst_AsyncDownload::percent() {
    QFETCH(qint64, read);
    QFETCH(qint64, max);
    QFETCH(float, expected);
    Rig rig;
    auto &[service, log, control] = rig;
    control.Download(PageUrl);
    service.progress(
        FakeReadService::record(PageUrl, PageUrl, Code::DownloadingData, {}, read, max));
    QCOMPARE(log.percents.size(), size_t(1));
    QCOMPARE(log.percents[0], expected);
}

void tst_AsyncDownload::pageIntoMemory() {
    Rig rig;
    auto &[service, log, control] = rig;
    control.Download(PageUrl);
    service.complete(FakeReadService::record(PageUrl, PageUrl, Code::EndDownloadData, "done"),
                     ReadOutcome::Succeeded, "<h1 title=\"Demo 2.1\">");
    QCOMPARE(log.lines, (QStringList{"Status Completed done", "Finished ok 0 " + PageUrl}));
    QCOMPARE(log.finished.at(0).value, QByteArray("<h1 title=\"Demo 2.1\">"));
    QCOMPARE(control.DownloadsCount(), 0);
}

// A service that hands over the bytes in memory: the control still publishes them in one
// step and never leaves a temporary file. Whatever is at a name already, or appears there
// before the move, stays as it is. A signal that interrupts the flush or the move (EINTR
// from the first such call) is no failure.
void tst_AsyncDownload::saveFile_data() {
    QTest::addColumn<QString>("before"); // what is at the save path first
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("savedAs");
    QTest::addColumn<QByteArray>("interrupted"); // the libc call that fails once with EINTR
    QTest::newRow("new file") << "" << false << "pkg.zip" << QByteArray();
    QTest::newRow("existing, stamped") << "file" << false << "pkg, 101530.zip" << QByteArray();
    QTest::newRow("existing, overwritten") << "file" << true << "pkg.zip" << QByteArray();
    QTest::newRow("dangling symlink, stamped")
        << "dangling symlink" << false << "pkg, 101530.zip" << QByteArray();
    QTest::newRow("stamped name taken too")
        << "file and stamped" << false << "pkg, 101530 (2).zip" << QByteArray();
    QTest::newRow("the last numbered name left")
        << "file, stamped and numbered" << false << "pkg, 101530 (100).zip" << QByteArray();
    QTest::newRow("a file appears before the move")
        << "appears" << false << "pkg, 101530.zip" << QByteArray();
    QTest::newRow("flush interrupted") << "" << false << "pkg.zip" << QByteArray("fsync");
    QTest::newRow("move interrupted") << "" << false << "pkg.zip" << QByteArray("renameat2");
    QTest::newRow("folder check interrupted") << "" << false << "pkg.zip" << QByteArray("stat");
    QTest::newRow("replacing move interrupted")
        << "file" << true << "pkg.zip" << QByteArray("rename");
}

void tst_AsyncDownload::saveFile() {
    QFETCH(QString, before);
    QFETCH(bool, overwrite);
    QFETCH(QString, savedAs);
    QFETCH(QByteArray, interrupted);
    if (!interrupted.isEmpty() && !testsupport::underInjectedFault()) {
        testsupport::rerunWithFault(interrupted.constData(), 1, "EINTR");
        return;
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("pkg.zip"));
    const QString stamped = dir.filePath(QStringLiteral("pkg, 101530.zip"));
    const QByteArray old("an older and longer package");
    if (before.startsWith(u"file"))
        QVERIFY(writeFile(target, old));
    if (before.startsWith(u"file, stamped") || before == u"file and stamped")
        QVERIFY(writeFile(stamped, old));
    QStringList numbered; // "(2)" to "(99)": one short of the most names tried
    if (before == u"file, stamped and numbered")
        for (int number = 2; number < 100; ++number)
            numbered << QStringLiteral("pkg, 101530 (%1).zip").arg(number);
    for (const QString &name : numbered)
        QVERIFY(writeFile(dir.filePath(name), old));
    if (before == u"dangling symlink")
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), target));
    const QByteArray body = zipArchive("the new package");
    FakeReadService service;
    ctlAsyncDownload control(service);
    control.setClock([] { return QTime(10, 15, 30); });
    control.setOverwrite(overwrite);
    // Another program takes the chosen name while the checks run.
    struct Intruder final : download::PublishCheck {
        QString path;
        bool verify(const QString &, QString &) override {
            writeFile(path, "another program's file");
            return true;
        }
    };
    if (before == u"appears")
        control.addPublishCheck([&](const QString &, const QString &) {
            auto check = std::make_unique<Intruder>();
            check->path = target;
            return check;
        });
    EventLog log;
    control.setEventSink(&log);
    control.Download(PackageUrl, target);
    {
        const testsupport::ArmedFault armed;
        service.complete(FakeReadService::record(PackageUrl, target, Code::EndDownloadData, "done"),
                         ReadOutcome::Succeeded, body);
        QVERIFY(waitForPublishing(control));
    }
    const QString path = dir.filePath(savedAs);
    QCOMPARE(log.lines, (QStringList{"FileSaved " + path + " " + PackageUrl,
                                     "Status Completed done", "Finished ok 0 " + PackageUrl}));
    QCOMPARE(contentsOf(path), body);
    if (before.startsWith(u"file") && !overwrite)
        QCOMPARE(contentsOf(target), old);
    if (before == u"file and stamped" || !numbered.isEmpty())
        QCOMPARE(contentsOf(stamped), old);
    if (before == u"appears")
        QCOMPARE(contentsOf(target), QByteArray("another program's file"));
    if (before == u"dangling symlink")
        QCOMPARE(QFileInfo(target).symLinkTarget(), dir.filePath(QStringLiteral("nowhere")));
    QStringList expected = QStringList{QStringLiteral("pkg.zip"), savedAs} + numbered;
    if (before == u"file and stamped" || !numbered.isEmpty())
        expected << QStringLiteral("pkg, 101530.zip");
    expected.sort();
    expected.removeDuplicates();
    QCOMPARE(entriesOf(dir.path()), expected);
}

void tst_AsyncDownload::failedReadWritesNothing_data() {
    QTest::addColumn<bool>("existing");
    QTest::addColumn<QString>("saveName"); // relative to the scratch folder
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QByteArray>("body");
    const QByteArray zip = zipArchive("a package");
    QTest::newRow("failed read") << false << "pkg.zip" << false << QByteArray();
    QTest::newRow("failed read, existing file") << true << "pkg.zip" << false << QByteArray();
    QTest::newRow("folder missing") << false << "missing/pkg.zip" << true << zip;
    QTest::newRow("target is a folder") << false << "sub" << true << zip;
    QTest::newRow("empty zip") << false << "pkg.zip" << true << QByteArray();
    QTest::newRow("not a zip") << true << "pkg.zip" << true << QByteArray("PK\3\4 not really");
    QTest::newRow("zip cut short") << false << "pkg.ZIP" << true << zip.left(zip.size() - 1);
    QTest::newRow("zip without its directory")
        << false << "pkg.zip" << true << zip.left(zip.indexOf("PK\1\2"));
    QTest::newRow("a check refuses it") << false << "pkg.zip" << true << zip;
    // Counted from the end record, before the directory is read.
    QTest::newRow("more entries than accepted") << false << "pkg.zip" << true << zip;
    QTest::newRow("a check breaks down") << false << "pkg.zip" << true << zip;
    QTest::newRow("a check breaks down following the bytes") << false << "pkg.zip" << true << zip;
    QTest::newRow("every numbered name taken") << true << "pkg.zip" << true << zip;
    // A check still runs when the download is cancelled, or the control goes away.
    QTest::newRow("cancelled while checking") << false << "pkg.zip" << true << zip;
    QTest::newRow("destroyed while checking") << false << "pkg.zip" << true << zip;
}

void tst_AsyncDownload::failedReadWritesNothing() {
    QFETCH(bool, existing);
    QFETCH(QString, saveName);
    QFETCH(bool, succeeded);
    QFETCH(QByteArray, body);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    if (existing)
        QVERIFY(writeFile(dir.filePath(saveName), "keep me"));
    const bool namesTaken = QTest::currentDataTag() == QByteArray("every numbered name taken");
    if (namesTaken) {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("pkg, 101530.zip")), "keep me"));
        for (int number = 2; number <= 100; ++number)
            QVERIFY(writeFile(dir.filePath(QStringLiteral("pkg, 101530 (%1).zip").arg(number)),
                              "keep me"));
    }
    const QStringList before = entriesOf(dir.path());
    FakeReadService service;
    auto control = std::make_unique<ctlAsyncDownload>(service);
    control->setClock([] { return QTime(10, 15, 30); });
    control->setOverwrite(!namesTaken);
    struct Refusal final : download::PublishCheck {
        bool verify(const QString &, QString &error) override {
            error = QStringLiteral("no");
            return false;
        }
    };
    struct Breakdown final : download::PublishCheck {
        bool verify(const QString &, QString &) override { throw std::runtime_error("no key"); }
    };
    // Loses track of the bytes, and so refuses the file.
    struct LostTrack final : download::PublishCheck {
        void observe(qint64, const QByteArray &) override { throw std::runtime_error("lost"); }
        bool verify(const QString &, QString &error) override {
            error = QStringLiteral("missed bytes");
            return false;
        }
    };
    // Holds the worker inside the checks until the test lets it go.
    struct Gate {
        std::binary_semaphore entered{0};
        std::binary_semaphore released{0};
        std::atomic<bool> timedOut{false};
    };
    struct Held final : download::PublishCheck {
        std::shared_ptr<Gate> gate = std::make_shared<Gate>();
        bool verify(const QString &, QString &) override {
            gate->entered.release();
            gate->timedOut = !gate->released.try_acquire_for(std::chrono::seconds(20));
            return true;
        }
    };
    const bool cancelled = QTest::currentDataTag() == QByteArray("cancelled while checking");
    const bool destroyed = QTest::currentDataTag() == QByteArray("destroyed while checking");
    std::shared_ptr<Gate> gate;
    if (cancelled || destroyed)
        control->addPublishCheck([&](const QString &, const QString &) {
            auto check = std::make_unique<Held>();
            gate = check->gate;
            return check;
        });
    const bool refused = QTest::currentDataTag() == QByteArray("a check refuses it");
    if (refused)
        control->addPublishCheck(
            [](const QString &, const QString &) { return std::make_unique<Refusal>(); });
    const bool tooMany = QTest::currentDataTag() == QByteArray("more entries than accepted");
    if (tooMany)
        control->addPublishCheck(
            [](const QString &, const QString &) { return download::zipEntriesCheck(0); });
    if (QTest::currentDataTag() == QByteArray("a check breaks down"))
        control->addPublishCheck(
            [](const QString &, const QString &) { return std::make_unique<Breakdown>(); });
    if (QTest::currentDataTag() == QByteArray("a check breaks down following the bytes"))
        control->addPublishCheck(
            [](const QString &, const QString &) { return std::make_unique<LostTrack>(); });
    EventLog log;
    control->setEventSink(&log);
    const QString target = dir.filePath(saveName);
    control->Download(PackageUrl, target);
    service.complete(FakeReadService::record(PackageUrl, target, Code::Error, "broken"),
                     succeeded ? ReadOutcome::Succeeded : ReadOutcome::Failed, body);
    if (gate) {
        QVERIFY(gate->entered.try_acquire_for(std::chrono::seconds(20)));
        QCOMPARE(entriesOf(dir.path()).size(), before.size() + 1); // the file being checked
        if (cancelled)
            control->CancelDownload(PackageUrl);
        else
            control.reset(); // without waiting for the check
        gate->released.release();
        QVERIFY(QThreadPool::globalInstance()->waitForDone(20000));
        QCoreApplication::processEvents(); // a verdict that was queued all the same
        QVERIFY(!gate->timedOut);
        QCOMPARE(log.lines, QStringList{"Status Cancelled " + PackageUrl});
        QCOMPARE(entriesOf(dir.path()), before);
        return;
    }
    QVERIFY(waitForPublishing(*control));
    QVERIFY(log.only("FileSaved").isEmpty());
    QCOMPARE(log.only("Finished"), QStringList{"Finished failed 0 " + PackageUrl});
    QCOMPARE(log.only("Status").size(), 1);
    QVERIFY(log.only("Status").at(0).startsWith("Status Completed "));
    QVERIFY(!log.finished.at(0).statusText.isEmpty());
    if (refused)
        QCOMPARE(log.finished.at(0).statusText, QStringLiteral("no"));
    if (tooMany)
        QCOMPARE(log.finished.at(0).statusText,
                 QStringLiteral("the package holds 1 entries, more than the 0 accepted"));
    QCOMPARE(entriesOf(dir.path()), before);
    if (existing)
        QCOMPARE(contentsOf(target), QByteArray("keep me"));
    QVERIFY(entriesOf(dir.filePath("sub")).isEmpty());
}

void tst_AsyncDownload::secondReadOfTheSameAddress() {
    Rig rig;
    auto &[service, log, control] = rig;
    control.Download(PageUrl);
    control.Download(PageUrl);
    const auto done = FakeReadService::record(PageUrl, PageUrl, Code::EndDownloadData, "done");
    service.complete(done, ReadOutcome::Succeeded, "a");
    service.complete(done, ReadOutcome::Succeeded, "b");
    // A third completion belongs to no read the control started.
    service.complete(done, ReadOutcome::Succeeded, "c");
    QCOMPARE(log.only("Finished"),
             (QStringList{"Finished ok 0 " + PageUrl, "Finished ok 0 " + PageUrl}));
}

void tst_AsyncDownload::cancelStopsTheReadWhateverItsName() {
    Rig rig;
    auto &[service, log, control] = rig;
    control.Download(PageUrl);
    control.Download(PackageUrl, QStringLiteral("/srv/dl/pkg.zip"));
    control.Download(PackageUrl, QStringLiteral("/srv/dl/again.zip"));
    control.CancelDownload(PackageUrl.toUpper());
    QCOMPARE(service.cancelled,
             (QStringList{QStringLiteral("/srv/dl/pkg.zip"), QStringLiteral("/srv/dl/again.zip")}));
    QCOMPARE(control.DownloadsCount(), 1);
    QCOMPARE(log.lines, QStringList{"Status Cancelled " + PackageUrl.toUpper()});
    QCOMPARE(statusName(control.Status()), QStringLiteral("Cancelled"));

    // Not pending: nothing to stop, the event all the same.
    control.CancelDownload(QStringLiteral("http://elsewhere.test/"));
    QCOMPARE(service.cancelled.size(), 2);
    QCOMPARE(log.lines.last(), QStringLiteral("Status Cancelled http://elsewhere.test/"));
    QCOMPARE(control.DownloadsCount(), 1);
}

void tst_AsyncDownload::cancelAll() {
    Rig rig;
    auto &[service, log, control] = rig;
    control.CancelAllDownload();
    QCOMPARE(log.lines, QStringList{"Status AllCancelled "});

    log.lines.clear();
    const QStringList urls{"http://a.test/1", "http://b.test/2", "http://c.test/3"};
    for (const QString &url : urls)
        control.Download(url);
    control.CancelAllDownload();
    QCOMPARE(log.lines, (QStringList{"Status Cancelled " + urls[0], "Status Cancelled " + urls[1],
                                     "Status Cancelled " + urls[2], "Status AllCancelled "}));
    QCOMPARE(service.cancelled, urls);
    QVERIFY(service.cancelledKeepingBytes.isEmpty()); // a cancel throws the bytes away
    QCOMPARE(control.DownloadsCount(), 0);
    QCOMPARE(statusName(control.Status()), QStringLiteral("AllCancelled"));

    // Closing the window ends the reads the same way, but keeps what can be resumed.
    log.lines.clear();
    control.Download(urls[0]);
    control.CancelAllDownload(net::KeptBytes::KeepWhenResumable);
    QCOMPARE(log.lines, (QStringList{"Status Cancelled " + urls[0], "Status AllCancelled "}));
    QCOMPARE(service.cancelledKeepingBytes, QStringList{urls[0]});
}

// A host may call back into the control from an event; the call runs to its end first.
void tst_AsyncDownload::cancelAllFromAHandler() {
    Rig rig;
    auto &[service, log, control] = rig;
    control.Download(PageUrl);
    control.Download(PackageUrl);
    log.onStatus = [&](std::int32_t status, const QString &) {
        if (status == DownloadStatus::Connecting)
            control.CancelAllDownload();
    };
    service.progress(FakeReadService::record(PageUrl, PageUrl, Code::Connecting, "connecting"));
    QCOMPARE(log.lines, (QStringList{"Status Connecting connecting", "Status Cancelled " + PageUrl,
                                     "Status Cancelled " + PackageUrl, "Status AllCancelled "}));
    QCOMPARE(control.DownloadsCount(), 0);

    // A download started from Finished is pending once Finished returns.
    log.onStatus = nullptr;
    control.Download(PageUrl);
    log.onFinished = [&](const net::AsyncProperty &) { control.Download(PackageUrl); };
    service.complete(FakeReadService::record(PageUrl, PageUrl, Code::EndDownloadData),
                     ReadOutcome::Succeeded);
    QCOMPARE(control.DownloadsCount(), 1);
    QCOMPARE(service.started.back().target, PackageUrl);
}

void tst_AsyncDownload::notificationsAfterCancelAreIgnored() {
    Rig rig;
    auto &[service, log, control] = rig;
    control.Download(PackageUrl, QStringLiteral("/srv/dl/pkg.zip"));
    control.CancelDownload(PackageUrl);
    log.lines.clear();
    const auto late = FakeReadService::record(PackageUrl, QStringLiteral("/srv/dl/pkg.zip"),
                                              Code::DownloadingData, "late", 1, 2);
    service.progress(late);
    service.complete(late, ReadOutcome::Succeeded, "x");
    QVERIFY(log.lines.isEmpty());
}

void tst_AsyncDownload::destructionCancelsOldestFirst() {
    FakeReadService service;
    EventLog log;
    {
        ctlAsyncDownload control(service);
        control.setEventSink(&log);
        control.Download(PackageUrl, QStringLiteral("/srv/dl/pkg.zip"));
        control.Download(PageUrl);
        control.Download(PageUrl); // a second read of a pending address
        service.complete(FakeReadService::record(PageUrl, PageUrl, Code::EndDownloadData),
                         ReadOutcome::Succeeded);
        log.lines.clear();
    }
    QCOMPARE(log.lines, QStringList{"Status Cancelled " + PackageUrl});
    // The second page read was no longer pending, but it is stopped too; a control that goes
    // away, as with its window, keeps what a later run can resume.
    QCOMPARE(service.cancelled, (QStringList{QStringLiteral("/srv/dl/pkg.zip"), PageUrl}));
    QCOMPARE(service.cancelledKeepingBytes, service.cancelled);
}

QTEST_GUILESS_MAIN(tst_AsyncDownload)
#include "tst_asyncdownload.moc"
