#pragma once

#include <QByteArrayView>
#include <QString>

#include "hook/ProgressChannel.h"

// The sending side of the progress channel, as the conversion engine (or
// update-tool-notify) uses it.
namespace hook {

enum class SendOutcome {
    Answered,  // the updater handled the message and answered
    NoUpdater, // nothing listens on the channel
    TooLong,   // the payload exceeds what the channel accepts; nothing was sent
    Timeout,   // no connection or no answer within the time allowed
    Failed,    // anything else: the updater dropped the connection, an I/O error
};

struct SendResult {
    SendOutcome outcome = SendOutcome::Failed;
    qint32 answer = 0;
    // One line saying what happened, for a person to read.
    QString message;
};

// Sends one message and waits up to `timeoutMs` in all for the updater's answer.
// Blocking; needs no event loop and may run on any thread. Never throws.
SendResult sendCopyData(quint32 dwData, QByteArrayView payload, int timeoutMs,
                        const QString &socketPath = channelSocketPath()) noexcept;

} // namespace hook
