#include "download/DeltaDownload.h"

#include <algorithm>

#include <QTimer>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace download {
namespace {

// Copies from the base go in pieces this large, and the event loop runs between every few
// of them, so that the window stays responsive and a cancel is heard.
constexpr qint64 CopyChunk = qint64(1) << 20;
constexpr int CopyChunksPerTurn = 8;

} // namespace

DeltaDownload::DeltaDownload(const QString &url, const QString &basePath,
                             const QString &saveFileName, net::ChunkObserver observer,
                             std::optional<qint64> expectedSize, Progress progress, Done done,
                             QObject *parent)
    : QObject(parent)
    , m_url(url)
    , m_basePath(basePath)
    , m_saveFileName(saveFileName)
    , m_observer(std::move(observer))
    , m_expectedSize(expectedSize)
    , m_progress(std::move(progress))
    , m_done(std::move(done)) {}

DeltaDownload::~DeltaDownload() {
    m_fetcher.abort();
    if (m_file)
        m_file->remove();
}

void DeltaDownload::start() {
    m_base.setFileName(m_basePath);
    QString error;
    if (!m_base.open(QIODevice::ReadOnly)) {
        // Reported from the event loop, as every other end.
        error = QStringLiteral("cannot read the base %1: %2").arg(m_basePath, m_base.errorString());
    } else {
        m_baseArchive = readBaseArchive(m_base, error);
    }
    if (!m_baseArchive) {
        QTimer::singleShot(0, this, [this, error] { fail(error); });
        return;
    }
    // The new directory is likely about as large as the base's: one request then brings it
    // with the end records.
    const ZipDirectory &base = m_baseArchive->directory;
    const qint64 baseTail = base.fileSize - base.directoryOffset;
    const qint64 guess =
        std::min(baseTail + baseTail / 4 + 4096, MaxZipDirectorySize + MaxZipEndRecords);
    m_fetcher.fetch(
        QUrl(m_url), -1, guess, {},
        [this](QByteArrayView bytes) {
            m_tail += bytes;
            return true;
        },
        [this](bool ok, const QString &reason, const net::RangeFetcher::Answer &answer) {
            onTail(ok, reason, answer);
        });
}

void DeltaDownload::onTail(bool ok, const QString &error, const net::RangeFetcher::Answer &answer) {
    m_report.requests = m_fetcher.requestsSent();
    if (!ok) {
        fail(QStringLiteral("the package's tail: %1").arg(error));
        return;
    }
    if (m_size == 0) {
        m_size = answer.total;
        m_validator = answer.validator;
        m_report.size = m_size;
        if (m_expectedSize && *m_expectedSize != m_size) {
            fail(QStringLiteral("the server announces %1 bytes, the release %2")
                     .arg(m_size)
                     .arg(*m_expectedSize));
            return;
        }
    }
    m_report.serverBytes = m_tail.size();
    const ZipDirectoryResult parsed = parseZipDirectory(m_tail, m_size);
    if (parsed.error == ZipDirectoryError::NeedsLongerTail && !m_tailExtended &&
        parsed.tailNeededFrom >= 0 &&
        m_size - parsed.tailNeededFrom <= MaxZipDirectorySize + MaxZipEndRecords) {
        // Once more, for the part of the directory the guess missed.
        m_tailExtended = true;
        auto front = std::make_shared<QByteArray>();
        const qint64 from = parsed.tailNeededFrom;
        m_fetcher.fetch(
            QUrl(m_url), from, m_size - m_tail.size() - from, m_validator,
            [front](QByteArrayView bytes) {
                *front += bytes;
                return true;
            },
            [this, front](bool done, const QString &reason, const net::RangeFetcher::Answer &a) {
                m_tail.prepend(*front);
                onTail(done, reason, a);
            });
        return;
    }
    if (!parsed.directory) {
        fail(QStringLiteral("the package's directory: %1")
                 .arg(QLatin1String(zipDirectoryErrorText(parsed.error))));
        return;
    }
    m_plan = planDelta(*m_baseArchive, *parsed.directory, m_size - m_tail.size());
    planAndRun();
}

void DeltaDownload::planAndRun() {
    const qint64 fetched = m_plan.serverBytes + m_tail.size();
    if (double(fetched) >= MaxDeltaShare * double(m_size)) {
        fail(QStringLiteral("a delta would fetch %1 of %2 bytes").arg(fetched).arg(m_size));
        return;
    }
    QString error;
    m_file = platform::createHiddenTemporaryFile(platform::systemFolderOf(m_saveFileName),
                                                 m_saveFileName, error);
    if (!m_file) {
        fail(error);
        return;
    }
    m_writeBehind = platform::WriteBehind(m_file->handle());
    if (m_observer)
        m_observer(0, {});
    nextPiece();
}

