#pragma once

#include <QString>

namespace platform {

// Message-box styles the program uses, with the form runtime's values.
enum MessageBoxStyle : int {
    MessageOkOnly = 0x00,
    MessageError = 0x10,         // error icon, OK
    MessageInformation = 0x40,   // information icon, OK
    MessageYesNoQuestion = 0x44, // information icon, Yes and No
};

// Answers.
inline constexpr int AnswerOk = 1;
inline constexpr int AnswerYes = 6;
inline constexpr int AnswerNo = 7;

// Modal message boxes. The window asks through this interface so tests can script the
// answers. `caption` empty means the platform's default caption.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual int show(const QString &text, int style, const QString &caption) = 0;
};

} // namespace platform
