#pragma once

#include <cstdint>
#include <vector>

#include "drawing/PathText.h"
#include "drawing/RoundPanel.h"
#include "platform/Translations.h"
#include "render/Regions.h"
#include "render/ViewState.h"

// What the card shows, element by element, as painter arguments. Pure functions: the
// composer paints what they return, and tests read the arguments directly.
namespace render {

enum class Look { Normal, Hover, Pressed };

// Pressed while the button is held on the region, hover while the pointer is over it.
Look LookOf(std::int32_t region, std::int32_t lMouseStatus, std::int32_t lHoverRegion);

// A shade of the main colour that stands out from it: darker for high colour values,
// lighter for low ones (the whole value is compared, not a brightness).
std::int32_t ContrastShade(const ViewState &view, float a);

// The card's background: a rounded panel for style 15, otherwise a frame-only text box.
struct Background {
    bool roundPanel = false;
    drawing::RoundPanelParams panel;
    drawing::PathTextParams box;
    friend bool operator==(const Background &, const Background &) = default;
};
Background BackgroundOf(const ViewState &view, std::int32_t W, std::int32_t H);

drawing::PathTextParams Watermark(const ViewState &view, std::int32_t W, std::int32_t H);

drawing::PathTextParams StatusLine(const ViewState &view, const Rect &rcStatusLine,
                                   const QString &text, float lPercentValue, Look look);

drawing::PathTextParams TitleLine(const ViewState &view, std::int32_t W, const QString &strInfo1);

// The longest page title the card shows; a longer one is cut and ends in "…".
inline constexpr int MaxShownTitleLength = 200;

// The page title as the card shows it. A portal may send a title of any length, but the
// card has room for a few lines and every frame lays the text out again.
QString ShownPageTitle(const QString &strPageTitle);

inline constexpr platform::UiText ConsentToDownload{
    QT_TRANSLATE_NOOP("update-tool", "按下 开始下载 按钮即表示您已确认以上协议。")};
inline constexpr platform::UiText ConsentToCheck{
    QT_TRANSLATE_NOOP("update-tool", "按下 检查更新 按钮即表示您已确认以上协议。")};

// The expanded view's texts cut to fit its content area `body` at `size`: the page title
// (empty when none is known) to at most two lines, the agreement to the lines left above
// two blank lines and the whole `consent` sentence; each cut text ends in "…".
struct ContentTexts {
    QString title;
    QString agreement;
};
ContentTexts FitContentTexts(const ViewState &view, const drawing::LayoutRect &body, float size,
                             const QString &consent);

// The content area: one to three calls, painted in order.
std::vector<drawing::PathTextParams> ContentArea(const ViewState &view, std::int32_t W,
                                                 std::int32_t H, bool hasActionButton);

drawing::PathTextParams ActionButton(const ViewState &view, std::int32_t W, std::int32_t H,
                                     Look look);

// The expand, minimise and close buttons, and the three style swatches.
drawing::PathTextParams TitleButton(const ViewState &view, std::int32_t region, const Rect &rc,
                                    Look look);
drawing::PathTextParams StyleSwatch(const ViewState &view, const Rect &rc, Look look);

// The colours the focus frame of `region` is drawn on: the element's own fill (and the
// progress bar's, on the status line), or the card's background where it has none.
std::vector<std::int32_t> FocusBackdrops(const ViewState &view, const RegionRects &regions,
                                         std::int32_t region, std::int32_t lMouseStatus,
                                         std::int32_t W, std::int32_t H);

// Black or white, whichever contrasts more with the least contrasting of `backdrops`: at
// least 4.5 : 1 against any one colour, above the 3 : 1 a focus indicator needs.
std::int32_t FocusFrameColour(const std::vector<std::int32_t> &backdrops);

} // namespace render
