#include "window/Interaction.h"

#include <algorithm>

#include "platform/Numbers.h"
#include "render/AccessibleElements.h"
#include "render/Regions.h"
#include "window/WindowState.h"
#include "window/Workflow.h"

namespace window {
using namespace render;

Interaction::Interaction(WindowState &state, WindowHost &host, Workflow &workflow)
    : m_state(state)
    , m_host(host)
    , m_workflow(workflow) {}

std::int32_t Interaction::GetHitRegion(std::int32_t x, std::int32_t y) const {
    const std::int32_t cx = platform::checkedSubtract(x, m_state.lShadowMargin);
    const std::int32_t cy = platform::checkedSubtract(y, m_state.lShadowMargin);
    const RegionRects &r = m_host.regions();
    for (const ScreenRegion region : {srClose, srMinimize, srExpand, srStyle15, srStyle25,
                                      srStyle27, srActionButton, srTitleBar, srStatusLine})
        if (r.of(region).contains(cx, cy))
            return region;
    return srNone;
}

std::int32_t Interaction::hitAt(float X, float Y) const {
    return GetHitRegion(platform::roundToInt32(X), platform::roundToInt32(Y));
}

void Interaction::redrawLast(std::int32_t lMouseStatus) {
    m_host.ReDraw(lMouseStatus, m_host.strLastInfo1(), m_host.strLastInfo2(),
                  m_host.sngLastPercent());
}

void Interaction::Form_MouseDown(float X, float Y) {
    const std::int32_t r = hitAt(X, Y);
    m_state.lPressedRegion = r;
    if (r == srNone || r == srTitleBar) {
        m_host.beginWindowDrag();
        return;
    }
    m_state.lHoverRegion = r;
    redrawLast(render::MousePressed);
}

void Interaction::Form_MouseMove(float X, float Y) {
    hoverOver(hitAt(X, Y));
}

void Interaction::Form_MouseLeave() {
    hoverOver(srNone);
}

void Interaction::hoverOver(std::int32_t region) {
    if (region == m_state.lHoverRegion)
        return;
    m_state.lHoverRegion = region;
    redrawLast(render::MouseHovering);
}

void Interaction::Form_MouseUp(float X, float Y) {
    const std::int32_t r = hitAt(X, Y);
    if (r != m_state.lPressedRegion)
        return;
    pressRegion(r);
}

void Interaction::pressRegion(std::int32_t r) {
    redrawLast(render::MouseAway);
    switch (r) {
    case srStatusLine:
        m_workflow.OpenAuthorPage();
        break;
    case srClose:
        m_host.Unload();
        break;
    case srMinimize:
        m_host.minimize();
        break;
    case srExpand:
        m_workflow.showExpanded(!m_state.isExpanded());
        break;
    case srStyle15:
    case srStyle25:
    case srStyle27:
        m_state.lThemeStyle = r == srStyle15   ? render::RoundedStyle
                              : r == srStyle25 ? render::DiagonalStyle
                                               : render::PlainStyle;
        redrawLast(render::MouseAway);
        break;
    case srActionButton:
        m_workflow.actionButtonClicked();
        break;
    default:
        break;
    }
}

std::int32_t Interaction::focusedRegion() const {
    return FocusedRegion(m_host.regions(), m_state.lFocusRegion);
}

void Interaction::moveFocus(bool forward) {
    const std::vector<std::int32_t> order = FocusOrder(m_host.regions());
    if (order.empty())
        return;
    const auto at = std::find(order.begin(), order.end(), m_state.lFocusRegion);
    const auto n = std::ptrdiff_t(order.size());
    // The first Tab lands on the first element, the first Shift+Tab on the last.
    std::ptrdiff_t i = at == order.end() ? (forward ? 0 : n - 1)
                                         : ((at - order.begin()) + (forward ? 1 : n - 1)) % n;
    m_state.lFocusRegion = order[std::size_t(i)];
}

void Interaction::Form_KeyDown(int KeyCode, bool shift) {
    m_keysDown.insert(KeyCode);
    switch (KeyCode) {
    case KeyTab:
        moveFocus(!shift);
        m_state.bFocusVisible = true;
        redrawLast(render::MouseAway);
        break;
    case KeyReturn:
    case KeySpace:
        if (const std::int32_t focused = focusedRegion(); focused != srNone) {
            m_state.lFocusRegion = focused;
            m_state.bFocusVisible = true;
            pressRegion(focused);
        }
        break;
    default:
        break;
    }
}

void Interaction::Form_KeyUp(int KeyCode) {
    if (m_keysDown.erase(KeyCode) == 0)
        return;
    if (KeyCode == KeyEscape)
        m_host.Unload();
}

} // namespace window
