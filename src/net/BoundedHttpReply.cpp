#include "net/BoundedHttpReply.h"

#include <algorithm>
#include <utility>

#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace net {
namespace {

// What the socket may hold unread; beyond it the kernel's window pushes back on the server.
constexpr qint64 SocketBuffer = 64 * 1024;
// The most taken from the socket at once while nobody set a read buffer size.
constexpr qint64 ReadPiece = qint64(1) << 20;
constexpr int MaximumInterimHeads = 8;

QNetworkReply::NetworkError replyErrorOf(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QNetworkReply::SslHandshakeFailedError;
    case QAbstractSocket::ProxyConnectionRefusedError:
        return QNetworkReply::ProxyConnectionRefusedError;
    case QAbstractSocket::ProxyConnectionClosedError:
        return QNetworkReply::ProxyConnectionClosedError;
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return QNetworkReply::ProxyTimeoutError;
    case QAbstractSocket::ProxyNotFoundError:
        return QNetworkReply::ProxyNotFoundError;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case QAbstractSocket::ProxyProtocolError:
        return QNetworkReply::UnknownProxyError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// The kinds Qt's own reply gives an HTTP error status.
QNetworkReply::NetworkError replyErrorOf(int status) {
    switch (status) {
    case 401:
        return QNetworkReply::AuthenticationRequiredError;
    case 403:
        return QNetworkReply::ContentAccessDenied;
    case 404:
        return QNetworkReply::ContentNotFoundError;
    case 405:
        return QNetworkReply::ContentOperationNotPermittedError;
    case 407:
        return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409:
        return QNetworkReply::ContentConflictError;
    case 410:
        return QNetworkReply::ContentGoneError;
    case 418:
        return QNetworkReply::ProtocolInvalidOperationError;
    case 500:
        return QNetworkReply::InternalServerError;
    case 501:
        return QNetworkReply::OperationNotImplementedError;
    case 503:
        return QNetworkReply::ServiceUnavailableError;
    default:
        return status >= 500 ? QNetworkReply::UnknownServerError
                             : QNetworkReply::UnknownContentError;
    }
}

bool isHttps(const QUrl &url) {
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

quint16 portOf(const QUrl &url) {
    return quint16(url.port(isHttps(url) ? 443 : 80));
}

bool carriesLineBreak(const QByteArray &text) {
    return text.contains('\r') || text.contains('\n');
}

} // namespace

BoundedHttpReply::BoundedHttpReply(const QNetworkRequest &request,
                                   QNetworkRequest::RedirectPolicy policy,
                                   const QNetworkProxy &proxy, QObject *parent)
    : QNetworkReply(parent)
    , m_policy(policy)
    , m_proxy(proxy) {
    setRequest(request);
    setUrl(request.url());
    setOperation(QNetworkAccessManager::GetOperation);
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    // Like Qt's reply, nothing happens before the caller has connected to the signals.
    QTimer::singleShot(0, this, [this] {
        if (m_stage != Stage::Done)
            connectToServer();
    });
}

BoundedHttpReply::~BoundedHttpReply() {
    dropSocket();
}

void BoundedHttpReply::connectToServer() {
    const QUrl target = url();
    const bool https = isHttps(target);
    m_peerClosed = false;
    m_viaHttpProxy = false;
    m_raw.clear();
    m_sslErrors.clear();
    m_interimHeads = 0;
    m_stage = Stage::Head;

    QNetworkProxy proxy = m_proxy;
    if (proxy.type() == QNetworkProxy::HttpCachingProxy)
        proxy.setType(QNetworkProxy::HttpProxy);
    if (proxy.type() == QNetworkProxy::DefaultProxy)
        proxy = QNetworkProxy(QNetworkProxy::NoProxy);
    QString host = target.host();
    quint16 port = portOf(target);
    if (proxy.type() == QNetworkProxy::HttpProxy && !https) {
        // Plain http goes to the proxy itself, which is given the whole address.
        m_viaHttpProxy = true;
        host = proxy.hostName();
        port = proxy.port();
        proxy = QNetworkProxy(QNetworkProxy::NoProxy);
    }

    if (https) {
        auto *socket = new QSslSocket(this);
        socket->setSslConfiguration(request().sslConfiguration());
        socket->setPeerVerifyName(target.host());
        connect(socket, &QSslSocket::encrypted, this, &BoundedHttpReply::sendRequest);
        connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            QStringList texts;
            for (const QSslError &error : errors)
                texts << error.errorString();
            m_sslErrors = texts.join(QStringLiteral("; "));
        });
        m_socket = socket;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QAbstractSocket::connected, this, &BoundedHttpReply::sendRequest);
    }
    m_socket->setProxy(proxy);
    m_socket->setReadBufferSize(SocketBuffer);
    // The reader hears of bytes from the event loop, not from inside the socket's signal: a
    // reader that runs the event loop in its handler would otherwise meet a socket that
    // does not signal again while its own signal is being delivered.
    connect(m_socket, &QIODevice::readyRead, this, &BoundedHttpReply::schedulePump);
    connect(m_socket, &QAbstractSocket::disconnected, this, [this] {
        m_peerClosed = true;
        schedulePump();
    });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &BoundedHttpReply::onSocketError);
    if (https)
        static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(host, port);
    else
        m_socket->connectToHost(host, port);
}

