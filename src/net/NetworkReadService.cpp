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

#include "net/PartialDownloads.h"
#include "platform/Files.h"

namespace net {
namespace {

using std::chrono::milliseconds;

// Enough to keep the socket busy, small enough that a 1 GiB package needs little memory.
constexpr qint64 ChunkSize = qint64(1) << 20;
constexpr qint64 SpooledReadBuffer = qint64(4) << 20;

int httpStatus(const QNetworkReply &reply) {
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// The length the answer declares: nothing when it declares none, and -1 when its
// Content-Length headers are not one number (several that disagree, or garbage) — such an
// answer cannot be told apart from a cut one.
std::optional<qint64> declaredLength(const QNetworkReply &reply) {
    if (!reply.hasRawHeader("Content-Length"))
        return std::nullopt;
    // Qt joins repeated headers with ", ".
    std::optional<qint64> length;
    for (const QByteArray &part : reply.rawHeader("Content-Length").split(',')) {
        bool ok = false;
        const QByteArray digits = part.trimmed();
        const qint64 value = digits.toLongLong(&ok);
        if (!ok || value < 0 || digits.startsWith('+') || (length && *length != value))
            return -1;
        length = value;
    }
    return length;
}

QString httpStatusText(const QNetworkReply &reply) {
    const QString reason = QString::fromLatin1(
        reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray());
    return QStringLiteral("HTTP %1 %2").arg(httpStatus(reply)).arg(reason).trimmed();
}

bool isTransientStatus(int status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
           status == 504;
}

// Failures of the way, not of the answer: another attempt may well get through. A refused
// connection or an unknown host is not among them: nobody is there to answer.
bool isTransientError(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

// What identifies this version of the answer: a strong ETag, else Last-Modified; empty when
// the server gives neither (a weak ETag cannot vouch for bytes).
QByteArray validatorOf(const QNetworkReply &reply) {
    const QByteArray etag = reply.rawHeader("ETag").trimmed();
    if (!etag.isEmpty() && !etag.startsWith("W/") && !etag.contains(','))
        return etag;
    return reply.rawHeader("Last-Modified").trimmed();
}

struct ContentRange {
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = 0;
};

// "bytes FIRST-LAST/TOTAL"; nothing for anything else (an unknown total included).
std::optional<ContentRange> contentRangeOf(const QNetworkReply &reply) {
    const QByteArray value = reply.rawHeader("Content-Range").trimmed();
    if (!value.startsWith("bytes "))
        return std::nullopt;
    const QByteArray range = value.mid(6).trimmed();
    const qsizetype dash = range.indexOf('-');
    const qsizetype slash = range.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return std::nullopt;
    bool ok1 = false, ok2 = false, ok3 = false;
    ContentRange parsed{range.left(dash).toLongLong(&ok1),
                        range.mid(dash + 1, slash - dash - 1).toLongLong(&ok2),
                        range.mid(slash + 1).toLongLong(&ok3)};
    if (!ok1 || !ok2 || !ok3 || parsed.first < 0 || parsed.last < parsed.first ||
        parsed.total <= parsed.last)
        return std::nullopt;
    return parsed;
}

// A wait the server asks for, in seconds or as a date; nothing when it asks for none.
std::optional<milliseconds> retryAfterOf(const QNetworkReply &reply) {
    const QByteArray value = reply.rawHeader("Retry-After").trimmed();
    if (value.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = value.toLongLong(&ok);
    if (ok)
        return seconds < 0 ? std::nullopt : std::optional<milliseconds>(seconds * 1000);
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
    if (!when.isValid())
        return std::nullopt;
    return milliseconds(std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when)));
}

} // namespace

struct NetworkReadService::Read {
    quint64 id = 0;
    QObject *service = nullptr;
    AsyncProperty record;
    QNetworkReply *reply = nullptr;
    // A read to a file writes into the address's partial file, or, when another read holds
    // that, into a plain temporary file that no later run looks for.
    std::unique_ptr<PartialDownload> partial;
    std::unique_ptr<QFile> spool;
    QTimer stallTimer;
    qint64 bytesSinceStallCheck = 0;
    QTimer retryTimer;
    ChunkObserver observer;
    qint64 observed = 0; // how many of the file's bytes the observer has seen
    bool dataSeen = false;
    bool connecting = true;
    bool answerTaken = false; // the current request's answer has been looked at

