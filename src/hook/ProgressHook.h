#pragma once

#include <functional>
#include <memory>

#include <QString>
#include <QtGlobal>

#include "hook/CopyData.h"

class QObject;

// The progress hook: it takes the copy-data messages that other processes send to the
// updater window over the local channel, reads a progress fraction from them and repaints
// the window. Everything runs on the GUI thread.
namespace hook {

class ProgressChannel;

// The updater window's repaint entry, argument for argument.
using ReDrawFunction = std::function<void(qint32 lMouseStatus, const QString &strInfo1,
                                          const QString &strInfo2, float lPercentValue)>;

// What the hook needs of the updater window; the window binds each to its own state.
struct HookWindow {
    ReDrawFunction ReDraw;
    // The title line last drawn; passed back so the title stays as it is.
    std::function<QString()> strLastInfo1;
    // The idle status line, shown again when the engine reports 0.
    std::function<QString()> strAuthorLinkText;
    // Writes the remembered percent; the hook does this itself before each repaint.
    std::function<void(float)> setLastPercent;
};

class ProgressHook final {
public:
    explicit ProgressHook(HookWindow window);
    ~ProgressHook();
    Q_DISABLE_COPY_MOVE(ProgressHook)

    // Binds the hook to the window `hWnd` and opens the local channel on which other
    // processes send their messages, each handed to HandleCopyData and answered 0. Only the
    // first call takes effect (one window, one channel). Returns whether this call installed
    // it. The hook counts as installed even when the channel could not be opened (another
    // updater holds it); channel() tells. Call on the GUI thread. Never throws.
    bool InstallProgressHook(const QObject *hWnd) noexcept;

    // Decodes one message and repaints through the window. This is the message's exception
    // boundary: its steps (decoding, reading the window's texts, remembering the percent,
    // the repaint) run in the ignore-errors mode, a failing step skipped and the next run;
    // nothing below catches. Never throws.
    void HandleCopyData(const CopyDataStruct &record) noexcept;

    bool isInstalled() const { return m_hWnd != nullptr; }
    // The channel opened by the installation, or null before it.
    const ProgressChannel *channel() const { return m_channel.get(); }

private:
    HookWindow m_window;
    const QObject *m_hWnd = nullptr;
    std::unique_ptr<ProgressChannel> m_channel;
};

} // namespace hook
