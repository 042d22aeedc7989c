// update-tool: the updater window of one stamped product copy.
#include <cstdio>
#include <cstdlib>

#include <QApplication>

#include "platform/Application.h"
#include "platform/QtMessageBoxes.h"
#include "platform/Shell.h"
#include "platform/Translations.h"
#include "window/frmDown.h"

namespace {

void reportGraphicsFailure(const QString &message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// The failure before a window exists, in the desktop's language: the application object is
// the one being constructed, or a plain one made for this message alone.
void reportGraphicsFailure() {
    if (QCoreApplication *app = QCoreApplication::instance()) {
        platform::installTranslations(*app);
        reportGraphicsFailure(window::graphicsFailureText());
        return;
    }
    int argc = 1;
    char name[] = "update-tool";
    char *argv[] = {name, nullptr};
    QCoreApplication core(argc, argv);
    platform::installTranslations(core);
    reportGraphicsFailure(window::graphicsFailureText());
}

bool environmentSet(const char *name) {
    const char *value = std::getenv(name);
    return value && *value;
}

// Qt ends the process with an abort when no GUI platform comes up; the updater reports it
// as its own failed graphics start instead.
void startupMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return;
    }
    reportGraphicsFailure();
    std::_Exit(1);
}

} // namespace

int main(int argc, char *argv[]) {
    if (!environmentSet("QT_QPA_PLATFORM")) {
        if (!environmentSet("DISPLAY") && !environmentSet("WAYLAND_DISPLAY")) {
            reportGraphicsFailure();
            return 1;
        }
        // Centring, moving and staying on top are denied to Wayland clients; XWayland
        // allows them.
        if (environmentSet("WAYLAND_DISPLAY") && environmentSet("DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "xcb");
    }

    const QtMessageHandler previous = qInstallMessageHandler(startupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QApplication::setApplicationName(QStringLiteral("update-tool"));
    platform::installTranslations(app);

    platform::QtMessageBoxes messageBoxes;
    platform::DesktopShell shell;
    window::frmDown form({.messageBoxes = &messageBoxes,
                          .shell = &shell,
                          .executablePath = platform::executablePath()});
    messageBoxes.setOwner(&form);
    form.Form_Load();
    if (form.graphicsFailed()) {
        reportGraphicsFailure(form.graphicsFailureMessage());
        return 1;
    }
    if (form.isUnloaded())
        return 0; // closed already while fading in: no error
    return QApplication::exec();
}
