#pragma once

#include <functional>

#include <QList>
#include <QObject>
#include <QString>

#include "hook/CopyData.h"
#include "update-tool/progress.h"

class QLocalServer;

// The local channel that carries copy-data messages from other processes to the updater
// window: a Unix domain socket in a folder only the user can enter.
//
// On the wire a message is the record's dwData and cbData as little-endian 32-bit numbers,
// followed by cbData payload bytes. The updater answers each message with the handler's
// 32-bit result, little-endian, once the message has been handled and the
// window repainted; the sender waits for that answer. A connection may carry several
// messages one after another.
namespace hook {

// The wire constants are the client library's (update-tool/progress.h), so both ends agree.
inline constexpr qsizetype kHeaderSize = UTP_HEADER_SIZE;
inline constexpr qsizetype kAnswerSize = UTP_ANSWER_SIZE;
// The longest payload the channel accepts. A sender that declares more is dropped before
// anything of its payload is read.
inline constexpr quint32 kMessageLimit = UTP_MESSAGE_LIMIT;

// The socket's path, resolved by the same rule as the senders use:
// $XDG_RUNTIME_DIR/update-tool/progress.sock; when XDG_RUNTIME_DIR is unset or not absolute,
// update-tool-<uid>/progress.sock in the temporary folder, unless someone else holds that
// name, and then .cache/update-tool/progress.sock in the home folder (`fallbackNote`, unless
// null, then says why). Empty when the path is too long for a socket.
QString channelSocketPath(QString *fallbackNote = nullptr);
// The folder of channelSocketPath().
QString channelFolder();

class ProgressChannel final : public QObject {
    Q_OBJECT

public:
    // Hands one complete message to the window on the GUI thread; its result is the answer.
    // It runs inside the socket's event handler and must not throw: it is the message's
    // exception boundary (a throwing one ends the program rather than unwind through Qt).
    using Deliver = std::function<qint32(const CopyDataStruct &record)>;

    static constexpr int kDefaultMessageTimeoutMs = UTP_IDLE_TIMEOUT_MS;
    // More simultaneous senders than this are turned away at once.
    static constexpr int kMaxConnections = 32;

    explicit ProgressChannel(Deliver deliver, QObject *parent = nullptr);
    ~ProgressChannel() override;
    Q_DISABLE_COPY_MOVE(ProgressChannel)

    // Opens the channel. The socket's folder is created with mode 0700 (an existing one
    // must be a real folder owned by the user, and is narrowed to 0700; a missing parent is
    // created as well, as .cache may be missing from a home); a socket left by
    // an updater that is gone is replaced, while one that still answers is left to its
    // owner. Returns false with errorString() set when the channel cannot be opened.
    bool listen(const QString &socketPath = channelSocketPath());
    void close();

    bool isListening() const;
    QString socketPath() const { return m_socketPath; }
    QString errorString() const { return m_errorString; }

    // How long a sender may take to deliver one message, counted from its connection or
    // from its previous answer. A sender that has not completed a message by then is
    // dropped, so a stalled sender never holds the window.
    void setMessageTimeout(int milliseconds) { m_messageTimeoutMs = milliseconds; }

    int connectionCount() const { return static_cast<int>(m_connections.size()); }

private:
    class Connection;

    bool fail(const QString &reason);
    void acceptConnections();

    Deliver m_deliver;
    QLocalServer *m_server = nullptr;
    QString m_socketPath;
    QString m_errorString;
    int m_messageTimeoutMs = kDefaultMessageTimeoutMs;
    QList<Connection *> m_connections;
};

} // namespace hook
