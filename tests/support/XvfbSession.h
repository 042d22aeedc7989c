#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// A private X server for end-to-end tests, with the desktop tools that drive and watch the
// real updater binary: xdotool for the pointer and keys, import for screenshots.
namespace testsupport {

class XvfbSession {
public:
    XvfbSession() = default;
    ~XvfbSession();
    XvfbSession(const XvfbSession &) = delete;
    XvfbSession &operator=(const XvfbSession &) = delete;

    // Whether Xvfb and the tools are installed; tests skip with a message when not.
    static bool toolsAvailable();

    // Starts Xvfb on a free display with a 1024x768 screen; false when it did not come up.
    bool start();
    QString display() const { return m_display; }

    // The environment for a program on this display (unit-test settings removed).
    QProcessEnvironment environment() const;

    // Runs a tool on this display and returns its standard output; empty on failure.
    QString run(const QString &program, const QStringList &args, int timeoutMs = 10000) const;

    // The first window whose name matches, polling up to `timeoutMs`; 0 when none appears.
    qulonglong waitForWindow(const QString &name, int timeoutMs = 10000) const;
    // The window's position and size on the screen.
    QRect windowGeometry(qulonglong window) const;

    void click(int x, int y, int button = 1) const;
    void key(const QString &keys) const;
    QImage screenshot() const;

private:
    QProcess m_xvfb;
    QString m_display;
};

} // namespace testsupport
