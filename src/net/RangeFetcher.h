#pragma once

#include <chrono>
#include <functional>

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include "net/BoundedAccessManager.h"

class QNetworkReply;

namespace net {

// Single-range GET requests, one at a time, each over a connection of its own (see
// BoundedHttpReply: a head of bounded size, a socket closed at once on abort). An answer counts
// only when it is a 206 for exactly the range asked, from the version of the file named by the
// validator (a strong ETag): `If-Match` makes a server that changed the file answer 412, `If-Range`
// makes one that ignores If-Match send the whole new file, which is refused at its status line.
// More bytes than asked, a stall, or any other answer fails the request. Redirects are followed as
// the read service follows them; nothing is cached.
class RangeFetcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RangeFetcher)

public:
    static constexpr std::chrono::milliseconds DefaultStallTimeout{30'000};

    // What the server said about the file in its answer.
    struct Answer {
        qint64 first = 0;
        qint64 length = 0;
        qint64 total = 0;
        QByteArray validator;
    };
    // Sees the body's bytes in order; false stops the request (its `done` still follows).
    using DataHandler = std::function<bool(QByteArrayView bytes)>;
    using DoneHandler = std::function<void(bool ok, const QString &error, const Answer &answer)>;

    explicit RangeFetcher(QObject *parent = nullptr);
    // Aborts a running request without calling its handlers.
    ~RangeFetcher() override;

    // Asks for `length` bytes from `first`, or for the last `length` bytes when `first` is
    // negative (the answer then tells the file's size and validator). With a `validator` the
    // answer must come from that version. `onDone` is called exactly once, later, from the
    // event loop, unless `abort` comes first; it may start the next request. Never throws.
    void fetch(const QUrl &url, qint64 first, qint64 length, const QByteArray &validator,
               DataHandler onData, DoneHandler onDone);
    // Stops the running request, if any, without calling its handlers.
    void abort();

    int requestsSent() const { return m_requests; }
    void setStallTimeout(std::chrono::milliseconds timeout) { m_stall.setInterval(timeout); }

private:
    bool acceptHead();
    void onReadyRead();
    void onFinished();
    void finish(bool ok, const QString &error);

    BoundedAccessManager m_manager;
    QPointer<QNetworkReply> m_reply;
    QTimer m_stall;
    DataHandler m_onData;
    DoneHandler m_onDone;
    qint64 m_first = 0;
    qint64 m_length = 0;
    QByteArray m_validator;
    Answer m_answer;
    qint64 m_received = 0;
    bool m_headAccepted = false;
    QString m_failure;
    int m_requests = 0;
};

} // namespace net
