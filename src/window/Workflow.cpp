#include "window/Workflow.h"

#include <cstdio>

#include <QDir>
#include <QFileInfo>

#include "platform/MessageBoxes.h"
#include "platform/Numbers.h"
#include "platform/Shell.h"
#include "render/ViewState.h"
#include "window/FileNames.h"
#include "window/PackageSignatureCheck.h"
#include "window/PageTitle.h"
#include "window/PublishedPackages.h"
#include "window/ReleaseCheck.h"
#include "window/ReleaseHistory.h"
#include "window/WindowState.h"

namespace window {
namespace {

using platform::UiText;

constexpr UiText TextCheckFailed{QT_TRANSLATE_NOOP("update-tool", "检查更新失败，请稍后重试。")};
constexpr UiText TextDownloadFailed{QT_TRANSLATE_NOOP("update-tool", "文件下载失败！")};
constexpr UiText TextOpenQuestion{QT_TRANSLATE_NOOP(
    "update-tool", "文件已经完成下载。软件必须解压后才能正常使用，是否用系统默认程序打开软件包？")};
constexpr UiText TextSavedHere{QT_TRANSLATE_NOOP("update-tool", "文件已经下载到当前目录。")};
constexpr UiText TextSignatureFailed{
    QT_TRANSLATE_NOOP("update-tool", "软件包签名校验失败，文件已删除。")};
constexpr UiText TextReleaseRefused{
    QT_TRANSLATE_NOOP("update-tool", "版本信息签名校验失败，没有下载任何文件。")};

} // namespace

Workflow::Workflow(WindowState &state, WindowHost &host, const Services &services)
    : m_state(state)
    , m_host(host)
    , m_services(services) {
    // A copy that carries its vendor's key publishes only the package the release checked
    // on the page signed.
    if (m_services.control)
        m_services.control->addPublishCheck(
            [this](const QString &url, const QString &) -> std::unique_ptr<download::PublishCheck> {
                if (url != m_state.strPackageUrl || !carriesKey())
                    return nullptr;
                return packageSignatureCheck(m_release.get());
            },
            download::ctlAsyncDownload::CheckPlace::First);
}

Workflow::~Workflow() = default;

bool Workflow::carriesKey() const {
    return m_state.strPackagePublicKey || m_state.strPackagePublicKey2;
}

void Workflow::actionButtonClicked() {
    const QString caption = m_state.strActionCaption;
    if (caption == CaptionDownload())
        StartDownload();
    else if (caption == CaptionCheck())
        StartCheck();
    else if (caption == CaptionCancel())
        CancelCheck();
}

void Workflow::StartCheck() {
    m_state.strActionCaption = CaptionCancel();
    m_host.ReDraw(render::MouseAway, m_host.strLastInfo1(), TextChecking(),
                  m_host.sngLastPercent());
    m_services.control->Download(m_state.strPageUrl);
}

void Workflow::StartDownload() {
    m_state.strActionCaption.clear();
    m_host.ReDraw(render::MouseAway, m_host.strLastInfo1(), TextDownloading(),
                  m_host.sngLastPercent());
    showExpanded(false);
    m_savedPackage.clear();
    m_services.control->Download(m_state.strPackageUrl, m_state.strPackagePath, deltaBase());
}

// The package this copy published last in its folder, when it is still there unchanged: the
// control then fetches only what changed.
QString Workflow::deltaBase() const {
    QString error;
    const PublishedPackages packages = readPublishedPackages(publishedPackagesPath(), error);
    QString why;
    const std::optional<QString> base =
        window::deltaBase(packages, m_state.lSoftwareID, m_services.programFolder, why);
    for (const QString &note : {error, why})
        if (!note.isEmpty())
            std::fprintf(stderr, "update-tool: no delta download: %s\n", qPrintable(note));
    return base.value_or(QString());
}

// The next download may start from this package. A file that cannot be written is told, but
// the package is there and stays.
void Workflow::recordPackage(const QString &saved) {
    const QString path = publishedPackagesPath();
    QString error;
    PublishedPackages packages = readPublishedPackages(path, error);
    if (const auto package = describePackage(m_state.lSoftwareID, saved, error))
        packages = withPublished(std::move(packages), *package);
    if (!writePublishedPackages(path, packages, error) || !error.isEmpty())
        std::fprintf(stderr, "update-tool: %s\n", qPrintable(error));
}

void Workflow::CancelCheck() {
    m_services.control->CancelAllDownload();
    m_state.strActionCaption = CaptionCheck();
    showExpanded(false);
    m_host.ReDraw(render::MouseAway, m_host.strLastInfo1(), m_host.strLastInfo2(),
                  m_host.sngLastPercent());
}

void Workflow::OpenAuthorPage() {
    if (m_services.shell)
        m_services.shell->open(m_services.authorPage);
}

void Workflow::showExpanded(bool expanded) {
    if (m_state.isExpanded() == expanded)
        return;
    m_state.Tag = expanded ? QStringLiteral("1") : QStringLiteral("0");
    m_host.switchViewSize();
}

void Workflow::Progress(const net::AsyncProperty &X, float Percent, std::int32_t, qint64, qint64) {
    if (m_detached || Percent >= 100)
        return;
    const std::int32_t p = platform::roundToInt32(Percent);
    if (p == m_state.lLastPercent)
        return;
    m_state.lLastPercent = p;
    const QString text = X.target == m_state.strPageUrl ? TextChecking() : TextDownloading();
    // No event loop runs in here: this is called from inside the network's signals, and a
    // nested loop would let Qt delete the reply whose signal is still being delivered.
    m_host.ReDraw(render::MouseAway, m_host.strLastInfo1(), text, Percent);
}

void Workflow::Status(std::int32_t Status, const QString &) {
    if (m_detached || (Status != download::DownloadStatus::Cancelled &&
                       Status != download::DownloadStatus::AllCancelled))
        return;
    m_state.strActionCaption = CaptionDownload();
    showIdle();
}

void Workflow::FileSaved(const QString &FileName, const QString &Url) {
    if (Url == m_state.strPackageUrl)
        m_savedPackage = FileName;
}

void Workflow::Finished(const net::AsyncProperty &X, std::int32_t) {
    if (m_detached)
        return;
    if (X.target == m_state.strPageUrl)
        pageFinished(X);
    else if (X.target == m_state.strPackageUrl)
        packageFinished(X);
}

void Workflow::pageFinished(const net::AsyncProperty &X) {
    const QString page = X.succeeded() ? decodePage(X.value, X.contentType.toLatin1()) : QString();
    const std::optional<QString> title = X.succeeded() ? pageTitle(page) : std::nullopt;
    if (!title) {
        checkFailed(TextCheckFailed());
        return;
    }
    const std::optional<QByteArray> signature = packageSignature(page);
    m_release.reset();
    if (carriesKey()) {
        // Which release the page offers is the vendor's word, not the page's: refused here,
        // nothing of the package is requested.
        ReleaseRules rules{{}, m_state.bRequireReleaseInfo, m_state.lSoftwareID};
        for (const auto &key : {m_state.strPackagePublicKey, m_state.strPackagePublicKey2})
            if (key)
                rules.publicKeys << *key;
        QString historyError;
        const ReleaseHistory history = readReleaseHistory(releaseHistoryPath(), historyError);
        if (!historyError.isEmpty())
            std::fprintf(stderr, "update-tool: %s\n", qPrintable(historyError));
        auto checked = checkSignedRelease(rules, signature, *title, history);
        if (const auto *reason = std::get_if<QString>(&checked)) {
            std::fprintf(stderr, "update-tool: release information refused: %s\n",
                         qPrintable(*reason));
            checkFailed(TextReleaseRefused());
            return;
        }
        m_release = std::make_unique<SignedRelease>(std::move(std::get<SignedRelease>(checked)));
    }
    m_state.strPageTitle = *title;
    m_state.packageSignature = signature;
    m_state.strPackagePath =
        UniqueFileName(PathWithBackslash(m_services.programFolder) + packageFileName(*title));
    m_state.strActionCaption = CaptionDownload();
    showExpanded(true);
    showIdle();
}

// A page that could not be read, that names no version, or whose version its vendor did not
// sign, is no found version: the user hears of it and may check again.
void Workflow::checkFailed(const QString &message) {
    m_services.messageBoxes->show(message, platform::MessageError, m_state.strTitleText);
    m_state.strActionCaption = CaptionCheck();
    showExpanded(false);
    showIdle();
}

void Workflow::packageFinished(const net::AsyncProperty &X) {
    // Only a file the control really wrote counts, wherever it had to put it.
    const QString saved = m_savedPackage.isEmpty() ? m_state.strPackagePath : m_savedPackage;
    if (!X.succeeded() || !FileExists(saved)) {
        // The publish step has already removed a package it refused.
        const bool refused = X.failure == net::FailureKind::RefusedSignature;
        m_services.messageBoxes->show(refused ? TextSignatureFailed() : TextDownloadFailed(),
                                      platform::MessageError, m_state.strTitleText);
        // The version found is still known: the button offers the download again, which
        // resumes from the bytes kept.
        m_state.strActionCaption = CaptionDownload();
        showIdle();
        return;
    }
    m_state.strPackagePath = saved;
    recordRelease();
    recordPackage(saved);
    m_state.strActionCaption = CaptionCheck();
    showIdle();
    const QString name = QFileInfo(saved).fileName();
    const int answer =
        m_services.messageBoxes->show(TextOpenQuestion() + QStringLiteral("\r\n\r\n") + name,
                                      platform::MessageYesNoQuestion, m_state.strTitleText);
    if (answer == platform::AnswerYes) {
        if (m_services.shell)
            m_services.shell->open(saved);
    } else {
        m_services.messageBoxes->show(TextSavedHere(), platform::MessageInformation,
                                      m_state.strTitleText);
    }
    m_host.Unload();
}

// A published release raises the bar for the next: an older one is refused from now on. A
// history that cannot be written is told, but the package is there and stays.
void Workflow::recordRelease() {
    if (!m_release || !m_release->info.timestamp)
        return;
    const QString path = releaseHistoryPath();
    QString error;
    ReleaseHistory history = readReleaseHistory(path, error);
    history = withAccepted(std::move(history), {m_state.lSoftwareID, m_release->signature.keyId,
                                                *m_release->info.timestamp,
                                                m_release->info.version.value_or(QString())});
    if (!writeReleaseHistory(path, history, error) || !error.isEmpty())
        std::fprintf(stderr, "update-tool: %s\n", qPrintable(error));
}

void Workflow::showIdle() {
    m_host.ReDraw(render::MouseAway, m_host.strLastInfo1(), m_state.strAuthorLinkText, 0);
}

} // namespace window
