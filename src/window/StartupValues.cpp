#include "window/StartupValues.h"

#include <QCoreApplication>
#include <QStringList>

#include "drawing/Colors.h"
#include "platform/BuildConfig.h"
#include "platform/Events.h"
#include "platform/Text.h"

namespace window {

QString graphicsFailureText() {
    return QCoreApplication::translate("update-tool", "无法启动 GDIPLUS，程序无法继续执行！");
}

BuildValues builtInValues() {
    return {QString::fromUtf8(platform::build::PortalBase),
            QString::fromUtf8(platform::build::AuthorQQ),
            QString::fromUtf8(platform::build::AuthorEmail), platform::programVersion()};
}

QString pageUrl(const QString &portalBase, std::int32_t softwareId) {
    if (softwareId < 1)
        return {};
    return portalBase + QStringLiteral("/content/") + QString::number(softwareId) +
           QStringLiteral(".html");
}

QString packageUrl(const QString &portalBase, std::int32_t softwareId) {
    if (softwareId < 1)
        return {};
    return portalBase + QStringLiteral("/download/d_load.php?d_id=") + QString::number(softwareId) +
           QStringLiteral("&down_id=1");
}

QString titleText(const QString &softwareName, const platform::Version &version) {
    const QString name =
        platform::trimBlanks(softwareName).isEmpty() ? QString() : softwareName + u' ';
    const QString number = QString::number(version.major) + u'.' + QString::number(version.minor) +
                           u'.' + QString::number(version.revision);
    //: The window's title: %1 the product's name and a space (or nothing), %2 the version.
    return QCoreApplication::translate("update-tool", "%1更新工具 %2 beta").arg(name, number);
}

QString agreementText(const QString &authorQQ, const QString &authorEmail) {
    const auto translated = [](const char *source) {
        return QCoreApplication::translate("update-tool", source);
    };
    return QStringList{
        translated(QT_TRANSLATE_NOOP("update-tool", "用户协议")),
        QString(),
        translated(QT_TRANSLATE_NOOP("update-tool", "软件作者保证软件不含任何恶意代码或病毒;")),
        translated(QT_TRANSLATE_NOOP("update-tool", "也不会在未经使用人允许的情况下连接网络;")),
        translated(QT_TRANSLATE_NOOP("update-tool", "使用人不可将软件用于非法用途或反向工程;")),
        translated(QT_TRANSLATE_NOOP("update-tool", "软件版权归软件作者所有;")),
        QString(),
        translated(QT_TRANSLATE_NOOP("update-tool", "联系作者 QQ: %1")).arg(authorQQ),
        translated(QT_TRANSLATE_NOOP("update-tool", "或者电子邮件 %1")).arg(authorEmail),
    }
        .join(QStringLiteral("\r\n"));
}

StartupValues deriveStartupValues(const UpdaterSettings &settings, const BuildValues &build) {
    using platform::ignoringErrors;
    StartupValues v;
    const QString portalBase = settings.PortalBase.value_or(build.portalBase);
    ignoringErrors([&] {
        v.strPageUrl = pageUrl(portalBase, settings.SoftwareID);
        v.strPackageUrl = packageUrl(portalBase, settings.SoftwareID);
    });
    ignoringErrors([&] { v.strTitleText = titleText(settings.SoftwareName, build.version); });
    v.strAuthorLinkText = AuthorLinkText();
    ignoringErrors([&] { v.strAgreement = agreementText(build.authorQQ, build.authorEmail); });
    ignoringErrors([&] {
        // A stored 0 (black) counts as not set.
        v.lThemeStyle =
            settings.SoftwareThemeStyle >= 1 ? settings.SoftwareThemeStyle : lDefaultThemeStyle;
        v.lThemeColor =
            settings.SoftwareThemeColor >= 1 ? settings.SoftwareThemeColor : lDefaultThemeColor;
        v.lThemeLightColor = drawing::ShadeColor(v.lThemeColor, 0.2f);
        v.lThemeSpecialColor = settings.SoftwareThemeSpecialColor >= 1
                                   ? settings.SoftwareThemeSpecialColor
                                   : drawing::ShadeColor(v.lThemeColor, -0.25f);
    });
    v.lShadowMargin = render::ShadowMargin;
    v.lHoverRegion = -1;
    v.strPackagePublicKey = settings.PackagePublicKey;
    v.strPackagePublicKey2 = settings.PackagePublicKey2;
    v.bRequireReleaseInfo = settings.PackageRequireReleaseInfo;
    v.lSoftwareID = settings.SoftwareID;
    v.strActionCaption =
        !v.strPageUrl.isEmpty() && !v.strPackageUrl.isEmpty() ? CaptionCheck() : QString();
    return v;
}

} // namespace window
