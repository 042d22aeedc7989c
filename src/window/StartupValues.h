#pragma once

#include <cstdint>
#include <optional>

#include <QString>

#include "platform/Application.h"
#include "platform/Translations.h"
#include "render/ViewState.h"
#include "window/UpdaterSettings.h"

namespace window {

// Window geometry, in twips.
inline constexpr int lCompactWidth = 6900;
inline constexpr int lCompactHeight = 3300;
inline constexpr int lExpandedWidth = 6000;
inline constexpr int lExpandedHeight = 6900;

inline constexpr std::int32_t lDefaultThemeStyle = 27;
inline constexpr std::int32_t lDefaultThemeColor = 0xFFFFFF;

// The window caption (the window draws no frame of its own, so it is seen only in task
// lists).
inline const QString WindowCaption = QStringLiteral("KIV UPDATE");
inline constexpr platform::UiText CaptionCheck{QT_TRANSLATE_NOOP("update-tool", "检查更新")};
inline constexpr platform::UiText AuthorLinkText{
    QT_TRANSLATE_NOOP("update-tool", "点击这里访问作者页面")};
// Told when the program cannot draw at all (no display, or no font for Chinese text).
inline const QString GraphicsFailureText = QStringLiteral("无法启动 GDIPLUS，程序无法继续执行！");
// The same in the interface's language, once the translations are installed.
QString graphicsFailureText();
// Added to it when the cause is that no installed font shows Chinese text.
inline const QString GraphicsFailureNoFontDetail =
    QStringLiteral("Cannot start the graphics: no installed font shows Chinese text "
                   "(install fonts-noto-cjk). The program cannot continue.");

// What the implementer configured at build time.
struct BuildValues {
    QString portalBase;
    QString authorQQ;
    QString authorEmail;
    platform::Version version;
};
BuildValues builtInValues();

// Everything start-up derives from the settings.
struct StartupValues {
    QString strPageUrl;
    QString strPackageUrl;
    QString strTitleText;
    QString strAuthorLinkText;
    QString strAgreement;
    std::int32_t lThemeStyle = lDefaultThemeStyle;
    std::int32_t lThemeColor = lDefaultThemeColor;
    std::int32_t lThemeLightColor = lDefaultThemeColor;
    std::int32_t lThemeSpecialColor = lDefaultThemeColor;
    std::int32_t lShadowMargin = render::ShadowMargin;
    std::int32_t lHoverRegion = -1;
    QString strActionCaption;
    // The vendor's minisign public key when the copy carries one: then only a package signed
    // with it is published.
    std::optional<QString> strPackagePublicKey;
    std::optional<QString> strPackagePublicKey2;
    // Signatures must carry the full release information (product, version, size).
    bool bRequireReleaseInfo = false;
    std::int32_t lSoftwareID = 0;
};

// The page address ends "/content/<id>.html", the package address
// "/download/d_load.php?d_id=<id>&down_id=1"; both are empty for an id below 1.
QString pageUrl(const QString &portalBase, std::int32_t softwareId);
QString packageUrl(const QString &portalBase, std::int32_t softwareId);

// "<name> 更新工具 <major>.<minor>.<revision> beta", without the name when it is blank.
QString titleText(const QString &softwareName, const platform::Version &version);

QString agreementText(const QString &authorQQ, const QString &authorEmail);

// Each value is derived under the ignore-errors rule: one that fails keeps its default.
// Never throws.
StartupValues deriveStartupValues(const UpdaterSettings &settings, const BuildValues &build);

} // namespace window
