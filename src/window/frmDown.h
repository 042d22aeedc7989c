#pragma once

#include <functional>
#include <memory>

#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "render/AccessibleElements.h"
#include "render/LayeredSurface.h"
#include "render/Regions.h"
#include "render/ScreenComposer.h"
#include "window/FormAccessibility.h"
#include "window/WindowState.h"

namespace platform {
class MessageBoxes;
class Shell;
} // namespace platform

namespace net {
class ReadService;
}

namespace download {
class ctlAsyncDownload;
}

namespace hook {
class ProgressHook;
}

namespace window {

class Interaction;
class Workflow;

// The updater's one window. Loading it is the whole start-up and unloading it ends the
// program. It owns the state and wires its events to small classes with one job each: the
// workflow, the pointer and key handling, the picture and the progress hook.
class frmDown final : public QWidget, public WindowHost, public AccessibleForm {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmDown)

public:
    struct Services {
        platform::MessageBoxes *messageBoxes = nullptr;
        platform::Shell *shell = nullptr;
        QString executablePath; // where the settings trailer is read from
        // Reads for the download control; null: the real network.
        net::ReadService *readService = nullptr;
    };

    explicit frmDown(const Services &services, QWidget *parent = nullptr);
    ~frmDown() override;

    // The start-up sequence. Each step runs under the ignore-errors rule; only a failed
    // graphics start stops it (and unloads the window).
    void Form_Load();

    bool graphicsStarted() const { return m_graphicsStarted; }
    // Start-up ended at a failed graphics start (the program then exits with an error).
    bool graphicsFailed() const { return m_graphicsFailed; }
    // What the user was told about the failed graphics start.
    const QString &graphicsFailureMessage() const { return m_graphicsFailureMessage; }
    bool isUnloaded() const { return m_unloaded; }
    const UpdaterSettings &settings() const { return m_settings; }
    const WindowState &state() const { return m_state; }
    QString Tag() const { return m_state.Tag; }
    const render::LayeredSurface &surface() const { return m_surface; }
    const render::Rect &rcCanvas() const { return m_rcCanvas; }
    // Called at every present, before the picture reaches the screen (tests count frames).
    void setPresentObserver(std::function<void()> observer) {
        m_presentObserver = std::move(observer);
    }
    // Tests reach the workflow through this to let a check's outcome arrive mid-animation.
    Workflow &workflow() { return *m_workflow; }

    // WindowHost
    void ReDraw(std::int32_t lMouseStatus, const QString &strInfo1, const QString &strInfo2,
                float lPercentValue) override;
    QString strLastInfo1() const override { return m_composer.strLastInfo1(); }
    QString strLastInfo2() const override { return m_composer.strLastInfo2(); }
    float sngLastPercent() const override { return m_composer.sngLastPercent(); }
    const render::RegionRects &regions() const override { return m_composer.regions(); }
    void switchViewSize() override;
    void Unload() override;
    void minimize() override;
    void beginWindowDrag() override;
    void processPendingEvents() override;

    // AccessibleForm
    QWidget *formWidget() override { return this; }
    QString accessibleTitle() const override { return m_state.strTitleText; }
    const std::vector<render::AccessibleElement> &accessibleElements() const override {
        return m_accessibleElements;
    }
    QRect screenRect(const render::Rect &card) const override;
    std::int32_t focusedRegion() const override;
    std::int32_t pressedRegion() const override {
        return m_lastMouseStatus == render::MousePressed ? m_state.lHoverRegion
                                                         : std::int32_t(render::srNone);
    }
    // A message box waits for its answer, or the view animation runs (the fade-in does not
    // keep anything from being pressed).
    bool busy() const override { return m_openBoxes > 0 || (m_animating && !m_fading); }
    void pressRegion(std::int32_t region) override;
    // The window's interface for assistive technology (Qt's accessibility factory asks).
    QAccessibleInterface *createAccessibleInterface() {
        return m_accessibility->createWindowInterface();
    }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    // What the window manager made of a resize request.
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;
    // Tab moves between the painted elements, not between widgets.
    bool focusNextPrevChild(bool) override { return false; }
    void closeEvent(QCloseEvent *event) override;

private:
    class ResizeAdapter;
    class ControlEvents;
    class CountedBoxes;

    bool StartGraphics();
    void StopGraphics();
    void Form_Unload();
    // The start-up fade from transparent to opaque.
    void fadeIn();
    void CreateLayeredSurface(bool bTopMost, std::uint8_t bAlpha);
    void PresentSurface();
    void setCanvasFromClientSize();
    void centreOnScreen();
    QRect availableScreenArea() const;
    QSize viewSize() const;
    // The size of the card drawn: the window's, or on native Wayland the part of its room
    // for both views that the current view (or animation step) fills.
    QSize cardSize() const { return m_fixedWindow ? m_cardSize : size(); }
    void setCardSize(const QSize &card);
    // From now on the window keeps room for both views and draws the card inside it.
    void fixWindow();
    bool sizeMatchesTag() const;
    // After an animation: when view switches were asked for while it ran, animates until
    // the window has the size of the view `Tag` names. Whether it animated.
    bool applyPendingViewSwitch();
    // After a view switch: the hover follows the pointer's place on the new layout, and
    // the size the window manager reports is checked against the view's.
    void viewSwitchEnded();
    // A window manager may answer the animation's requests late or merge them: until the
    // size it reports is the view's, the view's geometry is asked for again (a bounded
    // number of times), and the picture follows the size the window really has.
    void settleViewSize();
    void refreshHover();
    render::ViewState viewState() const;
    void describeFrame(const render::ReDrawRequest &request, const render::ViewState &view);

    Services m_services;
    UpdaterSettings m_settings;
    WindowState m_state;
    QString m_fontFamily;
    render::LayeredSurface m_surface;
    render::ScreenComposer m_composer;
    render::Rect m_rcCanvas;
    std::unique_ptr<CountedBoxes> m_boxes; // null without message boxes
    int m_openBoxes = 0;
    std::unique_ptr<net::ReadService> m_ownReadService;
    std::unique_ptr<download::ctlAsyncDownload> ctlAsyncDownload1;
    std::unique_ptr<Workflow> m_workflow;
    std::unique_ptr<ControlEvents> m_controlEvents;
    std::unique_ptr<Interaction> m_interaction;
    std::unique_ptr<hook::ProgressHook> m_hook;
    std::unique_ptr<FormAccessibility> m_accessibility;
    std::vector<render::AccessibleElement> m_accessibleElements; // of the frame on screen
    std::int32_t m_lastMouseStatus = 0;
    std::int32_t m_accessibleFocus = render::srNone;
    // A drag the window does itself where the window manager does not move windows.
    std::function<void()> m_presentObserver;
    bool m_manualDrag = false;
    QPoint m_dragOffset;
    bool m_graphicsStarted = false;
    bool m_graphicsFailed = false;
    QString m_graphicsFailureMessage;
    bool m_unloaded = false;
    bool m_animating = false; // the fade-in or a view switch runs
    bool m_fading = false;
    bool m_inTransition = false; // drawing a frame between the two view sizes
    bool m_viewSwitchPending = false;
    QRect m_requestedGeometry;  // the last geometry a view switch asked for
    bool m_fixedWindow = false; // see fixWindow()
    QSize m_cardSize;           // while m_fixedWindow
    QTimer m_settleTimer;
    int m_settleRequests = 0; // since the last view switch
};

} // namespace window
