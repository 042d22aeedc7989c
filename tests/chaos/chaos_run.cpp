// The updater's check, download, signature check and publication without the window, for
// the fault-injection runs (scripts/chaos): the real read service, the download control and
// its publish step, driven as the window's workflow drives them.
//   chaos_run run BASE_URL FOLDER [PUBLIC_KEY]  one start: clean-up of stale partials, check
//       (BASE_URL/page), download of the package it names into FOLDER, never replacing a file;
//       exit 0 and "published=PATH" when published, 1 for a clean failure
//   chaos_run start FOLDER                      the start-up clean-up alone
//   chaos_run soak BASE_URL FOLDER CYCLES       CYCLES checks and downloads in one process
//       (each published package is removed again); prints fd, thread, RSS and live QObject
//       figures after the first, the middle and the last cycle
// CHAOS_KILL=PHASE:MICROSECONDS kills the process with SIGKILL that long after it enters
// PHASE (check, download, verify, publish, question). A preloaded fault helper that exports
// chaos_arm/chaos_disarm counts or fails calls only between the check and the end.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <thread>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "download/ctlAsyncDownload.h"
#include "net/NetworkReadService.h"
#include "net/PartialDownloads.h"
#include "window/FileNames.h"
#include "window/PackageSignatureCheck.h"
#include "window/PageTitle.h"
#include "window/ReleaseCheck.h"

// Qt's object hooks (qhooks_p.h): count live QObjects to see that no timer or reply outlives
// its read.
extern Q_CORE_EXPORT quintptr qtHookData[];

namespace {

using Clock = std::chrono::steady_clock;

enum Phase { Starting, Checking, Downloading, Verifying, Publishing, Asking, PhaseCount };
const char *const PhaseNames[PhaseCount] = {"start",  "check",   "download",
                                            "verify", "publish", "question"};
std::atomic<int> g_phase{Starting};
std::atomic<Clock::rep> g_phaseEntered{0};
Clock::time_point g_phaseStart[PhaseCount];

void enterPhase(Phase phase) {
    g_phaseStart[phase] = Clock::now();
    g_phaseEntered = g_phaseStart[phase].time_since_epoch().count();
    g_phase = phase;
}

void callHelper(const char *name) {
    if (auto function = reinterpret_cast<void (*)()>(dlsym(RTLD_DEFAULT, name)))
        function();
}

// Kills the process at the instant CHAOS_KILL names; a phase passed too soon still ends in
// the kill, at the next phase.
void startKiller() {
    const QByteArray killAt = qgetenv("CHAOS_KILL");
    const qsizetype colon = killAt.indexOf(':');
    if (colon < 0)
        return;
    int target = -1;
    for (int i = 0; i < PhaseCount; ++i)
        if (killAt.left(colon) == PhaseNames[i])
            target = i;
    const auto delay = std::chrono::microseconds(killAt.mid(colon + 1).toLongLong());
    if (target < 0)
        return;
    std::thread([target, delay] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            const int phase = g_phase;
            const Clock::time_point entered{Clock::duration(g_phaseEntered.load())};
            if (phase > target || (phase == target && Clock::now() - entered >= delay))
                ::kill(::getpid(), SIGKILL);
        }
    }).detach();
}

// Marks the start of a phase of the publish step by a check that always passes.
class PhaseMark final : public download::PublishCheck {
public:
    explicit PhaseMark(Phase phase)
        : m_phase(phase) {}
    bool verify(const QString &, QString &) override {
        enterPhase(m_phase);
        return true;
    }

private:
    Phase m_phase;
};

struct Figures {
    int fds = 0;
    int threads = 0;
    long rssKib = 0;
    long objects = 0;
};

std::atomic<long> g_liveObjects{0};
void addObject(QObject *) {
    ++g_liveObjects;
}
void removeObject(QObject *) {
    --g_liveObjects;
}

Figures figures() {
    Figures f;
    f.fds = static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System).size());
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Threads:"))
                f.threads = line.mid(8).trimmed().toInt();
            else if (line.startsWith("VmRSS:"))
                f.rssKib = line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    f.objects = g_liveObjects;
    return f;
}

// One check and one download, as the window's workflow runs them.
class Cycle final : public download::ctlAsyncDownloadEvents {
public:
    Cycle(download::ctlAsyncDownload &control, QString base, QString folder, QString key)
        : m_control(control)
        , m_base(std::move(base))
        , m_folder(std::move(folder))
        , m_key(std::move(key)) {
        control.setEventSink(this);
        control.addPublishCheck(
            [this](const QString &url, const QString &) -> std::unique_ptr<download::PublishCheck> {
                if (url != packageUrl() || m_key.isEmpty())
                    return nullptr;
                return window::packageSignatureCheck(m_release ? &*m_release : nullptr);
            },
            download::ctlAsyncDownload::CheckPlace::First);
        control.addPublishCheck(
            [](const QString &, const QString &) { return std::make_unique<PhaseMark>(Verifying); },
            download::ctlAsyncDownload::CheckPlace::First);
        control.addPublishCheck([](const QString &, const QString &) {
            return std::make_unique<PhaseMark>(Publishing);
        });
    }

