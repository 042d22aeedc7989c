#include "render/Animations.h"

#include "platform/Numbers.h"

namespace render {

void FadeWindow(const FadeSteps &steps, const std::function<void(std::uint8_t)> &present,
                const std::function<void()> &yield, const std::function<bool()> &closed) {
    const auto [iDirection, iStep, iStartUp, iStartDown, iMaxAlpha, iMinAlpha] = steps;
    std::int32_t current = platform::toByte(iDirection == 1 ? iStartUp : iStartDown);
    const std::int16_t step = platform::checkedMultiply16(iDirection, iStep);
    while (true) {
        const std::int32_t next = current + step;
        if (next > iMaxAlpha)
            current = iMaxAlpha;
        else if (next < iMinAlpha)
            current = iMinAlpha;
        else
            current = next;
        present(platform::toByte(current));
        yield();
        if (closed && closed())
            return;
        if (current == iMaxAlpha || current == iMinAlpha || step == 0)
            return;
    }
}

void ResizeFormSize(ResizableWindow &form, std::int32_t lWidth1, std::int32_t lHeight1,
                    std::int32_t lWidth2, std::int32_t lHeight2) {
    form.setInputEnabled(false);
    struct EnableAgain {
        ResizableWindow &form;
        ~EnableAgain() { form.setInputEnabled(true); }
    } enableAgain{form};

    const std::int32_t dx = platform::roundToInt32((double(lWidth2) - lWidth1) / 10.0);
    const std::int32_t dy = platform::roundToInt32((double(lHeight2) - lHeight1) / 10.0);
    const TwipsGeometry g = form.geometry();
    if (g.width != float(lWidth1) && g.width != float(lWidth2) && g.height != float(lHeight1) &&
        g.height != float(lHeight2))
        form.moveTo({g.left, g.top, float(lWidth1), float(lHeight1)});

    // Every step is counted from where the animation started, not from the window's
    // geometry of the moment: a window manager that answers a request late (or merges
    // several) must not carry its stale answer into the next step.
    const TwipsGeometry start = form.geometry();
    const float s = start.height == float(lHeight1) ? -1.0f : 1.0f;
    for (int i = 1; i <= 10; ++i) {
        const float k = s * float(i);
        form.moveTo({start.left + k * float(dx) / 2, start.top + k * float(dy) / 2,
                     start.width - k * float(dx), start.height - k * float(dy)});
        form.rebuildSurfaceAndRedraw();
        form.yield();
        if (form.closed())
            return;
    }
    form.redraw();
}

QRect clampedInto(const QRect &window, const QRect &area) {
    QRect r = window;
    if (r.right() > area.right())
        r.moveRight(area.right());
    if (r.bottom() > area.bottom())
        r.moveBottom(area.bottom());
    if (r.left() < area.left())
        r.moveLeft(area.left());
    if (r.top() < area.top())
        r.moveTop(area.top());
    return r;
}

QRect roomForBothViews(const QRect &current, const QSize &compact, const QSize &expanded) {
    return {current.topLeft(), compact.expandedTo(expanded)};
}

} // namespace render
