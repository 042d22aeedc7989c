#include <QTest>

#include "download/FakeReadService.h"
#include "download/ctlAsyncDownload.h"
#include "render/Regions.h"
#include "support/ScriptedMessageBoxes.h"
#include "window/FakeWindowHost.h"
#include "window/Interaction.h"
#include "window/Workflow.h"

using namespace window;
using namespace render;
using Draw = FakeWindowHost::Draw;

namespace {

const QString Title = QStringLiteral("Demo 更新工具 1.2.3 beta");
const QString AuthorPage = QStringLiteral("https://author.example/home");
constexpr int Margin = 10;

// The pointer handling with a workflow whose control reads nothing by itself.
struct Rig {
    FakeReadService service;
    download::ctlAsyncDownload control{service};
    WindowState state;
    FakeWindowHost host{state};
    ScriptedMessageBoxes boxes;
    RecordingShell shell;
    Workflow workflow{
        state, host, {&control, &boxes, &shell, QStringLiteral("/nowhere"), AuthorPage}};
    Interaction interaction{state, host, workflow};

    Rig() {
        state.strPageUrl = QStringLiteral("http://portal.test/content/7.html");
        state.strPackageUrl =
            QStringLiteral("http://portal.test/download/d_load.php?d_id=7&down_id=1");
        state.strTitleText = Title;
        state.strAuthorLinkText = AuthorLinkText();
        state.strActionCaption = CaptionCheck();
        host.setLast(Title, AuthorLinkText(), 12.5F);
        control.setEventSink(&workflow);
    }
    ~Rig() { control.setEventSink(nullptr); }

    // The client point at the centre of a region, as laid out now.
    QPointF centreOf(std::int32_t region) const {
        const Rect r = host.regions().of(region);
        return {Margin + (r.left + r.right) / 2.0, Margin + (r.top + r.bottom) / 2.0};
    }
    void down(QPointF p) { interaction.Form_MouseDown(float(p.x()), float(p.y())); }
    void move(QPointF p) { interaction.Form_MouseMove(float(p.x()), float(p.y())); }
    void up(QPointF p) { interaction.Form_MouseUp(float(p.x()), float(p.y())); }
    void click(QPointF p) {
        down(p);
        up(p);
    }
};

// Pointer repaints pass the last values on; only the look changes.
bool passesLastOn(const Draw &d, std::int32_t mouseStatus) {
    return d.mouseStatus == mouseStatus && d.info1 == Title && d.info2 == AuthorLinkText() &&
           d.percent == 12.5F;
}

} // namespace

