#pragma once

#include <QString>
#include <QWidget>

#include "window/StartupValues.h"

namespace platform {
class MessageBoxes;
class Shell;
} // namespace platform

namespace window {

// The updater's one window. Loading it is the whole start-up and unloading it ends the
// program; everything else it delegates to small classes with one job each.
class frmDown final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmDown)

public:
    struct Services {
        platform::MessageBoxes *messageBoxes = nullptr;
        platform::Shell *shell = nullptr;
        QString executablePath; // where the settings trailer is read from
    };

    explicit frmDown(const Services &services, QWidget *parent = nullptr);
    ~frmDown() override;

    // The start-up sequence. Each step runs under the ignore-errors rule; only a failed
    // graphics start stops it (and unloads the window).
    void Form_Load();

    bool graphicsStarted() const { return m_graphicsStarted; }
    bool isUnloaded() const { return m_unloaded; }
    const UpdaterSettings &settings() const { return m_settings; }
    const StartupValues &values() const { return m_values; }
    QString Tag() const { return m_tag; }

    // Ends the program's window: releases the graphics and closes. Safe to call twice.
    void Unload();

protected:
    void keyReleaseEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    bool StartGraphics();
    void StopGraphics();
    void Form_Unload();
    void centreOnScreen();

    Services m_services;
    UpdaterSettings m_settings;
    StartupValues m_values;
    QString m_tag = QStringLiteral("0");
    QString m_fontFamily;
    bool m_graphicsStarted = false;
    bool m_unloaded = false;
};

} // namespace window
