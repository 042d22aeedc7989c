#include <array>

#include <QTest>

#include "platform/Numbers.h"
#include "render/Regions.h"

using namespace render;

Q_DECLARE_METATYPE(render::Rect)

namespace {
LayoutInput everything(int W, int H, int style) {
    return {W, H, style, true, true, true};
}
} // namespace

class tst_Regions : public QObject {
    Q_OBJECT
private slots:
    // The layout's relations for both views and every kind of style: each region lies on the
    // card, the buttons inside the title bar and the swatches inside the status line, in
    // order, of one size and evenly spaced; nothing else overlaps.
    void layoutRelations_data() {
        QTest::addColumn<int>("W");
        QTest::addColumn<int>("H");
        QTest::addColumn<int>("style");
        QTest::newRow("compact plain") << 440 << 200 << int(PlainStyle);
        QTest::newRow("compact rounded") << 440 << 200 << int(RoundedStyle);
        QTest::newRow("compact diagonal") << 440 << 200 << int(DiagonalStyle);
        QTest::newRow("expanded shaded") << 380 << 440 << int(ShadedStyle);
        QTest::newRow("expanded rounded") << 380 << 440 << int(RoundedStyle);
    }
    void layoutRelations() {
        QFETCH(int, W);
        QFETCH(int, H);
        QFETCH(int, style);
        const RegionRects r = LayoutRegions(everything(W, H, style));
        const auto inside = [](const Rect &in, const Rect &outer) {
            return !in.isEmpty() && in.left >= outer.left && in.top >= outer.top &&
                   in.right <= outer.right && in.bottom <= outer.bottom;
        };
        const Rect card{0, 0, W, H};
        for (const Rect &rc : {r.rcTitleBar, r.rcStatusLine, r.rcActionButton})
            QVERIFY(inside(rc, card));
        // One above the other: title bar, action button, status line.
        QVERIFY(r.rcTitleBar.bottom <= r.rcActionButton.top);
        QVERIFY(r.rcActionButton.bottom <= r.rcStatusLine.top);

        // Left to right in a row: inside the bar, one square size, top-aligned, even gaps,
        // and the last one flush with the bar's right end (buttons) or short of it (swatches).
        const auto row = [&](const std::array<Rect, 3> &items, const Rect &bar) {
            const int gap = items[1].left - items[0].right;
            for (size_t i = 0; i < items.size(); ++i) {
                QVERIFY(inside(items[i], bar));
                QCOMPARE(items[i].width(), items[i].height());
                QCOMPARE(items[i].width(), items[0].width());
                QCOMPARE(items[i].top, items[0].top);
                if (i > 0)
                    QCOMPARE(items[i].left - items[i - 1].right, gap);
            }
            QVERIFY(gap > 0);
        };
        row({r.rcExpandButton, r.rcMinimizeButton, r.rcCloseButton}, r.rcTitleBar);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(r.rcCloseButton.top, r.rcTitleBar.top);
        QCOMPARE(r.rcCloseButton.right, r.rcTitleBar.right);
        row({r.rcStyleSwatch27, r.rcStyleSwatch25, r.rcStyleSwatch15}, r.rcStatusLine);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(r.rcStyleSwatch15.right < r.rcStatusLine.right);

        // The rounded card keeps its status line and button off its curved edges.
        if (style == RoundedStyle) {
            const RegionRects flat = LayoutRegions(everything(W, H, PlainStyle));
            QVERIFY(r.rcStatusLine.bottom < flat.rcStatusLine.bottom);
            QVERIFY(r.rcActionButton.bottom < flat.rcActionButton.bottom);
            QVERIFY(r.rcStatusLine.left > 0 && r.rcStatusLine.right < W - 1);
            QCOMPARE(r.rcTitleBar, flat.rcTitleBar);
        }
    }

    void missingTextsEmptyTheirRegions_data() {
        QTest::addColumn<bool>("title");
        QTest::addColumn<bool>("status");
        QTest::addColumn<bool>("action");
        QTest::newRow("no title") << false << true << true;
        QTest::newRow("no status") << true << false << true;
        QTest::newRow("no caption") << true << true << false;
        QTest::newRow("nothing") << false << false << false;
    }
    void missingTextsEmptyTheirRegions() {
        QFETCH(bool, title);
        QFETCH(bool, status);
        QFETCH(bool, action);
        const RegionRects r = LayoutRegions({440, 200, 27, title, status, action});
        for (const Rect &rc : {r.rcTitleBar, r.rcCloseButton, r.rcMinimizeButton, r.rcExpandButton})
            QCOMPARE(rc.isEmpty(), !title);
        for (const Rect &rc :
             {r.rcStatusLine, r.rcStyleSwatch15, r.rcStyleSwatch25, r.rcStyleSwatch27})
            QCOMPARE(rc.isEmpty(), !status);
        QCOMPARE(r.rcActionButton.isEmpty(), !action);
    }

    void regionLookup() {
        const RegionRects r = LayoutRegions(everything(440, 200, 27));
        QCOMPARE(r.of(srClose), r.rcCloseButton);
        QCOMPARE(r.of(srStyle25), r.rcStyleSwatch25);
        QCOMPARE(r.of(srActionButton), r.rcActionButton);
        QVERIFY(r.of(srNone).isEmpty());
        QVERIFY(r.of(1).isEmpty());
        QVERIFY(r.of(9).isEmpty());
        QVERIFY(r.of(10).isEmpty());
    }

    void halfOpenRectangles() {
        const Rect r{420, 8, 432, 20};
        QVERIFY(r.contains(420, 8));
        QVERIFY(r.contains(431, 19));
        QVERIFY(!r.contains(432, 8));
        QVERIFY(!r.contains(420, 20));
        QVERIFY(!Rect{}.contains(0, 0));
    }

    void overflowingCanvas() {
        QVERIFY_THROWS_EXCEPTION(platform::OverflowError,
                                 LayoutRegions(everything(-2147483600, 200, 27)));
    }

    void hoverHints_data() {
        QTest::addColumn<int>("region");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none") << int(srNone) << "status";
        QTest::newRow("title bar") << int(srTitleBar) << "status";
        QTest::newRow("status line") << int(srStatusLine) << "status";
        QTest::newRow("close") << int(srClose) << "立即退出";
        QTest::newRow("minimise") << int(srMinimize) << "最小化";
        QTest::newRow("expand") << int(srExpand) << "扩展显示";
        QTest::newRow("swatch 15") << int(srStyle15) << "更换界面样式";
        QTest::newRow("swatch 25") << int(srStyle25) << "更换界面样式";
        QTest::newRow("swatch 27") << int(srStyle27) << "更换界面样式";
        QTest::newRow("action button") << int(srActionButton) << "status";
    }
    void hoverHints() {
        QFETCH(int, region);
        QTEST(DisplayedStatusText(QStringLiteral("status"), region), "shown");
    }
};

QTEST_APPLESS_MAIN(tst_Regions)
#include "tst_regions.moc"
