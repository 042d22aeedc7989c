#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QObject>
#include <QString>

#include "download/DeltaDownload.h"
#include "download/FileHelpers.h"
#include "download/PublishJob.h"
#include "download/PublishStep.h"
#include "net/ReadService.h"

namespace download {

// The values of the control's `Status`: the step its latest read, or cancel, reached. The
// property is stored and reported as a 32-bit integer, so these stay plain numbers.
namespace DownloadStatus {
enum : std::int32_t {
    Completed = 0, // a read ended, well or not (and the value before any read)
    Connecting = 1,
    BeginningData = 2, // the first bytes are on their way; the event carries the address
    ReceivingData = 3,
    Redirecting = 4,
    Cancelled = 5,    // one address was cancelled; the event carries it
    AllCancelled = 6, // every pending download was cancelled
    Error = 7,        // the read service reported an error; its completion follows
};
} // namespace DownloadStatus

// What the control tells its host. Every event is raised synchronously on the GUI thread;
// a handler may call back into the control, and that call runs to its end before the
// control goes on. The defaults do nothing.
class ctlAsyncDownloadEvents {
public:
    virtual ~ctlAsyncDownloadEvents() = default;

    // Data arrived. `Percent` is 0 when the size is unknown; `DownloadsCount` includes
    // the read being reported.
    virtual void Progress(const net::AsyncProperty & /*X*/, float /*Percent*/,
                          std::int32_t /*DownloadsCount*/, qint64 /*BytesRead*/,
                          qint64 /*BytesMax*/) {}
    virtual void Status(std::int32_t /*Status*/, const QString & /*Info*/) {}
    // A read ended, well or not: `X.succeeded()` tells which. For a read with a save file,
    // success means the file was written.
    virtual void Finished(const net::AsyncProperty & /*X*/, std::int32_t /*DownloadsCount*/) {}
    // Raised only for a file that was really written, complete, at `FileName`.
    virtual void FileSaved(const QString & /*FileName*/, const QString & /*Url*/) {}
    virtual void MimeType(const QString & /*MimeType*/) {}
    virtual void CacheFileAvailable(const QString & /*FileName*/) {}
};

// The invisible download control: downloads addresses through a read service, keeps the
// list of pending downloads, writes finished downloads to their save files and reports every
// step by events. A download with a save file streams into a hidden temporary file in the
// save folder; at completion the publish step checks it (a ".zip" must be a complete
// archive, and any check added with `addPublishCheck` must pass) and moves it to a free name
// in one step that never replaces a file that appeared meanwhile, so neither a partial nor a
// damaged file appears at the save path, and memory stays small. A check that knows the
// package's size in advance (`PublishCheck::expectedSize`) makes a download fail as soon as
// the server announces another length or sends a byte past it. The checks and the flush to
// disk run on a worker thread: the completion of a download to a file (`FileSaved`, then
// `Finished`) arrives from the event loop once they are through, and a cancel meanwhile drops
// the file. A failed completion carries its `FailureKind`. No operation reports an error to
// its caller or throws: outcomes are told by events and by `Status`.
class ctlAsyncDownload final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ctlAsyncDownload)

