#include "window/frmDown.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include "drawing/Colors.h"
#include "platform/Events.h"
#include "platform/MessageBoxes.h"
#include "platform/Twips.h"

namespace window {
namespace {

const QString GraphicsFailureText = QStringLiteral("无法启动 GDIPLUS，程序无法继续执行！");

QColor oleColor(std::int32_t color) {
    const drawing::ColorRGB rgb = drawing::SplitColor(color);
    return QColor(rgb.R, rgb.G, rgb.B);
}

} // namespace

frmDown::frmDown(const Services &services, QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Window)
    , m_services(services) {
    // The window paints every pixel itself, transparency included.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
}

frmDown::~frmDown() {
    Unload();
}

void frmDown::Form_Load() {
    using platform::ignoringErrors;
    if (!StartGraphics()) {
        if (m_services.messageBoxes)
            m_services.messageBoxes->show(GraphicsFailureText, platform::MessageOkOnly, {});
        Unload();
        return;
    }
    ignoringErrors([&] { m_settings = readUpdaterSettings(m_services.executablePath); });
    m_values = deriveStartupValues(m_settings, builtInValues());
    ignoringErrors([&] { setWindowTitle(WindowCaption); });
    ignoringErrors([&] {
        resize(platform::twipsToPixels(lCompactWidth), platform::twipsToPixels(lCompactHeight));
        m_tag = QStringLiteral("0");
    });
    ignoringErrors([&] { centreOnScreen(); });
    ignoringErrors([&] {
        show();
        platform::processPendingEvents();
    });
}

bool frmDown::StartGraphics() {
    // Drawing needs a running GUI platform and a family that can show Chinese text.
    if (!QGuiApplication::primaryScreen())
        return false;
    for (const QString &family :
         {QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC"),
          QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Source Han Sans SC")}) {
        if (QFontDatabase::hasFamily(family) &&
            QFontDatabase::writingSystems(family).contains(QFontDatabase::SimplifiedChinese)) {
            m_fontFamily = family;
            break;
        }
    }
    m_graphicsStarted = !m_fontFamily.isEmpty();
    return m_graphicsStarted;
}

void frmDown::StopGraphics() {
    m_graphicsStarted = false;
}

void frmDown::centreOnScreen() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void frmDown::Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    Form_Unload();
    close();
}

void frmDown::Form_Unload() {
    StopGraphics();
}

void frmDown::keyReleaseEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape)
        Unload();
}

void frmDown::closeEvent(QCloseEvent *event) {
    if (!m_unloaded) {
        m_unloaded = true;
        Form_Unload();
    }
    event->accept();
}

void frmDown::paintEvent(QPaintEvent *) {
    // A plain card inside the shadow margin until the layered surface draws the real one.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int margin = m_values.lShadowMargin;
    const QRectF card = QRectF(rect()).adjusted(margin, margin, -margin, -margin);
    QPainterPath path;
    path.addRoundedRect(card, 6, 6);
    painter.fillPath(path, oleColor(m_values.lThemeColor));
    painter.setPen(oleColor(m_values.lThemeSpecialColor));
    painter.drawPath(path);
    QFont font(m_fontFamily);
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(card.adjusted(12, 8, -12, -8), Qt::AlignLeft | Qt::AlignTop,
                     m_values.strTitleText);
}

} // namespace window
