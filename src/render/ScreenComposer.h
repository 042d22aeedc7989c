#pragma once

#include <QImage>
#include <QPainter>
#include <QRegion>
#include <QString>

#include <vector>

#include "render/ContentElements.h"
#include "render/Regions.h"
#include "render/ViewState.h"

namespace render {

class LayeredSurface;

// The window's one repaint entry. Each call lays out the regions, paints a fresh card,
// composes it with its drop shadow into the layered surface and remembers the request's
// texts and percent for callers that only want the current picture again.
class ScreenComposer {
public:
    // Does nothing at all while the window is minimised, not even remember the values.
    // Otherwise paints into `surface`, which the caller then presents. Throws
    // platform::OverflowError when the geometry overflows; the surface then keeps the
    // previous frame.
    void ReDraw(const ReDrawRequest &request, const ViewState &view, const Rect &rcCanvas,
                bool minimised, LayeredSurface &surface);

    // The card alone (W x H logical pixels at `devicePixelRatio`), for the request as it is.
    // Lays out the regions as a side effect.
    QImage drawCanvas(const ReDrawRequest &request, const ViewState &view, std::int32_t W,
                      std::int32_t H, qreal devicePixelRatio);

    const QString &strLastInfo1() const { return m_strLastInfo1; }
    const QString &strLastInfo2() const { return m_strLastInfo2; }
    float sngLastPercent() const { return m_sngLastPercent; }
    // The progress hook updates the remembered percent before it repaints.
    void setLastPercent(float percent) { m_sngLastPercent = percent; }
    const RegionRects &regions() const { return m_regions; }

private:
    // The card's background alone, painted once for each size, pixel ratio and look: it is
    // the same in every frame until the theme, the view or the size changes. Elements only
    // ever paint over it, so whatever it covers fully stays opaque in every frame whatever
    // the texts, hover or progress: under those pixels the drop shadow never shows.
    struct CardBackground {
        QSize size; // device pixels
        qreal devicePixelRatio = 0;
        Background background;
        QImage image;
        QPainter::RenderHints hints; // as painting the background left the painter
        QRegion opaque;              // device pixels of the card
    };
    const CardBackground &cardBackground(const Background &background, QSize size,
                                         qreal devicePixelRatio);
    // What the last frame's card showed, to repaint only what changed.
    struct CardFrame {
        QImage canvas{};
        Background background;
        bool inTransition = false;
        std::vector<drawing::PathTextParams> elements;
        Rect focus{}; // empty: no focus frame
        std::int32_t focusColour = 0;
    };
    // The card of `frame` on `card`'s background, repainting only what changed since the
    // last card where that was the same size and background; remembers it as the last.
    QImage repaintCard(CardFrame frame, const CardBackground &card);
    static void paintElements(QPainter &g, const CardFrame &frame, const QRegion *within);
    void drawShadow(QPainter &g, const QImage &canvas, const ViewState &view, std::int32_t W,
                    std::int32_t H) const;

    QString m_strLastInfo1;
    QString m_strLastInfo2;
    float m_sngLastPercent = 0;
    RegionRects m_regions;
    CardBackground m_cardBackground;
    CardFrame m_lastCard;
};

} // namespace render
