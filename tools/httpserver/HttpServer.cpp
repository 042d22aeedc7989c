#include "httpserver/HttpServer.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <QHostAddress>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace httpserver {

struct HttpServer::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray received;
    QByteArray target;
    Response response;
    qint64 sent = 0; // body bytes written
    bool responding = false;
    QTimer drip;
};

namespace {

// What the socket still has to send, encrypted or not.
qint64 unsentBytes(QTcpSocket &socket) {
    const auto *tls = qobject_cast<QSslSocket *>(&socket);
    return socket.bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

} // namespace

HttpServer::HttpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this)) {
    // Emitted once a connection is ready to use: for TLS, after its handshake.
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &HttpServer::accept);
}

HttpServer::~HttpServer() {
    for (auto &connection : m_connections) {
        connection->drip.stop();
        QObject::disconnect(connection->socket, nullptr, this, nullptr);
        connection->socket->abort();
    }
}

bool HttpServer::listen(quint16 port) {
    return m_server->listen(QHostAddress::LocalHost, port);
}

bool HttpServer::listenTls(const QSslConfiguration &configuration, quint16 port) {
    auto *server = new QSslServer(this);
    server->setSslConfiguration(configuration);
    connect(server, &QTcpServer::pendingConnectionAvailable, this, &HttpServer::accept);
    delete m_server;
    m_server = server;
    m_tls = true;
    return listen(port);
}

quint16 HttpServer::port() const {
    return m_server->serverPort();
}

QString HttpServer::url(const QString &pathAndQuery) const {
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(port())
        .arg(pathAndQuery);
}

void HttpServer::route(const QByteArray &pathAndQuery, const Response &response) {
    m_routes.insert(pathAndQuery, {response});
}

void HttpServer::route(const QByteArray &pathAndQuery, const QList<Response> &responses) {
    m_routes.insert(pathAndQuery, responses);
}

int HttpServer::requestCount(const QByteArray &pathAndQuery) const {
    return static_cast<int>(
        std::count_if(m_requests.begin(), m_requests.end(),
                      [&](const Request &r) { return r.target == pathAndQuery; }));
}

int HttpServer::openConnections() const {
    return static_cast<int>(m_connections.size());
}

HttpServer::Connection *HttpServer::find(QTcpSocket *socket) {
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [socket](const auto &c) { return c->socket == socket; });
    return it == m_connections.end() ? nullptr : it->get();
}

void HttpServer::accept() {
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        connection->drip.setSingleShot(false);
        connect(&connection->drip, &QTimer::timeout, this, [this, socket] {
            if (Connection *c = find(socket))
                sendMore(*c);
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (Connection *c = find(socket))
                onReadable(*c);
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            Connection *c = find(socket);
            if (c && c->responding && c->response.delivery != Response::Delivery::Drip)
                sendMore(*c);
        });
        // Over TLS the bytes leave in encrypted form, later than bytesWritten says.
        if (auto *tls = qobject_cast<QSslSocket *>(socket))
            connect(tls, &QSslSocket::encryptedBytesWritten, this, [this, socket] {
                Connection *c = find(socket);
                if (c && c->responding && c->response.delivery != Response::Delivery::Drip)
                    sendMore(*c);
            });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (Connection *c = find(socket))
                finish(*c, true);
        });
        m_connections.push_back(std::move(connection));
        // A TLS connection is handed over after its handshake: the request may be here already.
        if (socket->bytesAvailable() > 0)
            onReadable(*m_connections.back());
    }
}

void HttpServer::onReadable(Connection &connection) {
    connection.received += connection.socket->readAll();
    if (connection.responding)
        return;
    // Not HTTP at all (a TLS handshake, say): answer as a plain server would, and hang up.
    if (!connection.received.isEmpty() && !std::isupper(uchar(connection.received.front()))) {
        connection.socket->write("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
        connection.socket->disconnectFromHost();
        return;
    }
    const qsizetype end = connection.received.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = connection.received.left(end).split('\n');
    Request request;
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(),
                                   line.mid(colon + 1).trimmed());
    }
    const int earlier = requestCount(request.target);
    m_requests.push_back(request);
    const QList<Response> responses = m_routes.value(request.target);
    connection.response = responses.isEmpty()
                              ? Response::notFound()
                              : responses.value(std::min<qsizetype>(earlier, responses.size() - 1));
    respond(connection, request);
}

