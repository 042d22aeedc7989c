#include "render/Regions.h"

#include "platform/Numbers.h"
#include <limits>

namespace render {
namespace {

using platform::checkedAdd;

// a - b with the overflow check of the program's integer arithmetic.
std::int32_t minus(std::int32_t a, std::int32_t b) {
    if (b == std::numeric_limits<std::int32_t>::min())
        throw platform::OverflowError("integer overflow");
    return checkedAdd(a, -b);
}

} // namespace

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
    const bool style15 = in.lThemeStyle == 15;
    const std::int32_t d = style15 ? 3 : 0;
    RegionRects r;

    if (in.hasActionButton) {
        const std::int32_t bottom = minus(H, d);
        r.rcActionButton = {minus(W, 160), minus(bottom, 55), minus(W, 20), minus(bottom, 30)};
    }
    if (in.hasTitle) {
        r.rcTitleBar = {8, 8, minus(W, 8), 28};
        r.rcCloseButton = {minus(W, 20), 8, minus(W, 8), 20};
        r.rcMinimizeButton = {minus(W, 35), 8, minus(W, 23), 20};
        r.rcExpandButton = {minus(W, 50), 8, minus(W, 38), 20};
    }
    if (in.hasStatus) {
        r.rcStatusLine = style15 ? Rect{1, minus(H, 28), minus(W, 2), minus(H, 9)}
                                 : Rect{0, minus(H, 20), minus(W, 1), minus(H, 1)};
        // The swatches count from the right end of the status line.
        const std::int32_t S = r.rcStatusLine.right - r.rcStatusLine.left;
        const std::int32_t T = checkedAdd(r.rcStatusLine.top, 5);
        const std::int32_t B = minus(r.rcStatusLine.bottom, 4);
        r.rcStyleSwatch15 = {minus(S, 15), T, minus(S, 5), B};
        r.rcStyleSwatch25 = {minus(S, 27), T, minus(S, 17), B};
        r.rcStyleSwatch27 = {minus(S, 39), T, minus(S, 29), B};
    }
    return r;
}

QString DisplayedStatusText(const QString &strInfo2, std::int32_t lHoverRegion) {
    switch (lHoverRegion) {
    case srClose:
        return QStringLiteral("立即退出");
    case srMinimize:
        return QStringLiteral("最小化");
    case srExpand:
        return QStringLiteral("扩展显示");
    case srStyle15:
    case srStyle25:
    case srStyle27:
        return QStringLiteral("更换界面样式");
    default:
        return strInfo2;
    }
}

} // namespace render
