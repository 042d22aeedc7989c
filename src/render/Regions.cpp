#include "render/Regions.h"

#include <QCoreApplication>

#include "platform/Numbers.h"

namespace render {

using platform::checkedAdd;
using platform::checkedSubtract;

Rect RegionRects::of(std::int32_t region) const {
    switch (region) {
    case srTitleBar:
        return rcTitleBar;
    case srStatusLine:
        return rcStatusLine;
    case srClose:
        return rcCloseButton;
    case srMinimize:
        return rcMinimizeButton;
    case srExpand:
        return rcExpandButton;
    case srStyle15:
        return rcStyleSwatch15;
    case srStyle25:
        return rcStyleSwatch25;
    case srStyle27:
        return rcStyleSwatch27;
    case srActionButton:
        return rcActionButton;
    default:
        return {};
    }
}

RegionRects LayoutRegions(const LayoutInput &in) {
    const std::int32_t W = in.W;
    const std::int32_t H = in.H;
    const bool style15 = isRoundedStyle(in.lThemeStyle);
    const std::int32_t d = style15 ? 3 : 0;
    RegionRects r;

    if (in.hasActionButton) {
        const std::int32_t bottom = checkedSubtract(H, d);
        r.rcActionButton = {checkedSubtract(W, 160), checkedSubtract(bottom, 55),
                            checkedSubtract(W, 20), checkedSubtract(bottom, 30)};
    }
    if (in.hasTitle) {
        r.rcTitleBar = {8, 8, checkedSubtract(W, 8), 28};
        r.rcCloseButton = {checkedSubtract(W, 20), 8, checkedSubtract(W, 8), 20};
        r.rcMinimizeButton = {checkedSubtract(W, 35), 8, checkedSubtract(W, 23), 20};
        r.rcExpandButton = {checkedSubtract(W, 50), 8, checkedSubtract(W, 38), 20};
    }
    if (in.hasStatus) {
        r.rcStatusLine =
            style15 ? Rect{1, checkedSubtract(H, 28), checkedSubtract(W, 2), checkedSubtract(H, 9)}
                    : Rect{0, checkedSubtract(H, 20), checkedSubtract(W, 1), checkedSubtract(H, 1)};
        // The swatches count from the right end of the status line.
        const std::int32_t S = r.rcStatusLine.right - r.rcStatusLine.left;
        const std::int32_t T = checkedAdd(r.rcStatusLine.top, 5);
        const std::int32_t B = checkedSubtract(r.rcStatusLine.bottom, 4);
        r.rcStyleSwatch15 = {checkedSubtract(S, 15), T, checkedSubtract(S, 5), B};
        r.rcStyleSwatch25 = {checkedSubtract(S, 27), T, checkedSubtract(S, 17), B};
        r.rcStyleSwatch27 = {checkedSubtract(S, 39), T, checkedSubtract(S, 29), B};
    }
    return r;
}

QString DisplayedStatusText(const QString &strInfo2, std::int32_t lHoverRegion) {
    switch (lHoverRegion) {
    case srClose:
        return QCoreApplication::translate("update-tool", "立即退出");
    case srMinimize:
        return QCoreApplication::translate("update-tool", "最小化");
    case srExpand:
        return QCoreApplication::translate("update-tool", "扩展显示");
    case srStyle15:
    case srStyle25:
    case srStyle27:
        return QCoreApplication::translate("update-tool", "更换界面样式");
    default:
        return strInfo2;
    }
}

} // namespace render
