#include "render/ScreenComposer.h"

#include <algorithm>
#include <cmath>

#include <QPainter>

#include "drawing/Colors.h"
#include "drawing/ImageShadow.h"
#include "drawing/PathText.h"
#include "drawing/RoundPanel.h"
#include "raster/Graphics.h"
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

// The runs of fully opaque pixels of `image`, rows with the same runs merged into one band.
QRegion opaquePixels(const QImage &image) {
    std::vector<QRect> rects;
    std::vector<QRect> band; // the runs of the rows since the band's top, one row high
    std::vector<QRect> runs;
    const auto close = [&](int bottom) {
        for (QRect rc : band) {
            rc.setBottom(bottom - 1);
            rects.push_back(rc);
        }
    };
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        runs.clear();
        for (int x = 0; x < image.width();) {
            if (qAlpha(line[x]) != 255) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < image.width() && qAlpha(line[x]) == 255)
                ++x;
            runs.emplace_back(start, y, x - start, 1);
        }
        const auto sameColumns = [](const QRect &a, const QRect &b) {
            return a.left() == b.left() && a.right() == b.right();
        };
        if (y > 0 && std::equal(runs.begin(), runs.end(), band.begin(), band.end(), sameColumns))
            continue;
        close(y);
        band = runs;
    }
    close(image.height());
    QRegion region;
    region.setRects(rects.data(), int(rects.size()));
    return region;
}

// The pixels the focus frame may touch.
QRect focusFrameBounds(const Rect &rc) {
    return rc.isEmpty() ? QRect() : QRect(rc.left, rc.top, rc.width(), rc.height());
}

// The card's elements in the order they are painted, over its background.
std::vector<drawing::PathTextParams> cardElements(const ReDrawRequest &request,
                                                  const ViewState &view, const RegionRects &regions,
                                                  const QString &status, std::int32_t W,
                                                  std::int32_t H) {
    std::vector<drawing::PathTextParams> elements;
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
    return elements;
}

} // namespace

// The elements of `frame`, in order, and its focus frame; only those that reach `within`
// when given.
void ScreenComposer::paintElements(QPainter &g, const CardFrame &frame, const QRegion *within) {
    for (const drawing::PathTextParams &element : frame.elements) {
        if (within && !within->intersects(drawing::PathTextBounds(element)))
            continue;
        // Mid-animation the card is smaller than the view its texts are laid out for; each
        // element stays in its own box so none spills over the button or the status line.
        if (frame.inTransition) {
            const drawing::LayoutRect &rc = element.rcLayout;
            g.save();
            g.setClipRect(QRect(rc.X, rc.Y, rc.Width + 1, rc.Height + 1), Qt::IntersectClip);
        }
        drawing::DrawPathText(g, element);
        if (frame.inTransition)
            g.restore();
    }
    if (!frame.focus.isEmpty())
        drawFocusFrame(g, frame.focus, frame.focusColour);
}

const ScreenComposer::CardBackground &
ScreenComposer::cardBackground(const Background &background, QSize size, qreal devicePixelRatio) {
    CardBackground &cached = m_cardBackground;
    if (cached.size == size && cached.devicePixelRatio == devicePixelRatio &&
        cached.background == background && !cached.image.isNull())
        return cached;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter g(&image);
    g.setRenderHint(QPainter::Antialiasing);
    g.setRenderHint(QPainter::SmoothPixmapTransform);
    if (background.roundPanel)
        drawing::DrawRoundPanel(g, background.panel);
    else
        drawing::DrawPathText(g, background.box);
    const QPainter::RenderHints hints = g.renderHints();
    g.end();
    cached = {size, devicePixelRatio, background, image, hints, opaquePixels(image)};
    return cached;
}

QImage ScreenComposer::drawCanvas(const ReDrawRequest &request, const ViewState &view,
                                  std::int32_t W, std::int32_t H, qreal devicePixelRatio) {
    const QString status = DisplayedStatusText(request.strInfo2, view.lHoverRegion);
    const bool hasAction = !view.strActionCaption.isEmpty();
    const RegionRects regions = LayoutRegions({.W = W,
                                               .H = H,
                                               .lThemeStyle = view.lThemeStyle,
                                               .hasTitle = hasText(request.strInfo1),
                                               .hasStatus = hasText(status),
                                               .hasActionButton = hasAction});

    // Nothing is drawn before the geometry is known to fit, so a failing request leaves
    // the regions as they were.
    const Background background = BackgroundOf(view, W, H);
    std::vector<drawing::PathTextParams> elements =
        cardElements(request, view, regions, status, W, H);
    m_regions = regions;

    CardFrame frame{.background = background,
                    .inTransition = view.inTransition,
                    .elements = std::move(elements)};
    if (view.bShowFocus) {
        const std::int32_t focused = FocusedRegion(regions, view.lFocusRegion);
        frame.focus = regions.of(focused);
        if (!frame.focus.isEmpty())
            frame.focusColour = FocusFrameColour(
                FocusBackdrops(view, regions, focused, request.lMouseStatus, W, H));
    }
    const QSize size(int(std::ceil(W * devicePixelRatio)), int(std::ceil(H * devicePixelRatio)));
    const CardBackground &card = cardBackground(background, size, devicePixelRatio);

    return repaintCard(std::move(frame), card);
}

