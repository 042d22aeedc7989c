#pragma once

#include <functional>
#include <memory>

#include <QString>
#include <QtGlobal>

class QObject;

// The progress hook: it stands in front of the updater window's own message handling,
// takes the copy-data messages that other processes send to the window, reads a progress
// fraction from them and repaints the window. Everything runs on the GUI thread.
namespace hook {

class ProgressChannel;

// The message number of a copy-data message.
inline constexpr quint32 kCopyDataMessage = 74;

// The record that comes with a copy-data message. `lpData` belongs to the sender and is
// valid only while the message is handled.
struct CopyDataStruct {
    quint32 dwData = 0;
    quint32 cbData = 0;
    const char *lpData = nullptr;
};

// The updater window's repaint entry, argument for argument.
using ReDrawFunction =
    std::function<void(const QString &strActionSource, qint32 lMouseStatus, const QString &strInfo1,
                       const QString &strInfo2, float lPercentValue, qint32 perColor)>;

// A window procedure: handles one message for window `hWnd` and gives its 32-bit result.
using WindowProcedure = std::function<qint32(const QObject *hWnd, quint32 message, quintptr wParam,
                                             const void *lParam)>;

// What the hook needs of the updater window; the window binds each to its own state.
struct HookWindow {
    ReDrawFunction ReDraw;
    // The title line last drawn; passed back so the title stays as it is.
    std::function<QString()> strLastInfo1;
    // The idle status line, shown again when the engine reports 0.
    std::function<QString()> strAuthorLinkText;
    // Writes the remembered percent; the hook does this itself before each repaint.
    std::function<void(float)> setLastPercent;
    // Handles every message the hook does not consume; may be empty (answers 0).
    WindowProcedure previousProcedure;
};

class ProgressHook final {
public:
    explicit ProgressHook(HookWindow window);
    ~ProgressHook();
    Q_DISABLE_COPY_MOVE(ProgressHook)

    // Puts the hook in front of `hWnd` and opens the local channel on which other
    // processes send their messages. Only the first call takes effect: a second one would
    // make the hook its own previous procedure. Returns whether this call installed it.
    // The hook counts as installed even when the channel could not be opened (another
    // updater holds it); channel() tells. Call on the GUI thread. Never throws.
    bool InstallProgressHook(const QObject *hWnd) noexcept;

    // The hook's window procedure: a copy-data message for the hooked window is handled
    // here and answered 0, whatever its kind; any other message goes to the previous
    // procedure. Never throws.
    qint32 ProgressHookProc(const QObject *hWnd, quint32 message, quintptr wParam,
                            const void *lParam) noexcept;

    // Decodes one message (`lParam` points to a CopyDataStruct) and repaints through the
    // window. A step that fails is skipped. Never throws.
    void HandleCopyData(const void *lParam) noexcept;

    bool isInstalled() const { return m_hWnd != nullptr; }
    // The channel opened by the installation, or null before it.
    const ProgressChannel *channel() const { return m_channel.get(); }

private:
    HookWindow m_window;
    const QObject *m_hWnd = nullptr;
    std::unique_ptr<ProgressChannel> m_channel;
};

} // namespace hook
