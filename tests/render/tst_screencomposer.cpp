#include <algorithm>

#include <QCoreApplication>
#include <QPainter>
#include <QTest>

#include "drawing/Colors.h"
#include "drawing/ImageShadow.h"
#include "drawing/PathText.h"
#include "raster/GraphicsText.h"
#include "render/AccessibleElements.h"
#include "render/ContentElements.h"
#include "render/LayeredSurface.h"
#include "render/ScreenComposer.h"
#include "support/ImageProbes.h"
#include "support/PseudoTranslator.h"

using namespace render;
using drawing::ShadeColor;

namespace {

constexpr int Margin = 10;
// Theme colours as OLE values (0x00BBGGRR), chosen so each shade is distinguishable.
constexpr std::int32_t Main = 0xC06030;
constexpr std::int32_t Light = 0xF0E8E0;
constexpr std::int32_t Special = 0x2080E0;

const QString Title = QStringLiteral("更新工具 1.0");
const QString Status = QStringLiteral("点击这里访问作者页面");

// One frame's inputs, with the compact view's defaults.
struct Frame {
    std::int32_t style = 27;
    QString tag = QStringLiteral("0");
    QString caption = QStringLiteral("检查更新");
    QString info1 = Title;
    QString info2 = Status;
    float percent = 0;
    std::int32_t mouse = 0;
    std::int32_t hover = srNone;
    std::int32_t W = 440;
    std::int32_t H = 200;
    bool transition = false;
    std::int32_t focus = srNone;
    bool showFocus = false;
    QString pageTitle;
    std::int32_t main = Main;
    std::int32_t special = Special;
};

// The columns of rows that put the pointer somewhere, read back by pointerFrame().
void addPointerColumns() {
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("mouse");
    QTest::addColumn<int>("hover");
}

// The frame of a test row with the columns "style", "mouse" and "hover".
Frame pointerFrame() {
    QFETCH(int, style);
    QFETCH(int, mouse);
    QFETCH(int, hover);
    Frame f;
    f.style = style;
    f.mouse = mouse;
    f.hover = hover;
    return f;
}

ViewState viewOf(const Frame &f) {
    ViewState v;
    v.Tag = f.tag;
    v.strActionCaption = f.caption;
    v.strAgreement = QStringLiteral("用户协议\r\n一、本工具只下载更新。");
    v.lHoverRegion = f.hover;
    v.lThemeStyle = f.style;
    v.lThemeColor = f.main;
    v.lThemeLightColor = Light;
    v.lThemeSpecialColor = f.special;
    v.fontName = raster::programFontFamily();
    v.lShadowMargin = Margin;
    v.inTransition = f.transition;
    v.lFocusRegion = f.focus;
    v.bShowFocus = f.showFocus;
    v.strPageTitle = f.pageTitle;
    return v;
}

// Paints one frame into a fresh surface the size of the window and returns the composer.
ScreenComposer compose(const Frame &f, LayeredSurface &surface) {
    surface.create(QSize(f.W + 2 * Margin, f.H + 2 * Margin), 1.0, 255);
    ScreenComposer composer;
    composer.ReDraw({f.mouse, f.info1, f.info2, f.percent}, viewOf(f), {0, 0, f.W, f.H}, false,
                    surface);
    return composer;
}

ReDrawRequest requestOf(const Frame &f) {
    return {f.mouse, f.info1, f.info2, f.percent};
}

// The frame as the composer drew it before it kept anything between frames: a fresh card,
// its shadow computed from the whole card and drawn everywhere, the card over it.
QImage drawnInFull(const Frame &f, qreal ratio) {
    ScreenComposer composer;
    const QImage canvas = composer.drawCanvas(requestOf(f), viewOf(f), f.W, f.H, ratio);
    QImage target(int(std::ceil((f.W + 2 * Margin) * ratio)),
                  int(std::ceil((f.H + 2 * Margin) * ratio)), QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(ratio);
    target.fill(Qt::transparent);
    QPainter g(&target);
    g.setRenderHint(QPainter::Antialiasing);
    g.setRenderHint(QPainter::SmoothPixmapTransform);
    if (f.style != 25 && f.style != 26)
        drawing::DrawImageShadow(
            g, canvas, {Margin + 2, Margin + 2, f.W - 4, f.H - 4, 2.0f * Margin, 255, 0x202020, 0});
    g.drawImage(QPointF(Margin, Margin), canvas);
    return target;
}

QImage picture(const Frame &f) {
    LayeredSurface surface;
    compose(f, surface);
    return surface.image();
}

// The colour at a card point (the card starts at the shadow margin).
QRgb at(const QImage &image, int x, int y) {
    return image.pixel(x + Margin, y + Margin);
}

QRgb opaque(std::int32_t ole) {
    return drawing::OleToARGB(ole, 255);
}

bool near(QRgb a, QRgb b, int tolerance = 1) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance &&
           std::abs(qAlpha(a) - qAlpha(b)) <= tolerance;
}

QByteArray show(QRgb c) {
    return QByteArray::number(c, 16);
}

#define QCOMPARE_COLOUR(actual, expected, tolerance)                                               \
    QVERIFY2(near(actual, expected, tolerance), show(actual) + " != " + show(expected))

} // namespace

Q_DECLARE_METATYPE(Frame)

