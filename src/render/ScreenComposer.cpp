#include "render/ScreenComposer.h"

#include <cmath>

#include <QPainter>

#include "drawing/Colors.h"
#include "drawing/ImageShadow.h"
#include "drawing/PathText.h"
#include "drawing/RoundPanel.h"
#include "render/AccessibleElements.h"
#include "render/ContentElements.h"
#include "render/LayeredSurface.h"

namespace render {
namespace {

// The card's drop shadow: shifted 2 pixels in, spread by twice the margin, nearly black.
constexpr std::int32_t ShadowInset = 2;
constexpr std::int32_t ShadowColour = 0x202020;

bool hasText(const QString &text) {
    return !text.trimmed().isEmpty();
}

// A 1-pixel dotted frame one pixel inside the element, on whole pixels.
void drawFocusFrame(QPainter &g, const Rect &rc, std::int32_t colour) {
    g.save();
    g.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(QColor::fromRgba(drawing::OleToARGB(colour, 255)));
    pen.setStyle(Qt::DotLine);
    pen.setWidth(1);
    g.setPen(pen);
    g.setBrush(Qt::NoBrush);
    g.drawRect(QRect(rc.left + 1, rc.top + 1, rc.width() - 3, rc.height() - 3));
    g.restore();
}

} // namespace

QImage ScreenComposer::drawCanvas(const ReDrawRequest &request, const ViewState &view,
                                  std::int32_t W, std::int32_t H, qreal devicePixelRatio) {
    const QString status = DisplayedStatusText(request.strInfo2, view.lHoverRegion);
    const bool hasAction = !view.strActionCaption.isEmpty();
    const RegionRects regions = LayoutRegions(
        {W, H, view.lThemeStyle, hasText(request.strInfo1), hasText(status), hasAction});

    // Nothing is drawn before the geometry is known to fit, so a failing request leaves
    // the regions as they were.
    std::vector<drawing::PathTextParams> elements;
    const Background background = BackgroundOf(view, W, H);
    elements.push_back(Watermark(view, W, H));
    const auto look = [&](std::int32_t region) {
        return LookOf(region, request.lMouseStatus, view.lHoverRegion);
    };
    if (!regions.rcStatusLine.isEmpty())
        elements.push_back(StatusLine(view, regions.rcStatusLine, status, request.lPercentValue,
                                      look(srStatusLine)));
    if (!regions.rcTitleBar.isEmpty())
        elements.push_back(TitleLine(view, W, request.strInfo1));
    for (auto &call : ContentArea(view, W, H, !regions.rcActionButton.isEmpty()))
        elements.push_back(std::move(call));
    if (!regions.rcActionButton.isEmpty())
        elements.push_back(ActionButton(view, W, H, look(srActionButton)));
    for (const std::int32_t region : {srExpand, srMinimize, srClose})
        if (const Rect rc = regions.of(region); !rc.isEmpty())
            elements.push_back(TitleButton(view, region, rc, look(region)));
    for (const std::int32_t region : {srStyle15, srStyle25, srStyle27})
        if (const Rect rc = regions.of(region); !rc.isEmpty())
            elements.push_back(StyleSwatch(view, rc, look(region)));
    m_regions = regions;

    QImage canvas(int(std::ceil(W * devicePixelRatio)), int(std::ceil(H * devicePixelRatio)),
                  QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(devicePixelRatio);
    canvas.fill(Qt::transparent);
    QPainter g(&canvas);
    g.setRenderHint(QPainter::Antialiasing);
    g.setRenderHint(QPainter::SmoothPixmapTransform);
    if (background.roundPanel)
        drawing::DrawRoundPanel(g, background.panel);
    else
        drawing::DrawPathText(g, background.box);
    for (const drawing::PathTextParams &element : elements) {
        // Mid-animation the card is smaller than the view its texts are laid out for; each
        // element stays in its own box so none spills over the button or the status line.
        if (view.inTransition) {
            const drawing::LayoutRect &rc = element.rcLayout;
            g.save();
            g.setClipRect(QRect(rc.X, rc.Y, rc.Width + 1, rc.Height + 1));
        }
        drawing::DrawPathText(g, element);
        if (view.inTransition)
            g.restore();
    }
    if (view.bShowFocus)
        if (const Rect rc = regions.of(FocusedRegion(regions, view.lFocusRegion)); !rc.isEmpty())
            drawFocusFrame(g, rc, ContrastShade(view, 0.5f));
    return canvas;
}

void ScreenComposer::ReDraw(const ReDrawRequest &request, const ViewState &view,
                            const Rect &rcCanvas, bool minimised, LayeredSurface &surface) {
    if (minimised)
        return;
    m_strLastInfo1 = request.strInfo1;
    m_strLastInfo2 = request.strInfo2;
    m_sngLastPercent = request.lPercentValue;

    // Before the surface exists (a progress message during start-up) there is nothing to
    // draw into, but the values are remembered for the first frame.
    QImage &target = surface.image();
    if (target.isNull())
        return;
    const std::int32_t W = rcCanvas.width();
    const std::int32_t H = rcCanvas.height();
    const QImage canvas = drawCanvas(request, view, W, H, target.devicePixelRatio());

    target.fill(Qt::transparent);
    QPainter g(&target);
    g.setRenderHint(QPainter::Antialiasing);
    g.setRenderHint(QPainter::SmoothPixmapTransform);
    const std::int32_t margin = view.lShadowMargin;
    if (view.lThemeStyle != 25 && view.lThemeStyle != 26) {
        drawing::ImageShadowParams shadow;
        shadow.lX = margin + ShadowInset;
        shadow.lY = margin + ShadowInset;
        shadow.lWidth = W - 2 * ShadowInset;
        shadow.lHeight = H - 2 * ShadowInset;
        shadow.sngBlur = float(2 * margin);
        shadow.bAlpha = 255;
        shadow.lColor = ShadowColour;
        shadow.sngOffset = 0;
        drawing::DrawImageShadow(g, canvas, shadow);
    }
    g.drawImage(QPointF(margin, margin), canvas);
}

} // namespace render
