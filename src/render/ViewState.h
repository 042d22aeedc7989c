#pragma once

#include <cstdint>

#include <QString>

#include "render/Regions.h"

namespace render {

// The band around the card that its drop shadow falls into, in logical pixels on each side.
inline constexpr std::int32_t ShadowMargin = 10;

// Whether a view flag (`Tag`) names the expanded view: "1"; "0" is the compact one.
inline bool isExpandedTag(const QString &Tag) {
    return Tag == u"1";
}

// What the window tells the picture about itself at each repaint.
struct ViewState {
    QString Tag = QStringLiteral("0"); // "0" compact view, "1" expanded view
    bool isExpanded() const { return isExpandedTag(Tag); }
    QString strActionCaption;
    QString strPageTitle;
    QString strAgreement;
    std::int32_t lHoverRegion = srNone;
    std::int32_t lThemeStyle = PlainStyle;
    std::int32_t lThemeColor = 0xFFFFFF;
    std::int32_t lThemeLightColor = 0xFFFFFF;
    std::int32_t lThemeSpecialColor = 0xBFBFBF;
    QString fontName; // the window's font family
    std::int32_t lShadowMargin = ShadowMargin;
    // A frame in the middle of the view animation: the card's size is between the views.
    bool inTransition = false;
    // Where the keyboard focus is (see FocusedRegion), and whether to show it: only once the
    // keyboard was used, so a mouse user never sees a focus frame.
    std::int32_t lFocusRegion = srNone;
    bool bShowFocus = false;
};

// What the pointer does on the hovered region.
enum MouseStatus : std::int32_t {
    MouseAway = 0,
    MouseHovering = 1,
    MousePressed = 2,
};

// What one repaint draws. lMouseStatus is a MouseStatus; lPercentValue <= 0 draws no bar.
struct ReDrawRequest {
    std::int32_t lMouseStatus = MouseAway;
    QString strInfo1;
    QString strInfo2;
    float lPercentValue = 0;
};

} // namespace render