class tst_ScreenComposer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (raster::programFontFamily().isEmpty())
            QSKIP("no font with Chinese glyphs is installed");
    }

    // The rectangles the composer keeps for the hit test follow the layout of the frame.
    void workedLayout_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("W");
        QTest::addColumn<int>("H");
        QTest::addColumn<Rect>("status");
        QTest::addColumn<Rect>("swatch15");
        QTest::addColumn<Rect>("button");
        QTest::newRow("compact") << 27 << "0" << 440 << 200 << Rect{0, 180, 439, 199}
                                 << Rect{424, 185, 434, 195} << Rect{280, 145, 420, 170};
        QTest::newRow("expanded") << 27 << "1" << 380 << 440 << Rect{0, 420, 379, 439}
                                  << Rect{364, 425, 374, 435} << Rect{220, 385, 360, 410};
        QTest::newRow("style 15") << 15 << "0" << 440 << 200 << Rect{1, 172, 438, 191}
                                  << Rect{422, 177, 432, 187} << Rect{280, 142, 420, 167};
    }
    void workedLayout() {
        QFETCH(int, style);
        QFETCH(QString, tag);
        QFETCH(int, W);
        QFETCH(int, H);
        Frame f;
        f.style = style;
        f.tag = tag;
        f.W = W;
        f.H = H;
        LayeredSurface surface;
        const RegionRects r = compose(f, surface).regions();
        QCOMPARE(r.rcTitleBar, (Rect{8, 8, W - 8, 28}));
        QCOMPARE(r.rcCloseButton, (Rect{W - 20, 8, W - 8, 20}));
        QCOMPARE(r.rcMinimizeButton, (Rect{W - 35, 8, W - 23, 20}));
        QCOMPARE(r.rcExpandButton, (Rect{W - 50, 8, W - 38, 20}));
        QTEST(r.rcStatusLine, "status");
        QTEST(r.rcStyleSwatch15, "swatch15");
        QTEST(r.rcActionButton, "button");
        QCOMPARE(r.rcStyleSwatch27.left, r.rcStyleSwatch15.left - 24);
        // The action button is painted where it can be clicked.
        QCOMPARE_COLOUR(at(surface.image(), r.rcActionButton.left + 2, r.rcActionButton.top + 2),
                        opaque(ShadeColor(Special, -0.1f)), 1);
    }

    // A missing (or blank) text takes its regions out of the frame: nothing is drawn there.
    void emptyTextsEmptyTheirRegions_data() {
        QTest::addColumn<QString>("info1");
        QTest::addColumn<QString>("info2");
        QTest::addColumn<QString>("caption");
        QTest::newRow("no title") << "" << Status << "检查更新";
        QTest::newRow("blank title") << "  " << Status << "检查更新";
        QTest::newRow("no status") << Title << ""
                                   << "检查更新";
        QTest::newRow("blank status") << Title << " \t"
                                      << "检查更新";
        QTest::newRow("no caption") << Title << Status << "";
        QTest::newRow("nothing") << ""
                                 << ""
                                 << "";
    }
    void emptyTextsEmptyTheirRegions() {
        QFETCH(QString, info1);
        QFETCH(QString, info2);
        QFETCH(QString, caption);
        Frame f;
        f.info1 = info1;
        f.info2 = info2;
        f.caption = caption;
        LayeredSurface surface;
        const RegionRects r = compose(f, surface).regions();
        const QImage image = surface.image();
        const bool title = !info1.trimmed().isEmpty();
        const bool status = !info2.trimmed().isEmpty();
        const bool button = !caption.isEmpty();
        for (const Rect &rc : {r.rcTitleBar, r.rcCloseButton, r.rcMinimizeButton, r.rcExpandButton})
            QCOMPARE(rc.isEmpty(), !title);
        for (const Rect &rc :
             {r.rcStatusLine, r.rcStyleSwatch15, r.rcStyleSwatch25, r.rcStyleSwatch27})
            QCOMPARE(rc.isEmpty(), !status);
        QCOMPARE(r.rcActionButton.isEmpty(), !button);

        // Where each element would be, the flat card shows through when it is missing.
        const QRgb card = opaque(Light);
        QCOMPARE(at(image, 421, 9) == card, !title);    // close button's corner
        QCOMPARE(at(image, 4, 183) == card, !status);   // status line's left end
        QCOMPARE(at(image, 425, 186) == card, !status); // first swatch
        QCOMPARE(at(image, 283, 148) == card, !button); // action button's corner
    }

    // The pointer on a title-bar button or a swatch shows what it does in the status line;
    // the remembered status text stays the one asked for.
    void hoverHintsReplaceOnlyTheDisplayedText_data() {
        QTest::addColumn<int>("hover");
        QTest::addColumn<QString>("hint");
        QTest::newRow("close") << int(srClose) << "立即退出";
        QTest::newRow("minimise") << int(srMinimize) << "最小化";
        QTest::newRow("expand") << int(srExpand) << "扩展显示";
        QTest::newRow("swatch 25") << int(srStyle25) << "更换界面样式";
    }
    void hoverHintsReplaceOnlyTheDisplayedText() {
        QFETCH(int, hover);
        QFETCH(QString, hint);
        for (const QString &info2 : {Status, QString()}) {
            Frame hovering;
            hovering.info2 = info2;
            hovering.hover = hover;
            LayeredSurface surface;
            const ScreenComposer composer = compose(hovering, surface);
            QCOMPARE(composer.strLastInfo2(), info2);
            QVERIFY(!composer.regions().rcStatusLine.isEmpty()); // the hint brings it back

            Frame showingHint;
            showingHint.info2 = hint;
            const QImage expected = picture(showingHint);
            // The status line left of the swatches reads exactly like the hint itself...
            const QRect line(Margin, Margin + 180, 395, 19);
            QCOMPARE(surface.image().copy(line), expected.copy(line));
            // ...and not like the status text.
            QVERIFY(surface.image().copy(line) != picture(Frame{}).copy(line));
        }
    }

    // A minimised window keeps everything: remembered values, rectangles and pixels.
    void redrawWhileMinimisedChangesNothing() {
        Frame f;
        f.percent = 40;
        LayeredSurface surface;
        ScreenComposer composer = compose(f, surface);
        const QImage before = surface.image().copy();
        const RegionRects regions = composer.regions();

        Frame other;
        other.style = 15;
        other.info1 = QStringLiteral("另一个标题");
        other.info2 = QString();
        other.caption = QString();
        other.percent = 90;
        composer.ReDraw({2, other.info1, other.info2, other.percent}, viewOf(other),
                        {0, 0, 380, 440}, true, surface);
        QCOMPARE(composer.strLastInfo1(), Title);
        QCOMPARE(composer.strLastInfo2(), Status);
        QCOMPARE(composer.sngLastPercent(), 40.0f);
        QCOMPARE(composer.regions(), regions);
        QCOMPARE(surface.image(), before);
    }

    // A progress message may arrive during start-up, before the surface exists: nothing is
    // drawn, but its values are remembered for the first frame.
    void remembersWithoutASurface() {
        ScreenComposer composer;
        LayeredSurface none;
        composer.ReDraw({0, Title, QStringLiteral("正在处理"), 30}, viewOf(Frame{}), {0, 0, 0, 0},
                        false, none);
        QCOMPARE(composer.strLastInfo2(), QStringLiteral("正在处理"));
        QCOMPARE(composer.sngLastPercent(), 30.0f);
        QVERIFY(!none.exists());
    }

    void remembersWhatItDraws() {
        Frame f;
        f.percent = 12.5f;
        LayeredSurface surface;
        const ScreenComposer composer = compose(f, surface);
        QCOMPARE(composer.strLastInfo1(), Title);
        QCOMPARE(composer.strLastInfo2(), Status);
        QCOMPARE(composer.sngLastPercent(), 12.5f);
    }

    // Styles 25 and 26 have no drop shadow: the margin stays transparent. The others shade
    // it on every side, fading out towards the window's edge.
    void shadowMargin_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("shaded");
        QTest::newRow("15") << 15 << true;
        QTest::newRow("25") << 25 << false;
        QTest::newRow("26") << 26 << false;
        QTest::newRow("27") << 27 << true;
        QTest::newRow("0") << 0 << true;
        QTest::newRow("20") << 20 << true;
    }
    void shadowMargin() {
        QFETCH(int, style);
        QFETCH(bool, shaded);
        Frame f;
        f.style = style;
        const QImage image = picture(f);
        const int w = image.width(), h = image.height();
        const QList<QPoint> band = {{w - 7, h / 2}, {6, h / 2}, {w / 2, 6}, {w / 2, h - 7}};
        for (const QPoint &p : band) {
            const QRgb c = image.pixel(p);
            QVERIFY2((qAlpha(c) > 0) == shaded,
                     QByteArray::number(p.x()) + "," + QByteArray::number(p.y()) + ": " + show(c));
            // The shadow is the card darkened by three quarters.
            QVERIFY(qRed(c) <= qAlpha(c) / 4 + 1 && qGreen(c) <= qAlpha(c) / 4 + 1 &&
                    qBlue(c) <= qAlpha(c) / 4 + 1);
        }
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        if (shaded)
            QVERIFY(qAlpha(image.pixel(w - 9, h / 2)) > qAlpha(image.pixel(w - 3, h / 2)));
        // The card itself is opaque up to its edges (style 15 rounds its corners).
        QCOMPARE(qAlpha(at(image, 0, 100)), 255);
        QCOMPARE(qAlpha(at(image, f.W - 1, 100)), 255);
    }

    // The card's colour at a spot free of text and buttons, left above the status line.
    void cardBackground_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QRgb>("expected");
        QTest::newRow("27 light colour") << 27 << opaque(Light);
        const QRgb darkened = opaque(ShadeColor(Light, -0.05f));
        for (const int style : {0, 14, 16, 24, 28, 100})
            QTest::addRow("%d darkened", style) << style << darkened;
    }
    void cardBackground() {
        QFETCH(int, style);
        QFETCH(QRgb, expected);
        Frame f;
        f.style = style;
        const QImage image = picture(f);
        QCOMPARE_COLOUR(at(image, 10, 140), expected, 0);
        QCOMPARE_COLOUR(at(image, 430, 60), expected, 0);
    }

    // Style 15: a rounded panel, light at the top and the main colour at the bottom, framed
    // in a darker shade.
    void style15Panel() {
        Frame f;
        f.style = 15;
        const QImage image = picture(f);
        QCOMPARE_COLOUR(at(image, 380, 2), opaque(ShadeColor(Main, 0.25f)), 8);
        QCOMPARE_COLOUR(at(image, 220, 196), opaque(Main), 8);
        QCOMPARE_COLOUR(at(image, 220, 0), opaque(ShadeColor(Main, 0.35f)), 24);
        QVERIFY(qAlpha(at(image, 0, 0)) < 255); // rounded corner: partly see-through
    }

    // The big faint watermark at the top left has a faint white outline, except in the
    // plain styles: over a flat card only the outline can make a pixel lighter.
    void watermarkOutline_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("outlined");
        QTest::newRow("27") << 27 << false;
        QTest::newRow("0") << 0 << true;
        QTest::newRow("20") << 20 << true;
    }
    void watermarkOutline() {
        QFETCH(int, style);
        QFETCH(bool, outlined);
        Frame f;
        f.style = style;
        const QImage image = picture(f);
        const QRgb card = at(image, 10, 140);
        int lighter = 0, darker = 0;
        for (int y = 1; y < 70; ++y)
            for (int x = 1; x < 300; ++x) {
                const QRgb c = at(image, x, y);
                lighter += qRed(c) > qRed(card) || qBlue(c) > qBlue(card);
                darker += qRed(c) < qRed(card);
            }
        QVERIFY(darker > 1000); // the watermark and the title are there
        QCOMPARE(lighter > 0, outlined);
    }

    // 25 and 26 are one diagonal gradient, lighter towards the top left; every style outside
    // 15, 25, 26 and 27 looks like every other.
    void stylesThatLookAlike() {
        Frame a, b;
        a.style = 25;
        b.style = 26;
        QCOMPARE(picture(a), picture(b));
        const QImage diagonal = picture(a);
        const QRgb topLeft = at(diagonal, 10, 140), bottomRight = at(diagonal, 430, 140);
        QVERIFY(qRed(topLeft) > qRed(bottomRight));
        QVERIFY(qRed(topLeft) <= qRed(opaque(ShadeColor(Light, 0.05f))));
        QVERIFY(qRed(bottomRight) >= qRed(opaque(ShadeColor(Light, -0.05f))));
        a.style = 0;
        b.style = 31;
        QCOMPARE(picture(a), picture(b));
    }

    // The action button's fill, off its caption, for each look in both style families.
    void actionButtonLooks_data() {
        addPointerColumns();
        QTest::addColumn<float>("shade");
        for (const int style : {15, 27}) {
            QTest::addRow("%d normal", style) << style << 0 << int(srNone) << -0.1f;
            QTest::addRow("%d hover", style) << style << 1 << int(srActionButton) << -0.05f;
            QTest::addRow("%d pressed", style) << style << 2 << int(srActionButton) << -0.15f;
            QTest::addRow("%d released", style) << style << 0 << int(srActionButton) << -0.1f;
            QTest::addRow("%d pressed elsewhere", style) << style << 2 << int(srClose) << -0.1f;
        }
    }
    void actionButtonLooks() {
        QFETCH(float, shade);
        const Frame f = pointerFrame();
        LayeredSurface surface;
        const Rect rc = compose(f, surface).regions().rcActionButton;
        const QRgb fill = opaque(ShadeColor(Special, shade));
        // Inside the frame at both ends, well clear of the centred caption.
        QCOMPARE_COLOUR(at(surface.image(), rc.left + 3, rc.top + 3), fill, 0);
        QCOMPARE_COLOUR(at(surface.image(), rc.right - 5, rc.bottom - 5), fill, 0);
        // The 139 x 24 layout's frame reaches its right edge, the region's last column.
        QCOMPARE_COLOUR(at(surface.image(), rc.right - 1, rc.top + 10), fill, 0);
        QVERIFY(at(surface.image(), rc.right, rc.top + 10) != fill);
    }

    // The bar fills round(percent / 100 x 439) pixels from the left in the line's colour
    // darkened once more; the status text is one character in the middle, away from the probes.
    void progressBar_data() {
        QTest::addColumn<float>("percent");
        QTest::addColumn<int>("barWidth");
        QTest::newRow("0") << 0.0f << 0;
        QTest::newRow("-5") << -5.0f << 0;
        QTest::newRow("37.5") << 37.5f << 165;
        QTest::newRow("150") << 150.0f << 439;
    }
    void progressBar() {
        QFETCH(float, percent);
        QFETCH(int, barWidth);
        Frame f;
        f.info2 = QStringLiteral("中");
        f.percent = percent;
        const QImage image = picture(f);
        const QRgb line = opaque(ShadeColor(Main, -0.125f));
        const QRgb bar = opaque(ShadeColor(ShadeColor(Main, -0.125f), -0.15f));
        const int y = 183; // above the swatches
        // Pixel centres lie on whole coordinates, so the pixel at the bar's end is half
        // covered: it is left out.
        for (const int x : {1, 100, 163, 164, 166, 167, 300, 398, 437}) {
            const QRgb c = at(image, x, y);
            QVERIFY2(c == (x < barWidth ? bar : line),
                     QByteArray::number(x) + ": " + show(c) + " bar " + show(bar));
        }
    }

    // Pressing on the status line darkens it; hovering does not change it.
    void statusLinePressed_data() {
        addPointerColumns();
        QTest::addColumn<float>("shade");
        for (const int style : {15, 27}) {
            QTest::addRow("%d normal", style) << style << 0 << int(srNone) << -0.125f;
            QTest::addRow("%d hover", style) << style << 1 << int(srStatusLine) << -0.125f;
            QTest::addRow("%d pressed", style) << style << 2 << int(srStatusLine) << -0.175f;
            QTest::addRow("%d pressed on the button", style)
                << style << 2 << int(srActionButton) << -0.125f;
        }
    }
    void statusLinePressed() {
        QFETCH(float, shade);
        LayeredSurface surface;
        const Rect rc = compose(pointerFrame(), surface).regions().rcStatusLine;
        QCOMPARE_COLOUR(at(surface.image(), rc.left + 3, rc.top + 3),
                        opaque(ShadeColor(Main, shade)), 0);
    }

    // Style 15 shows the title-bar buttons as a black glyph on the card until the pointer
    // comes; the other styles fill them.
    void titleButtons_data() {
        addPointerColumns();
        QTest::addColumn<bool>("filled");
        QTest::addColumn<float>("shade");
        QTest::newRow("15 normal") << 15 << 0 << int(srNone) << false << 0.0f;
        QTest::newRow("15 hover") << 15 << 1 << int(srClose) << true << -0.035f;
        QTest::newRow("15 pressed") << 15 << 2 << int(srClose) << true << -0.1f;
        QTest::newRow("27 normal") << 27 << 0 << int(srNone) << true << -0.05f;
        QTest::newRow("27 hover") << 27 << 1 << int(srClose) << true << -0.035f;
        QTest::newRow("25 pressed") << 25 << 2 << int(srClose) << true << -0.1f;
    }
    void titleButtons() {
        QFETCH(bool, filled);
        QFETCH(float, shade);
        const Frame f = pointerFrame();
        LayeredSurface surface;
        const Rect rc = compose(f, surface).regions().rcCloseButton;
        const QImage image = surface.image();
        const QRgb corner = at(image, rc.left + 1, rc.top + 1);
        if (filled)
            QCOMPARE_COLOUR(corner, opaque(ShadeColor(Main, shade)), 0);
        else
            QVERIFY(near(corner, opaque(ShadeColor(Main, 0.25f)), 12)); // the panel's top

        // The glyph: black on the bare card, white on a fill.
        int darkest = 255, lightest = 0;
        for (int y = rc.top; y < rc.top + 11; ++y)
            for (int x = rc.left; x < rc.left + 11; ++x) {
                darkest = std::min(darkest, qGreen(at(image, x, y)));
                lightest = std::max(lightest, qGreen(at(image, x, y)));
            }
        if (filled) // a small anti-aliased glyph, far lighter than the fill
            QVERIFY2(lightest > qGreen(corner) + 80, QByteArray::number(lightest));
        else
            QVERIFY2(darkest < 60, QByteArray::number(darkest));
    }

    // The canvas is painted at the surface's pixel ratio: the same layout, twice the pixels.
    // Mid-animation the card still has the compact size while the expanded view's agreement
    // is already laid out in it: each text stays in its own box, so below the content area
    // (the status line included) the frame is the compact view's. A resting frame fits the
    // agreement to the content area, so it too stays inside.
    void transitionFramesKeepTextsInTheirBoxes_data() {
        QTest::addColumn<bool>("transition");
        QTest::addColumn<bool>("likeCompact");
        QTest::newRow("transition frame") << true << true;
        QTest::newRow("a resting frame fits its texts") << false << true;
    }
    void transitionFramesKeepTextsInTheirBoxes() {
        QFETCH(bool, transition);
        QFETCH(bool, likeCompact);
        Frame expandedInCompact;
        expandedInCompact.tag = QStringLiteral("1");
        expandedInCompact.transition = transition;
        const QRect belowContent(Margin, Margin + 136, 270, 64);
        const bool same =
            picture(expandedInCompact).copy(belowContent) == picture(Frame()).copy(belowContent);
        QCOMPARE(same, likeCompact);
    }

    // A page title of any length is shown cut to a bounded length, never in half a
    // character.
    void shownPageTitle_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shown");
        const QString limit(MaxShownTitleLength, u'a');
        QTest::newRow("short") << u"Demo 2.1"_qs << u"Demo 2.1"_qs;
        QTest::newRow("at the limit") << limit << limit;
        QTest::newRow("one over") << limit + u'b' << limit + u'…';
        QTest::newRow("100 000 characters") << QString(100000, u'版') << QString(200, u'版') + u'…';
        const QString pair = QStringLiteral("\U0001F600");
        QTest::newRow("a pair across the cut") << limit.left(MaxShownTitleLength - 1) + pair + u'c'
                                               << limit.left(MaxShownTitleLength - 1) + u'…';
    }
    void shownPageTitle() {
        QFETCH(QString, title);
        QTEST(ShownPageTitle(title), "shown");
    }

    // The expanded view fits its texts to the content area, whatever the title: the title
    // takes at most two lines, the agreement what is left, and the consent sentence is
    // painted whole and inside the area.
    void expandedContentFits_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("titleCut");
        QTest::newRow("no version found") << QString() << false;
        QTest::newRow("short") << u"Demo 2.1"_qs << false;
        QTest::newRow("56 Chinese characters") << QString(56, QChar(0x7248)) << true;
        QTest::newRow("200 letters") << QString(200, u'V') << true;
        QTest::newRow("200 Chinese characters") << QString(200, QChar(0x7248)) << true;
        QTest::newRow("words") << QString(u"Demo Release Candidate "_qs).repeated(12) << true;
    }
    void expandedContentFits() {
        QFETCH(QString, title);
        QFETCH(bool, titleCut);
        Frame f;
        f.tag = QStringLiteral("1");
        f.pageTitle = title;
        ViewState view = viewOf(f);
        // The agreement the program shows: long enough to fill the area on its own.
        view.strAgreement =
            QStringLiteral("用户协议\r\n") +
            QStringLiteral("一、本工具只下载更新，不收集任何信息。\r\n").repeated(14);
        const auto calls = ContentArea(view, 380, 440, true);
        QCOMPARE(calls.size(), title.isEmpty() ? size_t(2) : size_t(3));
        const drawing::PathTextParams &text = calls[1];
        const QString consent = title.isEmpty() ? ConsentToCheck() : ConsentToDownload();
        QVERIFY2(text.strText.endsWith(u"\r\n\r\n\r\n"_qs + consent), qPrintable(text.strText));
        const QRectF painted = raster::textPath(drawing::PathTextRequest(text)).boundingRect();
        QVERIFY2(
            painted.bottom() <= text.rcLayout.Height,
            qPrintable(QStringLiteral("%1 of %2").arg(painted.bottom()).arg(text.rcLayout.Height)));
        QVERIFY(text.strText.contains(u"…\r\n\r\n\r\n"_qs)); // the agreement was cut
        if (title.isEmpty())
            return;
        const drawing::PathTextParams &heading = calls[2];
        QVERIFY(text.strText.startsWith(heading.strText + u"\r\n"_qs));
        QVERIFY(raster::textLineCount(drawing::PathTextRequest(heading)) <= 2);
        QCOMPARE(heading.strText.endsWith(u'…'), titleCut);
        QVERIFY(title.startsWith(heading.strText.chopped(titleCut ? 1 : 0)));
    }

    // Every text of every screen stays inside its region in English and in a pseudo
    // language 40 % longer, in both views and the two shapes of card: a cut text ends in "…".
    // The regions are in device-independent pixels, so what fits holds at every scale.
    void translatedTextsFit_data() {
        QTest::addColumn<bool>("pseudo");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("pageTitle");
        for (const bool pseudo : {false, true})
            for (const int style : {15, 27})
                for (const char *tag : {"0", "1"})
                    for (const QString &title : {QString(), u"Demo 2.1"_qs})
                        QTest::addRow("%s, style %d, %s, %s", pseudo ? "pseudo" : "English", style,
                                      *tag == '1' ? "expanded" : "compact",
                                      title.isEmpty() ? "no version" : "version found")
                            << pseudo << style << QString::fromLatin1(tag) << title;
    }
    void translatedTextsFit() {
        QFETCH(bool, pseudo);
        QFETCH(int, style);
        QFETCH(QString, tag);
        QFETCH(QString, pageTitle);
        testsupport::PseudoTranslator pseudoLanguage;
        QTranslator english;
        QTranslator &translator = pseudo ? static_cast<QTranslator &>(pseudoLanguage) : english;
        QVERIFY(pseudo ? pseudoLanguage.load()
                       : english.load(QStringLiteral(":/i18n/update-tool_en.qm")));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const auto tr = [](const char *source) {
            return QCoreApplication::translate("update-tool", source);
        };
        Frame f;
        f.style = style;
        f.tag = tag;
        f.pageTitle = pageTitle;
        if (tag == u"1") {
            f.W = 380;
            f.H = 440;
        }
        ViewState view = viewOf(f);
        view.strAgreement = QStringList{tr("用户协议"),
                                        QString(),
                                        tr("软件作者保证软件不含任何恶意代码或病毒;"),
                                        tr("也不会在未经使用人允许的情况下连接网络;"),
                                        tr("使用人不可将软件用于非法用途或反向工程;"),
                                        tr("软件版权归软件作者所有;"),
                                        QString(),
                                        tr("联系作者 QQ: %1").arg(10000),
                                        tr("或者电子邮件 %1").arg(u"author@example.com"_qs)}
                                .join(u"\r\n"_qs);
        std::vector<drawing::PathTextParams> texts = ContentArea(view, f.W, f.H, true);
        texts.push_back(ContentArea(view, f.W, f.H, false).front());
        texts.push_back(
            TitleLine(view, f.W, tr("%1更新工具 %2 beta").arg(u"Demo "_qs, u"1.0.0"_qs)));
        for (const char *caption : {"检查更新", "开始下载", "取消"}) {
            view.strActionCaption = tr(caption);
            texts.push_back(ActionButton(view, f.W, f.H, Look::Normal));
        }
        const RegionRects regions = LayoutRegions({.W = f.W,
                                                   .H = f.H,
                                                   .lThemeStyle = style,
                                                   .hasTitle = true,
                                                   .hasStatus = true,
                                                   .hasActionButton = true});
        for (const char *status :
             {"点击这里访问作者页面", "正在检查，请稍等 ...", "正在下载，请稍等 ...", "已经完成",
              "正在处理", "立即退出", "最小化", "扩展显示", "更换界面样式"})
            texts.push_back(StatusLine(view, regions.rcStatusLine, tr(status), 0, Look::Normal));
        QCoreApplication::removeTranslator(&translator);

        for (const drawing::PathTextParams &text : texts) {
            if (text.strText.isEmpty())
                continue;
            const QRectF painted = raster::textPath(drawing::PathTextRequest(text)).boundingRect();
            const QRectF region(0, 0, text.rcLayout.Width, text.rcLayout.Height);
            QVERIFY2(region.adjusted(-1, -1, 1, 1).contains(painted),
                     qPrintable(QStringLiteral("'%1' paints %2,%3 %4x%5 in %6x%7")
                                    .arg(text.strText)
                                    .arg(painted.x())
                                    .arg(painted.y())
                                    .arg(painted.width())
                                    .arg(painted.height())
                                    .arg(region.width())
                                    .arg(region.height())));
        }
    }

    // The focus frame: a dotted line one pixel inside the focused element, only once the
    // keyboard was used; the mouse-only start-up frame has none. Each of its dots
    // contrasts at least 3 : 1 with the pixel it covers, in every style and theme colour
    // (the navy button of a dark special colour among them).
    void focusFrame_data() {
        QTest::addColumn<bool>("showFocus");
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("framed");
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("main");
        QTest::addColumn<int>("special");
        QTest::newRow("mouse-only start-up")
            << false << int(srNone) << int(srNone) << 27 << Main << Special;
        QTest::newRow("after Tab: the action button")
            << true << int(srNone) << int(srActionButton) << 27 << Main << Special;
        const struct {
            const char *name;
            int main;
            int special;
        } themes[] = {{"navy", 0x8B2519, 0x8B2519},  {"orange", Main, Special},
                      {"white", 0xFFFFFF, 0xFFFFFF}, {"black", 0, 0},
                      {"grey", 0x767676, 0x808080},  {"defaults", 0xFFFFFF, 0xBFBFBF}};
        for (const int style : {15, 25, 27, 0})
            for (const auto &theme : themes)
                for (const int region :
                     {srActionButton, srStatusLine, srClose, srExpand, srStyle15, srStyle27})
                    QTest::addRow("style %d, %s, region %d", style, theme.name, region)
                        << true << region << region << style << theme.main << theme.special;
    }
    void focusFrame() {
        QFETCH(bool, showFocus);
        QFETCH(int, focus);
        QFETCH(int, framed);
        QFETCH(int, style);
        QFETCH(int, main);
        QFETCH(int, special);
        Frame f;
        f.style = style;
        f.main = main;
        f.special = special;
        LayeredSurface plain;
        compose(f, plain);
        f.showFocus = showFocus;
        f.focus = focus;
        LayeredSurface surface;
        const RegionRects regions = compose(f, surface).regions();
        const auto ole = [](QRgb c) { return qRed(c) | qGreen(c) << 8 | qBlue(c) << 16; };
        for (const std::int32_t region :
             {srActionButton, srStatusLine, srClose, srExpand, srStyle15, srStyle27}) {
            const Rect rc = regions.of(region);
            int dots = 0;
            double weakest = 21;
            for (int x = rc.left + 1; x < rc.right - 2; ++x) {
                const QRgb dot = at(surface.image(), x, rc.top + 1);
                const QRgb under = at(plain.image(), x, rc.top + 1);
                if (dot == under)
                    continue;
                ++dots;
                weakest = std::min(weakest, drawing::ContrastRatio(ole(dot), ole(under)));
            }
            // Qt's dots are one pixel on, two off.
            QVERIFY2(region == framed ? dots >= 3 && weakest >= 3 : dots == 0,
                     qPrintable(QStringLiteral("region %1: %2 dots, contrast %3")
                                    .arg(region)
                                    .arg(dots)
                                    .arg(weakest)));
        }
    }

    // Assistive technology reads the frame as laid out: names and roles in reading order.
    void describedFrame_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("pageTitle");
        QTest::addColumn<float>("percent");
        QTest::addColumn<QStringList>("described");
        const QStringList buttons{u"Button 扩展显示"_qs,       u"Button 最小化"_qs,
                                  u"Button 立即退出"_qs,       u"Button 更换界面样式 1"_qs,
                                  u"Button 更换界面样式 2"_qs, u"Button 更换界面样式 3"_qs};
        QTest::newRow("compact")
            << "0" << QString() << 0.0f
            << QStringList{u"StaticText "_qs + Title,
                           u"StaticText 按下 检查更新 按钮查找可供下载的最新版本"_qs,
                           u"Button 检查更新"_qs, u"Link "_qs + Status} +
                   buttons;
        QTest::newRow("expanded, a version found")
            << "1" << u"Demo 2.1"_qs << 0.0f
            << QStringList{u"StaticText "_qs + Title, u"StaticText Demo 2.1"_qs,
                           u"StaticText 用户协议"_qs, u"Button 检查更新"_qs, u"Link "_qs + Status} +
                   buttons;
        QTest::newRow("downloading")
            << "0" << u"Demo 2.1"_qs << 42.4f
            << QStringList{u"StaticText "_qs + Title, u"StaticText Demo 2.1\r\n下载"_qs,
                           u"Button 检查更新"_qs, u"Link "_qs + Status,
                           u"ProgressBar "_qs + Status + u" = 42"_qs} +
                   buttons;
    }
    void describedFrame() {
        QFETCH(QString, tag);
        QFETCH(QString, pageTitle);
        QFETCH(float, percent);
        Frame f;
        f.tag = tag;
        f.pageTitle = pageTitle;
        f.percent = percent;
        const RegionRects regions = [&] {
            LayeredSurface surface;
            return compose(f, surface).regions();
        }();
        QStringList described;
        const ReDrawRequest request{0, f.info1, f.info2, f.percent};
        for (const AccessibleElement &e :
             DescribeFrame(request, viewOf(f), regions, f.W, f.H, Status)) {
            const QString role = e.role == QAccessible::Button        ? u"Button"_qs
                                 : e.role == QAccessible::Link        ? u"Link"_qs
                                 : e.role == QAccessible::ProgressBar ? u"ProgressBar"_qs
                                                                      : u"StaticText"_qs;
            described << role + u' ' + e.name +
                             (e.role == QAccessible::ProgressBar ? u" = "_qs + e.value : QString());
            QVERIFY(!e.rect.isEmpty());
        }
        QTEST(described, "described");
    }

    // A reader hears of what a repaint changed and of nothing when nothing did: the
    // download's text as a new name of the status line, the progress as value changes.
    void accessibleChanges_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<float>("percent");
        QTest::addColumn<QStringList>("changes");
        QTest::newRow("the same frame again") << Status << 0.0f << QStringList();
        // The line stops being a link: another element, which a reader reads afresh.
        QTest::newRow("a download starts")
            << u"正在下载，请稍等 ..."_qs << 10.0f
            << QStringList{u"link ObjectDestroyed"_qs, u"status ObjectCreated"_qs,
                           u"progress ObjectCreated"_qs};
        QTest::newRow("a bar under the same text")
            << Status << 0.4f << QStringList{u"progress ObjectCreated"_qs};
        QTest::newRow("no status text: the line and its swatches go")
            << QString() << 0.0f
            << QStringList{u"link ObjectDestroyed"_qs, u"button8 ObjectDestroyed"_qs,
                           u"button7 ObjectDestroyed"_qs, u"button6 ObjectDestroyed"_qs};
    }
    void accessibleChanges() {
        QFETCH(QString, status);
        QFETCH(float, percent);
        auto describe = [](const Frame &f) {
            LayeredSurface surface;
            const RegionRects regions = compose(f, surface).regions();
            return DescribeFrame({0, f.info1, f.info2, f.percent}, viewOf(f), regions, f.W, f.H,
                                 Status);
        };
        Frame first, next;
        next.info2 = status;
        next.percent = percent;
        QStringList changes;
        for (const AccessibleChange &c : ChangesBetween(describe(first), describe(next)))
            changes << c.key + u' ' +
                           QString::fromLatin1(
                               c.event == QAccessible::NameChanged       ? "NameChanged"
                               : c.event == QAccessible::ObjectCreated   ? "ObjectCreated"
                               : c.event == QAccessible::ObjectDestroyed ? "ObjectDestroyed"
                                                                         : "ValueChanged");
        QTEST(changes, "changes");

        // Each percent the bar moves is one value change, nothing else.
        Frame later = next;
        later.percent = percent + 1;
        const auto moved = ChangesBetween(describe(next), describe(later));
        if (percent > 0)
            QCOMPARE(moved,
                     (std::vector<AccessibleChange>{{u"progress"_qs, QAccessible::ValueChanged}}));
    }

    // One composer draws a run of frames into one surface, as the window does, keeping what
    // it can between them; each frame must look as if drawn from scratch.
    void framesLookAsIfDrawnInFull_data() {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<qreal>("ratio");
        const auto pointerAndProgress = [](Frame f) {
            QList<Frame> run{f};
            f.hover = srActionButton;
            f.mouse = 1;
            run << f;
            f.mouse = 2;
            run << f;
            f.mouse = 0;
            f.hover = srNone;
            f.percent = 37.5f;
            f.info2 = QStringLiteral("正在下载，请稍等 ...");
            run << f;
            f.percent = 38.5f;
            f.hover = srStatusLine;
            f.mouse = 1;
            run << f;
            f.hover = srClose; // the status line shows what the button does
            run << f;
            f.focus = srStyle15;
            f.showFocus = true;
            run << f;
            return run;
        };
        for (const int style : {15, 25, 26, 27, 0})
            for (const QString &tag : {QStringLiteral("0"), QStringLiteral("1")}) {
                Frame f;
                f.style = style;
                f.tag = tag;
                if (tag == QStringLiteral("1")) {
                    f.W = 380;
                    f.H = 440;
                    f.pageTitle = QStringLiteral("示例软件 2.5.0");
                }
                QTest::addRow("style %d, view %s", style, qPrintable(tag))
                    << pointerAndProgress(f) << 1.0;
            }
        Frame compact, expanded;
        expanded.tag = QStringLiteral("1");
        expanded.W = 380;
        expanded.H = 440;
        Frame rounded = compact, otherColour = compact;
        rounded.style = 15;
        otherColour.main = 0x3060C0;
        QTest::newRow("theme changes")
            << QList<Frame>{compact, rounded, compact, otherColour} << 1.0;
        QTest::newRow("view switches") << QList<Frame>{compact, expanded, compact} << 1.0;
        QList<Frame> steps{compact};
        for (int step = 1; step < 4; ++step) {
            Frame between = compact;
            between.transition = true;
            between.W = 440 - 20 * step;
            between.H = 200 + 80 * step;
            steps << between;
        }
        steps << expanded;
        QTest::newRow("resize steps") << steps << 1.0;
        QTest::newRow("high density") << pointerAndProgress(rounded) << 2.0;
        QTest::newRow("margin between device pixels") << pointerAndProgress(rounded) << 1.25;
    }
    void framesLookAsIfDrawnInFull() {
        QFETCH(QList<Frame>, frames);
        QFETCH(qreal, ratio);
        ScreenComposer composer;
        LayeredSurface surface;
        for (qsizetype i = 0; i < frames.size(); ++i) {
            const Frame &f = frames[i];
            const QSize client(f.W + 2 * Margin, f.H + 2 * Margin);
            if (surface.size() != client)
                surface.create(client, ratio, 255);
            composer.ReDraw(requestOf(f), viewOf(f), {0, 0, f.W, f.H}, false, surface);
            const QImage expected = drawnInFull(f, ratio);
            QCOMPARE(surface.image().size(), expected.size());
            QVERIFY2(testsupport::maxChannelDifference(surface.image(), expected) <= 1,
                     "frame " + QByteArray::number(i));
        }
    }

    void highDensitySurface() {
        Frame f;
        LayeredSurface surface;
        surface.create(QSize(f.W + 2 * Margin, f.H + 2 * Margin), 2.0, 255);
        ScreenComposer composer;
        composer.ReDraw({0, f.info1, f.info2, 0}, viewOf(f), {0, 0, f.W, f.H}, false, surface);
        const QImage &image = surface.image();
        QCOMPARE(image.size(), QSize(2 * (f.W + 2 * Margin), 2 * (f.H + 2 * Margin)));
        const Rect rc = composer.regions().rcActionButton;
        QCOMPARE(rc, (Rect{280, 145, 420, 170}));
        QCOMPARE_COLOUR(image.pixel(2 * (rc.left + Margin) + 5, 2 * (rc.top + Margin) + 5),
                        opaque(ShadeColor(Special, -0.1f)), 0);
        QCOMPARE_COLOUR(image.pixel(2 * (10 + Margin), 2 * (140 + Margin)), opaque(Light), 0);
        QVERIFY(qAlpha(image.pixel(2 * (f.W + Margin) + 6, image.height() / 2)) > 0);
    }
};

QTEST_MAIN(tst_ScreenComposer)
#include "tst_screencomposer.moc"
