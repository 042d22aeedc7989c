#include "net/NetworkReadService.h"

#include <algorithm>
#include <utility>

#include <QDateTime>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include "net/NetworkRead.h"

namespace net {
using std::chrono::milliseconds;

NetworkReadService::NetworkReadService(QObject *parent)
    : ReadService(parent) {
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

NetworkReadService::~NetworkReadService() {
    for (const auto &read : m_reads)
        read->keepBytes = read->worthKeeping();
}

NetworkReadService::Read *NetworkReadService::find(quint64 id) const {
    const auto it = std::find_if(m_reads.begin(), m_reads.end(),
                                 [id](const auto &read) { return read->id == id; });
    return it == m_reads.end() ? nullptr : it->get();
}

std::unique_ptr<NetworkReadService::Read> NetworkReadService::take(quint64 id) {
    const auto it = std::find_if(m_reads.begin(), m_reads.end(),
                                 [id](const auto &read) { return read->id == id; });
    if (it == m_reads.end())
        return nullptr;
    std::unique_ptr<Read> read = std::move(*it);
    m_reads.erase(it);
    return read;
}

void NetworkReadService::AsyncRead(const QString &target, const QString &propertyName,
                                   const std::optional<QString> &spoolFolder,
                                   const ChunkObserver &observer) {
    auto read = std::make_unique<Read>();
    const quint64 id = m_nextId++;
    read->id = id;
    read->service = this;
    read->record.target = target;
    read->record.propertyName = propertyName;
    read->observer = observer;
    read->stallTimer.setSingleShot(true);
    read->headTimer.setSingleShot(true);
    connect(&read->headTimer, &QTimer::timeout, this, [this, id] {
        fail(id,
             QStringLiteral("the server's answer did not end its head within %1 seconds")
                 .arg(static_cast<double>(m_headTimeout.count()) / 1000.0),
             FailureKind::ServerAnswer);
    });
    connect(&read->stallTimer, &QTimer::timeout, this, [this, id] {
        retry(id, QStringLiteral("fewer than %1 bytes received in %2 seconds")
                      .arg(StallMinimumBytes)
                      .arg(static_cast<double>(m_stallTimeout.count()) / 1000.0));
    });
    read->retryTimer.setSingleShot(true);
    connect(&read->retryTimer, &QTimer::timeout, this, [this, id] { start(id); });

    QString problem;
    FailureKind kind = FailureKind::Network;
    const QUrl url(target, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        problem = QStringLiteral("not an http or https address: %1").arg(target);
    else if (spoolFolder) {
        kind = FailureKind::Disk;
        read->openSink(*spoolFolder, problem);
    }
    m_reads.push_back(std::move(read));

    // Notifications never come from inside this call, so a caller may record the read
    // after starting it.
    QTimer::singleShot(0, this, [this, id, problem, kind] {
        if (!problem.isEmpty())
            fail(id, problem, kind);
        else
            start(id);
    });
}

void NetworkReadService::start(quint64 id) {
    Read *read = find(id);
    if (!read)
        return;
    const QUrl url(read->record.target, QUrl::StrictMode);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setMaximumRedirectsAllowed(MaximumRedirects);
    // The bytes on disk must be the server's bytes, and Content-Length must count them.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("update-tool"));
    if (read->file() && read->record.bytesRead > 0 && read->resumable()) {
        read->rangeStart = read->record.bytesRead;
        request.setRawHeader("Range", "bytes=" + QByteArray::number(read->rangeStart) + '-');
        request.setRawHeader("If-Range", read->answer.validator);
    } else {
        read->rangeStart = 0;
        read->truncate();
    }

    ++read->budget.attempts;
    QNetworkReply *reply = m_manager.get(request);
    read->reply = reply;
    read->answerTaken = false;
    if (read->file())
        reply->setReadBufferSize(SliceSize);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, id] { onMetaDataChanged(id); });
    connect(reply, &QNetworkReply::readyRead, this, [this, id] { onReadyRead(id); });
    connect(reply, &QNetworkReply::redirected, this,
            [this, id](const QUrl &to) { onRedirected(id, to); });
    connect(reply, &QNetworkReply::finished, this, [this, id] { onFinished(id); });
    read->bytesSinceStallCheck = 0;
    read->stallTimer.start(m_stallTimeout);
    read->headTimer.start(m_headTimeout);

    // Retries are the service's own business: the receiver hears of the first attempt only.
    if (std::exchange(read->connecting, false))
        notify(id, AsyncStatusCode::Connecting, QStringLiteral("connecting to %1").arg(url.host()));
}

bool NetworkReadService::notify(quint64 id, std::int32_t code, const QString &text) {
    Read *read = find(id);
    if (!read)
        return false;
    read->record.statusCode = code;
    read->record.statusText = text;
    // A copy: the receiver may stop this read and so destroy the original.
    const AsyncProperty record = read->record;
    emit readProgress(record);
    return find(id) != nullptr;
}

void NetworkReadService::onMetaDataChanged(quint64 id) {
    Read *read = find(id);
    if (!read || !read->reply)
        return;
    read->headTimer.stop();
    const ResponseHead head = read->head();
    // An answer is taken once: bytes already written from it must not be cut away again.
    if (head.status < 300 && std::exchange(read->answerTaken, true))
        return;
    const HeadVerdict verdict =
        judgeHead(head, read->rangeStart, read->answer,
                  read->file() ? std::nullopt : std::optional<qint64>(m_memoryReadLimit));
    switch (verdict.action) {
    case HeadVerdict::Action::Undecided:
        return;
    case HeadVerdict::Action::Fail:
        fail(id, verdict.reason, verdict.kind);
        return;
    case HeadVerdict::Action::StartOver:
        startOver(id);
        return;
    case HeadVerdict::Action::TakeRange:
        read->record.bytesMax = read->answer.totalSize;
        if (!read->showKeptBytes()) {
            fail(id, QStringLiteral("cannot read %1").arg(read->file()->fileName()),
                 FailureKind::Disk);
            return;
        }
        break;
    case HeadVerdict::Action::TakeWhole:
        read->takeWhole(verdict.answer);
        break;
    }
    const QString type = read->reply->header(QNetworkRequest::ContentTypeHeader).toString();
    if (!type.isEmpty() && type != read->record.contentType) {
        read->record.contentType = type;
        notify(id, AsyncStatusCode::MimeTypeAvailable, type);
    }
}

void NetworkReadService::onRedirected(quint64 id, const QUrl &url) {
    Read *read = find(id);
    if (!read)
        return;
    // A new request begins: it gets a stall period and a time for its head of its own.
    read->bytesSinceStallCheck = 0;
    read->stallTimer.start(m_stallTimeout);
    read->headTimer.start(m_headTimeout);
    notify(id, AsyncStatusCode::Redirecting, url.toString());
}

void NetworkReadService::onReadyRead(quint64 id) {
    Read *read = find(id);
    if (!read || !read->reply)
        return;
    // The stall period starts again only once enough bytes arrived in it: a slow drip of a
    // few bytes keeps no read alive.
    read->bytesSinceStallCheck += read->reply->bytesAvailable();
    if (read->bytesSinceStallCheck >= StallMinimumBytes) {
        read->bytesSinceStallCheck = 0;
        read->stallTimer.start(m_stallTimeout);
    }
    if (read->reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 300) {
        read->reply->skip(read->reply->bytesAvailable()); // an error page is no download
        return;
    }
    if (!read->dataSeen) {
        read->dataSeen = true;
        if (!notify(id, AsyncStatusCode::BeginDownloadData, QStringLiteral("receiving data")))
            return;
        read = find(id);
    }
    if (!drain(id))
        return;
    // After a start over the bytes count up again from zero: progress waits until they pass
    // what was already shown.
    if (read->record.bytesRead <= read->furthest)
        return;
    read->furthest = read->record.bytesRead;
    notify(id, AsyncStatusCode::DownloadingData, QStringLiteral("receiving data"));
}

// Moves what the reply holds to the read's sink. False when the read failed (and is gone).
bool NetworkReadService::drain(quint64 id) {
    Read *read = find(id);
    const std::optional<QString> problem = read->store(m_memoryReadLimit);
    if (problem)
        fail(id, *problem, read->file() ? FailureKind::Disk : FailureKind::ServerAnswer);
    return !problem;
}

void NetworkReadService::onFinished(quint64 id) {
    Read *read = find(id);
    if (!read || !read->reply)
        return;
    QNetworkReply &reply = *read->reply;
    const ResponseHead head = read->head();
    EndVerdict verdict = judgeEnd(head, reply.error(), reply.errorString(), read->rangeStart,
                                  read->answer.totalSize, QDateTime::currentDateTimeUtc());
    if (verdict.action == EndVerdict::Action::TakeBody) {
        if (!drain(id))
            return;
        verdict = judgeBody(head, read->rangeStart, read->record.bytesRead, read->answer.totalSize);
    }
    switch (verdict.action) {
    case EndVerdict::Action::TakeBody:
    case EndVerdict::Action::Succeed:
        break;
    case EndVerdict::Action::StartOver:
        startOver(id);
        return;
    case EndVerdict::Action::Retry:
        retry(id, verdict.reason, verdict.retryAfter, verdict.kind);
        return;
    case EndVerdict::Action::Fail:
        fail(id, verdict.reason, verdict.kind);
        return;
    }
    QFile *file = read->file();
    if (const std::optional<QString> problem = read->writeSlice()) {
        fail(id, *problem, FailureKind::Disk);
        return;
    }
    // Bytes an earlier run kept whole end with a 416 and no body: the checks see them here.
    if (file && !read->showKeptBytes()) {
        fail(id, QStringLiteral("cannot read %1").arg(file->fileName()), FailureKind::Disk);
        return;
    }
    if (read->record.bytesMax == 0)
        read->record.bytesMax = read->answer.totalSize;
    QString flushProblem;
    if (file && (!file->flush() || !read->writeBehind.finish(flushProblem))) {
        fail(
            id,
            QStringLiteral("cannot write %1: %2")
                .arg(file->fileName(), flushProblem.isEmpty() ? file->errorString() : flushProblem),
            FailureKind::Disk);
        return;
    }
    read->releaseReply();
    succeed(id);
}

// A range answer that does not continue the file (416, or a Content-Range that does not
// fit): the bytes kept are of no use. The answer is asked for whole, once: from now on no
// range is asked for.
void NetworkReadService::startOver(quint64 id) {
    Read *read = find(id);
    if (!read)
        return;
    read->releaseReply();
    read->rangesGivenUp = true;
    read->truncate();
    if (read->partial)
        read->partial->removeSidecar();
    start(id);
}

void NetworkReadService::retry(quint64 id, const QString &reason,
                               std::optional<milliseconds> retryAfter, FailureKind kind) {
    Read *read = find(id);
    if (!read)
        return;
    read->releaseReply();
    // The next request asks for what follows the bytes in the file.
    if (const std::optional<QString> problem = read->writeSlice()) {
        fail(id, *problem, FailureKind::Disk);
        return;
    }
    const RetryPlan plan = planRetry(read->budget, read->record.bytesRead, retryAfter);
    read->budget = plan.budget;
    if (plan.giveUp) {
        fail(id, reason, kind);
        return;
    }
    read->retryTimer.start(m_retryWait ? m_retryWait(plan.wait) : plan.wait);
}

void NetworkReadService::succeed(quint64 id) {
    if (!notify(id, AsyncStatusCode::EndDownloadData, QStringLiteral("all data received")))
        return;
    std::unique_ptr<Read> read = take(id);
    QString spoolPath;
    QString sidecarPath;
    if (read->partial) {
        read->partial->keep();
        spoolPath = read->partial->path();
        sidecarPath = read->partial->sidecarPath();
        read->partial.reset();
    } else if (read->spool) {
        read->spool->close();
        spoolPath = read->spool->fileName();
        read->spool.reset();
    }
    // From here on the file belongs to the receiver until the notification returns.
    AsyncProperty record = std::move(read->record);
    read.reset();
    record.outcome = ReadOutcome::Succeeded;
    record.statusText = QStringLiteral("read complete");
    record.spoolFile = spoolPath;
    emit readComplete(record);
    if (!spoolPath.isEmpty())
        QFile::remove(spoolPath);
    if (!sidecarPath.isEmpty())
        QFile::remove(sidecarPath);
}

void NetworkReadService::fail(quint64 id, const QString &reason, FailureKind kind) {
    Read *read = find(id);
    if (!read)
        return;
    read->releaseReply();
    read->retryTimer.stop();
    if (read->partial) {
        if (read->worthKeeping()) {
            read->observer = nullptr;
            read->writeSlice();
            read->partial->keep();
        } else {
            read->partial->discard();
        }
        read->partial.reset();
    }
    read->discardSpool();
    read->record.value.clear();
    if (!notify(id, AsyncStatusCode::Error, reason))
        return;
    std::unique_ptr<Read> failed = take(id);
    AsyncProperty record = std::move(failed->record);
    failed.reset();
    record.outcome = ReadOutcome::Failed;
    record.failure = kind;
    record.statusText = reason;
    emit readComplete(record);
}

void NetworkReadService::CancelAsyncRead(const QString &propertyName, KeptBytes kept) {
    // Taken out first, destroyed after: destroying a read aborts its reply.
    std::vector<std::unique_ptr<Read>> cancelled;
    for (auto it = m_reads.begin(); it != m_reads.end();) {
        if ((*it)->record.propertyName == propertyName) {
            (*it)->keepBytes = kept == KeptBytes::KeepWhenResumable && (*it)->worthKeeping();
            cancelled.push_back(std::move(*it));
            it = m_reads.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace net
