#pragma once

#include <cstdint>

#include <QString>

// The clickable regions of the card and where they lie.
namespace render {

enum ScreenRegion : std::int32_t {
    srNone = -1,
    srTitleBar = 0,
    srStatusLine = 2,
    srClose = 3,
    srMinimize = 4,
    srExpand = 5,
    srStyle15 = 6,
    srStyle25 = 7,
    srStyle27 = 8,
    srActionButton = 11,
};

// The theme styles the card knows by name; any other value draws like ShadedStyle.
enum ThemeStyle : std::int32_t {
    RoundedStyle = 15,  // a rounded panel in the main colour
    DiagonalStyle = 25, // a diagonal gradient of the light colour, without drop shadow
    DiagonalStyleToo = 26,
    PlainStyle = 27, // the light colour, flat
    ShadedStyle = 0, // the light colour a little darker, flat
};
inline bool isRoundedStyle(std::int32_t style) {
    return style == RoundedStyle;
}
inline bool isDiagonalStyle(std::int32_t style) {
    return style == DiagonalStyle || style == DiagonalStyleToo;
}
// Whether the card casts a drop shadow into the margin around it.
inline bool castsShadow(std::int32_t style) {
    return !isDiagonalStyle(style);
}

// A rectangle as (left, top, right, bottom) in canvas pixels. The right and bottom edges are
// outside it: a point is inside when left <= x < right and top <= y < bottom.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool isEmpty() const { return right <= left || bottom <= top; }
    bool contains(std::int32_t x, std::int32_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
    std::int32_t width() const { return right - left; }
    std::int32_t height() const { return bottom - top; }
    friend bool operator==(const Rect &, const Rect &) = default;
};

// The region rectangles of one frame; an empty rectangle is neither drawn nor clickable.
struct RegionRects {
    Rect rcActionButton;
    Rect rcTitleBar;
    Rect rcCloseButton;
    Rect rcMinimizeButton;
    Rect rcExpandButton;
    Rect rcStatusLine;
    Rect rcStyleSwatch15;
    Rect rcStyleSwatch25;
    Rect rcStyleSwatch27;

    // The rectangle of a region; an empty one for srNone and for codes that are no region.
    Rect of(std::int32_t region) const;
    friend bool operator==(const RegionRects &, const RegionRects &) = default;
};

// What decides which regions exist in a frame.
struct LayoutInput {
    std::int32_t W = 0; // card width and height
    std::int32_t H = 0;
    std::int32_t lThemeStyle = PlainStyle;
    bool hasTitle = false;        // the title text, trimmed, is not empty
    bool hasStatus = false;       // the displayed status text, trimmed, is not empty
    bool hasActionButton = false; // the action caption is not empty
};

// Lays the regions out for a card of W x H. Throws platform::OverflowError when the
// arithmetic leaves 32 bits.
RegionRects LayoutRegions(const LayoutInput &in);

// The status text shown for `strInfo2` while the pointer is on `lHoverRegion`: the
// title-bar buttons and the swatches show what they do instead.
QString DisplayedStatusText(const QString &strInfo2, std::int32_t lHoverRegion);

} // namespace render
