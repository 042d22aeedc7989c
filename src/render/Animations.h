#pragma once

#include <cstdint>
#include <functional>

#include <QRect>

// The window's two animations: the fade of its global alpha, and the ten-step switch
// between the compact and the expanded size that keeps the window's centre in place.
namespace render {

// The start, step and limits of a fade; the defaults are the fade-in at start-up.
struct FadeSteps {
    std::int16_t iDirection = 1; // 1 up from iStartUp, anything else down from iStartDown
    std::int16_t iStep = 1;
    std::int16_t iStartUp = 0;
    std::int16_t iStartDown = 255;
    std::int16_t iMaxAlpha = 255;
    std::int16_t iMinAlpha = 0;
};

// Steps the global alpha from the start value (iStartUp going up, iStartDown going down)
// by iDirection * iStep, clamped to [iMinAlpha, iMaxAlpha], presenting each value and then
// yielding to the event loop, until a limit is reached. The start value itself is never
// presented. A step of 0 presents the start value once instead of looping forever. The fade
// also ends when `closed` (asked after every yield) says the window went away meanwhile.
// Throws platform::OverflowError for a value that is not a byte or a step that overflows.
void FadeWindow(const FadeSteps &steps, const std::function<void(std::uint8_t)> &present,
                const std::function<void()> &yield, const std::function<bool()> &closed = {});

// Window position and size in twips.
struct TwipsGeometry {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    friend bool operator==(const TwipsGeometry &, const TwipsGeometry &) = default;
};

// What the resize animation needs of the window.
class ResizableWindow {
public:
    virtual ~ResizableWindow() = default;
    virtual TwipsGeometry geometry() const = 0;
    virtual void moveTo(const TwipsGeometry &geometry) = 0;
    virtual void setInputEnabled(bool enabled) = 0;
    // After each step: a new opaque, topmost surface for the new size, the canvas
    // rectangle, a repaint with the remembered values, then one pass of the event loop.
    virtual void rebuildSurfaceAndRedraw() = 0;
    virtual void redraw() = 0;
    virtual void yield() = 0;
    // The window was unloaded while the animation yielded: it stops there.
    virtual bool closed() const { return false; }
};

// Animates between size 1 and size 2 (twips) in ten steps. The direction follows the
// window's current height: at height 1 it grows towards size 2, otherwise it shrinks. A
// window matching neither size is first set to size 1. Each step is placed relative to the
// geometry the animation started from. Input is disabled meanwhile and
// enabled again even when a step fails. A window closed during a step is left alone.
void ResizeFormSize(ResizableWindow &form, std::int32_t lWidth1, std::int32_t lHeight1,
                    std::int32_t lWidth2, std::int32_t lHeight2);

// `window` moved the least distance that puts it inside `area`; where it is larger than the
// area its top-left corner stays inside, so the title strip remains reachable.
QRect clampedInto(const QRect &window, const QRect &area);

// The window of a native Wayland client, which can neither move itself nor learn where it
// is: it takes room for both views at once, where it is (`current`), and draws the card of
// the current view inside it from its top-left corner. The compositor places the whole room
// when it first shows the window, and a view switch never changes the window.
QRect roomForBothViews(const QRect &current, const QSize &compact, const QSize &expanded);

} // namespace render
