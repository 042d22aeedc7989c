#pragma once

#include <cstdint>

#include <QString>

#include "render/Regions.h"

namespace render {

// What the window tells the picture about itself at each repaint.
struct ViewState {
    QString Tag = QStringLiteral("0"); // "0" compact view, anything else expanded
    QString strActionCaption;
    QString strPageTitle;
    QString strAgreement;
    std::int32_t lHoverRegion = srNone;
    std::int32_t lThemeStyle = 27;
    std::int32_t lThemeColor = 0xFFFFFF;
    std::int32_t lThemeLightColor = 0xFFFFFF;
    std::int32_t lThemeSpecialColor = 0xBFBFBF;
    QString fontName; // the window's font family
    std::int32_t lShadowMargin = 10;
    // A frame in the middle of the view animation: the card's size is between the views.
    bool inTransition = false;
    // Where the keyboard focus is (see FocusedRegion), and whether to show it: only once the
    // keyboard was used, so a mouse user never sees a focus frame.
    std::int32_t lFocusRegion = srNone;
    bool bShowFocus = false;
};

// One repaint request. lMouseStatus: 0 none, 1 hover, 2 pressed; lPercentValue <= 0 draws no
// bar; perColor is reserved (-1).
struct ReDrawRequest {
    QString strActionSource;
    std::int32_t lMouseStatus = 0;
    QString strInfo1;
    QString strInfo2;
    float lPercentValue = 0;
    std::int32_t perColor = -1;
};

} // namespace render
