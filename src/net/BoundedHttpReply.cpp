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
// Large enough that a fast link costs few trips through the event loop: at 64 KiB a GiB took
// 16 384 of them, and they, not the copies, set the pace.
constexpr qint64 SocketBuffer = qint64(1) << 20;

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

bool carriesLineBreak(const QByteArray &text) {
    return text.contains('\r') || text.contains('\n');
}

} // namespace
bool BoundedHttpReply::isHttps(const QUrl &url) {
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

quint16 BoundedHttpReply::portOf(const QUrl &url) {
    return quint16(url.port(isHttps(url) ? 443 : 80));
}

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

bool BoundedHttpReply::passesThrough() const {
    return m_socket && m_stage == Stage::Body && m_framing != Framing::Chunked && m_raw.isEmpty() &&
           buffered() == 0;
}

qint64 BoundedHttpReply::bytesAvailable() const {
    qint64 direct = 0;
    if (passesThrough()) {
        direct = m_socket->bytesAvailable();
        if (m_framing == Framing::Length)
            direct = std::min(direct, m_remaining);
    }
    return buffered() + direct + QNetworkReply::bytesAvailable();
}

void BoundedHttpReply::setReadBufferSize(qint64 size) {
    QNetworkReply::setReadBufferSize(size);
    schedulePump();
}

qint64 BoundedHttpReply::readData(char *data, qint64 maxSize) {
    if (passesThrough())
        return readFromSocket(data, maxSize);
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

// A body that needs no decoding goes from the socket straight to the reader.
qint64 BoundedHttpReply::readFromSocket(char *data, qint64 maxSize) {
    const qint64 want = m_framing == Framing::Length ? std::min(maxSize, m_remaining) : maxSize;
    const qint64 got = m_socket->read(data, want);
    if (got <= 0)
        return 0;
    m_received += got;
    if (m_framing == Framing::Length && (m_remaining -= got) == 0)
        dropSocket(); // the rest of this connection is of no use
    // The end of the body, or room for the socket to read more: pump() sees to either.
    schedulePump();
    return got;
}

} // namespace net
