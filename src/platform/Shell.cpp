#include "platform/Shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace platform {

bool DesktopShell::open(const QString &pathOrUrl) {
    const QUrl url = pathOrUrl.contains(QLatin1String("://")) ? QUrl(pathOrUrl, QUrl::StrictMode)
                                                              : QUrl::fromLocalFile(pathOrUrl);
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace platform
