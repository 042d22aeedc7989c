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
    void compactViewWorkedExample() {
        const RegionRects r = LayoutRegions(everything(440, 200, 27));
        QCOMPARE(r.rcTitleBar, (Rect{8, 8, 432, 28}));
        QCOMPARE(r.rcCloseButton, (Rect{420, 8, 432, 20}));
        QCOMPARE(r.rcMinimizeButton, (Rect{405, 8, 417, 20}));
        QCOMPARE(r.rcExpandButton, (Rect{390, 8, 402, 20}));
        QCOMPARE(r.rcStatusLine, (Rect{0, 180, 439, 199}));
        QCOMPARE(r.rcStyleSwatch15, (Rect{424, 185, 434, 195}));
        QCOMPARE(r.rcStyleSwatch25, (Rect{412, 185, 422, 195}));
        QCOMPARE(r.rcStyleSwatch27, (Rect{400, 185, 410, 195}));
        QCOMPARE(r.rcActionButton, (Rect{280, 145, 420, 170}));
    }

    void expandedViewWorkedExample() {
        const RegionRects r = LayoutRegions(everything(380, 440, 25));
        QCOMPARE(r.rcActionButton, (Rect{220, 385, 360, 410}));
        QCOMPARE(r.rcStatusLine, (Rect{0, 420, 379, 439}));
    }

    void style15SitsHigher() {
        const RegionRects r = LayoutRegions(everything(440, 200, 15));
        QCOMPARE(r.rcStatusLine, (Rect{1, 172, 438, 191}));
        // The swatches count from the status line's width (W - 3).
        QCOMPARE(r.rcStyleSwatch15, (Rect{422, 177, 432, 187}));
        QCOMPARE(r.rcStyleSwatch27, (Rect{398, 177, 408, 187}));
        QCOMPARE(r.rcActionButton, (Rect{280, 142, 420, 167}));
        QCOMPARE(r.rcTitleBar, (Rect{8, 8, 432, 28}));
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
