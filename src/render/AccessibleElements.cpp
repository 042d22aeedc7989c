#include "render/AccessibleElements.h"

#include <algorithm>

#include "render/ContentElements.h"

namespace render {

std::vector<AccessibleElement> DescribeFrame(const ReDrawRequest &request, const ViewState &view,
                                             const RegionRects &regions, std::int32_t W,
                                             std::int32_t H, const QString &authorLinkText) {
    std::vector<AccessibleElement> elements;
    auto add = [&](AccessibleElement e) { elements.push_back(std::move(e)); };
    if (!regions.rcTitleBar.isEmpty())
        add({QStringLiteral("title"), QAccessible::StaticText, request.strInfo1, request.strInfo1,
             regions.rcTitleBar});

    // The texts exactly as the content area paints them; the found version (painted last,
    // over the agreement's first line) is read first. The agreement is named by its heading
    // and carries its whole text as the value.
    const std::vector<drawing::PathTextParams> content =
        ContentArea(view, W, H, !regions.rcActionButton.isEmpty());
    // The agreement may be cut to fit: it is known by its heading.
    const QString heading = view.strAgreement.section(QStringLiteral("\r\n"), 0, 0);
    int n = 0;
    for (auto call = content.rbegin(); call != content.rend(); ++call) {
        if (call->strText.isEmpty())
            continue; // the expanded view's tinted panel
        const drawing::LayoutRect &rc = call->rcLayout;
        const bool agreement = !heading.isEmpty() && call->strText.contains(heading);
        const QString name = agreement ? heading : call->strText;
        add({QStringLiteral("content%1").arg(n++), QAccessible::StaticText, name, call->strText,
             Rect{rc.X, rc.Y, rc.X + rc.Width, rc.Y + rc.Height}});
    }

    if (!regions.rcActionButton.isEmpty()) {
        // Another element for each caption: a reader takes the focus arriving on a new
        // object as news, but not a new name of the one it already reads.
        AccessibleElement action{QStringLiteral("action:") + view.strActionCaption,
                                 QAccessible::Button,
                                 view.strActionCaption,
                                 {},
                                 regions.rcActionButton,
                                 srActionButton,
                                 true};
        // The version the button concerns, read after its name when it gets the focus.
        if (!view.strPageTitle.trimmed().isEmpty())
            action.description = ShownPageTitle(view.strPageTitle);
        add(std::move(action));
    }
    if (!regions.rcStatusLine.isEmpty()) {
        const QString shown = DisplayedStatusText(request.strInfo2, view.lHoverRegion);
        const bool link = shown == authorLinkText;
        // A link only while it shows the author link. A reader keeps the role it once read,
        // so the line is another element when its role changes; any other new text is
        // announced as a new name of the same element.
        add({link ? QStringLiteral("link") : QStringLiteral("status"),
             link ? QAccessible::Link : QAccessible::StaticText,
             shown,
             {},
             regions.rcStatusLine,
             srStatusLine,
             true});
        if (request.lPercentValue > 0)
            add({QStringLiteral("progress"), QAccessible::ProgressBar, shown,
                 QString::number(qRound(request.lPercentValue)), regions.rcStatusLine});
    }
    for (const std::int32_t region :
         {srExpand, srMinimize, srClose, srStyle27, srStyle25, srStyle15}) {
        const Rect rc = regions.of(region);
        // The swatches look alike: each is named by its place, counted from the left.
        const int swatch = region == srStyle27   ? 1
                           : region == srStyle25 ? 2
                           : region == srStyle15 ? 3
                                                 : 0;
        QString name = DisplayedStatusText({}, region);
        if (swatch > 0)
            name += QStringLiteral(" %1").arg(swatch);
        if (!rc.isEmpty())
            add({QStringLiteral("button%1").arg(region),
                 QAccessible::Button,
                 name,
                 {},
                 rc,
                 region,
                 true});
    }
    return elements;
}

std::vector<AccessibleChange> ChangesBetween(const std::vector<AccessibleElement> &before,
                                             const std::vector<AccessibleElement> &after) {
    auto find = [](const std::vector<AccessibleElement> &in, const QString &key) {
        const auto it = std::find_if(in.begin(), in.end(),
                                     [&](const AccessibleElement &e) { return e.key == key; });
        return it == in.end() ? nullptr : &*it;
    };
    std::vector<AccessibleChange> changes;
    for (const AccessibleElement &old : before)
        if (!find(after, old.key))
            changes.push_back({old.key, QAccessible::ObjectDestroyed});
    for (const AccessibleElement &now : after) {
        const AccessibleElement *old = find(before, now.key);
        if (!old) {
            changes.push_back({now.key, QAccessible::ObjectCreated});
            continue;
        }
        if (old->name != now.name)
            changes.push_back({now.key, QAccessible::NameChanged});
        if (old->value != now.value && now.role == QAccessible::ProgressBar)
            changes.push_back({now.key, QAccessible::ValueChanged});
    }
    return changes;
}

std::vector<std::int32_t> FocusOrder(const RegionRects &regions) {
    std::vector<std::int32_t> order;
    // The swatches from left to right, as they are painted.
    for (const std::int32_t region : {srActionButton, srStatusLine, srExpand, srMinimize, srClose,
                                      srStyle27, srStyle25, srStyle15})
        if (!regions.of(region).isEmpty())
            order.push_back(region);
    return order;
}

std::int32_t FocusedRegion(const RegionRects &regions, std::int32_t lFocusRegion) {
    const std::vector<std::int32_t> order = FocusOrder(regions);
    if (order.empty())
        return srNone;
    return std::find(order.begin(), order.end(), lFocusRegion) != order.end() ? lFocusRegion
                                                                              : order.front();
}

} // namespace render