class tst_Interaction : public QObject {
    Q_OBJECT
private slots:
    // Client points (the card starts 10 pixels in) against the compact card of 440 x 200.
    void hitRegions_data() {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("info2");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("style");
        const QString t = Title, s = AuthorLinkText(), c = CaptionCheck(), compact = u"0"_qs;
        const auto row = [&](const char *name, int x, int y, int expected) {
            QTest::newRow(name) << x << y << expected << t << s << c << compact << 27;
        };
        row("close", 436, 24, srClose);
        row("close, top-left corner", 430, 18, srClose);
        row("close, right edge is outside everything", 442, 18, srNone);
        row("close, bottom edge is title bar", 435, 30, srTitleBar);
        row("minimise", 420, 24, srMinimize);
        row("expand", 405, 24, srExpand);
        row("between two buttons", 413, 24, srTitleBar);
        row("title bar", 110, 30, srTitleBar);
        row("title bar, top-left corner", 18, 18, srTitleBar);
        row("below the title bar", 110, 38, srNone);
        row("action button", 310, 160, srActionButton);
        row("action button, right edge", 430, 160, srNone);
        row("action button, bottom edge", 310, 180, srNone);
        row("status line", 110, 200, srStatusLine);
        row("status line, left edge", 10, 190, srStatusLine);
        row("status line, right edge", 449, 200, srNone);
        row("swatch 15 inside the status line", 439, 200, srStyle15);
        row("swatch 25", 427, 200, srStyle25);
        row("swatch 27", 415, 200, srStyle27);
        row("between two swatches", 433, 200, srStatusLine);
        row("empty card", 110, 120, srNone);
        row("shadow, left of the status line", 9, 200, srNone);
        row("shadow, top-left", 3, 3, srNone);
        row("shadow, right", 455, 100, srNone);
        row("shadow, below", 110, 215, srNone);
        row("far outside", -50, 9999, srNone);
        QTest::newRow("no title: no title-bar buttons")
            << 436 << 24 << int(srNone) << QString() << s << c << compact << 27;
        QTest::newRow("no title: no title bar")
            << 110 << 30 << int(srNone) << u"   "_qs << s << c << compact << 27;
        QTest::newRow("no status text: no status line")
            << 110 << 200 << int(srNone) << t << QString() << c << compact << 27;
        QTest::newRow("no status text: no swatches")
            << 439 << 200 << int(srNone) << t << QString() << c << compact << 27;
        QTest::newRow("no caption: no action button")
            << 310 << 160 << int(srNone) << t << s << QString() << compact << 27;
        QTest::newRow("expanded: action button lower")
            << 240 << 400 << int(srActionButton) << t << s << c << u"1"_qs << 27;
        QTest::newRow("expanded: status line at the bottom")
            << 110 << 440 << int(srStatusLine) << t << s << c << u"1"_qs << 27;
        QTest::newRow("expanded: no action button at the compact place")
            << 310 << 160 << int(srNone) << t << s << c << u"1"_qs << 27;
        QTest::newRow("style 15: status line higher")
            << 110 << 185 << int(srStatusLine) << t << s << c << compact << 15;
        QTest::newRow("style 27: that spot is empty")
            << 110 << 185 << int(srNone) << t << s << c << compact << 27;
    }
    void hitRegions() {
        QFETCH(int, x);
        QFETCH(int, y);
        QFETCH(QString, title);
        QFETCH(QString, info2);
        QFETCH(QString, caption);
        QFETCH(QString, tag);
        QFETCH(int, style);
        Rig rig;
        rig.state.strTitleText = title;
        rig.host.setLast(title, info2, 0);
        rig.state.strActionCaption = caption;
        rig.state.Tag = tag;
        rig.state.lThemeStyle = style;
        QTEST(rig.interaction.GetHitRegion(x, y), "expected");
    }

    // Pointer coordinates are rounded to the nearest pixel, ties to even.
    void pointerRounding_data() {
        QTest::addColumn<float>("x");
        QTest::addColumn<int>("expected");
        // The status line's last column is client x 448.
        QTest::newRow("448.4") << 448.4F << int(srStatusLine);
        QTest::newRow("448.5 ties to 448") << 448.5F << int(srStatusLine);
        QTest::newRow("448.9 rounds out") << 448.9F << int(srNone);
        QTest::newRow("447.5 ties to 448") << 447.5F << int(srStatusLine);
        QTest::newRow("9.5 ties to 10") << 9.5F << int(srStatusLine);
        QTest::newRow("9.4 stays in the shadow") << 9.4F << int(srNone);
    }
    void pointerRounding() {
        QFETCH(float, x);
        Rig rig;
        rig.interaction.Form_MouseDown(x, 200.0F);
        QTEST(rig.state.lPressedRegion, "expected");
    }

    // A press on a region shows it pressed; elsewhere it drags the window.
    void press_data() {
        QTest::addColumn<QPointF>("point");
        QTest::addColumn<int>("region");
        QTest::newRow("close") << QPointF(436, 24) << int(srClose);
        QTest::newRow("action button") << QPointF(310, 160) << int(srActionButton);
        QTest::newRow("swatch") << QPointF(427, 200) << int(srStyle25);
        QTest::newRow("title bar drags") << QPointF(110, 30) << int(srTitleBar);
        QTest::newRow("empty spot drags") << QPointF(110, 120) << int(srNone);
        QTest::newRow("shadow drags") << QPointF(3, 3) << int(srNone);
    }
    void press() {
        QFETCH(QPointF, point);
        QFETCH(int, region);
        Rig rig;
        rig.state.lHoverRegion = 42; // a marker: a drag leaves it alone
        rig.down(point);
        QCOMPARE(rig.state.lPressedRegion, region);
        if (region == srNone || region == srTitleBar) {
            QCOMPARE(rig.host.calls, QStringList{u"beginWindowDrag"_qs});
            QVERIFY(rig.host.draws.isEmpty());
            QCOMPARE(rig.state.lHoverRegion, 42);
        } else {
            QVERIFY(rig.host.calls.isEmpty());
            QCOMPARE(rig.host.draws.size(), 1);
            QVERIFY(passesLastOn(rig.host.draws[0], 2));
            QCOMPARE(rig.state.lHoverRegion, region);
        }
    }

