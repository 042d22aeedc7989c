#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include "net/FailureKind.h"

namespace net {

// The steps a read reports through `AsyncProperty::statusCode`. Other values may occur and
// mean nothing to the download control.
namespace AsyncStatusCode {
inline constexpr std::int32_t Error = 0;
inline constexpr std::int32_t FindingResource = 1;
inline constexpr std::int32_t Connecting = 2;
inline constexpr std::int32_t Redirecting = 3;
inline constexpr std::int32_t BeginDownloadData = 4;
inline constexpr std::int32_t DownloadingData = 5;
inline constexpr std::int32_t EndDownloadData = 6;
inline constexpr std::int32_t MimeTypeAvailable = 13;
inline constexpr std::int32_t CacheFileNameAvailable = 14;
} // namespace AsyncStatusCode

// How a read ended. Progress notifications carry `Running`; the completion notification
// carries one of the other two.
enum class ReadOutcome { Running, Succeeded, Failed };

// The record that comes with every notification of a read.
struct AsyncProperty {
    // The received bytes of a read held in memory; empty for a spooled or failed read.
    QByteArray value;
    // The name the read was started under.
    QString propertyName;
    // The address the read was started with (redirects do not change it).
    QString target;
    // Bytes received so far, and the expected total (0 when unknown). 64 bits, so that
    // packages beyond 2 GiB still count correctly.
    qint64 bytesRead = 0;
    qint64 bytesMax = 0;
    // The service's text for this step: the content type for code 13, the cache file for
    // code 14, the reason for code 0 and for a failed completion.
    QString statusText;
    std::int32_t statusCode = AsyncStatusCode::FindingResource;
    // The answer's Content-Type once known (empty before, and when the server sent none);
    // kept so the receiver of a finished page can tell the charset it declares.
    QString contentType;
    ReadOutcome outcome = ReadOutcome::Running;
    // Set with a failed outcome when the reporter knows the kind; `statusText` says more.
    FailureKind failure = FailureKind::None;
    // A spooled read that succeeded: the hidden temporary file in the spool folder that holds
    // exactly the received bytes. The receiver of the completion notification may move it
    // elsewhere; the service removes whatever is left of it once the notification returns.
    QString spoolFile;

    bool succeeded() const { return outcome == ReadOutcome::Succeeded; }
};

// Sees the bytes of a read to a file in the order they are written to it: `bytes` start at
// `offset` in the file. An offset of 0 means the file starts over, so whatever was seen
// before no longer counts. Called on the service's thread; it must not call the service.
// The array is the one the bytes were written from and nobody changes it afterwards: an
// observer may keep a copy of it (sharing the bytes, not copying them) as long as it likes.
using ChunkObserver = std::function<void(qint64 offset, const QByteArray &bytes)>;

// What stopping a read does with the bytes it has written to a file: remove them, or keep
// them for a later run when the server can resume the answer (it accepts byte ranges and
// gave a validator).
enum class KeptBytes { Remove, KeepWhenResumable };

// The asynchronous read service of the control host. Notifications are delivered on the
// thread that owns the service (the GUI thread), never from inside `AsyncRead` or
// `CancelAsyncRead`. A receiver may call back into the service from a notification.
class ReadService : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts fetching `target` from its server (never from a cache) under `propertyName`.
    // Without a `spoolFolder` the bytes are held in memory and come back in the record's
    // value; with one they stream into a hidden temporary file created in that folder, and
    // a folder in which no file can be created (the empty text included) fails the read. Several
    // reads may run at once, also under the same name. Each read sends any number of progress
    // notifications and then exactly one completion notification, unless it is cancelled first.
    // `observer`, if any, sees the bytes of a read to a file as they are written.
    virtual void AsyncRead(const QString &target, const QString &propertyName,
                           const std::optional<QString> &spoolFolder,
                           const ChunkObserver &observer = {}) = 0;

    // Stops every read running under `propertyName` and removes its temporary file, or keeps
    // it as `kept` says; no further notification of those reads follows. Unknown names are
    // ignored.
    virtual void CancelAsyncRead(const QString &propertyName,
                                 KeptBytes kept = KeptBytes::Remove) = 0;

signals:
    void readProgress(const net::AsyncProperty &record);
    void readComplete(const net::AsyncProperty &record);
};

} // namespace net