    // Runs one cycle to its end; the published path, or nothing after a clean failure.
    std::optional<QString> run() {
        m_published.reset();
        m_done = false;
        enterPhase(Checking);
        m_control.Download(pageUrl());
        while (!m_done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return m_published;
    }

    void FileSaved(const QString &FileName, const QString &) override { m_saved = FileName; }

    void Finished(const net::AsyncProperty &X, std::int32_t) override {
        if (X.target == pageUrl()) {
            pageFinished(X);
            return;
        }
        if (X.succeeded() && !m_saved.isEmpty())
            m_published = m_saved;
        else
            m_reason = X.statusText;
        m_done = true;
    }

    QString reason() const { return m_reason; }

private:
    QString pageUrl() const { return m_base + QStringLiteral("/page"); }
    QString packageUrl() const { return m_base + QStringLiteral("/package.zip"); }

    void pageFinished(const net::AsyncProperty &X) {
        const QString page =
            X.succeeded() ? window::decodePage(X.value, X.contentType.toLatin1()) : QString();
        const std::optional<QString> title = window::pageTitle(page);
        if (!title) {
            m_reason = QStringLiteral("check failed: %1").arg(X.statusText);
            m_done = true;
            return;
        }
        m_release.reset();
        if (!m_key.isEmpty()) {
            auto checked = window::checkSignedRelease({{m_key}, false, 0},
                                                      window::packageSignature(page), *title, {});
            if (const auto *refusal = std::get_if<QString>(&checked)) {
                m_reason = *refusal;
                m_done = true;
                return;
            }
            m_release = std::get<window::SignedRelease>(std::move(checked));
        }
        m_saved.clear();
        enterPhase(Downloading);
        m_control.Download(packageUrl(),
                           window::UniqueFileName(window::PathWithBackslash(m_folder) +
                                                  window::packageFileName(*title)));
    }

    download::ctlAsyncDownload &m_control;
    QString m_base;
    QString m_folder;
    QString m_key;
    std::optional<window::SignedRelease> m_release;
    QString m_saved;
    QString m_reason;
    std::optional<QString> m_published;
    bool m_done = false;
};

void printFigures(const char *when, const Figures &f) {
    std::printf("%s: fds=%d threads=%d rss_kib=%ld qobjects=%ld\n", when, f.fds, f.threads,
                f.rssKib, f.objects);
}

} // namespace

int main(int argc, char **argv) {
    qtHookData[3] = reinterpret_cast<quintptr>(&addObject);
    qtHookData[4] = reinterpret_cast<quintptr>(&removeObject);
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("start") && args.size() == 3) {
        net::removeStalePartialDownloads(args[2]);
        return 0;
    }
    const bool soak = mode == QLatin1String("soak") && args.size() == 5;
    if (!soak && !(mode == QLatin1String("run") && (args.size() == 4 || args.size() == 5))) {
        std::fprintf(stderr, "usage: chaos_run run BASE_URL FOLDER [PUBLIC_KEY] | start FOLDER"
                             " | soak BASE_URL FOLDER CYCLES\n");
        return 2;
    }
    startKiller();
    net::NetworkReadService service;
    // Short waits: a run tries every fault, and none may take the retries' full minute.
    service.setRetryWait([soak](std::chrono::milliseconds wait) {
        return std::min(wait, std::chrono::milliseconds(soak ? 10 : 50));
    });
    service.setStallTimeout(std::chrono::milliseconds(soak ? 300 : 2000));
    download::ctlAsyncDownload control(service);
    Cycle cycle(control, args[2], args[3], soak ? QString() : args.value(4));

    if (soak) {
        const int cycles = args[4].toInt();
        int published = 0;
        int readsLeft = 0;
        Figures first;
        Figures middle;
        for (int i = 0; i < cycles; ++i) {
            if (const auto path = cycle.run()) {
                ++published;
                QFile::remove(*path);
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            readsLeft += service.runningReads() + control.DownloadsCount();
            if (i == 0)
                first = figures();
            if (i == cycles / 2)
                middle = figures();
        }
        const Figures last = figures();
        printFigures("first", first);
        printFigures("middle", middle);
        printFigures("last", last);
        std::printf("soak_cycles=%d soak_published=%d reads_left=%d\n", cycles, published,
                    readsLeft);
        return 0;
    }

    enterPhase(Starting);
    net::removeStalePartialDownloads(args[3]);
    callHelper("chaos_arm");
    const std::optional<QString> published = cycle.run();
    if (published) {
        // The window asks its question now; the process lives on while it is open.
        enterPhase(Asking);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    callHelper("chaos_disarm");
    if (!published) {
        std::printf("failed=%s\n", qPrintable(cycle.reason()));
        return 1;
    }
    std::printf("published=%s\n", qPrintable(*published));
    for (int i = Checking; i < Asking; ++i)
        std::printf("phase_us %s=%lld\n", PhaseNames[i],
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                               g_phaseStart[i + 1] - g_phaseStart[i])
                                               .count()));
    return 0;
}
