#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "support/XvfbSession.h"
#include "support/ZipArchive.h"

// What the end-to-end tests share: a private X server, a product folder with a stamped copy
// of the real updater, and the updater running in it.
namespace e2e {

inline QString toolPath(const char *name) {
    return QString::fromUtf8(name);
}

struct Product {
    QTemporaryDir dir;
    QString exe;
    QString runtimeDir; // the updater's XDG_RUNTIME_DIR: its progress socket lives there

    // Stamps a copy of the updater into the folder; false when stamping failed.
    bool stamp(const QStringList &options) {
        exe = dir.filePath(QStringLiteral("update-tool"));
        runtimeDir = dir.filePath(QStringLiteral("run"));
        QDir().mkpath(runtimeDir);
        QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess stamp;
        stamp.start(toolPath(STAMP_EXE),
                    QStringList{QStringLiteral("write"), toolPath(UPDATER_EXE), exe} + options);
        return stamp.waitForFinished(30000) && stamp.exitCode() == 0;
    }
};

// The environment of the product's programs on the session's display.
inline QProcessEnvironment productEnvironment(const testsupport::XvfbSession &x,
                                              const Product &product) {
    QProcessEnvironment env = x.environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), product.runtimeDir);
    // Accepted releases are remembered per user: each test's copy starts with none.
    env.insert(QStringLiteral("XDG_STATE_HOME"), product.runtimeDir + QStringLiteral("/state"));
    // No desktop: the shell's "open" goes through xdg-open, which a test may replace.
    env.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
    env.remove(QStringLiteral("DESKTOP_SESSION"));
    // No session bus: without an address, the accessibility bridge would have D-Bus start
    // one for the private display (autolaunch), which can stall the start for its 25 s call
    // timeout on a loaded machine. A test that wants a bus sets its own.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=") + product.runtimeDir + QStringLiteral("/no-bus"));
    return env;
}

// Waits until the screen stops changing (the fade-in has ended) and returns it.
inline QImage settledScreenshot(const testsupport::XvfbSession &x, int timeoutMs = 10000) {
    QImage last = x.screenshot();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QThread::msleep(300);
        QImage next = x.screenshot();
        if (next == last)
            return next;
        last = next;
    }
    return last;
}

// Starts the stamped updater (through `launcher`, a program and its arguments, when given)
// and waits until its window is on screen and faded in; the window's id, or 0 when it did not
// appear.
inline qulonglong startUpdater(QProcess &updater, const testsupport::XvfbSession &x,
                               const Product &product, const QProcessEnvironment &env,
                               const QStringList &launcher = {}) {
    updater.setProcessEnvironment(env);
    if (launcher.isEmpty())
        updater.start(product.exe, {});
    else
        updater.start(launcher.first(), launcher.mid(1) << product.exe);
    if (!updater.waitForStarted())
        return 0;
    // Generous: a loaded machine (or a sanitizer build) starts slowly.
    const qulonglong window = x.waitForWindow(QStringLiteral("KIV UPDATE"), 30000);
    if (window != 0)
        settledScreenshot(x);
    return window;
}

// Why `startUpdater` found no window: whether the updater was still running or its exit
// code, and what it wrote to its error output. Call it only then: it ends the updater.
inline QString whyNoWindow(QProcess &updater) {
    QString state;
    if (updater.state() != QProcess::NotRunning) {
        state = QStringLiteral("still running without a window, ended now");
        updater.kill();
    }
    updater.waitForFinished(5000);
    if (state.isEmpty())
        state = QStringLiteral("ended with exit code %1").arg(updater.exitCode());
    return QStringLiteral("no updater window (%1): %2")
        .arg(state, QString::fromLocal8Bit(updater.readAllStandardError()).trimmed());
}

