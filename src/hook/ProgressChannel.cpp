#include "hook/ProgressChannel.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QTimer>
#include <QtEndian>

#include "progress_path.h"

// Unix only: folder ownership and modes are checked with POSIX calls.
namespace hook {
namespace {

// Creates the channel's folder or checks the one that is there. Anyone who could enter it
// could read the messages or answer in the updater's place, so it must be a real folder
// (not a link) owned by the user and closed to everybody else: the senders refuse any other.
bool prepareFolder(const QString &folder, QString &error) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno == ENOENT) {
        const QByteArray parent = QFile::encodeName(QFileInfo(folder).absolutePath());
        if (::mkdir(parent.constData(), 0700) == 0 || errno == EEXIST)
            ::mkdir(path.constData(), 0700);
    }
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) {
        error = QStringLiteral("cannot create %1: %2")
                    .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Only our own folder is narrowed; chmod would follow a link, and root could change
    // somebody else's.
    if (S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 07777) != 0700 &&
        ::chmod(path.constData(), 0700) != 0) {
        error = QStringLiteral("cannot restrict %1 to its owner: %2")
                    .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    char why[512];
    if (utp_check_channel_folder(QFile::encodeName(folder + QStringLiteral("/progress.sock")), why,
                                 sizeof why) != 0) {
        error = QString::fromLocal8Bit(why);
        return false;
    }
    return true;
}

// Whether an updater is still serving the socket. Only a socket that plainly refuses (or
// is gone) counts as abandoned; one that is merely slow is left alone.
bool socketAnswers(const QString &socketPath) {
    QLocalSocket probe;
    probe.connectToServer(socketPath);
    if (probe.waitForConnected(1000)) {
        probe.abort();
        return true;
    }
    const auto error = probe.error();
    return error != QLocalSocket::ConnectionRefusedError &&
           error != QLocalSocket::ServerNotFoundError;
}

// The handler owns the message's exception boundary; nothing of it may unwind through the
// socket's event handler, so a handler that breaks that promise ends here (std::terminate).
qint32 deliverWithoutThrowing(const ProgressChannel::Deliver &deliver,
                              const CopyDataStruct &record) noexcept {
    return deliver(record);
}

} // namespace

QString channelSocketPath(QString *fallbackNote) {
    char path[sizeof(sockaddr_un::sun_path)];
    char why[1024];
    const std::size_t length = utp_resolve_socket_path(path, sizeof path, why, sizeof why);
    if (fallbackNote)
        *fallbackNote = QString::fromLocal8Bit(why);
    return length == 0 ? QString() : QFile::decodeName(QByteArray(path, qsizetype(length)));
}

QString channelFolder() {
    return QFileInfo(channelSocketPath()).absolutePath();
}

// One sender. Its messages are read with bounded reads and handed on one at a time; the
// answer goes out only after the window has handled the message.
class ProgressChannel::Connection final : public QObject {
public:
    Connection(ProgressChannel *channel, QLocalSocket *socket)
        : QObject(channel)
        , m_channel(channel)
        , m_socket(socket) {
        m_channel->m_connections.append(this);
        m_socket->setParent(this);
        // Qt stops taking bytes from the kernel once this much is waiting, so a flood costs
        // no memory beyond one message.
        m_socket->setReadBufferSize(kHeaderSize + kMessageLimit);
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &Connection::closeConnection);
        connect(m_socket, &QLocalSocket::readyRead, this, &Connection::readMessages);
        connect(m_socket, &QLocalSocket::disconnected, this, [this] {
            // A sender that wrote a whole message and left still has it handled.
            readMessages();
            closeConnection();
        });
        m_timer.start(m_channel->m_messageTimeoutMs);
        readMessages();
    }

    ~Connection() override { m_channel->m_connections.removeOne(this); }

    Q_DISABLE_COPY_MOVE(Connection)

    void closeConnection() {
        if (m_closed)
            return;
        m_closed = true;
        m_timer.stop();
        m_socket->abort();
        // While a message is being handled its bytes are still in use; the handler's
        // caller deletes the connection when it returns.
        if (!m_busy)
            deleteLater();
    }

