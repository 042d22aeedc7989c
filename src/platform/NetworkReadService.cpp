#include "platform/NetworkReadService.h"

#include <algorithm>
#include <utility>

#include <QFile>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include "platform/Files.h"

namespace platform {
namespace {

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

} // namespace

struct NetworkReadService::Read {
    quint64 id = 0;
    QObject *service = nullptr;
    AsyncProperty record;
    QNetworkReply *reply = nullptr;
    std::unique_ptr<QFile> spool;
    QTimer stallTimer;
    qint64 bytesSinceStallCheck = 0;
    ChunkObserver observer;
    bool dataSeen = false;

    ~Read() {
        releaseReply();
        discardSpool();
    }

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
};

NetworkReadService::NetworkReadService(QObject *parent)
    : ReadService(parent) {
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_chunk.resize(ChunkSize);
}

NetworkReadService::~NetworkReadService() = default;

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
        fail(id, QStringLiteral("fewer than %1 bytes received in %2 seconds")
                     .arg(StallMinimumBytes)
                     .arg(static_cast<double>(m_stallTimeout.count()) / 1000.0));
    });

    QString problem;
    const QUrl url(target, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        problem = QStringLiteral("not an http or https address: %1").arg(target);
    else if (spoolFolder)
        read->spool = createHiddenTemporaryFile(*spoolFolder, propertyName, problem);
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

    QNetworkReply *reply = m_manager.get(request);
    read->reply = reply;
    if (read->spool)
        reply->setReadBufferSize(SpooledReadBuffer);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, id] { onMetaDataChanged(id); });
    connect(reply, &QNetworkReply::readyRead, this, [this, id] { onReadyRead(id); });
    connect(reply, &QNetworkReply::redirected, this,
            [this, id](const QUrl &to) { onRedirected(id, to); });
    connect(reply, &QNetworkReply::finished, this, [this, id] { onFinished(id); });
    read->stallTimer.start(m_stallTimeout);

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
    // A redirect about to be followed, or an error page: the end of the reply decides.
    if (status >= 300)
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
    read->record.bytesMax = length.value_or(0);
    if (!read->spool && read->record.bytesMax > m_memoryReadLimit) {
        fail(id, QStringLiteral("the answer of %1 bytes is too large to hold in memory")
                     .arg(read->record.bytesMax));
        return;
    }
    const QString type = reply.header(QNetworkRequest::ContentTypeHeader).toString();
    if (!type.isEmpty()) {
        read->record.contentType = type;
        notify(id, AsyncStatusCode::MimeTypeAvailable, type);
    }
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
    notify(id, AsyncStatusCode::DownloadingData, QStringLiteral("receiving data"));
}

// Moves what the reply holds to the read's sink. False when the read failed (and is gone).
bool NetworkReadService::drain(Read &read) {
    QNetworkReply &reply = *read.reply;
    const quint64 id = read.id;
    while (reply.bytesAvailable() > 0) {
        if (read.spool) {
            const qint64 got = reply.read(m_chunk.data(), m_chunk.size());
            if (got <= 0)
                break;
            if (read.spool->write(m_chunk.constData(), got) != got) {
                fail(id, QStringLiteral("cannot write %1: %2")
                             .arg(read.spool->fileName(), read.spool->errorString()));
                return false;
            }
            if (read.observer)
                read.observer(read.record.bytesRead, QByteArrayView(m_chunk.constData(), got));
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
    if (status >= 400) {
        fail(id, httpStatusText(reply));
        return;
    }
    if (reply.error() != QNetworkReply::NoError) {
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
    if (length && *length != read->record.bytesRead) {
        fail(id, QStringLiteral("the connection ended after %1 of %2 bytes")
                     .arg(read->record.bytesRead)
                     .arg(*length));
        return;
    }
    if (read->record.bytesRead == 0) {
        fail(id, QStringLiteral("the answer holds no data"));
        return;
    }
    if (read->spool && !read->spool->flush()) {
        fail(id, QStringLiteral("cannot write %1: %2")
                     .arg(read->spool->fileName(), read->spool->errorString()));
        return;
    }
    read->releaseReply();
    succeed(id);
}

void NetworkReadService::succeed(quint64 id) {
    if (!notify(id, AsyncStatusCode::EndDownloadData, QStringLiteral("all data received")))
        return;
    std::unique_ptr<Read> read = take(id);
    QString spoolPath;
    if (read->spool) {
        read->spool->close();
        spoolPath = read->spool->fileName();
        // From here on the file belongs to the receiver until the notification returns.
        read->spool.reset();
    }
    AsyncProperty record = std::move(read->record);
    read.reset();
    record.outcome = ReadOutcome::Succeeded;
    record.statusText = QStringLiteral("read complete");
    record.spoolFile = spoolPath;
    emit readComplete(record);
    if (!spoolPath.isEmpty())
        QFile::remove(spoolPath);
}

void NetworkReadService::fail(quint64 id, const QString &reason) {
    Read *read = find(id);
    if (!read)
        return;
    read->releaseReply();
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

void NetworkReadService::CancelAsyncRead(const QString &propertyName) {
    // Taken out first, destroyed after: destroying a read aborts its reply.
    std::vector<std::unique_ptr<Read>> cancelled;
    for (auto it = m_reads.begin(); it != m_reads.end();) {
        if ((*it)->record.propertyName == propertyName) {
            cancelled.push_back(std::move(*it));
            it = m_reads.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace platform
