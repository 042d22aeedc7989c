#include "hook/ProgressSender.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QtEndian>

namespace hook {
namespace {

SendResult result(SendOutcome outcome, const QString &message) {
    return {outcome, 0, message};
}

SendResult send(quint32 dwData, QByteArrayView payload, int timeoutMs, const QString &socketPath) {
    if (payload.size() > static_cast<qsizetype>(kMessageLimit)) {
        return result(SendOutcome::TooLong,
                      QStringLiteral("the message is %1 bytes long; the updater accepts at most %2")
                          .arg(payload.size())
                          .arg(kMessageLimit));
    }
    const QDeadlineTimer deadline(std::max(timeoutMs, 1));
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
        switch (socket.error()) {
        case QLocalSocket::ServerNotFoundError:
        case QLocalSocket::ConnectionRefusedError:
            return result(SendOutcome::NoUpdater,
                          QStringLiteral("no updater is listening on %1").arg(socketPath));
        case QLocalSocket::SocketTimeoutError:
            return result(SendOutcome::Timeout,
                          QStringLiteral("the updater on %1 did not accept the connection in "
                                         "time")
                              .arg(socketPath));
        default:
            return result(
                SendOutcome::Failed,
                QStringLiteral("cannot connect to %1: %2").arg(socketPath, socket.errorString()));
        }
    }

    QByteArray message(kHeaderSize, '\0');
    qToLittleEndian(dwData, message.data());
    qToLittleEndian(static_cast<quint32>(payload.size()), message.data() + 4);
    message.append(payload.data(), payload.size());
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
            break;
    }

    while (socket.bytesAvailable() < kAnswerSize) {
        if (deadline.hasExpired() ||
            !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            if (socket.bytesAvailable() >= kAnswerSize)
                break;
            if (socket.state() != QLocalSocket::ConnectedState)
                return result(SendOutcome::Failed,
                              QStringLiteral("the updater closed the connection without "
                                             "answering"));
            return result(SendOutcome::Timeout,
                          QStringLiteral("the updater did not answer within %1 ms").arg(timeoutMs));
        }
    }
    char answer[kAnswerSize];
    socket.read(answer, kAnswerSize);
    socket.disconnectFromServer();
    return {SendOutcome::Answered, qFromLittleEndian<qint32>(answer), QStringLiteral("answered")};
}

} // namespace

SendResult sendCopyData(quint32 dwData, QByteArrayView payload, int timeoutMs,
                        const QString &socketPath) noexcept {
    try {
        return send(dwData, payload, timeoutMs, socketPath);
    } catch (...) {
        return result(SendOutcome::Failed, QStringLiteral("out of memory"));
    }
}

} // namespace hook
