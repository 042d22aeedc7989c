#pragma once

#include <QPointer>

#include "platform/MessageBoxes.h"

class QWidget;

namespace platform {

// Real message boxes with Chinese button texts (确定 / 是 / 否), shown above the
// always-on-top updater window.
class QtMessageBoxes final : public MessageBoxes {
public:
    // The window the boxes belong to: the desktop places them over it, and they stay
    // modal to it. Without one they open where the desktop chooses.
    void setOwner(QWidget *owner) { m_owner = owner; }
    int show(const QString &text, int style, const QString &caption) override;

private:
    QPointer<QWidget> m_owner;
};

} // namespace platform
