#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "support/XvfbSession.h"

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
    // No desktop: the shell's "open" goes through xdg-open, which a test may replace.
    env.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
    env.remove(QStringLiteral("DESKTOP_SESSION"));
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

// Starts the stamped updater and waits until its window is on screen and faded in; the
// window's id, or 0 when it did not appear.
inline qulonglong startUpdater(QProcess &updater, const testsupport::XvfbSession &x,
                               const Product &product, const QProcessEnvironment &env) {
    updater.setProcessEnvironment(env);
    updater.start(product.exe, {});
    if (!updater.waitForStarted())
        return 0;
    // Generous: a loaded machine (or a sanitizer build) starts slowly.
    const qulonglong window = x.waitForWindow(QStringLiteral("KIV UPDATE"), 30000);
    if (window != 0)
        settledScreenshot(x);
    return window;
}

// Keeps a screenshot for a person to look at when UPDATE_TOOL_E2E_SHOTS names a folder.
inline void keepShot(const QImage &shot, const QString &name) {
    const QString folder = qEnvironmentVariable("UPDATE_TOOL_E2E_SHOTS");
    if (!folder.isEmpty() && QDir().mkpath(folder))
        shot.save(QDir(folder).filePath(name + QStringLiteral(".png")));
}

} // namespace e2e
