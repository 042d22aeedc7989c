#pragma once

#include <cstdint>
#include <vector>

#include <QAccessible>
#include <QString>

#include "render/Regions.h"
#include "render/ViewState.h"

// What assistive technology is told about one frame: the painted elements as a screen
// reader sees them, from the same layout the picture uses.
namespace render {

struct AccessibleElement {
    QString key; // stays the same for the same element from frame to frame
    QAccessible::Role role = QAccessible::StaticText;
    QString name;
    QString value;
    Rect rect;                    // card coordinates
    std::int32_t region = srNone; // the region a press acts on; srNone: not pressable
    bool focusable = false;
    QString description{}; // read after the name (the action button: the version found)
    friend bool operator==(const AccessibleElement &, const AccessibleElement &) = default;
};

// The elements of a frame in reading order: the title, the content texts, the action
// button, the status line (a link while it shows `authorLinkText`), the progress while
// one is shown, the title-bar buttons and the style swatches. `regions` is the frame's
// layout; W and H the card's size.
std::vector<AccessibleElement> DescribeFrame(const ReDrawRequest &request, const ViewState &view,
                                             const RegionRects &regions, std::int32_t W,
                                             std::int32_t H, const QString &authorLinkText);

// What a reader must hear of when one frame follows another: an element that went or came,
// a new name, a new value of the progress. The status line is a link only while it shows
// the author link (key "link", else "status"); the action button is another element for
// each caption ("action:CAPTION"); the swatches are named by their place.
struct AccessibleChange {
    QString key;
    QAccessible::Event event;
    friend bool operator==(const AccessibleChange &, const AccessibleChange &) = default;
};
std::vector<AccessibleChange> ChangesBetween(const std::vector<AccessibleElement> &before,
                                             const std::vector<AccessibleElement> &after);

// The keyboard's focus order: the action button, the status-line link, expand, minimise,
// close, then the swatches; only regions laid out in this frame.
std::vector<std::int32_t> FocusOrder(const RegionRects &regions);

// The element that has the keyboard focus: `lFocusRegion` while it is laid out, else the
// first of the focus order (the action button when there is one); srNone when none is.
std::int32_t FocusedRegion(const RegionRects &regions, std::int32_t lFocusRegion);

} // namespace render
