#pragma once

#include <QString>

namespace platform {

// The desktop's "open with the default program" request.
class Shell {
public:
    virtual ~Shell() = default;
    // Opens a local file path or a web address; false when the desktop refused.
    virtual bool open(const QString &pathOrUrl) = 0;
};

// Backed by the desktop's opener (xdg-open on Linux).
class DesktopShell final : public Shell {
public:
    bool open(const QString &pathOrUrl) override;
};

} // namespace platform
