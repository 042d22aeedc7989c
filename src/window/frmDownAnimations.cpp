#include "window/frmDown.h"

#include <QWindow>

#include "platform/Numbers.h"
#include "platform/Twips.h"
#include "render/Animations.h"

// The window's animations: the fade-in at start-up and the switch between the compact and
// the expanded view.
namespace window {
namespace {

// Marks an animation as running for as long as the scope lasts.
struct AnimationScope {
    explicit AnimationScope(bool &running)
        : m_running(running) {
        m_running = true;
    }
    ~AnimationScope() { m_running = false; }
    Q_DISABLE_COPY_MOVE(AnimationScope)
    bool &m_running;
};

// How many more animations may follow a view switch to reach the view `Tag` names. Two
// always suffice (a window at neither size first becomes the compact one); the bound only
// keeps a window manager that refuses both sizes from keeping us animating.
constexpr int MaxFollowUpSwitches = 2;

// How often the view's size is asked for again after a view switch before the size the
// window manager insists on is taken, and how long its answers are waited for.
constexpr int MaxSettleRequests = 5;
constexpr int SettleCheckDelayMs = 250;
constexpr int SettleResizeDelayMs = 30;

} // namespace

using platform::twipsToPixels;

// The resize animation's view of the window: geometry in twips, a fresh opaque surface and
// a repaint after every step.
class frmDown::ResizeAdapter final : public render::ResizableWindow {
public:
    explicit ResizeAdapter(frmDown &form)
        : m_form(form) {}

    render::TwipsGeometry geometry() const override {
        const QRect g(m_form.pos(), m_form.cardSize());
        return {float(platform::pixelsToTwips(g.x())), float(platform::pixelsToTwips(g.y())),
                float(platform::pixelsToTwips(g.width())),
                float(platform::pixelsToTwips(g.height()))};
    }
    // Growing keeps the centre, which near a screen edge would push the title strip and
    // its buttons out of reach; every step stays inside the screen's available area.
    void moveTo(const render::TwipsGeometry &g) override {
        auto pixels = [](float twips) {
            return platform::roundToInt32(double(twips) / platform::TwipsPerPixel);
        };
        const QRect wanted(pixels(g.left), pixels(g.top), pixels(g.width), pixels(g.height));
        if (m_form.m_fixedWindow) {
            m_form.setCardSize(wanted.size());
            return;
        }
        m_form.m_requestedGeometry = render::clampedInto(wanted, m_form.availableScreenArea());
        m_form.setGeometry(m_form.m_requestedGeometry);
    }
    void setInputEnabled(bool enabled) override { m_form.setEnabled(enabled); }
    void rebuildSurfaceAndRedraw() override {
        m_form.CreateLayeredSurface(true, 255);
        m_form.setCanvasFromClientSize();
        m_form.m_inTransition = true;
        redraw();
        m_form.m_inTransition = false;
    }
    void redraw() override {
        m_form.ReDraw(render::MouseAway, m_form.strLastInfo1(), m_form.strLastInfo2(),
                      m_form.sngLastPercent());
    }
    void yield() override { m_form.processPendingEvents(); }
    bool closed() const override { return m_form.m_unloaded; }

private:
    frmDown &m_form;
};

void frmDown::fadeIn() {
    const AnimationScope animating(m_animating);
    const AnimationScope fading(m_fading);
    render::FadeWindow(
        {.iDirection = 1,
         .iStep = 1,
         .iStartUp = 0,
         .iStartDown = 255,
         .iMaxAlpha = 255,
         .iMinAlpha = 0},
        [this](std::uint8_t alpha) {
            m_surface.setGlobalAlpha(alpha);
            PresentSurface();
        },
        [this] { processPendingEvents(); }, [this] { return m_unloaded; });
}

// The animations yield to the event loop, where a finished check or a click may ask for
// another view switch. It never runs inside the running one (the two would step the same
// window towards different sizes): it waits, and when the running animation ends the
// window is brought to the size of the view `Tag` names then.
void frmDown::switchViewSize() {
    if (m_animating) {
        m_viewSwitchPending = true;
        return;
    }
    {
        const AnimationScope switching(m_animating);
        ResizeAdapter adapter(*this);
        render::ResizeFormSize(adapter, lCompactWidth, lCompactHeight, lExpandedWidth,
                               lExpandedHeight);
    }
    applyPendingViewSwitch();
    viewSwitchEnded();
}

QSize frmDown::viewSize() const {
    const bool expanded = m_state.isExpanded();
    return {twipsToPixels(expanded ? lExpandedWidth : lCompactWidth),
            twipsToPixels(expanded ? lExpandedHeight : lCompactHeight)};
}

bool frmDown::sizeMatchesTag() const {
    return cardSize() == viewSize();
}

void frmDown::setCardSize(const QSize &card) {
    m_cardSize = card;
    // Pointer input reaches the window only over the card; the rest is transparent room. The
    // window's mask, not the widget's: that one would also keep the room from being painted
    // transparent again where a larger card was.
    if (QWindow *window = windowHandle())
        window->setMask(QRegion(QRect(QPoint(), card)));
}

void frmDown::fixWindow() {
    const QSize card = cardSize();
    m_requestedGeometry = render::roomForBothViews(
        geometry(), {twipsToPixels(lCompactWidth), twipsToPixels(lCompactHeight)},
        {twipsToPixels(lExpandedWidth), twipsToPixels(lExpandedHeight)});
    m_fixedWindow = true;
    setCardSize(card);
    setGeometry(m_requestedGeometry);
}

bool frmDown::applyPendingViewSwitch() {
    if (!m_viewSwitchPending || m_animating)
        return false;
    m_viewSwitchPending = false;
    const AnimationScope switching(m_animating);
    ResizeAdapter adapter(*this);
    for (int run = 0; run < MaxFollowUpSwitches && !m_unloaded && !sizeMatchesTag(); ++run)
        render::ResizeFormSize(adapter, lCompactWidth, lCompactHeight, lExpandedWidth,
                               lExpandedHeight);
    return true;
}

void frmDown::viewSwitchEnded() {
    if (m_unloaded)
        return;
    m_settleRequests = 0;
    settleViewSize();
    // Once more when the window manager had time to answer the last request.
    m_settleTimer.start(SettleCheckDelayMs);
    refreshHover();
}

void frmDown::resizeEvent(QResizeEvent *) {
    // Answers to the animation's own requests are its business; a late one waits a moment
    // for any that follow it.
    if (!m_animating && !m_unloaded && m_graphicsStarted)
        m_settleTimer.start(SettleResizeDelayMs);
}

void frmDown::settleViewSize() {
    if (m_animating || m_unloaded || !m_surface.exists() || isMinimized())
        return;
    if (m_fixedWindow) {
        if (!sizeMatchesTag())
            setCardSize(viewSize());
    } else if (!sizeMatchesTag() && m_settleRequests < MaxSettleRequests) {
        ++m_settleRequests;
        QRect wanted = m_requestedGeometry.isValid() ? m_requestedGeometry : geometry();
        wanted.setSize(viewSize());
        setGeometry(render::clampedInto(wanted, availableScreenArea()));
    }
    // The picture is drawn for the size the window has, whatever the window manager chose.
    if (m_surface.size() != cardSize()) {
        CreateLayeredSurface(true, 255);
        setCanvasFromClientSize();
        ReDraw(render::MouseAway, strLastInfo1(), strLastInfo2(), sngLastPercent());
    }
}

} // namespace window
