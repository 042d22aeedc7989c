#pragma once

#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QString>

#include "download/ctlAsyncDownload.h"
#include "platform/Translations.h"

namespace platform {
class MessageBoxes;
class Shell;
} // namespace platform

namespace window {

class WindowHost;
struct SignedRelease;
struct WindowState;

inline constexpr platform::UiText CaptionCancel{QT_TRANSLATE_NOOP("update-tool", "取消")};
inline constexpr platform::UiText CaptionDownload{QT_TRANSLATE_NOOP("update-tool", "开始下载")};
inline constexpr platform::UiText TextChecking{
    QT_TRANSLATE_NOOP("update-tool", "正在检查，请稍等 ...")};
inline constexpr platform::UiText TextDownloading{
    QT_TRANSLATE_NOOP("update-tool", "正在下载，请稍等 ...")};

// The check and download stages. Its state is the action button's caption: "检查更新"
// ready to check, "取消" checking, "开始下载" ready to download, empty while downloading or
// when the copy is not configured. Every change ends in a repaint.
class Workflow final : public download::ctlAsyncDownloadEvents {
public:
    struct Services {
        download::ctlAsyncDownload *control = nullptr;
        platform::MessageBoxes *messageBoxes = nullptr;
        platform::Shell *shell = nullptr;
        QString programFolder; // where the package is saved
        QString authorPage;
    };

    Workflow(WindowState &state, WindowHost &host, const Services &services);
    ~Workflow() override;

    // The action button's click, by caption.
    void actionButtonClicked();
    void StartCheck();
    void StartDownload();
    void CancelCheck();
    void OpenAuthorPage();
    // Makes `Tag` name the expanded or the compact view and animates the window there; no
    // animation when `Tag` names that view already.
    void showExpanded(bool expanded);

    // After unload the window draws no more: later events (the control's own clean-up
    // cancels pending reads) are ignored.
    void detach() { m_detached = true; }

    void Progress(const net::AsyncProperty &X, float Percent, std::int32_t DownloadsCount,
                  qint64 BytesRead, qint64 BytesMax) override;
    void Status(std::int32_t Status, const QString &Info) override;
    void Finished(const net::AsyncProperty &X, std::int32_t DownloadsCount) override;
    void FileSaved(const QString &FileName, const QString &Url) override;

private:
    void pageFinished(const net::AsyncProperty &X);
    void packageFinished(const net::AsyncProperty &X);
    void checkFailed(const QString &message);
    bool carriesKey() const;
    void recordRelease();
    QString deltaBase() const;
    void recordPackage(const QString &saved);
    void showIdle();

    WindowState &m_state;
    WindowHost &m_host;
    Services m_services;
    QString m_savedPackage; // where the control really wrote the package
    // The release the page's signature vouched for at the last check (keyed copies only).
    std::unique_ptr<SignedRelease> m_release;
    bool m_detached = false;
};

} // namespace window