// Turns a ranged answer into what a server with byte ranges answers to this request: one
// range, "N-", "N-M" or "-N", honouring If-Range and If-Match.
static void applyRange(Response &response, const Request &request) {
    response.withHeader("Accept-Ranges", "bytes");
    response.withHeader(response.validatorIsDate ? "Last-Modified" : "ETag", response.validator);
    const QByteArray ifMatch = request.headers.value("if-match");
    if (!ifMatch.isEmpty() && ifMatch != response.validator && !response.ignoringConditions) {
        response = Response();
        response.status = 412;
        response.reason = "Precondition Failed";
        return;
    }
    const QByteArray range = request.headers.value("range");
    const QByteArray ifRange = request.headers.value("if-range");
    const qsizetype dash = range.indexOf('-');
    if (!range.startsWith("bytes=") || dash < 0 || range.contains(',') ||
        (!ifRange.isEmpty() && ifRange != response.validator && !response.ignoringConditions))
        return;
    const qint64 size = response.body.size();
    bool ok = false;
    qint64 first = 0;
    qint64 last = size - 1;
    if (dash == 6) { // the last N bytes
        first = std::max<qint64>(0, size - range.mid(7).toLongLong(&ok));
    } else {
        first = range.mid(6, dash - 6).toLongLong(&ok);
        if (ok && dash + 1 < range.size())
            last = std::min(last, range.mid(dash + 1).toLongLong(&ok));
    }
    if (!ok)
        return;
    if (first >= size || first > last) {
        response = Response();
        response.status = 416;
        response.reason = "Range Not Satisfiable";
        response.withHeader("Content-Range", "bytes */" + QByteArray::number(size));
        return;
    }
    response.status = 206;
    response.reason = "Partial Content";
    const qint64 claimed = first + (response.lyingRange ? 1 : 0);
    response.withHeader("Content-Range", "bytes " + QByteArray::number(claimed) + '-' +
                                             QByteArray::number(last) + '/' +
                                             QByteArray::number(size));
    response.body = response.body.mid(first, last - first + 1);
}

void HttpServer::respond(Connection &connection, const Request &request) {
    connection.responding = true;
    connection.target = request.target;
    if (!connection.response.validator.isEmpty())
        applyRange(connection.response, request);
    const Response &response = connection.response;
    if (response.raw) {
        connection.socket->write(*response.raw);
        return; // the connection stays open: the client alone decides where the answer ends
    }

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + response.reason +
                      "\r\nConnection: close\r\n";
    if (response.delivery == Response::Delivery::EndlessHead) {
        connection.socket->write(head);
        sendMore(connection);
        return;
    }
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.sendLength)
        head += "Content-Length: " +
                QByteArray::number(response.contentLength.value_or(response.body.size())) + "\r\n";
    head += "\r\n";
    connection.socket->write(head);
    if (response.delivery == Response::Delivery::Drip)
        connection.drip.start(response.dripIntervalMs);
    else
        sendMore(connection);
}

// Writes the next part of the body, keeping only a little in the socket's buffer so that a
// client going away is noticed early.
void HttpServer::sendMore(Connection &connection) {
    const Response &response = connection.response;
    if (response.delivery == Response::Delivery::EndlessHead) {
        static const QByteArray lines = [] {
            QByteArray line = "X-Filler: " + QByteArray(1012, 'f') + "\r\n";
            return line.repeated(64);
        }();
        if (connection.socket->bytesToWrite() <= 256 * 1024) {
            connection.socket->write(lines);
            m_bodyBytes[connection.target] += lines.size();
        }
        return; // bytesWritten brings us back
    }
    qint64 limit = response.body.size();
    if (response.delivery == Response::Delivery::CloseAfter ||
        response.delivery == Response::Delivery::StallAfter ||
        response.delivery == Response::Delivery::ResetAfter)
        limit = std::min(limit, response.cut);
    if (connection.sent < limit) {
        if (connection.socket->bytesToWrite() > 256 * 1024)
            return;
        const qint64 piece =
            response.delivery == Response::Delivery::Drip ? response.dripBytes : qint64(256) * 1024;
        const qint64 n = std::min(piece, limit - connection.sent);
        connection.socket->write(response.body.constData() + connection.sent, n);
        connection.sent += n;
        m_bodyBytes[connection.target] += n;
        return;
    }
    if (response.delivery == Response::Delivery::StallAfter)
        return;
    if (unsentBytes(*connection.socket) > 0)
        return; // bytesWritten brings us back
    if (response.delivery == Response::Delivery::ResetAfter &&
        connection.sent < response.body.size()) {
        // Once the client has every byte written, closing with a zero linger sends a reset,
        // as a broken link or a crashed server would.
        QTcpSocket *socket = connection.socket;
        const int fd = int(socket->socketDescriptor());
        int unsent = 0;
        if (::ioctl(fd, SIOCOUTQ, &unsent) == 0 && unsent > 0) {
            QTimer::singleShot(5, this, [this, socket] {
                if (Connection *c = find(socket))
                    sendMore(*c);
            });
            return;
        }
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        QObject::disconnect(socket, nullptr, this, nullptr);
        std::erase_if(m_connections, [socket](const auto &c) { return c->socket == socket; });
        socket->abort();
        socket->deleteLater();
        return;
    }
    finish(connection, false);
}

void HttpServer::finish(Connection &connection, bool byClient) {
    if (byClient && connection.responding)
        m_abandoned[connection.target] += 1;
    connection.drip.stop();
    QTcpSocket *socket = connection.socket;
    QObject::disconnect(socket, nullptr, this, nullptr);
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [socket](const auto &c) { return c->socket == socket; });
    m_connections.erase(it);
    // Gone once what it still holds has left (over TLS that is later than bytesToWrite says).
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

} // namespace httpserver
