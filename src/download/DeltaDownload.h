#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QUrl>

#include "download/DeltaPlan.h"
#include "net/RangeFetcher.h"
#include "net/ReadService.h"
#include "platform/WriteBehind.h"

// A new zip package assembled from the previous one (the base) and single-range requests for
// what changed: the new package's directory from its tail, then, in order, the local headers
// and changed entries from the server and the unchanged entries' bytes from the base, into a
// hidden temporary file beside the save path. It only assembles: the control runs the
// package's checks on the result and falls back to a full download on any failure.
namespace download {

// A delta is used only when it fetches less than this share of the package.
inline constexpr double MaxDeltaShare = 0.70;

class DeltaDownload final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DeltaDownload)

public:
    struct Report {
        qint64 size = 0;        // the new package's
        qint64 serverBytes = 0; // body bytes asked from the server, the tail included
        qint64 baseBytes = 0;   // copied from the base
        int requests = 0;
    };
    // Bytes of the new package written so far, of its size.
    using Progress = std::function<void(qint64 written, qint64 size)>;
    // The end: the assembled file on success, else the reason. Called once, from the event
    // loop; the handler may release this object with deleteLater, never delete it at once.
    using Done = std::function<void(bool ok, const QString &fileOrReason)>;

    // `observer` sees the assembled bytes in order; `expectedSize`, when known, is the size the
    // package must have.
    DeltaDownload(const QString &url, const QString &basePath, const QString &saveFileName,
                  net::ChunkObserver observer, std::optional<qint64> expectedSize,
                  Progress progress, Done done, QObject *parent = nullptr);
    // Stops, and removes the temporary file unless `Done` handed it over.
    ~DeltaDownload() override;

    void setDoneHandler(Done done) { m_done = std::move(done); }
    void start();
    // Stops for good without calling `Done` and removes the temporary file; safe from inside
    // the handlers.
    void stop();
    const Report &report() const { return m_report; }
    const QString &url() const { return m_url; }
    const QString &saveFileName() const { return m_saveFileName; }

private:
    void onTail(bool ok, const QString &error, const net::RangeFetcher::Answer &answer);
    void planAndRun();
    void nextPiece();
    bool write(QByteArrayView bytes);
    // Shares `bytes` with the observer (a copy of the old package's bytes, read for this).
    bool write(const QByteArray &bytes);
    bool verifyHeaders(QString &error);
    void fail(const QString &reason);
    void succeed();

    QString m_url;
    QString m_basePath;
    QString m_saveFileName;
    net::ChunkObserver m_observer;
    std::optional<qint64> m_expectedSize;
    Progress m_progress;
    Done m_done;

    net::RangeFetcher m_fetcher;
    QFile m_base;
    std::optional<BaseArchive> m_baseArchive;
    QByteArray m_tail;
    QByteArray m_validator;
    qint64 m_size = 0;
    bool m_tailExtended = false;
    DeltaPlan m_plan;
    std::size_t m_piece = 0;
    qint64 m_pieceDone = 0;
    std::unique_ptr<QFile> m_file;
    platform::WriteBehind m_writeBehind; // of m_file
    qint64 m_written = 0;
    Report m_report;
    bool m_finished = false;
};

} // namespace download