    // What a completed click on each region does.
    void click_data() {
        QTest::addColumn<int>("region");
        QTest::addColumn<QString>("tagBefore");
        QTest::addColumn<int>("styleBefore");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("tagAfter");
        QTest::addColumn<int>("styleAfter");
        QTest::addColumn<int>("mouseUpDraws");
        QTest::addColumn<QStringList>("opened");
        const QStringList none;
        const QString c = u"0"_qs, e = u"1"_qs;
        QTest::newRow("close") << int(srClose) << c << 27 << QStringList{u"Unload"_qs} << c << 27
                               << 1 << none;
        QTest::newRow("minimise") << int(srMinimize) << c << 27 << QStringList{u"minimize"_qs} << c
                                  << 27 << 1 << none;
        QTest::newRow("expand") << int(srExpand) << c << 27 << QStringList{u"switchViewSize"_qs}
                                << e << 27 << 1 << none;
        QTest::newRow("collapse") << int(srExpand) << e << 27 << QStringList{u"switchViewSize"_qs}
                                  << c << 27 << 1 << none;
        QTest::newRow("style 15") << int(srStyle15) << c << 27 << none << c << 15 << 2 << none;
        QTest::newRow("style 25") << int(srStyle25) << e << 15 << none << e << 25 << 2 << none;
        QTest::newRow("style 27") << int(srStyle27) << c << 25 << none << c << 27 << 2 << none;
        QTest::newRow("the current style")
            << int(srStyle27) << c << 27 << none << c << 27 << 2 << none;
        QTest::newRow("status line")
            << int(srStatusLine) << c << 27 << none << c << 27 << 1 << QStringList{AuthorPage};
    }
    void click() {
        QFETCH(int, region);
        QFETCH(QString, tagBefore);
        QFETCH(int, styleBefore);
        QFETCH(int, mouseUpDraws);
        Rig rig;
        rig.state.Tag = tagBefore;
        rig.state.lThemeStyle = styleBefore;
        const QPointF p = rig.centreOf(region);
        rig.down(p);
        QCOMPARE(rig.state.lPressedRegion, region);
        rig.host.draws.clear();
        rig.up(p);
        QTEST(rig.host.calls, "calls");
        QTEST(rig.state.Tag, "tagAfter");
        QTEST(rig.state.lThemeStyle, "styleAfter");
        QTEST(rig.shell.opened, "opened");
        QCOMPARE(rig.host.draws.size(), mouseUpDraws);
        for (const Draw &d : rig.host.draws)
            QVERIFY(passesLastOn(d, 0));
        QCOMPARE(rig.state.lHoverRegion, region);
        QCOMPARE(rig.state.strActionCaption, CaptionCheck());
        QVERIFY(rig.service.started.empty());
    }

