#include "platform/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "raster/GraphicsText.h"

namespace platform {

namespace {

// Button texts in the interface's language; Chinese only where a font can show it, else
// English: a box of empty squares cannot be answered.
QString buttonText(const char *chinese, const char *english) {
    const QString text = QCoreApplication::translate("update-tool", chinese);
    if (text == QString::fromUtf8(chinese) && raster::programFontFamily().isEmpty())
        return QString::fromLatin1(english);
    return text;
}

} // namespace

int QtMessageBoxes::show(const QString &text, int style, const QString &caption) {
    // A child window of the updater: the desktop stacks and places it over the updater.
    QMessageBox box(m_owner);
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
        QPushButton *yes = box.addButton(buttonText(QT_TRANSLATE_NOOP("update-tool", "是"), "Yes"),
                                         QMessageBox::YesRole);
        box.addButton(buttonText(QT_TRANSLATE_NOOP("update-tool", "否"), "No"),
                      QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? AnswerYes : AnswerNo;
    }
    box.setDefaultButton(box.addButton(buttonText(QT_TRANSLATE_NOOP("update-tool", "确定"), "OK"),
                                       QMessageBox::AcceptRole));
    box.exec();
    return AnswerOk;
}

} // namespace platform