private:
    void readMessages() {
        if (m_busy || m_closed)
            return;
        m_busy = true;
        const QPointer<Connection> alive(this);
        while (readOneMessage(alive)) {
        }
        if (!alive)
            return;
        m_busy = false;
        if (m_closed)
            deleteLater();
    }

    // Reads what is missing of the current message and hands it on when it is whole.
    // Returns true when a message was answered and the next one may be read.
    bool readOneMessage(const QPointer<Connection> &alive) {
        if (m_buffer.size() < kHeaderSize) {
            m_buffer.append(m_socket->read(kHeaderSize - m_buffer.size()));
            if (m_buffer.size() < kHeaderSize)
                return false;
        }
        const auto dwData = qFromLittleEndian<quint32>(m_buffer.constData());
        const auto cbData = qFromLittleEndian<quint32>(m_buffer.constData() + 4);
        if (cbData > kMessageLimit) {
            closeConnection();
            return false;
        }
        const qsizetype total = kHeaderSize + static_cast<qsizetype>(cbData);
        if (m_buffer.size() < total) {
            m_buffer.append(m_socket->read(total - m_buffer.size()));
            if (m_buffer.size() < total)
                return false;
        }

        m_timer.stop();
        const CopyDataStruct record{dwData, cbData, m_buffer.constData() + kHeaderSize};
        // A copy, so the handler runs to its end even if the window drops the channel.
        const Deliver deliver = m_channel->m_deliver;
        const qint32 answer = deliverWithoutThrowing(deliver, record);
        if (!alive)
            return false;

        m_buffer.clear();
        if (m_closed || m_socket->state() != QLocalSocket::ConnectedState)
            return false;
        char bytes[kAnswerSize];
        qToLittleEndian(answer, bytes);
        m_socket->write(bytes, kAnswerSize);
        m_socket->flush();
        m_timer.start(m_channel->m_messageTimeoutMs);
        return true;
    }

    ProgressChannel *m_channel;
    QLocalSocket *m_socket;
    QTimer m_timer;
    QByteArray m_buffer;
    bool m_busy = false;
    bool m_closed = false;
};

ProgressChannel::ProgressChannel(Deliver deliver, QObject *parent)
    : QObject(parent)
    , m_deliver(std::move(deliver)) {}

ProgressChannel::~ProgressChannel() {
    close();
    // Connections still handling a message are deleted with their channel.
    const auto connections = m_connections;
    qDeleteAll(connections);
}

bool ProgressChannel::fail(const QString &reason) {
    m_errorString = reason;
    return false;
}

bool ProgressChannel::listen(const QString &socketPath) {
    close();
    m_errorString.clear();
    m_socketPath = socketPath;
    if (socketPath.isEmpty())
        return fail(QStringLiteral("the channel's socket path is too long"));

    const QString folder = QFileInfo(socketPath).absolutePath();
    QString problem;
    if (!prepareFolder(folder, problem))
        return fail(problem);

    // Two updaters starting together must not both take the socket for stale and remove
    // each other's.
    QLockFile lock(folder + QStringLiteral("/progress.lock"));
    if (!lock.tryLock(2000))
        return fail(QStringLiteral("another updater is opening %1").arg(socketPath));

    auto *server = new QLocalServer(this);
    if (!server->listen(socketPath)) {
        if (server->serverError() != QAbstractSocket::AddressInUseError) {
            const QString error = server->errorString();
            delete server;
            return fail(QStringLiteral("cannot listen on %1: %2").arg(socketPath, error));
        }
        if (socketAnswers(socketPath)) {
            delete server;
            return fail(QStringLiteral("another running updater serves %1").arg(socketPath));
        }
        QLocalServer::removeServer(socketPath);
        if (!server->listen(socketPath)) {
            const QString error = server->errorString();
            delete server;
            return fail(QStringLiteral("cannot listen on %1: %2").arg(socketPath, error));
        }
    }
    // The folder already keeps others out; the socket itself is the user's alone as well.
    ::chmod(QFile::encodeName(socketPath).constData(), 0600);
    connect(server, &QLocalServer::newConnection, this, &ProgressChannel::acceptConnections);
    m_server = server;
    return true;
}

void ProgressChannel::close() {
    const auto connections = m_connections;
    for (Connection *connection : connections)
        connection->closeConnection();
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
}

bool ProgressChannel::isListening() const {
    return m_server && m_server->isListening();
}

void ProgressChannel::acceptConnections() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new Connection(this, socket);
    }
}

} // namespace hook
