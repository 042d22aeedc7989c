#include "render/ContentElements.h"

#include <algorithm>

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>

#include "drawing/Colors.h"
#include "platform/Numbers.h"
#include "raster/GraphicsText.h"

namespace render {
namespace {

using drawing::PathTextParams;
using drawing::ShadeColor;
using platform::checkedAdd;
using platform::checkedSubtract;

const QString BackgroundFont = QStringLiteral("Arial");

QString translated(const char *source) {
    return QCoreApplication::translate("update-tool", source);
}

bool isStyle15(const ViewState &view) {
    return isRoundedStyle(view.lThemeStyle);
}
bool isDiagonal(const ViewState &view) {
    return isDiagonalStyle(view.lThemeStyle);
}

// A text in the window's font, regular, opaque, no outline, no bar, no background.
PathTextParams text(const ViewState &view, drawing::LayoutRect rc, const QString &str,
                    std::int32_t align, float size, std::int32_t colour) {
    PathTextParams p;
    p.rcLayout = rc;
    p.strText = str;
    p.lAlign = align;
    p.strFontName = view.fontName;
    p.sngFontSize = size;
    p.lTextColor = colour;
    return p;
}

// A flat fill with a 1-pixel frame in the same colour.
void fillWith(PathTextParams &p, std::int32_t colour, std::uint8_t alpha = 255) {
    p.bBackground = true;
    p.bBorder = true;
    p.lColor1 = p.lColor2 = colour;
    p.bAlpha1 = p.bAlpha2 = alpha;
    p.sngAngle = 90;
}

// How many lines of `text` the painters make in a box `width` wide.
int linesOf(const QString &text, const QString &family, float size, std::int32_t width) {
    return raster::textLineCount({text, family, size, 0, qreal(width), 0});
}

// How many lines of the font at `size` fit one below the other in `height` pixels, by the
// line spacing the painters use (they lay fonts out unhinted at a large size and scale).
int linesThatFit(const QString &family, float size, std::int32_t height) {
    constexpr int LayoutPixelSize = 2048;
    QFont font(family);
    font.setPixelSize(LayoutPixelSize);
    font.setHintingPreference(QFont::PreferNoHinting);
    const qreal spacing = QFontMetricsF(font).lineSpacing() * size / LayoutPixelSize;
    return spacing > 0 ? int(qreal(height) / spacing) : 0;
}

// `text` as it is when it takes at most `lines` lines, else its longest start that does so
// followed by "…" (never half a character, no blanks before the "…"); "…" alone when not
// even one character fits.
QString cutToLines(const QString &text, int lines, const QString &family, float size,
                   std::int32_t width) {
    if (linesOf(text, family, size, width) <= lines)
        return text;
    const auto cut = [&](qsizetype n) {
        if (n > 0 && text.at(n - 1).isHighSurrogate())
            --n;
        QString start = text.left(n);
        while (!start.isEmpty() && start.back().isSpace())
            start.chop(1);
        return start + QChar(0x2026);
    };
    qsizetype fits = 0, tooLong = text.size();
    while (tooLong - fits > 1) {
        const qsizetype middle = fits + (tooLong - fits) / 2;
        if (linesOf(cut(middle), family, size, width) <= lines)
            fits = middle;
        else
            tooLong = middle;
    }
    return cut(fits);
}

// `p` with its text cut, with "…", to the lines its box holds (one at least): a text of
// another language may be longer than the box was drawn for. A text that fits is unchanged.
PathTextParams fitted(PathTextParams p) {
    const int lines = std::max(1, linesThatFit(p.strFontName, p.sngFontSize, p.rcLayout.Height));
    p.strText = cutToLines(p.strText, lines, p.strFontName, p.sngFontSize, p.rcLayout.Width);
    return p;
}

// The layout of a small element: its region less one pixel (12 x 12 buttons draw in 11 x 11).
drawing::LayoutRect inside(const Rect &rc) {
    return {rc.left, rc.top, checkedSubtract(rc.width(), 1), checkedSubtract(rc.height(), 1)};
}

} // namespace

Look LookOf(std::int32_t region, std::int32_t lMouseStatus, std::int32_t lHoverRegion) {
    if (lHoverRegion != region)
        return Look::Normal;
    if (lMouseStatus == MousePressed)
        return Look::Pressed;
    if (lMouseStatus == MouseHovering)
        return Look::Hover;
    return Look::Normal;
}

std::int32_t ContrastShade(const ViewState &view, float a) {
    return view.lThemeColor > 8388608 ? ShadeColor(view.lThemeColor, -a)
                                      : ShadeColor(view.lThemeColor, a);
}

Background BackgroundOf(const ViewState &view, std::int32_t W, std::int32_t H) {
    Background b;
    if (isStyle15(view)) {
        b.roundPanel = true;
        b.panel = {.sngRight = float(checkedSubtract(W, 1)),
                   .sngBottom = float(checkedSubtract(H, 1)),
                   .lFillStyle = drawing::LinearGradientFill,
                   .lColor1 = ShadeColor(view.lThemeColor, 0.25f),
                   .lColor2 = view.lThemeColor,
                   .lColor3 = ShadeColor(view.lThemeColor, 0.35f),
                   .lColor4 = 0,
                   .iRadiusTopLeft = 8,
                   .iRadiusTopRight = 8,
                   .iRadiusBottomLeft = 8,
                   .iRadiusBottomRight = 8};
        return b;
    }
    PathTextParams &p = b.box;
    p = text(view, {0, 0, checkedSubtract(W, 1), checkedSubtract(H, 1)}, QString(), 5, 10,
             ShadeColor(view.lThemeLightColor, 0.5f));
    p.strFontName = BackgroundFont;
    p.bBackground = true;
    p.bBorder = true;
    p.bAlpha1 = p.bAlpha2 = 255;
    if (isDiagonal(view)) {
        p.lColor1 = ShadeColor(view.lThemeLightColor, 0.05f);
        p.lColor2 = ShadeColor(view.lThemeLightColor, -0.05f);
        p.sngAngle = 45;
    } else {
        p.lColor1 = p.lColor2 = view.lThemeStyle == PlainStyle
                                    ? view.lThemeLightColor
                                    : ShadeColor(view.lThemeLightColor, -0.05f);
        p.sngAngle = 90;
    }
    return b;
}

PathTextParams Watermark(const ViewState &view, std::int32_t W, std::int32_t H) {
    PathTextParams p = text(view, {-20, -20, checkedAdd(W, 21), checkedAdd(H, 21)},
                            translated(QT_TRANSLATE_NOOP("update-tool", "软件更新")), 7, 64,
                            ShadeColor(view.lThemeColor, -0.2f));
    p.lFontStyle = 1;
    p.bTextAlpha = 25;
    const bool plain = isDiagonal(view) || view.lThemeStyle == PlainStyle;
    p.lOutlineWidth = plain ? 0 : 1;
    p.lOutlineColor = 0xFFFFFF;
    p.bOutlineAlpha = 25;
    return p;
}

PathTextParams StatusLine(const ViewState &view, const Rect &rc, const QString &str,
                          float lPercentValue, Look look) {
    PathTextParams p = fitted(text(view, {rc.left, rc.top, rc.width(), rc.height()}, str, 5, 12,
                                   ShadeColor(view.lThemeLightColor, 0.5f)));
    p.sngPercent = lPercentValue;
    fillWith(p, ShadeColor(view.lThemeColor, look == Look::Pressed ? -0.175f : -0.125f));
    return p;
}

PathTextParams TitleLine(const ViewState &view, std::int32_t W, const QString &strInfo1) {
    return fitted(
        text(view, {8, 8, checkedSubtract(W, 17), 19}, strInfo1, 4, 14, ContrastShade(view, 0.5f)));
}

QString ShownPageTitle(const QString &strPageTitle) {
    if (strPageTitle.size() <= MaxShownTitleLength)
        return strPageTitle;
    qsizetype cut = MaxShownTitleLength;
    if (strPageTitle.at(cut - 1).isHighSurrogate())
        --cut; // never half a character
    return strPageTitle.left(cut) + QChar(0x2026);
}

ContentTexts FitContentTexts(const ViewState &view, const drawing::LayoutRect &body, float size,
                             const QString &consent) {
    const QString &family = view.fontName;
    ContentTexts fitted;
    const bool known = !view.strPageTitle.trimmed().isEmpty();
    if (known)
        fitted.title = cutToLines(ShownPageTitle(view.strPageTitle), 2, family, size, body.Width);
    const int titleLines = known ? linesOf(fitted.title, family, size, body.Width) : 0;
    // The agreement gets what the title, the two blank lines and the consent leave.
    const int room = linesThatFit(family, size, body.Height) - titleLines - 2 -
                     linesOf(consent, family, size, body.Width);
    fitted.agreement = cutToLines(view.strAgreement, std::max(room, 1), family, size, body.Width);
    return fitted;
}

std::vector<PathTextParams> ContentArea(const ViewState &view, std::int32_t W, std::int32_t H,
                                        bool hasActionButton) {
    const std::int32_t contrast = ContrastShade(view, 0.5f);
    const drawing::LayoutRect body{25, 55, checkedSubtract(W, 51), checkedSubtract(H, 126)};
    const bool known = !view.strPageTitle.trimmed().isEmpty();
    const bool compact = !view.isExpanded();
    if (!hasActionButton)
        return {
            fitted(text(view, {25, 55, checkedSubtract(W, 51), checkedSubtract(H, 111)},
                        translated(QT_TRANSLATE_NOOP("update-tool", "请重新下载对应版本更新工具")),
                        5, 16, contrast))};
    if (compact) {
        //: Under the page's title in the compact view, once a version is known.
        const QString hint =
            known
                ? cutToLines(ShownPageTitle(view.strPageTitle), 2, view.fontName, 16, body.Width) +
                      QStringLiteral("\r\n") + translated(QT_TRANSLATE_NOOP("update-tool", "下载"))
                : translated(
                      QT_TRANSLATE_NOOP("update-tool", "按下 检查更新 按钮查找可供下载的最新版本"));
        return {fitted(text(view, body, hint, 5, 16, contrast))};
    }
    std::vector<PathTextParams> calls;
    PathTextParams panel =
        text(view, {20, 50, checkedSubtract(W, 41), checkedSubtract(H, 116)}, QString(), 7, 10, 0);
    panel.strFontName = BackgroundFont;
    fillWith(panel, view.lThemeColor, 30);
    calls.push_back(panel);
    const QString breaks = QStringLiteral("\r\n\r\n\r\n");
    // The title takes at most two lines and the agreement what is left, so that the
    // consent sentence always shows whole, inside the content area.
    if (known) {
        const QString consent = ConsentToDownload();
        const ContentTexts fitted = FitContentTexts(view, body, 15, consent);
        PathTextParams agreement = text(
            view, body, fitted.title + QStringLiteral("\r\n") + fitted.agreement + breaks + consent,
            7, 15, contrast);
        agreement.bTextAlpha = 210;
        calls.push_back(agreement);
        // The same corner, font and size: the title lands exactly on the first lines above.
        PathTextParams heading = text(view, body, fitted.title, 7, 15, view.lThemeSpecialColor);
        heading.lOutlineWidth = 1;
        heading.lOutlineColor = view.lThemeLightColor;
        heading.bOutlineAlpha = 255;
        calls.push_back(heading);
    } else {
        const QString consent = ConsentToCheck();
        const ContentTexts fitted = FitContentTexts(view, body, 14, consent);
        calls.push_back(text(view, body, fitted.agreement + breaks + consent, 7, 14, contrast));
    }
    return calls;
}

PathTextParams ActionButton(const ViewState &view, std::int32_t W, std::int32_t H, Look look) {
    const std::int32_t d = isStyle15(view) ? 3 : 0;
    PathTextParams p = fitted(
        text(view, {checkedSubtract(W, 160), checkedSubtract(checkedSubtract(H, d), 55), 139, 24},
             view.strActionCaption, 5, 14, 0xFFFFFF));
    const float a = look == Look::Pressed ? -0.15f : look == Look::Hover ? -0.05f : -0.1f;
    fillWith(p, ShadeColor(view.lThemeSpecialColor, a));
    return p;
}

PathTextParams TitleButton(const ViewState &view, std::int32_t region, const Rect &rc, Look look) {
    const QString glyph = region == srExpand     ? QStringLiteral(".")
                          : region == srMinimize ? QStringLiteral("_")
                                                 : QStringLiteral("x");
    PathTextParams p =
        text(view, {rc.left, rc.top, 11, 11}, glyph, 5, isStyle15(view) ? 12 : 8, 0xFFFFFF);
    if (look == Look::Normal && isStyle15(view)) {
        p.lTextColor = 0;
        return p;
    }
    const float a = look == Look::Pressed ? -0.1f : look == Look::Hover ? -0.035f : -0.05f;
    fillWith(p, ShadeColor(view.lThemeColor, a));
    return p;
}

PathTextParams StyleSwatch(const ViewState &view, const Rect &rc, Look look) {
    PathTextParams p = text(view, inside(rc), QString(), 5, 8, 0);
    const float a = look == Look::Pressed ? -0.1f : look == Look::Hover ? -0.035f : -0.05f;
    fillWith(p, ShadeColor(view.lThemeColor, a));
    return p;
}

std::vector<std::int32_t> FocusBackdrops(const ViewState &view, const RegionRects &regions,
                                         std::int32_t region, std::int32_t lMouseStatus,
                                         std::int32_t W, std::int32_t H) {
    const Look look = LookOf(region, lMouseStatus, view.lHoverRegion);
    const Rect rc = regions.of(region);
    PathTextParams p;
    switch (region) {
    case srActionButton:
        p = ActionButton(view, W, H, look);
        break;
    case srStatusLine:
        p = StatusLine(view, rc, QString(), 0, look);
        break;
    case srStyle15:
    case srStyle25:
    case srStyle27:
        p = StyleSwatch(view, rc, look);
        break;
    default:
        p = TitleButton(view, region, rc, look);
        break;
    }
    if (p.bBackground) {
        std::vector<std::int32_t> colours{p.lColor1, p.lColor2};
        if (region == srStatusLine)
            colours.push_back(drawing::PercentBarColor(p.lColor1));
        return colours;
    }
    const Background b = BackgroundOf(view, W, H);
    if (b.roundPanel)
        return {b.panel.lColor1, b.panel.lColor2, b.panel.lColor3};
    return {b.box.lColor1, b.box.lColor2};
}

std::int32_t FocusFrameColour(const std::vector<std::int32_t> &backdrops) {
    const auto weakest = [&](std::int32_t colour) {
        double least = 21;
        for (const std::int32_t backdrop : backdrops)
            least = std::min(least, drawing::ContrastRatio(colour, backdrop));
        return least;
    };
    return weakest(0xFFFFFF) > weakest(0) ? 0xFFFFFF : 0;
}

} // namespace render
