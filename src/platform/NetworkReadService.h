#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include <QNetworkAccessManager>

#include "platform/ReadService.h"

class QUrl;

namespace platform {

// The read service over HTTP and HTTPS. Every read goes to the server (no cache), follows
// redirects that do not lower security up to `MaximumRedirects`, uses the system's proxy
// settings and verifies certificates. A read fails on a transport or TLS error, an HTTP
// status of 400 or above, an answer without content (204, 205, or no body bytes), Content-Length
// headers that disagree, a body shorter than its Content-Length, a stall (fewer than
// `StallMinimumBytes` within the stall timeout), more than `MemoryReadLimit` bytes held in
// memory, or a spool file that cannot be written. A failed read sends status code 0 with the
// reason, then its completion with `ReadOutcome::Failed`; its temporary file is gone by then.
class NetworkReadService final : public ReadService {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkReadService)

public:
    static constexpr qint64 MemoryReadLimit = qint64(16) * 1024 * 1024;
    static constexpr int MaximumRedirects = 10;
    static constexpr std::chrono::milliseconds DefaultStallTimeout{30'000};
    // A trickle below this many bytes per stall timeout is no download: it would never end.
    static constexpr qint64 StallMinimumBytes = 1024;

    explicit NetworkReadService(QObject *parent = nullptr);
    // Stops every running read and removes its temporary file, without notifications.
    ~NetworkReadService() override;

    void AsyncRead(const QString &target, const QString &propertyName,
                   const std::optional<QString> &spoolFolder,
                   const ChunkObserver &observer = {}) override;
    void CancelAsyncRead(const QString &propertyName) override;

    // Seams for tests: a short stall timeout, a small memory limit.
    void setStallTimeout(std::chrono::milliseconds timeout) { m_stallTimeout = timeout; }
    void setMemoryReadLimit(qint64 bytes) { m_memoryReadLimit = bytes; }

    int runningReads() const { return static_cast<int>(m_reads.size()); }

private:
    struct Read;

    Read *find(quint64 id) const;
    std::unique_ptr<Read> take(quint64 id);
    void start(quint64 id);
    // Sends one progress notification; false when the read was stopped meanwhile.
    bool notify(quint64 id, std::int32_t code, const QString &text);
    void onMetaDataChanged(quint64 id);
    void onReadyRead(quint64 id);
    void onRedirected(quint64 id, const QUrl &url);
    void onFinished(quint64 id);
    bool drain(Read &read);
    void fail(quint64 id, const QString &reason);
    void succeed(quint64 id);

    QNetworkAccessManager m_manager;
    std::vector<std::unique_ptr<Read>> m_reads;
    quint64 m_nextId = 1;
    std::chrono::milliseconds m_stallTimeout = DefaultStallTimeout;
    qint64 m_memoryReadLimit = MemoryReadLimit;
    QByteArray m_chunk;
};

} // namespace platform
