#pragma once

#include <functional>

#include <QList>
#include <QString>

#include "platform/MessageBoxes.h"

// Message boxes for tests: records every box and answers from a script (Yes when the
// script runs out).
class ScriptedMessageBoxes final : public platform::MessageBoxes {
public:
    struct Shown {
        QString text;
        int style = 0;
        QString caption;
    };

    QList<int> answers;
    QList<Shown> shown;
    // Runs while a box is shown, before it is answered.
    std::function<void()> whileShown;

    int show(const QString &text, int style, const QString &caption) override {
        shown.append({text, style, caption});
        if (whileShown)
            whileShown();
        if (!answers.isEmpty())
            return answers.takeFirst();
        return (style & 0x0F) == (platform::MessageYesNoQuestion & 0x0F) ? platform::AnswerYes
                                                                         : platform::AnswerOk;
    }
};
