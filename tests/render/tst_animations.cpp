#include <QTest>

#include "platform/Numbers.h"
#include "render/Animations.h"
#include "render/LayeredSurface.h"

using namespace render;

namespace {

// A window that records what the animation does to it.
class FakeWindow final : public ResizableWindow {
public:
    TwipsGeometry g;
    bool enabled = true;
    bool enabledDuringSteps = false;
    int rebuilds = 0;
    int redraws = 0;
    int yields = 0;
    QList<TwipsGeometry> moves;
    int failAtRebuild = -1;
    int closeAtYield = -1;
    // A window manager that answers each request only when the next one comes.
    bool answersLate = false;

    TwipsGeometry geometry() const override { return g; }
    void moveTo(const TwipsGeometry &to) override {
        g = answersLate && !moves.isEmpty() ? moves.last() : to;
        moves.append(to);
    }
    void setInputEnabled(bool on) override { enabled = on; }
    void rebuildSurfaceAndRedraw() override {
        enabledDuringSteps |= enabled;
        if (rebuilds++ == failAtRebuild)
            throw platform::OverflowError("test");
    }
    void redraw() override { ++redraws; }
    void yield() override { ++yields; }
    bool closed() const override { return closeAtYield >= 0 && yields > closeAtYield; }
};

} // namespace

class tst_Animations : public QObject {
    Q_OBJECT
private slots:
    void startupFadePresents255Frames() {
        QList<int> presented;
        int yields = 0;
        FadeWindow(
            {}, [&](std::uint8_t a) { presented.append(a); }, [&] { ++yields; });
        QCOMPARE(presented.size(), 255);
        QCOMPARE(presented.first(), 1);
        QCOMPARE(presented.last(), 255);
        QVERIFY(!presented.contains(0));
        QCOMPARE(yields, 255);
        for (int i = 1; i < presented.size(); ++i)
            QCOMPARE(presented[i], presented[i - 1] + 1);
    }

    void fadeVariants_data() {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("startUp");
        QTest::addColumn<int>("startDown");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("start at the maximum") << 1 << 1 << 255 << 0 << QList<int>{255};
        QTest::newRow("down to the minimum") << -1 << 100 << 0 << 255 << QList<int>{155, 55, 0};
        QTest::newRow("one below the minimum clamps") << -1 << 5 << 0 << 9 << QList<int>{4, 0};
        QTest::newRow("big step clamps") << 1 << 200 << 100 << 0 << QList<int>{255};
        QTest::newRow("one above the maximum clamps") << 1 << 5 << 246 << 0 << QList<int>{251, 255};
        QTest::newRow("step 0 does not hang") << 1 << 0 << 40 << 0 << QList<int>{40};
    }
    void fadeVariants() {
        QFETCH(int, direction);
        QFETCH(int, step);
        QFETCH(int, startUp);
        QFETCH(int, startDown);
        QList<int> presented;
        FadeWindow(
            {.iDirection = std::int16_t(direction),
             .iStep = std::int16_t(step),
             .iStartUp = std::int16_t(startUp),
             .iStartDown = std::int16_t(startDown)},
            [&](std::uint8_t a) { presented.append(a); }, [] {});
        QTEST(presented, "expected");
    }

