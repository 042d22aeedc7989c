#pragma once

#include <QByteArray>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "net/HttpFraming.h"

class QAbstractSocket;

namespace net {

// One HTTP/1.1 GET over its own QTcpSocket or QSslSocket, closed after the answer
// (`Connection: close`). It stands in for Qt's own HTTP reply where a server must not be able
// to cost memory or time: the head is refused once it passes MaximumHeadBytes or
// MaximumHeaderLines, chunk-size lines are bounded, the socket buffers little and is not read
// while `readBufferSize()` bytes wait, and `abort()` closes the socket at once.
//
// It keeps the contract its users rely on from Qt's reply: `metaDataChanged` when a head is
// complete, `readyRead`, then `finished` (also after an error or abort); status and reason
// attributes, raw headers (same-name fields joined with ", "), the same NetworkError kinds;
// redirects followed by itself (`redirected`, `url()` updated) up to the request's maximum,
// never from https to http, and to the same origin only under SameOriginRedirectPolicy.
// Bodies framed by Content-Length, chunked, or by the end of the connection; one that ends
// short fails with RemoteHostClosedError. TLS uses the request's configuration and verifies the
// peer's name. `proxy` is the one to use: none, SOCKS 5 or an HTTP proxy (a tunnel for https,
// the absolute URI for http). Lives on the thread that made it; never throws.
class BoundedHttpReply final : public QNetworkReply {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BoundedHttpReply)

public:
    BoundedHttpReply(const QNetworkRequest &request, QNetworkRequest::RedirectPolicy policy,
                     const QNetworkProxy &proxy, QObject *parent = nullptr);
    ~BoundedHttpReply() override;

    void abort() override;
    void close() override;
    qint64 bytesAvailable() const override;
    void setReadBufferSize(qint64 size) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    static bool isHttps(const QUrl &url);
    static quint16 portOf(const QUrl &url);
    enum class Stage { Head, Body, Done };
    enum class Framing { Length, Chunked, UntilClose };

    void connectToServer();
    void sendRequest();
    void pump();
    bool readHead();
    bool readBody(bool &grew);
    // False when the reply went on elsewhere (a redirect, a failure, an abort).
    bool takeHead(const ParsedHead &head);
    bool followRedirect(const QUrl &target);
    void onSocketError();
    void endOfConnection();
    void succeed();
    void failWith(NetworkError code, const QString &text);
    void dropSocket();
    qint64 buffered() const { return m_body.size() - m_bodyOffset; }
    // Whether body bytes are read from the socket as they are (nothing to decode or buffered).
    bool passesThrough() const;
    qint64 readFromSocket(char *data, qint64 maxSize);
    void schedulePump();

    QNetworkRequest::RedirectPolicy m_policy;
    QNetworkProxy m_proxy;
    QAbstractSocket *m_socket = nullptr;
    bool m_viaHttpProxy = false; // plain http sent to an HTTP proxy with the absolute URI
    bool m_peerClosed = false;
    bool m_pumpScheduled = false;
    Stage m_stage = Stage::Head;
    Framing m_framing = Framing::UntilClose;
    int m_redirects = 0;
    int m_interimHeads = 0;
    QByteArray m_raw;  // received, not yet taken apart
    QByteArray m_body; // the decoded body, from m_bodyOffset on not yet read
    qsizetype m_bodyOffset = 0;
    qint64 m_remaining = 0; // body bytes still due, for Framing::Length
    qint64 m_received = 0;
    qint64 m_total = -1;
    ChunkedDecoder m_chunks;
    QString m_sslErrors;
};

} // namespace net