void BoundedHttpReply::sendRequest() {
    const QUrl target = url();
    QByteArray hostField = target.host(QUrl::FullyEncoded).toLatin1();
    if (hostField.contains(':'))
        hostField = '[' + hostField + ']';
    if (target.port() != -1 && target.port() != (isHttps(target) ? 443 : 80))
        hostField += ':' + QByteArray::number(target.port());
    QByteArray path =
        m_viaHttpProxy
            ? target.toEncoded(QUrl::RemoveUserInfo | QUrl::RemoveFragment)
            : target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (path.isEmpty())
        path = "/";
    else if (!m_viaHttpProxy && !path.startsWith('/'))
        path.prepend('/');

    QByteArray head = "GET " + path + " HTTP/1.1\r\nHost: " + hostField + "\r\n";
    bool encodingNamed = false;
    bool cacheNamed = false;
    const QNetworkRequest &asked = request();
    for (const QByteArray &name : asked.rawHeaderList()) {
        const QByteArray lower = name.toLower();
        if (lower == "host" || lower == "connection" || lower == "proxy-connection" ||
            lower == "content-length" || lower == "transfer-encoding")
            continue;
        const QByteArray value = asked.rawHeader(name);
        if (carriesLineBreak(name) || carriesLineBreak(value)) {
            failWith(ProtocolInvalidOperationError,
                     QStringLiteral("the request header %1 holds a line break")
                         .arg(QString::fromLatin1(name)));
            return;
        }
        encodingNamed = encodingNamed || lower == "accept-encoding";
        cacheNamed = cacheNamed || lower == "cache-control";
        head += name + ": " + value + "\r\n";
    }
    // Nothing here decodes a compressed body.
    if (!encodingNamed)
        head += "Accept-Encoding: identity\r\n";
    // Nothing here caches either; caches on the way are told so when the caller insists.
    if (asked.attribute(QNetworkRequest::CacheLoadControlAttribute).toInt() ==
            QNetworkRequest::AlwaysNetwork &&
        !cacheNamed)
        head += "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
    if (m_viaHttpProxy && !m_proxy.user().isEmpty())
        head += "Proxy-Authorization: Basic " +
                (m_proxy.user() + u':' + m_proxy.password()).toUtf8().toBase64() + "\r\n";
    head += "Connection: close\r\n\r\n";
    m_socket->write(head);
}