    void fadeRejectsNonBytes() {
        auto none = [](std::uint8_t) {};
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError,
                                 FadeWindow({.iStartUp = 300}, none, [] {}));
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError,
                                 FadeWindow({.iMaxAlpha = 400}, none, [] {}));
    }

    void resizeGrowsAroundTheCentre() {
        FakeWindow w;
        w.g = {3000, 3000, 6900, 3300};
        ResizeFormSize(w, 6900, 3300, 6000, 6900);
        QCOMPARE(w.moves.size(), 10);
        QCOMPARE(w.moves.first(), (TwipsGeometry{3045, 2820, 6810, 3660}));
        QCOMPARE(w.g, (TwipsGeometry{3450, 1200, 6000, 6900}));
        QCOMPARE(w.rebuilds, 10);
        QCOMPARE(w.yields, 10);
        QCOMPARE(w.redraws, 1);
        QVERIFY(!w.enabledDuringSteps);
        QVERIFY(w.enabled);
    }

    void resizeShrinksBack_data() {
        QTest::addColumn<bool>("answersLate");
        QTest::newRow("answered at once") << false;
        QTest::newRow("answered late: the last request is still the view") << true;
    }
    void resizeShrinksBack() {
        QFETCH(bool, answersLate);
        FakeWindow w;
        w.answersLate = answersLate;
        w.g = {3450, 1200, 6000, 6900};
        ResizeFormSize(w, 6900, 3300, 6000, 6900);
        QCOMPARE(w.moves.last(), (TwipsGeometry{3000, 3000, 6900, 3300}));
    }

    void resizeDirectionFollowsHeight_data() {
        QTest::addColumn<float>("width");
        QTest::addColumn<float>("height");
        QTest::addColumn<float>("finalWidth");
        QTest::addColumn<float>("finalHeight");
        QTest::newRow("expanded height, odd width shrinks") << 5000.f << 6900.f << 5900.f << 3300.f;
        QTest::newRow("compact height grows") << 1234.f << 3300.f << 334.f << 6900.f;
        QTest::newRow("matching neither snaps then grows") << 100.f << 100.f << 6000.f << 6900.f;
    }
    void resizeDirectionFollowsHeight() {
        QFETCH(float, width);
        QFETCH(float, height);
        FakeWindow w;
        w.g = {0, 0, width, height};
        ResizeFormSize(w, 6900, 3300, 6000, 6900);
        QTEST(w.g.width, "finalWidth");
        QTEST(w.g.height, "finalHeight");
    }

    // A window unloaded while an animation yields is neither moved, nor redrawn, nor
    // presented again.
    void animationsStopWhenTheWindowCloses() {
        FakeWindow w;
        w.g = {0, 0, 6900, 3300};
        w.closeAtYield = 2;
        ResizeFormSize(w, 6900, 3300, 6000, 6900);
        QCOMPARE(w.moves.size(), 3);
        QCOMPARE(w.rebuilds, 3);
        QCOMPARE(w.redraws, 0);

        int presented = 0, yields = 0;
        FadeWindow(
            {}, [&](std::uint8_t) { ++presented; }, [&] { ++yields; },
            [&] { return yields == 40; });
        QCOMPARE(presented, 40);
    }

    // Every step of the view animation is kept inside the screen's available area.
    void clampedIntoTheArea_data() {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QRect>("expected");
        const QRect inside(100, 100, 400, 460);
        QTest::newRow("inside stays") << inside << inside;
        QTest::newRow("above the top") << QRect(100, -30, 400, 460) << QRect(100, 0, 400, 460);
        QTest::newRow("past the right and bottom")
            << QRect(900, 500, 400, 460) << QRect(624, 308, 400, 460);
        QTest::newRow("left of a panel at the left")
            << QRect(10, 50, 400, 460) << QRect(40, 50, 400, 460);
        QTest::newRow("taller than the area keeps its top")
            << QRect(100, 50, 400, 900) << QRect(100, 0, 400, 900);
    }
    void clampedIntoTheArea() {
        QFETCH(QRect, window);
        const QRect area(40, 0, 984, 768); // a 1024 x 768 screen with a 40-pixel side panel
        QTEST(clampedInto(window, area), "expected");
    }

    // A window that cannot move itself takes, where it is, the wider view's width and the
    // taller view's height, whichever view it shows (the compact one is wider, the expanded
    // one taller).
    void roomForBothViews_data() {
        QTest::addColumn<QRect>("window");
        QTest::newRow("compact") << QRect(300, 500, 460, 220);
        QTest::newRow("expanded, away from the origin") << QRect(-2, -32, 400, 460);
    }
    void roomForBothViews() {
        QFETCH(QRect, window);
        QCOMPARE(render::roomForBothViews(window, QSize(460, 220), QSize(400, 460)),
                 QRect(window.topLeft(), QSize(460, 460)));
    }

    void resizeEnablesInputAgainAfterAFailure() {
        FakeWindow w;
        w.g = {0, 0, 6900, 3300};
        w.failAtRebuild = 3;
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError,
                                 ResizeFormSize(w, 6900, 3300, 6000, 6900));
        QVERIFY(w.enabled);
    }

    void oneSurfaceAtATime() {
        const int before = LayeredSurface::liveSurfaces();
        {
            LayeredSurface surface;
            for (int i = 0; i < 50; ++i) {
                surface.create(QSize(460 - i, 220 + i), 1.0, 255);
                QCOMPARE(LayeredSurface::liveSurfaces(), before + 1);
            }
            QCOMPARE(surface.image().size(), QSize(411, 269));
            QCOMPARE(surface.image().format(), QImage::Format_ARGB32_Premultiplied);
            QCOMPARE(surface.image().pixel(5, 5), 0u); // transparent until drawn
            surface.create(QSize(460, 220), 2.0, 0);
            QCOMPARE(surface.image().size(), QSize(920, 440));
            QCOMPARE(surface.size(), QSize(460, 220));
            QCOMPARE(surface.globalAlpha(), std::uint8_t(0));
        }
        QCOMPARE(LayeredSurface::liveSurfaces(), before);
    }

    void surfaceSizeOverflow() {
        LayeredSurface surface;
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError,
                                 surface.create(QSize(70000, 70000), 1.0, 0));
        QVERIFY(!surface.exists());
    }
};

QTEST_APPLESS_MAIN(tst_Animations)
#include "tst_animations.moc"