    // What the server said about the whole answer; empty and 0 while unknown.
    QByteArray validator;
    bool rangesAccepted = false;
    qint64 totalSize = 0;
    qint64 rangeStart = 0;      // where the answer now arriving starts in the file
    bool rangesGivenUp = false; // after a 416 or a wrong Content-Range: whole answers only
    int failuresInARow = 0;
    qint64 furthest = 0; // the most bytes ever held; progress is never reported below it
    qint64 furthestAtFailure = 0;
    bool keepBytes = false;

    ~Read() {
        releaseReply();
        retryTimer.stop();
        if (partial) {
            if (keepBytes)
                partial->keep();
            else
                partial->discard();
        }
        discardSpool();
    }

    QFile *file() { return partial ? &partial->file() : spool.get(); }

    bool resumable() const {
        return rangesAccepted && !validator.isEmpty() && totalSize > 0 && !rangesGivenUp;
    }

    // Whether the bytes should stay for a later run once the read ends now.
    bool worthKeeping() const { return partial && resumable() && record.bytesRead > 0; }

    void releaseReply() {
        stallTimer.stop();
        if (!reply)
            return;
        QNetworkReply *r = std::exchange(reply, nullptr);
        // Only our own connections: Qt's own ones carry the abort to the transfer.
        QObject::disconnect(r, nullptr, service, nullptr);
        r->abort();
        r->deleteLater();
    }

    void discardSpool() {
        if (!spool)
            return;
        spool->close();
        spool->remove();
        spool.reset();
    }