void BoundedHttpReply::schedulePump() {
    if (m_pumpScheduled || m_stage == Stage::Done)
        return;
    m_pumpScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_pumpScheduled = false;
        pump();
    });
}

// Takes what the socket holds as far as the limits allow, and tells the reader.
void BoundedHttpReply::pump() {
    bool grew = false;
    while (m_stage == Stage::Head && m_socket) {
        if (!readHead())
            break;
    }
    if (m_stage == Stage::Body && !readBody(grew))
        return;
    if (grew) {
        const QPointer<BoundedHttpReply> alive(this);
        emit readyRead();
        if (!alive || m_stage == Stage::Done)
            return;
        emit downloadProgress(m_received, m_total);
        if (!alive || m_stage == Stage::Done)
            return;
    }
    if (m_stage == Stage::Body && m_socket == nullptr)
        succeed(); // the body's end came
    else if (m_peerClosed && m_stage != Stage::Done && m_socket &&
             m_socket->bytesAvailable() == 0 && (m_stage == Stage::Head || m_raw.isEmpty()))
        endOfConnection();
    else if (m_socket && m_socket->bytesAvailable() > 0 &&
             (readBufferSize() <= 0 || buffered() < readBufferSize()))
        schedulePump(); // bytes came while the reader ran
}

// One step of reading the head; false when there is nothing more to do for now.
bool BoundedHttpReply::readHead() {
    // Never more than one byte past the limit: enough to know it is passed.
    const qint64 room = MaximumHeadBytes + 1 - m_raw.size();
    const QByteArray got = room > 0 ? m_socket->read(room) : QByteArray();
    if (got.isEmpty())
        return false;
    m_raw += got;
    if (!got.contains('\n') && m_raw.size() <= MaximumHeadBytes)
        return true;
    while (true) {
        const ParsedHead head = parseResponseHead(m_raw);
        switch (head.state) {
        case ParsedHead::State::Incomplete:
            return true;
        case ParsedHead::State::Failed:
            failWith(ProtocolFailure, head.error);
            return false;
        case ParsedHead::State::Complete:
            m_raw.remove(0, head.length);
            if (!takeHead(head))
                return false;
            break; // an interim answer: the next head may be here already
        }
    }
}

// Moves body bytes from the socket into the reply's buffer. False when the reply is done.
bool BoundedHttpReply::readBody(bool &grew) {
    while (m_socket) {
        const qint64 limit = readBufferSize() > 0 ? readBufferSize() - buffered() : ReadPiece;
        if (limit <= 0)
            break; // read() brings us back
        if (m_framing != Framing::Chunked && m_raw.isEmpty()) {
            // Straight from the socket into the body: no array of its own per piece.
            qint64 want = std::min(limit, ReadPiece);
            if (m_framing == Framing::Length)
                want = std::min(want, m_remaining);
            const qsizetype before = m_body.size();
            m_body.resize(before + want);
            const qint64 got = std::max<qint64>(0, m_socket->read(m_body.data() + before, want));
            m_body.resize(before + got);
            if (got == 0)
                break;
            m_received += got;
            grew = true;
            if (m_framing == Framing::Length && (m_remaining -= got) == 0)
                dropSocket(); // the rest of this connection is of no use
            continue;
        }
        QByteArray raw = !m_raw.isEmpty() ? std::exchange(m_raw, {})
                                          : m_socket->read(std::min(limit, ReadPiece));
        if (raw.isEmpty())
            break;
        const qsizetype before = m_body.size();
        bool complete = false;
        switch (m_framing) {
        case Framing::Length: {
            const qint64 take = std::min<qint64>(m_remaining, raw.size());
            m_body.append(raw.constData(), take);
            m_remaining -= take;
            complete = m_remaining == 0;
            break;
        }
        case Framing::Chunked:
            m_chunks.feed(raw, m_body);
            complete = m_chunks.done();
            break;
        case Framing::UntilClose:
            m_body.append(raw);
            break;
        }
        m_received += m_body.size() - before;
        grew = grew || m_body.size() > before;
        if (m_chunks.failed()) {
            failWith(ProtocolFailure, m_chunks.error());
            return false;
        }
        if (complete)
            dropSocket(); // the rest of this connection is of no use
    }
    return true;
}

