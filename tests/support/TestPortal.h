#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A real HTTP/1.1 server on 127.0.0.1 (a free port) inside the test process. Each path
// (with its query) has a scripted response; unknown paths answer 404. Every connection is
// closed after one response.
namespace testsupport {

struct PortalResponse {
    enum class Delivery {
        Whole,      // headers and the whole body, then close
        CloseAfter, // headers and the first `cut` body bytes, then close
        StallAfter, // headers and the first `cut` body bytes, then silence (the socket stays)
        Drip,       // the body in pieces of `dripBytes`, one every `dripIntervalMs`
    };

    int status = 200;
    QByteArray reason = "OK";
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    Delivery delivery = Delivery::Whole;
    qint64 cut = 0;
    qint64 dripBytes = 0;
    int dripIntervalMs = 0;
    // The Content-Length sent: the body's size unless set; none at all when `sendLength`
    // is false (the body then ends when the connection closes).
    std::optional<qint64> contentLength;
    bool sendLength = true;
    // When set, these bytes go out instead of a composed answer (status line, headers and
    // framing as written), and the connection stays open: for answers no correct server
    // sends.
    std::optional<QByteArray> raw;

    static PortalResponse ok(const QByteArray &body,
                             const QByteArray &contentType = "application/octet-stream");
    static PortalResponse notFound();
    static PortalResponse serverError();
    static PortalResponse redirect(const QByteArray &location, int status = 302);
    static PortalResponse verbatim(const QByteArray &bytes);

    PortalResponse &withHeader(const QByteArray &name, const QByteArray &value);
    PortalResponse &closingAfter(qint64 bytes);
    PortalResponse &stallingAfter(qint64 bytes);
    PortalResponse &dripping(qint64 bytes, int intervalMs);
    PortalResponse &withContentLength(qint64 length);
    PortalResponse &withoutContentLength();
};

// One request as the portal saw it. Header names are in lower case.
struct PortalRequest {
    QByteArray method;
    QByteArray target;
    QHash<QByteArray, QByteArray> headers;
};

class TestPortal final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TestPortal)

public:
    explicit TestPortal(QObject *parent = nullptr);
    ~TestPortal() override;

    // Starts listening on 127.0.0.1 at `port`, or at one the system picks for 0; false when
    // that fails.
    bool listen(quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:PORT" + `pathAndQuery`.
    QString url(const QString &pathAndQuery) const;

    void route(const QByteArray &pathAndQuery, const PortalResponse &response);

    const std::vector<PortalRequest> &requests() const { return m_requests; }
    int requestCount(const QByteArray &pathAndQuery) const;
    // Responses to `pathAndQuery` whose client went away before the portal had finished.
    int abandoned(const QByteArray &pathAndQuery) const { return m_abandoned.value(pathAndQuery); }
    int openConnections() const;

private:
    struct Connection;

    void accept();
    void onReadable(Connection &connection);
    void respond(Connection &connection, const QByteArray &target);
    void sendMore(Connection &connection);
    // Drops the connection; `byClient` when the client went away first.
    void finish(Connection &connection, bool byClient);
    Connection *find(QTcpSocket *socket);

    QTcpServer *m_server;
    QHash<QByteArray, PortalResponse> m_routes;
    std::vector<PortalRequest> m_requests;
    QHash<QByteArray, int> m_abandoned;
    std::vector<std::unique_ptr<Connection>> m_connections;
};

} // namespace testsupport