QImage ScreenComposer::repaintCard(CardFrame frame, const CardBackground &card) {
    const QSize size = card.image.size();
    const qreal devicePixelRatio = card.devicePixelRatio;
    // The last card again when only some elements changed: where they were and where they
    // are now, the background is put back and every element that reaches there is painted
    // again in order, which gives the same pixels as painting the whole card.
    CardFrame last = std::move(m_lastCard);
    const bool sameCard = !last.canvas.isNull() && last.canvas.size() == size &&
                          last.canvas.devicePixelRatio() == devicePixelRatio &&
                          last.background == frame.background && !last.inTransition &&
                          !frame.inTransition && last.elements.size() == frame.elements.size();
    QRegion changed;
    if (sameCard) {
        for (std::size_t i = 0; i < frame.elements.size(); ++i)
            if (!(frame.elements[i] == last.elements[i]))
                changed |= QRegion(drawing::PathTextBounds(last.elements[i])) |
                           drawing::PathTextBounds(frame.elements[i]);
        if (frame.focus != last.focus || frame.focusColour != last.focusColour)
            changed |= QRegion(focusFrameBounds(last.focus)) | focusFrameBounds(frame.focus);
    }
    QImage canvas = sameCard ? std::move(last.canvas) : card.image.copy();
    canvas.setDevicePixelRatio(devicePixelRatio);
    if (sameCard && !changed.isEmpty()) {
        QPainter g(&canvas);
        // Two pixels more: at a fractional pixel ratio the clip rounds to device pixels.
        QRegion clip;
        for (const QRect &rc : changed)
            clip |= rc.adjusted(-2, -2, 2, 2);
        g.setClipRegion(clip);
        g.setCompositionMode(QPainter::CompositionMode_Source);
        g.drawImage(QPointF(0, 0), card.image);
        g.setCompositionMode(QPainter::CompositionMode_SourceOver);
        g.setRenderHints(card.hints);
        paintElements(g, frame, &clip);
    } else if (!sameCard) {
        QPainter g(&canvas);
        g.setRenderHints(card.hints);
        paintElements(g, frame, nullptr);
    }
    frame.canvas = canvas;
    m_lastCard = std::move(frame);
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
    if (castsShadow(view.lThemeStyle))
        drawShadow(g, canvas, view, W, H);
    const qreal ratio = canvas.devicePixelRatio();
    const QRect onDevice =
        QRectF(margin * ratio, margin * ratio, canvas.width(), canvas.height()).toAlignedRect();
    raster::paintInBands(g, onDevice, [&] { g.drawImage(QPointF(margin, margin), canvas); });
}

void ScreenComposer::drawShadow(QPainter &g, const QImage &canvas, const ViewState &view,
                                std::int32_t W, std::int32_t H) const {
    const std::int32_t margin = view.lShadowMargin;
    g.save();
    // The shadow is computed only where the card lets it show: the margin and the card's
    // transparent corners. The clip is set in device pixels; when the card does not start
    // on a whole device pixel its edges are resampled and the shadow is drawn everywhere.
    const qreal ratio = canvas.devicePixelRatio();
    const qreal offset = margin * ratio;
    if (offset == std::round(offset) && m_cardBackground.image.size() == canvas.size()) {
        const QRect device(0, 0, g.device()->width(), g.device()->height());
        // One pixel beyond the device, as far as the enlargement looks, so that the clip does
        // not move the grid the enlargement is computed on.
        const QRegion visible = QRegion(device.adjusted(-1, -1, 1, 1)) -
                                m_cardBackground.opaque.translated(int(offset), int(offset));
        g.setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
        g.setClipRegion(visible);
        g.setWorldTransform(QTransform());
    }
    drawing::DrawImageShadow(g, canvas,
                             {.lX = margin + ShadowInset,
                              .lY = margin + ShadowInset,
                              .lWidth = W - 2 * ShadowInset,
                              .lHeight = H - 2 * ShadowInset,
                              .sngBlur = float(2 * margin),
                              .bAlpha = 255,
                              .lColor = ShadowColour,
                              .sngOffset = 0});
    g.restore();
}

} // namespace render