bool BoundedHttpReply::takeHead(const ParsedHead &head) {
    if (head.status < 200 && head.status != 101) {
        // An interim answer: the real one follows, after a few of these at most.
        if (++m_interimHeads <= MaximumInterimHeads)
            return true;
        failWith(ProtocolFailure, QStringLiteral("the server sends no final answer"));
        return false;
    }
    QList<std::pair<QByteArray, QByteArray>> fields;
    for (const auto &header : head.headers) {
        const auto same = std::find_if(fields.begin(), fields.end(), [&](const auto &field) {
            return field.first.compare(header.first, Qt::CaseInsensitive) == 0;
        });
        if (same == fields.end())
            fields.append(header);
        else
            same->second += ", " + header.second;
    }
    const auto field = [&](QByteArrayView name) -> QByteArray {
        for (const auto &[n, v] : fields)
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        return {};
    };

    const QByteArray location = field("Location");
    const bool redirect = head.status == 301 || head.status == 302 || head.status == 303 ||
                          head.status == 307 || head.status == 308;
    if (redirect && !location.isEmpty() && m_policy != QNetworkRequest::ManualRedirectPolicy)
        return followRedirect(url().resolved(QUrl::fromEncoded(location)));

    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, head.status);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, head.reasonPhrase);
    setAttribute(QNetworkRequest::ConnectionEncryptedAttribute, isHttps(url()));
    if (redirect && !location.isEmpty())
        setAttribute(QNetworkRequest::RedirectionTargetAttribute, QUrl::fromEncoded(location));
    for (const auto &[name, value] : std::as_const(fields))
        setRawHeader(name, value);

    bool framingOk = true;
    const QByteArray length = field("Content-Length");
    if (field("Transfer-Encoding").toLower().contains("chunked")) {
        m_framing = Framing::Chunked;
    } else if (head.status == 204 || head.status == 304) {
        m_framing = Framing::Length;
        m_remaining = 0;
    } else if (!length.isNull()) {
        m_framing = Framing::Length;
        m_remaining = -1;
        for (const QByteArray &part : length.split(',')) {
            bool ok = false;
            const QByteArray digits = part.trimmed();
            const qint64 value = digits.toLongLong(&ok);
            if (!ok || value < 0 || digits.startsWith('+') ||
                (m_remaining >= 0 && value != m_remaining))
                framingOk = false;
            m_remaining = value;
        }
        m_total = m_remaining;
    } else {
        m_framing = Framing::UntilClose;
    }
    m_stage = Stage::Body;

    const QPointer<BoundedHttpReply> alive(this);
    emit metaDataChanged();
    if (!alive || m_stage == Stage::Done)
        return false;
    if (!framingOk) {
        failWith(ProtocolFailure,
                 QStringLiteral("the server's answer has a damaged Content-Length"));
        return false;
    }
    if (m_framing == Framing::Length && m_remaining == 0)
        dropSocket();
    return false;
}

bool BoundedHttpReply::followRedirect(const QUrl &target) {
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || target.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        failWith(ProtocolUnknownError, QStringLiteral("Unsupported redirect"));
        return false;
    }
    const bool lessSafe = isHttps(url()) && !isHttps(target);
    const bool otherOrigin = scheme != url().scheme().toLower() ||
                             target.host().compare(url().host(), Qt::CaseInsensitive) != 0 ||
                             portOf(target) != portOf(url());
    if (lessSafe || (m_policy == QNetworkRequest::SameOriginRedirectPolicy && otherOrigin)) {
        failWith(InsecureRedirectError, QStringLiteral("Insecure redirect"));
        return false;
    }
    if (m_redirects >= request().maximumRedirectsAllowed()) {
        failWith(TooManyRedirectsError, QStringLiteral("Too many redirects"));
        return false;
    }
    ++m_redirects;
    dropSocket();
    QNetworkRequest next = request();
    next.setUrl(target);
    setRequest(next);
    setUrl(target);
    const QPointer<BoundedHttpReply> alive(this);
    emit redirected(target);
    if (!alive || m_stage == Stage::Done)
        return false;
    connectToServer();
    return false;
}

