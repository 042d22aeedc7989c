#pragma once

#include "platform/MessageBoxes.h"

namespace platform {

// Real message boxes with Chinese button texts (确定 / 是 / 否), shown above the
// always-on-top updater window.
class QtMessageBoxes final : public MessageBoxes {
public:
    int show(const QString &text, int style, const QString &caption) override;
};

} // namespace platform