public:
    // `service` must outlive the control.
    explicit ctlAsyncDownload(net::ReadService &service, QObject *parent = nullptr);
    // Cancels every pending download, oldest first, each with `Status(Cancelled, URL)`, and stops
    // every read the control started, keeping the bytes of those a later run can resume (the
    // window is closing). The event sink, if any, must still be alive.
    ~ctlAsyncDownload() override;

    // The host that receives the events (none: events go nowhere). Not owned.
    void setEventSink(ctlAsyncDownloadEvents *sink) { m_sink = sink; }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // Adds a check that every later download to a file must pass before it is published;
    // checks run in the order they were added, after the zip check. A check added `First`
    // runs before all others: a signature check, so that nothing looks inside a package
    // before its origin is proven.
    enum class CheckPlace { Last, First };
    void addPublishCheck(PublishCheckFactory factory, CheckPlace place = CheckPlace::Last) {
        m_checkFactories.insert(place == CheckPlace::First ? m_checkFactories.begin()
                                                           : m_checkFactories.end(),
                                std::move(factory));
    }

    // Starts downloading `Url`: into memory without `SaveFileName`, else into that file.
    // With a `DeltaBase` (the previous package, a ".zip" like the new one) the new package is
    // first assembled from the base and ranges of the server (see DeltaDownload) and goes
    // through the same checks; any failure on that way falls back to the full download, with
    // a note on stderr.
    void Download(const QString &Url, const QString &SaveFileName = QString(),
                  const QString &DeltaBase = QString());

    // How the latest download with a base went: whether the delta was used, what it fetched,
    // and why it fell back when it did.
    struct DeltaOutcome {
        bool used = false;
        DeltaDownload::Report report;
        QString fallbackReason;
    };
    const std::optional<DeltaOutcome> &lastDelta() const { return m_lastDelta; }
    // Stops every read of `Url` and forgets it; `Status(Cancelled, Url)` even when nothing was
    // pending.
    void CancelDownload(const QString &Url);
    // Cancels the pending downloads oldest first, then `Status(AllCancelled, "")`. Their partial
    // files go, unless `kept` says to keep those a later run can resume (the window is closing).
    void CancelAllDownload(net::KeptBytes kept = net::KeptBytes::Remove);

    bool Overwrite() const { return m_Overwrite; }
    void setOverwrite(bool value) { m_Overwrite = value; }
    std::int32_t Status() const { return m_Status; }
    std::int32_t DownloadsCount() const {
        return static_cast<std::int32_t>(m_AsyncDownloads.size());
    }
    // Whether a finished download's checks are still running on their worker.
    bool isPublishing() const { return !m_publishes.empty(); }

private:
    struct StartedRead {
        QString url;
        QString propertyName;
        // The checks of a download to a file; shared with the service's observer.
        std::shared_ptr<PublishChecks> checks;
    };

    // A finished download whose checks run on the worker.
    struct Publishing {
        QString url;
        quint64 id = 0;
        std::unique_ptr<PublishJob> job;
    };
    // Whose the finished file is: the service removes its own once its notification returns.
    enum class SpoolOwner { Service, Control };
    using Continuation = std::function<void(const net::AsyncProperty &)>;

    static void observeAll(const PublishChecks &checks, qint64 offset, const QByteArray &bytes);
    std::shared_ptr<PublishChecks> makeChecks(const QString &Url, const QString &SaveFileName);
    void startRead(const QString &Url, const QString &propertyName, bool toFile);
    void startDelta(const QString &Url, const QString &SaveFileName, const QString &base);
    void deltaDone(DeltaDownload *delta, bool ok, const QString &fileOrReason);
    void fallBack(const QString &url, const QString &saveFileName, const QString &reason);
    void cancel(const QString &Url, net::KeptBytes kept);
    void onReadProgress(const net::AsyncProperty &record);
    void onReadComplete(const net::AsyncProperty &record);
    static std::optional<qint64> expectedSize(const PublishChecks &checks, net::FailureKind &kind);
    bool stopOversized(const net::AsyncProperty &record);
    bool isOurs(const net::AsyncProperty &record) const;
    void saveFile(net::AsyncProperty X, std::shared_ptr<PublishChecks> checks, SpoolOwner owner,
                  const Continuation &then);
    void publishChecked(quint64 id, net::AsyncProperty X, const QString &source, QTime now,
                        const Verification &verdict, const Continuation &then);
    void finishDownload(const net::AsyncProperty &X);
    qsizetype indexOf(const QString &Url) const;
    void setStatus(std::int32_t value, const QString &Info);

    net::ReadService &m_service;
    ctlAsyncDownloadEvents *m_sink = nullptr;
    Clock m_clock = systemClock;
    std::vector<PublishCheckFactory> m_checkFactories{zipArchiveCheck};

    // Pending downloads, oldest first; one per address, letter case ignored.
    std::vector<QString> m_AsyncDownloads;
    // Every read started and not yet complete or cancelled.
    std::vector<StartedRead> m_reads;
    // Running deltas, each also in `m_reads`; released with deleteLater.
    std::vector<DeltaDownload *> m_deltas;
    // Finished downloads whose checks run, oldest first.
    std::vector<Publishing> m_publishes;
    quint64 m_lastPublishId = 0;
    std::optional<DeltaOutcome> m_lastDelta;
    bool m_Overwrite = false;
    std::int32_t m_Status = DownloadStatus::Completed;
};

} // namespace download