    // The action button hands over to the workflow by caption; without one it does nothing.
    void actionButton_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("reads");
        QTest::newRow("check") << CaptionCheck() << CaptionCancel() << 1;
        QTest::newRow("cancel") << CaptionCancel() << CaptionCheck() << 0;
        QTest::newRow("download") << CaptionDownload() << QString() << 1;
        QTest::newRow("no caption") << QString() << QString() << 0;
    }
    void actionButton() {
        QFETCH(QString, caption);
        QFETCH(int, reads);
        Rig rig;
        rig.state.strPackagePath = u"/nowhere/Demo.zip"_qs;
        // Where the button is while it has a caption: an empty caption leaves no button
        // there, so the click lands on the bare card.
        const QPointF p = rig.centreOf(srActionButton);
        rig.state.strActionCaption = caption;
        rig.click(p);
        QTEST(rig.state.strActionCaption, "after");
        QCOMPARE(int(rig.service.started.size()), reads);
        if (caption.isEmpty()) {
            QCOMPARE(rig.host.calls, QStringList{u"beginWindowDrag"_qs});
            QCOMPARE(rig.host.draws.size(), 1); // the release's own repaint, nothing more
        }
    }

    // A press that leaves its region and is released elsewhere is no click.
    void pressMoveOffRelease() {
        Rig rig;
        const QPointF close = rig.centreOf(srClose);
        const QPointF titleBar = rig.centreOf(srTitleBar);
        rig.down(close);
        rig.move(close + QPointF(1, 1)); // still on the button: no repaint
        QCOMPARE(rig.host.draws.size(), 1);
        rig.move(titleBar);
        QCOMPARE(rig.host.draws.size(), 2);
        QVERIFY(passesLastOn(rig.host.draws[1], 1));
        QCOMPARE(rig.state.lHoverRegion, int(srTitleBar));
        rig.move(titleBar + QPointF(30, 0));
        rig.up(titleBar + QPointF(30, 0));
        QCOMPARE(rig.host.draws.size(), 2);
        QVERIFY(rig.host.calls.isEmpty());
    }

    // Moving off and back on before the release still completes the click.
    void pressMoveOffAndBack() {
        Rig rig;
        const QPointF close = rig.centreOf(srClose);
        rig.down(close);
        rig.move(QPointF(110, 120));
        QCOMPARE(rig.state.lHoverRegion, int(srNone));
        rig.move(close);
        rig.up(close);
        QCOMPARE(rig.host.calls, QStringList{u"Unload"_qs});
    }

    void movesOnlyRedrawOnRegionChange() {
        Rig rig;
        rig.move(QPointF(110, 120)); // from no region to no region
        rig.move(QPointF(120, 125));
        QVERIFY(rig.host.draws.isEmpty());
        rig.move(rig.centreOf(srExpand));
        rig.move(rig.centreOf(srExpand) + QPointF(1, 0));
        QCOMPARE(rig.host.draws.size(), 1);
        QVERIFY(passesLastOn(rig.host.draws[0], 1));
        QCOMPARE(rig.state.lHoverRegion, int(srExpand));
    }

    // Escape closes in every state; other keys do nothing; a release whose press went to
    // another window (a message box closed on it) does nothing either.
    void keys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("pressedHere");
        QTest::addColumn<bool>("unloads");
        QTest::newRow("ready to check") << 27 << CaptionCheck() << u"0"_qs << false << true << true;
        QTest::newRow("checking") << 27 << CaptionCancel() << u"0"_qs << false << true << true;
        QTest::newRow("ready to download")
            << 27 << CaptionDownload() << u"1"_qs << false << true << true;
        QTest::newRow("downloading or unconfigured")
            << 27 << QString() << u"0"_qs << false << true << true;
        QTest::newRow("minimised") << 27 << CaptionCheck() << u"0"_qs << true << true << true;
        QTest::newRow("F1") << 112 << CaptionCheck() << u"0"_qs << false << true << false;
        QTest::newRow("A") << 65 << CaptionCheck() << u"0"_qs << false << true << false;
        QTest::newRow("Escape's scan code is no key code")
            << 1 << CaptionCheck() << u"0"_qs << false << true << false;
        QTest::newRow("Escape pressed elsewhere")
            << 27 << CaptionCheck() << u"0"_qs << false << false << false;
    }
    void keys() {
        QFETCH(int, key);
        QFETCH(QString, caption);
        QFETCH(QString, tag);
        QFETCH(bool, minimized);
        QFETCH(bool, pressedHere);
        QFETCH(bool, unloads);
        Rig rig;
        rig.state.strActionCaption = caption;
        rig.state.Tag = tag;
        rig.host.minimized = minimized;
        if (pressedHere)
            rig.interaction.Form_KeyDown(key);
        rig.host.draws.clear();
        rig.interaction.Form_KeyUp(key);
        rig.interaction.Form_KeyUp(key); // a second release has no press of its own
        QCOMPARE(rig.host.calls, unloads ? QStringList{u"Unload"_qs} : QStringList());
        QVERIFY(rig.host.draws.isEmpty());
        QCOMPARE(rig.state.strActionCaption, caption);
    }

    // Tab and Shift+Tab walk the focus in visual order and around; Return and Space press
    // the focused element exactly as a click does; the focus starts on the action button
    // (on the status line when there is none). Keys act on the press.
    void keyboard_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("focus");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("captionAfter");
        QTest::addColumn<int>("opened");
        const QString check = CaptionCheck();
        QTest::newRow("Return alone checks")
            << "Return" << check << int(srActionButton) << QStringList() << CaptionCancel() << 0;
        QTest::newRow("the first Tab lands on the action button")
            << "Tab" << check << int(srActionButton) << QStringList() << check << 0;
        QTest::newRow("then the link")
            << "Tab Tab Space" << check << int(srStatusLine) << QStringList() << check << 1;
        QTest::newRow("expand") << "Tab Tab Tab Return" << check << int(srExpand)
                                << QStringList{u"switchViewSize"_qs} << check << 0;
        QTest::newRow("minimise") << "Tab Tab Tab Tab Space" << check << int(srMinimize)
                                  << QStringList{u"minimize"_qs} << check << 0;
        QTest::newRow("close") << "Tab Tab Tab Tab Tab Return" << check << int(srClose)
                               << QStringList{u"Unload"_qs} << check << 0;
        QTest::newRow("the sixth Tab on the left swatch")
            << "Tab Tab Tab Tab Tab Tab" << check << int(srStyle27) << QStringList() << check << 0;
        QTest::newRow("the swatches from the left, then around")
            << "Tab Tab Tab Tab Tab Tab Tab Tab Tab" << check << int(srActionButton)
            << QStringList() << check << 0;
        QTest::newRow("Shift+Tab first goes to the last swatch")
            << "Backtab" << check << int(srStyle15) << QStringList() << check << 0;
        QTest::newRow("Shift+Tab back from the link")
            << "Tab Tab Backtab" << check << int(srActionButton) << QStringList() << check << 0;
        QTest::newRow("without an action button the link comes first")
            << "Return" << QString() << int(srStatusLine) << QStringList() << QString() << 1;
    }
    void keyboard() {
        QFETCH(QString, keys);
        QFETCH(QString, caption);
        Rig rig;
        rig.state.strActionCaption = caption;
        QVERIFY(!rig.state.bFocusVisible);
        for (const QString &key : keys.split(u' ')) {
            const int code = key == u"Return" ? KeyReturn : key == u"Space" ? KeySpace : KeyTab;
            rig.interaction.Form_KeyDown(code, key == u"Backtab");
            rig.interaction.Form_KeyUp(code);
        }
        QTEST(int(rig.interaction.focusedRegion()), "focus");
        QTEST(rig.host.calls, "calls");
        QTEST(rig.state.strActionCaption, "captionAfter");
        QTEST(int(rig.shell.opened.size()), "opened");
        QVERIFY(rig.state.bFocusVisible);
        // The focus look is a repaint with the last values.
        QVERIFY(passesLastOn(rig.host.draws.first(), 0));
    }

    // Leaving the window is a move to no region: the hover look and the button's hint in
    // the status line go; leaving from no region draws nothing.
    void leavingDropsTheHover() {
        Rig rig;
        rig.interaction.Form_MouseLeave();
        QVERIFY(rig.host.draws.isEmpty());
        rig.move(rig.centreOf(srMinimize));
        rig.interaction.Form_MouseLeave();
        QCOMPARE(rig.host.draws.size(), 2);
        QVERIFY(passesLastOn(rig.host.draws[1], 1));
        QCOMPARE(rig.state.lHoverRegion, int(srNone));
        QCOMPARE(DisplayedStatusText(AuthorLinkText(), rig.state.lHoverRegion), AuthorLinkText());
    }
};

QTEST_GUILESS_MAIN(tst_Interaction)
#include "tst_interaction.moc"
