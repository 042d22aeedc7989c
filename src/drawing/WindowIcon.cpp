#include "drawing/WindowIcon.h"

#include <QFile>
#include <QWindow>

// The icon lives in a static library, whose resource initialiser the linker drops unless
// something refers to it.
static void initialiseIconResource() {
    Q_INIT_RESOURCE(appicon);
}

namespace drawing {

QIcon AppIcon(const QString &strIconName) {
    static const bool initialised = (initialiseIconResource(), true);
    Q_UNUSED(initialised);
    QIcon icon;
    if (strIconName.isEmpty())
        return icon;
    for (const int size : kAppIconSizes) {
        const QString file = QStringLiteral(":/%1/%2.png").arg(strIconName).arg(size);
        if (QFile::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon;
}

void SetWindowIcon(QWindow *hWnd, const QString &strIconName, bool bSetOwner) {
    if (!hWnd)
        return;
    const QIcon icon = AppIcon(strIconName);
    if (bSetOwner) {
        QWindow *owner = hWnd;
        while (owner->transientParent())
            owner = owner->transientParent();
        if (owner != hWnd)
            owner->setIcon(icon);
    }
    hWnd->setIcon(icon);
}

} // namespace drawing
