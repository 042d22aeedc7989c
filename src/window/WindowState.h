#pragma once

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QString>

#include "render/ViewState.h"
#include "window/StartupValues.h"

namespace render {
struct RegionRects;
}

namespace window {

// The updater window's state that the workflow, the pointer handling and the picture share.
// Start-up fills the derived values; the rest starts as listed.
struct WindowState : StartupValues {
    QString Tag = QStringLiteral("0"); // "0" compact view, "1" expanded view
    // Whether `Tag` names the expanded view (the window may still be animating there).
    bool isExpanded() const { return render::isExpandedTag(Tag); }
    QString strPageTitle;
    QString strPackagePath;
    // The package signature the product page announced (the .minisig file's bytes).
    std::optional<QByteArray> packageSignature;
    std::int32_t lLastPercent = 0;
    std::int32_t lPressedRegion = 0;
    // The element Tab moved the keyboard focus to (srNone: none yet), and whether the
    // keyboard was used, which shows where the focus is.
    std::int32_t lFocusRegion = -1;
    bool bFocusVisible = false;
};

// What the workflow and the pointer handling ask of the window. Implemented by frmDown, and
// by fakes in tests.
class WindowHost {
public:
    virtual ~WindowHost() = default;

    // The one repaint entry; remembers strInfo1, strInfo2 and lPercentValue unless the
    // window is minimised.
    virtual void ReDraw(std::int32_t lMouseStatus, const QString &strInfo1, const QString &strInfo2,
                        float lPercentValue) = 0;
    virtual QString strLastInfo1() const = 0;
    virtual QString strLastInfo2() const = 0;
    virtual float sngLastPercent() const = 0;
    virtual const render::RegionRects &regions() const = 0;

    // Animates between the compact and the expanded size, whichever the window has now.
    virtual void switchViewSize() = 0;
    virtual void Unload() = 0;
    virtual void minimize() = 0;
    // Lets the window follow the pointer until the button is released.
    virtual void beginWindowDrag() = 0;
    virtual void processPendingEvents() = 0;
};

} // namespace window
