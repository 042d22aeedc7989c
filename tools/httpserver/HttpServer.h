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

class QSslConfiguration;
class QTcpServer;
class QTcpSocket;

// A small real HTTP/1.1 server on 127.0.0.1, run inside the process that uses it: the demo
// portal tool and the tests' portal. Each path (with its query) has a scripted response,
// delivered whole or in the ways a bad link or a slow server delivers it (cut, stalled,
// dripped, reset); unknown paths answer 404. Every connection is closed after one response.
namespace httpserver {

struct Response {
    enum class Delivery {
        Whole,       // headers and the whole body, then close
        CloseAfter,  // headers and the first `cut` body bytes, then close
        StallAfter,  // headers and the first `cut` body bytes, then silence (the socket stays)
        Drip,        // the body in pieces of `dripBytes`, one every `dripIntervalMs`
        ResetAfter,  // headers and the first `cut` body bytes, then a TCP reset
        EndlessHead, // the status line, then header lines of 1 KiB as fast as they go, forever
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
    // Byte ranges: when `validator` is set the answer says `Accept-Ranges: bytes` and carries
    // it (as ETag, or as Last-Modified when `validatorIsDate`), and a request with one range
    // (`Range: bytes=N-`, `N-M` or `-N`) whose If-Range is absent or matches gets 206 and those
    // bytes (416 past the body's end); an If-Match that does not match gets 412.
    // `lyingRange` makes the Content-Range claim one byte later than the bytes really sent;
    // `ignoringConditions` serves the range whatever If-Range and If-Match say.
    QByteArray validator;
    bool validatorIsDate = false;
    bool lyingRange = false;
    bool ignoringConditions = false;

    static Response ok(const QByteArray &body,
                       const QByteArray &contentType = "application/octet-stream");
    static Response notFound();
    static Response serverError();
    static Response redirect(const QByteArray &location, int status = 302);
    static Response verbatim(const QByteArray &bytes);

    Response &withHeader(const QByteArray &name, const QByteArray &value);
    Response &closingAfter(qint64 bytes);
    Response &stallingAfter(qint64 bytes);
    Response &dripping(qint64 bytes, int intervalMs);
    Response &withContentLength(qint64 length);
    Response &withoutContentLength();
    Response &resettingAfter(qint64 bytes);
    Response &withRanges(const QByteArray &validator, bool isDate = false);
    // Never ends its head.
    Response &withEndlessHead();
    // A drip by reconnecting: byte ranges under `validator`, and every connection closed after
    // `bytes` body bytes, so each new request brings a few bytes more.
    Response &reconnectingDrip(const QByteArray &validator, qint64 bytes = 1);
};

// One request as the server saw it. Header names are in lower case.
struct Request {
    QByteArray method;
    QByteArray target;
    QHash<QByteArray, QByteArray> headers;
};

class HttpServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HttpServer)

public:
    explicit HttpServer(QObject *parent = nullptr);
    ~HttpServer() override;

    // Starts listening on 127.0.0.1 at `port`, or at one the system picks for 0; false when
    // that fails.
    bool listen(quint16 port = 0);
    // The same over TLS with `configuration`'s certificate and key (the tests' https portal).
    bool listenTls(const QSslConfiguration &configuration, quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:PORT" + `pathAndQuery` ("https://" after listenTls).
    QString url(const QString &pathAndQuery) const;

    void route(const QByteArray &pathAndQuery, const Response &response);
    // The n-th request of `pathAndQuery` gets the n-th response; the last one answers every
    // request after it.
    void route(const QByteArray &pathAndQuery, const QList<Response> &responses);
    // Body bytes written for `pathAndQuery` over all its answers (header lines, for an
    // endless head).
    qint64 bodyBytesSent(const QByteArray &pathAndQuery) const {
        return m_bodyBytes.value(pathAndQuery);
    }

    const std::vector<Request> &requests() const { return m_requests; }
    int requestCount(const QByteArray &pathAndQuery) const;
    // Responses to `pathAndQuery` whose client went away before the server had finished.
    int abandoned(const QByteArray &pathAndQuery) const { return m_abandoned.value(pathAndQuery); }
    int openConnections() const;

private:
    struct Connection;

    void accept();
    void onReadable(Connection &connection);
    void respond(Connection &connection, const Request &request);
    void sendMore(Connection &connection);
    // Drops the connection; `byClient` when the client went away first.
    void finish(Connection &connection, bool byClient);
    Connection *find(QTcpSocket *socket);

    QTcpServer *m_server;
    bool m_tls = false;
    QHash<QByteArray, QList<Response>> m_routes;
    QHash<QByteArray, qint64> m_bodyBytes;
    std::vector<Request> m_requests;
    QHash<QByteArray, int> m_abandoned;
    std::vector<std::unique_ptr<Connection>> m_connections;
};

} // namespace httpserver