// The observer may keep what it is shown: bytes it sees must be an array of their own.
bool DeltaDownload::write(QByteArrayView bytes) {
    return write(m_observer ? bytes.toByteArray()
                            : QByteArray::fromRawData(bytes.data(), bytes.size()));
}

bool DeltaDownload::write(const QByteArray &bytes) {
    QString problem;
    if (m_file->write(bytes.data(), bytes.size()) != bytes.size())
        problem = m_file->errorString();
    else
        m_writeBehind.written(m_written + bytes.size(), problem);
    if (!problem.isEmpty()) {
        fail(QStringLiteral("cannot write %1: %2").arg(m_file->fileName(), problem));
        return false;
    }
    if (m_observer)
        m_observer(m_written, bytes);
    m_written += bytes.size();
    if (m_progress)
        m_progress(m_written, m_size);
    return !m_finished; // the progress handler may have stopped it
}

// Runs the plan's pieces in order; a server piece continues from its request's end.
void DeltaDownload::nextPiece() {
    if (m_finished)
        return;
    int chunks = 0;
    while (m_piece < m_plan.pieces.size()) {
        const DeltaPiece &piece = m_plan.pieces[m_piece];
        switch (piece.source) {
        case DeltaPiece::Source::Tail:
            if (!write(QByteArrayView(m_tail).sliced(m_tail.size() - (m_size - piece.offset),
                                                     piece.length)))
                return;
            ++m_piece;
            break;
        case DeltaPiece::Source::Base: {
            const qint64 length = std::min(CopyChunk, piece.length - m_pieceDone);
            if (!m_base.seek(piece.baseOffset + m_pieceDone)) {
                fail(QStringLiteral("cannot read the base %1").arg(m_basePath));
                return;
            }
            const QByteArray bytes = m_base.read(length);
            if (bytes.size() != length) {
                fail(QStringLiteral("the base %1 ended early").arg(m_basePath));
                return;
            }
            m_report.baseBytes += length;
            if (!write(bytes))
                return;
            m_pieceDone += length;
            if (m_pieceDone == piece.length) {
                m_pieceDone = 0;
                ++m_piece;
            }
            if (++chunks == CopyChunksPerTurn) {
                QTimer::singleShot(0, this, &DeltaDownload::nextPiece);
                return;
            }
            break;
        }
        case DeltaPiece::Source::Server:
            m_report.serverBytes += piece.length;
            m_fetcher.fetch(
                QUrl(m_url), piece.offset, piece.length, m_validator,
                [this](QByteArrayView bytes) { return write(bytes); },
                [this](bool ok, const QString &reason, const net::RangeFetcher::Answer &) {
                    m_report.requests = m_fetcher.requestsSent();
                    if (m_finished)
                        return; // a write failed and said so
                    if (!ok) {
                        fail(QStringLiteral("a range of the package: %1").arg(reason));
                        return;
                    }
                    ++m_piece;
                    nextPiece();
                });
            return;
        }
    }
    succeed();
}

bool DeltaDownload::verifyHeaders(QString &error) {
    QFile written(m_file->fileName());
    if (!written.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read back %1").arg(written.fileName());
        return false;
    }
    for (const LocalHeaderCheck &check : m_plan.headers) {
        if (!written.seek(check.offset) || !matchesLocalHeader(written.read(check.length), check)) {
            error = QStringLiteral("the local header of %1 is not where the directory places it")
                        .arg(QString::fromUtf8(check.name));
            return false;
        }
    }
    return true;
}

void DeltaDownload::stop() {
    m_finished = true;
    m_done = {};
    m_progress = {};
    m_fetcher.abort();
    if (m_file) {
        m_file->remove();
        m_file.reset();
    }
}

void DeltaDownload::fail(const QString &reason) {
    if (m_finished)
        return;
    m_finished = true;
    m_fetcher.abort();
    if (m_file) {
        m_file->remove();
        m_file.reset();
    }
    if (Done done = std::exchange(m_done, {}))
        done(false, reason);
}

void DeltaDownload::succeed() {
    QString error;
    if (m_written != m_size)
        error = QStringLiteral("the delta wrote %1 of %2 bytes").arg(m_written).arg(m_size);
    else if (QString problem; !m_file->flush() || !m_writeBehind.finish(problem))
        error = QStringLiteral("cannot write %1: %2")
                    .arg(m_file->fileName(), problem.isEmpty() ? m_file->errorString() : problem);
    if (!error.isEmpty() || !verifyHeaders(error)) {
        fail(error);
        return;
    }
    m_finished = true;
    m_file->close();
    const QString path = m_file->fileName();
    m_file.reset(); // handed over
    if (Done done = std::exchange(m_done, {}))
        done(true, path);
}

} // namespace download