    // Forgets every byte received: the answer comes again from its start.
    void truncate() {
        record.value.clear();
        record.bytesRead = 0;
        observed = 0;
        if (QFile *f = file()) {
            f->resize(0);
            f->seek(0);
        }
    }
};

NetworkReadService::NetworkReadService(QObject *parent)
    : ReadService(parent) {
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_chunk.resize(ChunkSize);
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
    connect(&read->stallTimer, &QTimer::timeout, this, [this, id] {
        retry(id, QStringLiteral("fewer than %1 bytes received in %2 seconds")
                      .arg(StallMinimumBytes)
                      .arg(static_cast<double>(m_stallTimeout.count()) / 1000.0));
    });
    read->retryTimer.setSingleShot(true);
    connect(&read->retryTimer, &QTimer::timeout, this, [this, id] { start(id); });

    QString problem;
    const QUrl url(target, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        problem = QStringLiteral("not an http or https address: %1").arg(target);
    } else if (spoolFolder) {
        QString busy;
        read->partial = PartialDownload::open(*spoolFolder, target, busy);
        if (!read->partial)
            read->spool = platform::createHiddenTemporaryFile(*spoolFolder, propertyName, problem);
    }
    if (read->partial) {
        // Bytes an earlier run kept count only while they belong to the answer the server
        // still gives; the first request asks for the rest under their validator.
        const std::optional<PartialSidecar> kept = read->partial->readSidecar();
        const qint64 size = read->partial->file().size();
        if (kept && kept->url == target && size > 0 && size < kept->size) {
            read->validator = kept->validator;
            read->rangesAccepted = true;
            read->totalSize = kept->size;
            read->record.bytesRead = size;
            read->partial->file().seek(size);
        } else {
            read->partial->removeSidecar();
            read->truncate();
        }
    }
    m_reads.push_back(std::move(read));

    // Notifications never come from inside this call, so a caller may record the read
    // after starting it.
    QTimer::singleShot(0, this, [this, id, problem] {
        if (!problem.isEmpty())
            fail(id, problem);
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
        request.setRawHeader("If-Range", read->validator);
    } else {
        read->rangeStart = 0;
        read->truncate();
    }

    QNetworkReply *reply = m_manager.get(request);
    read->reply = reply;
    read->answerTaken = false;
    if (read->file())
        reply->setReadBufferSize(SpooledReadBuffer);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, id] { onMetaDataChanged(id); });
    connect(reply, &QNetworkReply::readyRead, this, [this, id] { onReadyRead(id); });
    connect(reply, &QNetworkReply::redirected, this,
            [this, id](const QUrl &to) { onRedirected(id, to); });
    connect(reply, &QNetworkReply::finished, this, [this, id] { onFinished(id); });
    read->bytesSinceStallCheck = 0;
    read->stallTimer.start(m_stallTimeout);

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
    QNetworkReply &reply = *read->reply;
    const int status = httpStatus(reply);
    // A redirect about to be followed, or an error page: the end of the reply decides. An
    // answer is taken once: bytes already written from it must not be cut away again.
    if (status >= 300 || std::exchange(read->answerTaken, true))
        return;
    if (status == 204 || status == 205) {
        fail(id, httpStatusText(reply));
        return;
    }
    const std::optional<qint64> length = declaredLength(reply);
    if (length == -1) {
        fail(id, QStringLiteral("the answer declares conflicting lengths: %1")
                     .arg(QString::fromLatin1(reply.rawHeader("Content-Length"))));
        return;
    }
    if (status == 206) {
        if (read->rangeStart == 0) {
            fail(id, QStringLiteral("the server sent part of the answer unasked"));
            return;
        }
        if (!acceptRange(*read)) {
            startOver(id);
            return;
        }
        if (!showKeptBytes(*read)) {
            fail(id, QStringLiteral("cannot read %1").arg(read->file()->fileName()));
            return;
        }
    } else {
        acceptWhole(*read);
    }
    if (!read->file() && read->record.bytesMax > m_memoryReadLimit) {
        fail(id, QStringLiteral("the answer of %1 bytes is too large to hold in memory")
                     .arg(read->record.bytesMax));
        return;
    }
    const QString type = reply.header(QNetworkRequest::ContentTypeHeader).toString();
    if (!type.isEmpty() && type != read->record.contentType) {
        read->record.contentType = type;
        notify(id, AsyncStatusCode::MimeTypeAvailable, type);
    }
}

// Whether a 206 continues the file exactly: from where it ends, of the size known, and of the
// same version.
bool NetworkReadService::acceptRange(Read &read) {
    QNetworkReply &reply = *read.reply;
    const std::optional<ContentRange> range = contentRangeOf(reply);
    const std::optional<qint64> length = declaredLength(reply);
    const QByteArray validator = validatorOf(reply);
    if (!range || range->first != read.rangeStart || range->total != read.totalSize ||
        range->last != range->total - 1 || (length && *length != range->last - range->first + 1) ||
        (!validator.isEmpty() && validator != read.validator))
        return false;
    read.record.bytesMax = read.totalSize;
    return true;
}

// A whole answer: whatever the file held goes, and what the server says now is what a later
// resume must match.
void NetworkReadService::acceptWhole(Read &read) {
    QNetworkReply &reply = *read.reply;
    if (read.record.bytesRead > 0)
        read.truncate();
    read.rangeStart = 0;
    read.validator = validatorOf(reply);
    read.rangesAccepted =
        reply.rawHeader("Accept-Ranges").trimmed().compare("bytes", Qt::CaseInsensitive) == 0;
    read.totalSize = std::max<qint64>(0, declaredLength(reply).value_or(0));
    read.record.bytesMax = read.totalSize;
    if (read.partial) {
        if (read.resumable())
            read.partial->writeSidecar({read.record.target, read.validator, read.totalSize});
        else
            read.partial->removeSidecar();
    }
}

// The observer sees the bytes a resumed read starts with, read back once from the file (an
// earlier run wrote them). False when they cannot be read.
bool NetworkReadService::showKeptBytes(Read &read) {
    if (!read.observer || read.observed >= read.record.bytesRead)
        return true;
    QFile &file = *read.file();
    const qint64 end = read.record.bytesRead;
    bool ok = file.seek(read.observed);
    while (ok && read.observed < end) {
        const qint64 got =
            file.read(m_chunk.data(), std::min<qint64>(m_chunk.size(), end - read.observed));
        ok = got > 0;
        if (ok) {
            read.observer(read.observed, QByteArrayView(m_chunk.constData(), got));
            read.observed += got;
        }
    }
    return file.seek(end) && ok;
}

void NetworkReadService::onRedirected(quint64 id, const QUrl &url) {
    Read *read = find(id);
    if (!read)
        return;
    // A new request begins: it gets a stall period of its own.
    read->bytesSinceStallCheck = 0;
    read->stallTimer.start(m_stallTimeout);
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
    if (httpStatus(*read->reply) >= 300) {
        read->reply->skip(read->reply->bytesAvailable()); // an error page is no download
        return;
    }
    if (!read->dataSeen) {
        read->dataSeen = true;
        if (!notify(id, AsyncStatusCode::BeginDownloadData, QStringLiteral("receiving data")))
            return;
        read = find(id);
    }
    if (!drain(*read))
        return;
    // After a start over the bytes count up again from zero: progress waits until they pass
    // what was already shown.
    if (read->record.bytesRead <= read->furthest)
        return;
    read->furthest = read->record.bytesRead;
    notify(id, AsyncStatusCode::DownloadingData, QStringLiteral("receiving data"));
}

// Moves what the reply holds to the read's sink. False when the read failed (and is gone).
bool NetworkReadService::drain(Read &read) {
    QNetworkReply &reply = *read.reply;
    const quint64 id = read.id;
    QFile *file = read.file();
    while (reply.bytesAvailable() > 0) {
        if (file) {
            const qint64 got = reply.read(m_chunk.data(), m_chunk.size());
            if (got <= 0)
                break;
            if (file->write(m_chunk.constData(), got) != got) {
                fail(id, QStringLiteral("cannot write %1: %2")
                             .arg(file->fileName(), file->errorString()));
                return false;
            }
            if (read.observer && read.observed == read.record.bytesRead) {
                read.observer(read.record.bytesRead, QByteArrayView(m_chunk.constData(), got));
                read.observed += got;
            }
            read.record.bytesRead += got;
        } else {
            if (read.record.value.size() + reply.bytesAvailable() > m_memoryReadLimit) {
                fail(id, QStringLiteral("the answer is larger than %1 bytes and too large to "
                                        "hold in memory")
                             .arg(m_memoryReadLimit));
                return false;
            }
            read.record.value += reply.readAll();
            read.record.bytesRead = read.record.value.size();
        }
    }
    return true;
}

void NetworkReadService::onFinished(quint64 id) {
    Read *read = find(id);
    if (!read || !read->reply)
        return;
    QNetworkReply &reply = *read->reply;
    const int status = httpStatus(reply);
    if (status == 416 && read->rangeStart > 0) {
        startOver(id);
        return;
    }
    if (status >= 400) {
        if (isTransientStatus(status))
            retry(id, httpStatusText(reply), retryAfterOf(reply));
        else
            fail(id, httpStatusText(reply));
        return;
    }
    if (reply.error() != QNetworkReply::NoError) {
        if (isTransientError(reply.error()))
            retry(id, reply.errorString());
        else
            fail(id, reply.errorString());
        return;
    }
    // A redirect that was not followed is no answer either.
    if (status >= 300) {
        fail(id, httpStatusText(reply));
        return;
    }
    if (!drain(*read))
        return;
    const std::optional<qint64> length = declaredLength(reply);
    const qint64 received = read->record.bytesRead - read->rangeStart;
    if ((length && *length != received) ||
        (read->rangeStart > 0 && read->record.bytesRead != read->totalSize)) {
        retry(id, QStringLiteral("the connection ended after %1 of %2 bytes")
                      .arg(read->record.bytesRead)
                      .arg(read->rangeStart + length.value_or(received)));
        return;
    }
    if (read->record.bytesRead == 0) {
        fail(id, QStringLiteral("the answer holds no data"));
        return;
    }
    QFile *file = read->file();
    if (file && !file->flush()) {
        fail(id, QStringLiteral("cannot write %1: %2").arg(file->fileName(), file->errorString()));
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
                               std::optional<milliseconds> retryAfter) {
    Read *read = find(id);
    if (!read)
        return;
    read->releaseReply();
    // An attempt that got further than any before counts as progress, not as another failure
    // in a row: a link that drops now and then still finishes a long download.
    if (read->record.bytesRead > read->furthestAtFailure) {
        read->furthestAtFailure = read->record.bytesRead;
        read->failuresInARow = 0;
    }
    if (read->failuresInARow >= MaximumRetries) {
        fail(id, reason);
        return;
    }
    const int attempt = read->failuresInARow++;
    milliseconds wait = std::chrono::seconds(1 << attempt);
    if (retryAfter && *retryAfter <= MaximumRetryAfter)
        wait = *retryAfter;
    read->retryTimer.start(m_retryWait ? m_retryWait(wait) : wait);
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

void NetworkReadService::fail(quint64 id, const QString &reason) {
    Read *read = find(id);
    if (!read)
        return;
    read->releaseReply();
    read->retryTimer.stop();
    if (read->partial) {
        if (read->worthKeeping())
            read->partial->keep();
        else
            read->partial->discard();
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
