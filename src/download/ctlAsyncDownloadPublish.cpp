// How the control publishes a finished download: its checks on a worker, its move into place
// back on the control's thread.
#include <algorithm>

#include <QFile>

#include "download/ctlAsyncDownload.h"
#include "net/PartialDownloads.h"
#include "platform/Events.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace download {
namespace {

void markFailed(net::AsyncProperty &X, const QString &reason,
                net::FailureKind kind = net::FailureKind::Disk) {
    X.outcome = net::ReadOutcome::Failed;
    X.failure = kind;
    X.statusText = reason;
    X.value.clear();
}

} // namespace

// Publishes a finished download at its save path, or marks the record failed, and hands it to
// `then`: whatever the host is told, a file is there exactly when the read succeeded and passed
// its checks. Only a file to check makes this asynchronous; `then` never runs after a cancel.
void ctlAsyncDownload::saveFile(net::AsyncProperty X, std::shared_ptr<PublishChecks> checks,
                                SpoolOwner owner, const Continuation &then) {
    if (!X.succeeded()) {
        then(X);
        return;
    }
    const QString folder = platform::systemFolderOf(X.propertyName);
    if (!bFolderExists(folder)) {
        markFailed(X, QStringLiteral("the folder %1 does not exist").arg(folder));
        then(X);
        return;
    }
    QString source = X.spoolFile;
    QString error;
    if (!source.isEmpty() && owner == SpoolOwner::Service) {
        // The service removes its file once its notification returns: it is taken over first.
        const std::optional<QString> own = net::takeOverFinishedFile(source, error);
        if (!own) {
            markFailed(X, error);
            then(X);
            return;
        }
        source = *own;
    } else if (source.isEmpty()) {
        // Bytes handed over in memory go through a hidden file too.
        auto file = platform::createHiddenTemporaryFile(folder, X.propertyName, error);
        if (!file) {
            markFailed(X, error);
            then(X);
            return;
        }
        source = file->fileName();
        if (file->write(X.value) != X.value.size() || !file->flush()) {
            markFailed(X, QStringLiteral("cannot write %1: %2").arg(source, file->errorString()));
            file->remove();
            then(X);
            return;
        }
        file->close();
        observeAll(*checks, 0, X.value);
    }
    const quint64 id = ++m_lastPublishId;
    const QTime now = m_clock();
    auto job =
        std::make_unique<PublishJob>(source, std::move(checks), this,
                                     [this, id, X, source, now, then](const Verification &verdict) {
                                         publishChecked(id, X, source, now, verdict, then);
                                     });
    m_publishes.push_back({X.target, id, std::move(job)});
}

void ctlAsyncDownload::publishChecked(quint64 id, net::AsyncProperty X, const QString &source,
                                      QTime now, const Verification &verdict,
                                      const Continuation &then) {
    platform::ignoringErrors([&] {
        std::erase_if(m_publishes, [id](const Publishing &p) { return p.id == id; });
        QString error = verdict.error;
        const std::optional<QString> published =
            verdict.passed ? moveDownload(source, X.propertyName, m_Overwrite, now, error)
                           : std::nullopt;
        if (!published) {
            QFile::remove(source);
            markFailed(X, error, verdict.passed ? net::FailureKind::Disk : verdict.kind);
        } else {
            X.spoolFile.clear();
            if (m_sink)
                platform::ignoringErrors([&] { m_sink->FileSaved(*published, X.target); });
        }
        then(X);
    });
}

} // namespace download
