#include "window/frmDown.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "download/ctlAsyncDownload.h"
#include "drawing/WindowIcon.h"
#include "hook/ProgressHook.h"
#include "net/NetworkReadService.h"
#include "net/PartialDownloads.h"
#include "platform/BuildConfig.h"
#include "platform/Events.h"
#include "platform/MessageBoxes.h"
#include "platform/Numbers.h"
#include "platform/Twips.h"
#include "raster/GraphicsText.h"
#include "window/Interaction.h"
#include "window/Workflow.h"
#include "window/frmDownServices.h"

namespace window {
namespace {

// The form's key codes of the keys it handles; any other key keeps Qt's code.
int formKeyCode(const QKeyEvent &event) {
    switch (event.key()) {
    case Qt::Key_Escape:
        return KeyEscape;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return KeyTab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return KeyReturn;
    case Qt::Key_Space:
        return KeySpace;
    default:
        return event.key();
    }
}

// Qt asks this for the interface of every object assistive technology meets.
QAccessibleInterface *accessibleFactory(const QString &, QObject *object) {
    if (auto *form = qobject_cast<frmDown *>(object))
        return form->createAccessibleInterface();
    return nullptr;
}

} // namespace

using platform::ignoringErrors;
using platform::twipsToPixels;

frmDown::frmDown(const Services &services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_services(services)
    , m_accessibility(std::make_unique<FormAccessibility>(*this)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    // The window paints every pixel itself, transparency included.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    if (services.messageBoxes) {
        m_boxes = std::make_unique<CountedBoxes>(*this, *services.messageBoxes);
        m_services.messageBoxes = m_boxes.get();
    }
    m_settleTimer.setSingleShot(true);
    connect(&m_settleTimer, &QTimer::timeout, this,
            [this] { ignoringErrors([&] { settleViewSize(); }); });

    net::ReadService *reads = services.readService;
    if (!reads) {
        m_ownReadService = std::make_unique<net::NetworkReadService>();
        reads = m_ownReadService.get();
    }
    ctlAsyncDownload1 = std::make_unique<download::ctlAsyncDownload>(*reads);
    m_workflow = std::make_unique<Workflow>(
        m_state, *this,
        Workflow::Services{.control = ctlAsyncDownload1.get(),
                           .messageBoxes = m_services.messageBoxes,
                           .shell = services.shell,
                           .programFolder = QFileInfo(services.executablePath).absolutePath(),
                           .authorPage = QString::fromUtf8(platform::build::AuthorPage)});
    m_controlEvents = std::make_unique<ControlEvents>(*this, *m_workflow);
    ctlAsyncDownload1->setEventSink(m_controlEvents.get());
    m_interaction = std::make_unique<Interaction>(m_state, *this, *m_workflow);
    m_hook = std::make_unique<hook::ProgressHook>(hook::HookWindow{
        .ReDraw = [this](qint32 status, const QString &info1, const QString &info2,
                         float percent) { ReDraw(status, info1, info2, percent); },
        .strLastInfo1 = [this] { return strLastInfo1(); },
        .strAuthorLinkText = [this] { return m_state.strAuthorLinkText; },
        .setLastPercent = [this](float percent) { m_composer.setLastPercent(percent); },
    });
}

frmDown::~frmDown() {
    Unload();
    ctlAsyncDownload1->setEventSink(nullptr);
}

void frmDown::Form_Load() {
    ignoringErrors([&] {
        createWinId();
        drawing::SetWindowIcon(windowHandle(), QStringLiteral("APPICON"), false);
    });
    if (!StartGraphics()) {
        m_graphicsFailed = true;
        m_graphicsFailureMessage = GraphicsFailureText;
        // Where no font shows Chinese the box could not show that text either.
        if (QGuiApplication::primaryScreen() && m_fontFamily.isEmpty())
            m_graphicsFailureMessage += QStringLiteral("\n\n") + GraphicsFailureNoFontDetail;
        if (m_services.messageBoxes)
            m_services.messageBoxes->show(m_graphicsFailureMessage, platform::MessageOkOnly, {});
        Unload();
        return;
    }
    ignoringErrors([&] { m_settings = readUpdaterSettings(m_services.executablePath); });
    // What earlier runs kept of downloads and can no longer be of use.
    ignoringErrors([&] {
        net::removeStalePartialDownloads(QFileInfo(m_services.executablePath).absolutePath());
    });
    static_cast<StartupValues &>(m_state) = deriveStartupValues(m_settings, builtInValues());
    ignoringErrors([&] { m_hook->InstallProgressHook(this); });
    ignoringErrors([&] { setWindowTitle(WindowCaption); });
    ignoringErrors([&] {
        resize(twipsToPixels(lCompactWidth), twipsToPixels(lCompactHeight));
        m_state.Tag = QStringLiteral("0");
    });
    ignoringErrors([&] { centreOnScreen(); });
    // A native Wayland client cannot place itself: the compositor places the room for both
    // views, so that neither runs off its screen.
    ignoringErrors([&] {
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            fixWindow();
    });
    ignoringErrors([&] { CreateLayeredSurface(true, 0); });
    ignoringErrors([&] { setCanvasFromClientSize(); });
    ignoringErrors([&] {
        ReDraw(render::MouseAway, m_state.strTitleText, m_state.strAuthorLinkText,
               sngLastPercent());
    });
    ignoringErrors([&] {
        show();
        processPendingEvents();
    });
    ignoringErrors([&] { fadeIn(); });
    // A view switch asked for during the fade-in waited for it.
    ignoringErrors([&] {
        if (applyPendingViewSwitch())
            viewSwitchEnded();
    });
}

bool frmDown::StartGraphics() {
    // Drawing needs a running GUI platform and a family that shows Chinese text.
    if (!QGuiApplication::primaryScreen())
        return false;
    m_fontFamily = raster::programFontFamily();
    m_graphicsStarted = !m_fontFamily.isEmpty();
    return m_graphicsStarted;
}

void frmDown::StopGraphics() {
    m_surface.release();
    m_graphicsStarted = false;
}

void frmDown::CreateLayeredSurface(bool bTopMost, std::uint8_t bAlpha) {
    m_surface.create(cardSize(), devicePixelRatioF(), bAlpha);
    if (bTopMost && isVisible())
        raise();
}

void frmDown::PresentSurface() {
    if (m_presentObserver)
        m_presentObserver();
    // The whole picture at once, now: repaint() paints before it returns.
    if (isVisible())
        repaint();
}

void frmDown::setCanvasFromClientSize() {
    const std::int32_t margin = m_state.lShadowMargin;
    const QSize card = cardSize();
    m_rcCanvas = {0, 0, platform::checkedSubtract(card.width(), 2 * margin),
                  platform::checkedSubtract(card.height(), 2 * margin)};
}

QRect frmDown::availableScreenArea() const {
    const QScreen *where = QGuiApplication::screenAt(geometry().center());
    if (!where)
        where = screen();
    return where ? where->availableGeometry() : geometry();
}

// On the screen the user is looking at: the one under the pointer.
void frmDown::centreOnScreen() {
    const QScreen *where = QGuiApplication::screenAt(QCursor::pos());
    if (!where)
        where = QGuiApplication::primaryScreen();
    const QRect area = where->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

render::ViewState frmDown::viewState() const {
    render::ViewState v;
    v.Tag = m_state.Tag;
    v.strActionCaption = m_state.strActionCaption;
    v.strPageTitle = m_state.strPageTitle;
    v.strAgreement = m_state.strAgreement;
    v.lHoverRegion = m_state.lHoverRegion;
    v.lThemeStyle = m_state.lThemeStyle;
    v.lThemeColor = m_state.lThemeColor;
    v.lThemeLightColor = m_state.lThemeLightColor;
    v.lThemeSpecialColor = m_state.lThemeSpecialColor;
    v.fontName = m_fontFamily;
    v.lShadowMargin = m_state.lShadowMargin;
    v.inTransition = m_inTransition;
    v.lFocusRegion = m_state.lFocusRegion;
    v.bShowFocus = m_state.bFocusVisible;
    return v;
}

void frmDown::ReDraw(std::int32_t lMouseStatus, const QString &strInfo1, const QString &strInfo2,
                     float lPercentValue) {
    if (m_unloaded)
        return;
    const bool minimised = isMinimized();
    const render::ReDrawRequest request{lMouseStatus, strInfo1, strInfo2, lPercentValue};
    const render::ViewState view = viewState();
    m_composer.ReDraw(request, view, m_rcCanvas, minimised, m_surface);
    if (minimised)
        return;
    m_lastMouseStatus = lMouseStatus;
    describeFrame(request, view);
    PresentSurface();
}

// What assistive technology is told mirrors the frame just drawn, from the same layout.
void frmDown::describeFrame(const render::ReDrawRequest &request, const render::ViewState &view) {
    const std::int32_t focusBefore = m_accessibleFocus;
    std::vector<render::AccessibleElement> before = std::move(m_accessibleElements);
    m_accessibleElements =
        render::DescribeFrame(request, view, m_composer.regions(), m_rcCanvas.width(),
                              m_rcCanvas.height(), m_state.strAuthorLinkText);
    m_accessibleFocus = focusedRegion();
    m_accessibility->frameChanged(before, focusBefore);
}

QRect frmDown::screenRect(const render::Rect &card) const {
    const std::int32_t margin = m_state.lShadowMargin;
    return QRect(mapToGlobal(QPoint(margin + card.left, margin + card.top)),
                 QSize(card.width(), card.height()));
}

std::int32_t frmDown::focusedRegion() const {
    return m_interaction->focusedRegion();
}

void frmDown::pressRegion(std::int32_t region) {
    if (!m_unloaded && !busy())
        ignoringErrors([&] { m_interaction->pressRegion(region); });
}

void frmDown::Unload() {
    if (!m_unloaded)
        Form_Unload();
    close();
}

void frmDown::Form_Unload() {
    m_unloaded = true;
    // Pending reads end here; their partial files stay only where a later run can resume
    // them. The workflow no longer draws, so the control's cancel events change nothing on
    // screen.
    m_workflow->detach();
    ignoringErrors(
        [&] { ctlAsyncDownload1->CancelAllDownload(net::KeptBytes::KeepWhenResumable); });
    StopGraphics();
}

void frmDown::minimize() {
    showMinimized();
}

void frmDown::beginWindowDrag() {
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    // No window manager to move us (or one that refuses): follow the pointer ourselves.
    m_manualDrag = true;
    m_dragOffset = QCursor::pos() - pos();
}

void frmDown::processPendingEvents() {
    platform::processPendingEvents();
}

void frmDown::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    if (!m_surface.exists())
        return;
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(m_surface.globalAlpha() / 255.0);
    painter.drawImage(QPoint(0, 0), m_surface.image());
}

void frmDown::mousePressEvent(QMouseEvent *event) {
    const QPointF p = event->position();
    ignoringErrors([&] { m_interaction->Form_MouseDown(float(p.x()), float(p.y())); });
}

void frmDown::mouseMoveEvent(QMouseEvent *event) {
    if (m_manualDrag && event->buttons() != Qt::NoButton) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    const QPointF p = event->position();
    ignoringErrors([&] { m_interaction->Form_MouseMove(float(p.x()), float(p.y())); });
}

void frmDown::mouseReleaseEvent(QMouseEvent *event) {
    m_manualDrag = false;
    const QPointF p = event->position();
    ignoringErrors([&] { m_interaction->Form_MouseUp(float(p.x()), float(p.y())); });
}

void frmDown::keyPressEvent(QKeyEvent *event) {
    const bool backwards = event->key() == Qt::Key_Backtab;
    const bool shift = backwards || event->modifiers().testFlag(Qt::ShiftModifier);
    const int key = formKeyCode(*event);
    // A held key repeats its press. Return and Space act once per press, or holding one
    // (or a release late on a busy machine) would start and cancel the check in turn.
    if (event->isAutoRepeat() && (key == KeyReturn || key == KeySpace))
        return;
    // Every Tab tells where the focus is, the first one too, which lands on the element
    // that had the focus by default.
    if (key == KeyTab)
        m_accessibleFocus = render::srNone;
    ignoringErrors([&] { m_interaction->Form_KeyDown(key, shift); });
}

void frmDown::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    // After Qt has told of the window getting the focus: then of the element that has it.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        QTimer::singleShot(0, this, [this] {
            if (!m_unloaded)
                m_accessibility->announceFocus();
        });
}

void frmDown::keyReleaseEvent(QKeyEvent *event) {
    // A held key repeats as release and press pairs; only the real release counts.
    if (event->isAutoRepeat())
        return;
    ignoringErrors([&] { m_interaction->Form_KeyUp(formKeyCode(*event)); });
}

void frmDown::leaveEvent(QEvent *) {
    if (!m_manualDrag)
        ignoringErrors([&] { m_interaction->Form_MouseLeave(); });
}

// The pointer may now lie over another element than the one it clicked, or outside.
void frmDown::refreshHover() {
    const QPoint local = mapFromGlobal(QCursor::pos());
    if (QRect(QPoint(), cardSize()).contains(local))
        m_interaction->Form_MouseMove(float(local.x()), float(local.y()));
    else
        m_interaction->Form_MouseLeave();
}

void frmDown::closeEvent(QCloseEvent *event) {
    if (!m_unloaded)
        Form_Unload();
    event->accept();
}

} // namespace window
