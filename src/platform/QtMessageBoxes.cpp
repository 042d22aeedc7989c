#include "platform/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace platform {

int QtMessageBoxes::show(const QString &text, int style, const QString &caption) {
    QMessageBox box;
    box.setText(text);
    box.setWindowTitle(caption.isEmpty() ? QApplication::applicationName() : caption);
    // The updater window stays on top; its questions must not hide behind it.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    switch (style & 0xF0) {
    case MessageError:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    if ((style & 0x0F) == (MessageYesNoQuestion & 0x0F)) {
        QPushButton *yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
        box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? AnswerYes : AnswerNo;
    }
    box.setDefaultButton(box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole));
    box.exec();
    return AnswerOk;
}

} // namespace platform