// Keeps a screenshot for a person to look at when UPDATE_TOOL_E2E_SHOTS names a folder.
inline void keepShot(const QImage &shot, const QString &name) {
    const QString folder = qEnvironmentVariable("UPDATE_TOOL_E2E_SHOTS");
    if (!folder.isEmpty() && QDir().mkpath(folder))
        shot.save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

// The demo portal as a process: reads the address it prints when it listens.
class PortalProcess {
public:
    ~PortalProcess() {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    QString start(const QStringList &args) {
        m_process.start(toolPath(PORTAL_EXE), args);
        if (!m_process.waitForStarted() || !m_process.waitForReadyRead(10000))
            return {};
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        return line.startsWith(u"listening on ") ? line.mid(13) : QString();
    }

private:
    QProcess m_process;
};

// Writes `package` into the product's folder and serves it from the demo portal with the
// page title "Demo 2.1" under `id`; the portal's base address, or empty when it failed.
inline QString servePackage(PortalProcess &portal, const Product &product,
                            const QByteArray &package, const QString &id,
                            const QStringList &extra = {}) {
    const QString packageFile = product.dir.filePath(QStringLiteral("served.bin"));
    QFile served(packageFile);
    if (!served.open(QIODevice::WriteOnly) || served.write(package) != package.size())
        return {};
    served.close();
    return portal.start(QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                    QStringLiteral("--id"), id, QStringLiteral("--title"),
                                    QStringLiteral("Demo 2.1"), QStringLiteral("--package"),
                                    packageFile} +
                        extra);
}

// Sends a key to a window once it has the focus.
inline void pressKey(const testsupport::XvfbSession &x, qulonglong window, const QString &key) {
    x.run(QStringLiteral("xdotool"),
          {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window),
           QStringLiteral("key"), QStringLiteral("--window"), QString::number(window), key});
}

// The message boxes are titled with the window's title, which says "更新工具" in Chinese.
inline const QString ChineseBoxTitle = QStringLiteral("更新工具");

// Answers the question after a download with No; "文件已经下载到当前目录。" comes next, and
// its OK ends the program. False when the notice did not appear.
inline bool declineAndClose(const testsupport::XvfbSession &x, qulonglong question,
                            const QString &boxTitle = ChineseBoxTitle) {
    pressKey(x, question, QStringLiteral("Escape"));
    QElapsedTimer timer;
    timer.start();
    while (x.waitForWindow(boxTitle, 100) == question) {
        if (timer.elapsed() > 10000)
            return false;
    }
    const qulonglong notice = x.waitForWindow(boxTitle);
    if (notice == 0)
        return false;
    pressKey(x, notice, QStringLiteral("Return"));
    return true;
}

// Clicks 检查更新: the action button's centre in the compact card, 10 pixels in.
inline void clickCheckForUpdates(const testsupport::XvfbSession &x, qulonglong window) {
    const QRect frame = x.windowGeometry(window);
    x.click(frame.x() + 10 + 350, frame.y() + 10 + 157);
}

// Presses 检查更新, waits for the expanded card, presses 开始下载 and waits for the question
// that ends the download; the question's window id, or 0. With `keyboard` the presses are
// Tab then Return, and Return again where the focus stayed: no pointer event at all.
inline qulonglong checkAndDownload(const testsupport::XvfbSession &x, qulonglong window,
                                   bool keyboard = false,
                                   const QString &boxTitle = ChineseBoxTitle) {
    if (keyboard) {
        pressKey(x, window, QStringLiteral("Tab"));
        keepShot(settledScreenshot(x).copy(x.windowGeometry(window)),
                 QStringLiteral("keyboard-focus"));
        pressKey(x, window, QStringLiteral("Return"));
    } else {
        clickCheckForUpdates(x, window);
    }
    QElapsedTimer timer;
    timer.start();
    while (x.windowGeometry(window).size() != QSize(400, 460)) {
        if (timer.elapsed() > 15000)
            return 0;
        QThread::msleep(100);
    }
    const QRect frame = x.windowGeometry(window);
    keepShot(settledScreenshot(x).copy(frame), QStringLiteral("update-found"));
    if (keyboard)
        pressKey(x, window, QStringLiteral("Return"));
    else
        x.click(frame.x() + 10 + 290, frame.y() + 10 + 397);
    return x.waitForWindow(boxTitle, 20000);
}

} // namespace e2e
