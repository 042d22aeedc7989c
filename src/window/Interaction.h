#pragma once

#include <cstdint>
#include <set>

namespace window {

// Key codes: Escape ends the program in every state; Tab moves the focus, Return and Space
// press the focused element.
inline constexpr int KeyTab = 9;
inline constexpr int KeyReturn = 13;
inline constexpr int KeyEscape = 27;
inline constexpr int KeySpace = 32;

class WindowHost;
class Workflow;
struct WindowState;

// Turns the window's pointer and key events into the behaviour of the painted controls: a
// click counts when the button goes down and comes up over the same region; a press on the
// title bar or on no region drags the window. Every mouse button acts alike.
class Interaction {
public:
    Interaction(WindowState &state, WindowHost &host, Workflow &workflow);

    // The region under the client point (x, y): the card starts lShadowMargin pixels in.
    // The small buttons are tested before the bars they lie in.
    std::int32_t GetHitRegion(std::int32_t x, std::int32_t y) const;

    // X and Y are client coordinates in pixels.
    void Form_MouseDown(float X, float Y);
    void Form_MouseMove(float X, float Y);
    void Form_MouseUp(float X, float Y);
    // The pointer left the window: as a move to a spot with no region.
    void Form_MouseLeave();
    // Tab (Shift+Tab backwards) moves the focus through the focusable elements in visual
    // order; Return and Space press the focused one as a click does. These act on the press.
    // Key releases act only for presses this window saw: a key pressed in another window
    // (Escape closing a message box) must not act when its release lands here.
    void Form_KeyDown(int KeyCode, bool shift = false);
    void Form_KeyUp(int KeyCode);

    // A completed click on `region`, whatever made it: the pointer, a key or assistive
    // technology.
    void pressRegion(std::int32_t region);
    // The element that has the keyboard focus in the frame on screen.
    std::int32_t focusedRegion() const;

private:
    std::int32_t hitAt(float X, float Y) const;
    void redrawLast(std::int32_t lMouseStatus);
    void hoverOver(std::int32_t region);
    void moveFocus(bool forward);

    WindowState &m_state;
    WindowHost &m_host;
    Workflow &m_workflow;
    std::set<int> m_keysDown;
};

} // namespace window