void BoundedHttpReply::onSocketError() {
    if (!m_socket || m_stage == Stage::Done)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError) {
        // What is still buffered is read first; the end is judged after it.
        m_peerClosed = true;
        schedulePump();
        return;
    }
    QString text = m_socket->errorString();
    if (error == QAbstractSocket::HostNotFoundError)
        text = QStringLiteral("Host %1 not found").arg(url().host());
    else if (error == QAbstractSocket::SslHandshakeFailedError)
        text = QStringLiteral("SSL handshake failed: %1")
                   .arg(m_sslErrors.isEmpty() ? text : m_sslErrors);
    failWith(replyErrorOf(error), text);
}

// The server closed the connection and every byte it sent has been taken.
void BoundedHttpReply::endOfConnection() {
    if (m_stage == Stage::Body && m_framing == Framing::UntilClose) {
        dropSocket();
        succeed();
        return;
    }
    failWith(RemoteHostClosedError, QStringLiteral("Connection closed"));
}

void BoundedHttpReply::succeed() {
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    dropSocket();
    const int status = attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QPointer<BoundedHttpReply> alive(this);
    if (status >= 400) {
        const NetworkError code = replyErrorOf(status);
        setError(
            code,
            QStringLiteral("Error transferring %1 - server replied: %2")
                .arg(url().toString(),
                     QString::fromLatin1(
                         attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray())));
        setFinished(true);
        emit errorOccurred(code);
        if (!alive)
            return;
    }
    setFinished(true);
    emit finished();
}

void BoundedHttpReply::failWith(NetworkError code, const QString &text) {
    if (m_stage == Stage::Done)
        return;
    m_stage = Stage::Done;
    dropSocket();
    setError(code, text);
    setFinished(true);
    const QPointer<BoundedHttpReply> alive(this);
    emit errorOccurred(code);
    if (alive)
        emit finished();
}

void BoundedHttpReply::dropSocket() {
    QAbstractSocket *socket = std::exchange(m_socket, nullptr);
    if (!socket)
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void BoundedHttpReply::abort() {
    m_raw.clear();
    m_body.clear();
    m_bodyOffset = 0;
    if (m_stage == Stage::Done) {
        dropSocket();
        return;
    }
    failWith(OperationCanceledError, QStringLiteral("Operation canceled"));
}

void BoundedHttpReply::close() {
    abort();
    QNetworkReply::close();
}

qint64 BoundedHttpReply::bytesAvailable() const {
    return buffered() + QNetworkReply::bytesAvailable();
}

void BoundedHttpReply::setReadBufferSize(qint64 size) {
    QNetworkReply::setReadBufferSize(size);
    schedulePump();
}

qint64 BoundedHttpReply::readData(char *data, qint64 maxSize) {
    const qint64 n = std::min(maxSize, buffered());
    if (n <= 0)
        return m_stage == Stage::Done ? -1 : 0;
    std::copy_n(m_body.constData() + m_bodyOffset, n, data);
    m_bodyOffset += n;
    if (m_bodyOffset == m_body.size()) {
        m_body.clear();
        m_bodyOffset = 0;
    } else if (m_bodyOffset > m_body.size() / 2) {
        m_body.remove(0, m_bodyOffset);
        m_bodyOffset = 0;
    }
    // Room was made: the socket may be read again.
    if (m_socket && m_stage == Stage::Body)
        schedulePump();
    return n;
}

} // namespace net
