#include "hook/ProgressHook.h"

#include <algorithm>
#include <cstdio>

#include <QByteArrayView>
#include <QObject>

#include "hook/ProgressChannel.h"
#include "hook/ProgressPayload.h"
#include "platform/Events.h"

namespace hook {

ProgressHook::ProgressHook(HookWindow window)
    : m_window(std::move(window)) {}

ProgressHook::~ProgressHook() = default;

bool ProgressHook::InstallProgressHook(const QObject *hWnd) noexcept {
    if (m_hWnd != nullptr || hWnd == nullptr)
        return false;
    m_hWnd = hWnd;
    platform::ignoringErrors([this] {
        auto channel = std::make_unique<ProgressChannel>([this](const CopyDataStruct &record) {
            HandleCopyData(record);
            return 0;
        });
        // A channel that cannot be opened leaves the updater without progress messages,
        // nothing more; but whoever runs it learns why, as from a channel that had to move.
        QString note;
        const QString socketPath = channelSocketPath(&note);
        if (!note.isEmpty())
            std::fprintf(stderr, "update-tool: %s\n", qPrintable(note));
        if (!channel->listen(socketPath))
            std::fprintf(stderr, "update-tool: no progress messages: %s\n",
                         qPrintable(channel->errorString()));
        m_channel = std::move(channel);
    });
    return true;
}

void ProgressHook::HandleCopyData(const CopyDataStruct &record) noexcept {
    ProgressDecision decision;
    platform::ignoringErrors([&] {
        const qsizetype length =
            record.lpData == nullptr ? 0 : std::min<qsizetype>(record.cbData, kPayloadLimit);
        decision = decodeProgressMessage(record.dwData, QByteArrayView(record.lpData, length));
    });
    if (decision.repaintCase == RepaintCase::None)
        return;

    QString strInfo1;
    QString strAuthorLinkText;
    platform::ignoringErrors([&] {
        if (m_window.strLastInfo1)
            strInfo1 = m_window.strLastInfo1();
    });
    platform::ignoringErrors([&] {
        if (m_window.strAuthorLinkText)
            strAuthorLinkText = m_window.strAuthorLinkText();
    });
    platform::ignoringErrors([&] {
        if (m_window.setLastPercent)
            m_window.setLastPercent(decision.percent);
    });
    platform::ignoringErrors([&] {
        if (m_window.ReDraw) {
            m_window.ReDraw(0, strInfo1, decision.statusText(strAuthorLinkText), decision.percent);
        }
    });
}

} // namespace hook
