#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "net/BoundedAccessManager.h"
#include "net/DownloadDecisions.h"
#include "net/ReadService.h"

class QUrl;

namespace net {

// The read service over HTTP and HTTPS. What it does with an answer is decided in
// DownloadDecisions.h; this class applies the verdicts to replies, files and timers. Every read
// goes to the server (no cache), follows redirects that do not lower security up to
// `MaximumRedirects`, uses the system's proxy settings and verifies certificates.
//
// A transient failure — the connection reset or closed early, a body shorter than its
// Content-Length, a stall (fewer than `StallMinimumBytes` within the stall timeout), HTTP
// 408, 429, 500, 502, 503 or 504 — is retried up to `MaximumRetries` times in a row,
// waiting 1, 2, 4, 8 and 16 s, or what a `Retry-After` of at most 60 s asks; an attempt that
// brings new bytes starts the count afresh. Where the server accepts byte ranges and gives a
// validator (a strong ETag, else Last-Modified), a read to a file asks for the rest only
// (`Range` + `If-Range`), and appends an answer only when its Content-Range starts where
// the file ends and names the known size; anything else starts over from zero. Progress never
// goes backwards, and the percent is of the full size.
//
// A read to a file writes into a hidden partial file named after the address in the spool
// folder (see PartialDownloads.h), with a sidecar naming the server's validator and size, so
// that a later read of the same address resumes from it while the server still reports
// both. A read that fails for good, or is stopped keeping its bytes, leaves them there
// only when they can be resumed; otherwise, and on a plain cancel, they are removed.
//
// A read fails for good, without retries, when a head is not complete within
// `MaximumHeadTime` or passes `MaximumHeadBytes` or `MaximumHeaderLines` (BoundedHttpReply
// refuses it at once), and on any other transport or TLS error, an HTTP status of 400 or above
// not named above, an answer without content (204, 205, or no body bytes), Content-Length
// headers that disagree, more than `MemoryReadLimit` bytes held in memory, a spool file
// that cannot be written, or retries spent. A failed read sends status code 0 with the
// reason, then its completion with `ReadOutcome::Failed`. Retries send no notification.
class NetworkReadService final : public ReadService {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetworkReadService)

public:
    static constexpr qint64 MemoryReadLimit = qint64(16) * 1024 * 1024;
    // A read to a file takes this much from the reply at a time and writes it in one call;
    // the reply buffers as much. Large enough that the calls cost little, small enough that
    // a 1 GiB package needs little memory.
    static constexpr qint64 SliceSize = qint64(2) << 20;
    static constexpr int MaximumRedirects = 10;
    static constexpr std::chrono::milliseconds DefaultStallTimeout{30'000};

    // Maps a planned wait before a retry to the one really waited; a seam for tests.
    using RetryWait = std::function<std::chrono::milliseconds(std::chrono::milliseconds)>;

    explicit NetworkReadService(QObject *parent = nullptr);
    // Stops every running read without notifications; keeps the bytes of those that can be
    // resumed (the program is closing), removes the others.
    ~NetworkReadService() override;

    void AsyncRead(const QString &target, const QString &propertyName,
                   const std::optional<QString> &spoolFolder,
                   const ChunkObserver &observer = {}) override;
    void CancelAsyncRead(const QString &propertyName, KeptBytes kept = KeptBytes::Remove) override;

    // Seams for tests: a short stall timeout, a small memory limit, short waits.
    void setStallTimeout(std::chrono::milliseconds timeout) { m_stallTimeout = timeout; }
    void setHeadTimeout(std::chrono::milliseconds timeout) { m_headTimeout = timeout; }
    void setMemoryReadLimit(qint64 bytes) { m_memoryReadLimit = bytes; }
    void setRetryWait(RetryWait wait) { m_retryWait = std::move(wait); }

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
    bool drain(quint64 id);
    void startOver(quint64 id);
    void retry(quint64 id, const QString &reason,
               std::optional<std::chrono::milliseconds> retryAfter = std::nullopt,
               FailureKind kind = FailureKind::Network);
    void fail(quint64 id, const QString &reason, FailureKind kind);
    void succeed(quint64 id);

    BoundedAccessManager m_manager;
    std::vector<std::unique_ptr<Read>> m_reads;
    quint64 m_nextId = 1;
    std::chrono::milliseconds m_stallTimeout = DefaultStallTimeout;
    std::chrono::milliseconds m_headTimeout = MaximumHeadTime;
    qint64 m_memoryReadLimit = MemoryReadLimit;
    RetryWait m_retryWait;
};

} // namespace net
