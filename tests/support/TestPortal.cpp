#include "support/TestPortal.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace testsupport {

PortalResponse PortalResponse::ok(const QByteArray &body, const QByteArray &contentType) {
    PortalResponse response;
    response.body = body;
    response.headers.append({"Content-Type", contentType});
    return response;
}

PortalResponse PortalResponse::notFound() {
    PortalResponse response = ok("<html><body>not found</body></html>", "text/html");
    response.status = 404;
    response.reason = "Not Found";
    return response;
}

PortalResponse PortalResponse::serverError() {
    PortalResponse response = ok("<html><body>server error</body></html>", "text/html");
    response.status = 500;
    response.reason = "Internal Server Error";
    return response;
}

PortalResponse PortalResponse::redirect(const QByteArray &location, int status) {
    PortalResponse response;
    response.status = status;
    response.reason = "Found";
    response.headers.append({"Location", location});
    return response;
}

PortalResponse PortalResponse::verbatim(const QByteArray &bytes) {
    PortalResponse response;
    response.raw = bytes;
    return response;
}

PortalResponse &PortalResponse::withHeader(const QByteArray &name, const QByteArray &value) {
    headers.append({name, value});
    return *this;
}

PortalResponse &PortalResponse::closingAfter(qint64 bytes) {
    delivery = Delivery::CloseAfter;
    cut = bytes;
    return *this;
}

PortalResponse &PortalResponse::stallingAfter(qint64 bytes) {
    delivery = Delivery::StallAfter;
    cut = bytes;
    return *this;
}

PortalResponse &PortalResponse::dripping(qint64 bytes, int intervalMs) {
    delivery = Delivery::Drip;
    dripBytes = std::max<qint64>(1, bytes);
    dripIntervalMs = intervalMs;
    return *this;
}

PortalResponse &PortalResponse::withContentLength(qint64 length) {
    contentLength = length;
    return *this;
}

PortalResponse &PortalResponse::withoutContentLength() {
    sendLength = false;
    return *this;
}

struct TestPortal::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray received;
    QByteArray target;
    PortalResponse response;
    qint64 sent = 0; // body bytes written
    bool responding = false;
    QTimer drip;
};

TestPortal::TestPortal(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, &TestPortal::accept);
}

TestPortal::~TestPortal() {
    for (auto &connection : m_connections) {
        connection->drip.stop();
        QObject::disconnect(connection->socket, nullptr, this, nullptr);
        connection->socket->abort();
    }
}

bool TestPortal::listen(quint16 port) {
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 TestPortal::port() const {
    return m_server->serverPort();
}

QString TestPortal::url(const QString &pathAndQuery) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery);
}

void TestPortal::route(const QByteArray &pathAndQuery, const PortalResponse &response) {
    m_routes.insert(pathAndQuery, response);
}

int TestPortal::requestCount(const QByteArray &pathAndQuery) const {
    return static_cast<int>(
        std::count_if(m_requests.begin(), m_requests.end(),
                      [&](const PortalRequest &r) { return r.target == pathAndQuery; }));
}

int TestPortal::openConnections() const {
    return static_cast<int>(m_connections.size());
}

TestPortal::Connection *TestPortal::find(QTcpSocket *socket) {
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [socket](const auto &c) { return c->socket == socket; });
    return it == m_connections.end() ? nullptr : it->get();
}

void TestPortal::accept() {
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
            if (c && c->responding && c->response.delivery != PortalResponse::Delivery::Drip)
                sendMore(*c);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (Connection *c = find(socket))
                finish(*c, true);
        });
        m_connections.push_back(std::move(connection));
    }
}

void TestPortal::onReadable(Connection &connection) {
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
    PortalRequest request;
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
    m_requests.push_back(request);
    respond(connection, request.target);
}

void TestPortal::respond(Connection &connection, const QByteArray &target) {
    connection.responding = true;
    connection.target = target;
    connection.response = m_routes.value(target, PortalResponse::notFound());
    const PortalResponse &response = connection.response;
    if (response.raw) {
        connection.socket->write(*response.raw);
        return; // the connection stays open: the client alone decides where the answer ends
    }

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + response.reason +
                      "\r\nConnection: close\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.sendLength)
        head += "Content-Length: " +
                QByteArray::number(response.contentLength.value_or(response.body.size())) + "\r\n";
    head += "\r\n";
    connection.socket->write(head);
    if (response.delivery == PortalResponse::Delivery::Drip)
        connection.drip.start(response.dripIntervalMs);
    else
        sendMore(connection);
}

// Writes the next part of the body, keeping only a little in the socket's buffer so that a
// client going away is noticed early.
void TestPortal::sendMore(Connection &connection) {
    const PortalResponse &response = connection.response;
    qint64 limit = response.body.size();
    if (response.delivery == PortalResponse::Delivery::CloseAfter ||
        response.delivery == PortalResponse::Delivery::StallAfter)
        limit = std::min(limit, response.cut);
    if (connection.sent < limit) {
        if (connection.socket->bytesToWrite() > 256 * 1024)
            return;
        const qint64 piece = response.delivery == PortalResponse::Delivery::Drip
                                 ? response.dripBytes
                                 : qint64(256) * 1024;
        const qint64 n = std::min(piece, limit - connection.sent);
        connection.socket->write(response.body.constData() + connection.sent, n);
        connection.sent += n;
        return;
    }
    if (response.delivery == PortalResponse::Delivery::StallAfter)
        return;
    if (connection.socket->bytesToWrite() > 0)
        return; // bytesWritten brings us back
    finish(connection, false);
}

void TestPortal::finish(Connection &connection, bool byClient) {
    if (byClient && connection.responding)
        m_abandoned[connection.target] += 1;
    connection.drip.stop();
    QTcpSocket *socket = connection.socket;
    QObject::disconnect(socket, nullptr, this, nullptr);
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [socket](const auto &c) { return c->socket == socket; });
    m_connections.erase(it);
    socket->disconnectFromHost();
    socket->deleteLater();
}

} // namespace testsupport
