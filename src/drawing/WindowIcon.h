#pragma once

#include <QIcon>
#include <QString>

class QWindow;

// The program's own icon, compiled in as a resource group of square images.
namespace drawing {

// The sizes the icon group holds.
inline constexpr int kAppIconSizes[] = {16, 32, 48, 64, 128, 256};

// The icon group `strIconName` ("APPICON" is the program's) with every size it holds; a
// null icon when the group does not exist.
QIcon AppIcon(const QString &strIconName);

// Gives `hWnd` the icon group: one icon with all sizes, from which the platform takes both
// the large and the small icon it shows. With bSetOwner, the topmost window of hWnd's
// transient-parent chain receives it first. A missing group sets a null icon, as asked.
void SetWindowIcon(QWindow *hWnd, const QString &strIconName, bool bSetOwner);

} // namespace drawing
