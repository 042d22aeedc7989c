#include <algorithm>

#include <QAccessible>
#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "download/FakeReadService.h"
#include "platform/PropertyBag.h"
#include "platform/SettingsTrailer.h"
#include "render/LayeredSurface.h"
#include "support/DataRows.h"
#include "support/ScriptedMessageBoxes.h"
#include "window/Workflow.h"
#include "window/frmDown.h"

using namespace window;

namespace {
// The expand button's centre in the compact window: card (390, 8)-(402, 20), 10 pixels in;
// in the expanded one (330, 8)-(342, 20).
const QPoint ExpandButton(10 + 396, 10 + 14);
const QPoint ExpandedExpandButton(10 + 336, 10 + 14);
} // namespace

class tst_frmDown : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    ScriptedMessageBoxes m_boxes;

    QString stampedCopy(const QString &name, const QString &id) {
        platform::PropertyBag bag;
        bag.write(QStringLiteral("SoftwareName"), name);
        bag.write(QStringLiteral("SoftwareID"), id);
        bag.write(QStringLiteral("SoftwareThemeStyle"), QStringLiteral("15"));
        QByteArray exe(512, 'E');
        exe.append(platform::makeTrailer(bag.contents(), exe.size()));
        const QString path = m_dir.filePath(name + QStringLiteral(".exe"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(exe) != exe.size())
            return {};
        return path;
    }

private slots:
    // The pointer away from every window: only tests that place it see a hover.
    void init() { QCursor::setPos(0, 0); }

    void loadsAStampedCopy() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Demo"), u"1234"_qs)});
        // What an earlier run kept of a download, without the sidecar that would make it of use.
        QFile stale(m_dir.filePath(QStringLiteral(".update-tool-%1.part").arg(QString(32, u'a'))));
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("kept") == 4);
        stale.close();
        form.Form_Load();
        QVERIFY(!stale.exists());
        QVERIFY(form.graphicsStarted());
        QVERIFY(!form.isUnloaded());
        QVERIFY(form.isVisible());
        QVERIFY(m_boxes.shown.isEmpty());
        QCOMPARE(form.settings().SoftwareName, QStringLiteral("Demo"));
        QVERIFY(form.state().strPageUrl.endsWith(u"/content/1234.html"));
        QCOMPARE(form.state().lThemeStyle, 15);
        QCOMPARE(form.windowTitle(), QStringLiteral("KIV UPDATE"));
        QCOMPARE(form.Tag(), QStringLiteral("0"));
        // The compact view: 6900 x 3300 twips, centred on the screen.
        QCOMPARE(form.size(), QSize(460, 220));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(form.geometry().center().x(), screen.center().x());
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(form.testAttribute(Qt::WA_TranslucentBackground));
    }

    // Start-up presents the still transparent first frame, then fades in over exactly 255
    // frames, alphas 1 to 255; 0 is never faded to.
    void fadeInPresents255Frames() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Fade"), u"1"_qs)});
        QList<int> alphas;
        form.setPresentObserver([&] { alphas.append(form.surface().globalAlpha()); });
        form.Form_Load();
        QCOMPARE(alphas.size(), 1 + 255);
        QCOMPARE(alphas.first(), 0); // the Form_Load frame
        for (int i = 1; i <= 255; ++i)
            QCOMPARE(alphas[i], i);
        QCOMPARE(form.surface().globalAlpha(), 255);
    }

    // Each of the ten steps keeps the window's centre, rebuilds an opaque surface of the new
    // size and presents a frame drawn with the remembered texts; one more frame follows.
    void resizeStepsKeepTheCentre() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Steps"), u"1"_qs)});
        form.Form_Load();
        const QRect start = form.geometry();
        QCOMPARE(start.size(), QSize(460, 220));
        const QString status = form.strLastInfo2();
        QList<QRect> frames;
        form.setPresentObserver([&] {
            frames.append(form.geometry());
            QCOMPARE(form.surface().globalAlpha(), 255);
            QCOMPARE(form.surface().size(), form.size());
            QCOMPARE(form.rcCanvas(), (render::Rect{0, 0, form.width() - 20, form.height() - 20}));
            QVERIFY(!form.isEnabled());
            QCOMPARE(form.strLastInfo2(), status);
        });
        form.workflow().showExpanded(true);
        QCOMPARE(frames.size(), 11);
        for (int i = 1; i <= 10; ++i) {
            // 90 twips narrower, 360 taller, 45 right and 180 up per step.
            QCOMPARE(frames[i - 1],
                     QRect(start.x() + 3 * i, start.y() - 12 * i, 460 - 6 * i, 220 + 24 * i));
            QCOMPARE(frames[i - 1].center(), start.center());
        }
        QCOMPARE(frames[10], frames[9]);
        QCOMPARE(form.size(), QSize(400, 460));
        QVERIFY(form.isEnabled());

        frames.clear();
        form.workflow().showExpanded(false); // the exact reverse
        QCOMPARE(frames.size(), 11);
        QCOMPARE(frames[4], QRect(start.x() + 15, start.y() - 60, 430, 340));
        QCOMPARE(form.geometry(), start);
    }

    // However often the view switches, one surface exists, opaque, on a topmost window.
    void manySwitchesKeepOneOpaqueSurface() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Cycles"), u"1"_qs)});
        form.Form_Load();
        const QRect start = form.geometry();
        for (int i = 0; i < 20; ++i)
            form.workflow().showExpanded(i % 2 == 0);
        QCOMPARE(render::LayeredSurface::liveSurfaces(), 1);
        QCOMPARE(form.surface().globalAlpha(), 255);
        QVERIFY(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(form.geometry(), start);
        QCOMPARE(form.surface().size(), QSize(460, 220));
        form.Unload();
        QCOMPARE(render::LayeredSurface::liveSurfaces(), 0);
    }

    // A view switch asked for while one runs (a check's result arriving during the
    // animation, or a click during the fade-in) is not nested in it: it follows, and in the
    // end the size, `Tag` and the picture agree.
    void viewSwitchesAskedForMeanwhileFollow_data() {
        QTest::addColumn<bool>("duringFade");
        QTest::addColumn<QSize>("expected");
        QTest::addColumn<QString>("tag");
        QTest::newRow("collapse asked for while expanding") << false << QSize(460, 220) << "0";
        QTest::newRow("expand clicked during the fade-in") << true << QSize(400, 460) << "1";
    }
    void viewSwitchesAskedForMeanwhileFollow() {
        QFETCH(bool, duringFade);
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Nested"), u"1"_qs)});
        bool armed = duringFade, asked = false;
        int frames = 0;
        form.setPresentObserver([&] {
            ++frames;
            if (!armed || asked || frames != (duringFade ? 100 : 4))
                return;
            asked = true;
            if (duringFade)
                QTest::mouseClick(&form, Qt::LeftButton, {}, ExpandButton);
            else
                form.workflow().CancelCheck(); // back to the compact view
        });
        form.Form_Load();
        if (!duringFade) {
            armed = true;
            frames = 0;
            QTest::mouseClick(&form, Qt::LeftButton, {}, ExpandButton);
        }
        QVERIFY(asked);
        QTEST(form.size(), "expected");
        QTEST(form.Tag(), "tag");
        QCOMPARE(form.surface().size(), form.size());
        QCOMPARE(form.rcCanvas(), (render::Rect{0, 0, form.width() - 20, form.height() - 20}));
        QCOMPARE(form.surface().globalAlpha(), 255);
        QVERIFY(form.isEnabled());
    }

    // Closed by the window manager during the fade-in or the view animation: nothing is
    // presented, moved or re-created after that.
    void closingStopsTheAnimations_data() {
        testsupport::addRows<bool>("duringFade", {{"fade-in", true}, {"view animation", false}});
    }
    void closingStopsTheAnimations() {
        QFETCH(bool, duringFade);
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Close"), u"1"_qs)});
        int frames = 0, framesAfterClose = 0;
        bool armed = duringFade;
        QRect closedAt;
        form.setPresentObserver([&] {
            if (form.isUnloaded()) {
                ++framesAfterClose;
                return;
            }
            if (++frames == (duringFade ? 50 : 3) && armed) {
                closedAt = form.geometry();
                QMetaObject::invokeMethod(&form, &QWidget::close, Qt::QueuedConnection);
            }
        });
        form.Form_Load();
        if (!duringFade) {
            QVERIFY(!form.isUnloaded());
            armed = true;
            frames = 0;
            QTest::mouseClick(&form, Qt::LeftButton, {}, ExpandButton);
        }
        QVERIFY(form.isUnloaded());
        QCOMPARE(framesAfterClose, 0);
        QCOMPARE(form.geometry(), closedAt);
        QCOMPARE(render::LayeredSurface::liveSurfaces(), 0);
    }

    // Expanding at the top of the screen keeps every step inside the available area.
    void expandingAtTheTopEdgeStaysOnScreen() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Edge"), u"1"_qs)});
        form.Form_Load();
        const QRect area = form.screen()->availableGeometry();
        form.move(form.x(), area.top());
        QList<QRect> frames;
        form.setPresentObserver([&] { frames.append(form.geometry()); });
        QTest::mouseClick(&form, Qt::LeftButton, {}, ExpandButton);
        // The press, the release, the animation, and the hover leaving the expand button,
        // which is elsewhere now.
        QCOMPARE(frames.size(), 2 + 11 + 1);
        for (const QRect &frame : frames)
            QVERIFY2(area.contains(frame), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                          .arg(frame.x())
                                                          .arg(frame.y())
                                                          .arg(frame.width())
                                                          .arg(frame.height())));
        QCOMPARE(form.size(), QSize(400, 460));
        QCOMPARE(form.y(), area.top());
    }

    // After a view switch the hover follows the pointer, which has not moved: the expand
    // button it clicked lies elsewhere now, so the status line no longer says "扩展显示".
    void hoverAfterAViewSwitch_data() {
        QTest::addColumn<bool>("fromExpanded");
        QTest::newRow("expand") << false;
        QTest::newRow("collapse") << true;
    }
    void hoverAfterAViewSwitch() {
        QFETCH(bool, fromExpanded);
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Hover"), u"1"_qs)});
        form.Form_Load();
        if (fromExpanded)
            QTest::mouseClick(&form, Qt::LeftButton, {}, ExpandButton);
        const QPoint button = fromExpanded ? ExpandedExpandButton : ExpandButton;
        QCursor::setPos(form.mapToGlobal(button));
        QTest::mouseMove(&form, button);
        QCOMPARE(form.state().lHoverRegion, render::srExpand);
        QTest::mouseClick(&form, Qt::LeftButton, {}, button);
        QCOMPARE(form.size(), fromExpanded ? QSize(460, 220) : QSize(400, 460));
        QCOMPARE(form.state().lHoverRegion, render::srNone);
        const auto &elements = form.accessibleElements();
        const auto status = std::find_if(elements.begin(), elements.end(), [](const auto &e) {
            return e.region == render::srStatusLine;
        });
        QVERIFY(status != elements.end());
        QCOMPARE(status->name, form.strLastInfo2());
    }

    // A finished read reaches the workflow from the event loop, not from inside the
    // network's signal (where the view animation's event loop would run); a cancel made
    // before it arrives drops it.
    void finishedReadArrivesFromTheEventLoop_data() {
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("delivered") << false;
        QTest::newRow("cancelled before it arrived") << true;
    }
    void finishedReadArrivesFromTheEventLoop() {
        QFETCH(bool, cancelled);
        FakeReadService reads;
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Queued"), u"1"_qs), &reads});
        form.Form_Load();
        form.workflow().StartCheck();
        QCOMPARE(reads.started.size(), size_t(1));
        const FakeReadService::Started read = reads.started[0];
        reads.complete(FakeReadService::record(read.target, read.propertyName, 0),
                       net::ReadOutcome::Succeeded,
                       "<html><head><meta charset=\"UTF-8\"></head><body>"
                       "<h1 title=\"Demo 2.1\">Demo 2.1</h1></body></html>");
        QCOMPARE(form.state().strActionCaption, CaptionCancel());
        QCOMPARE(form.Tag(), u"0"_qs);
        if (cancelled)
            form.workflow().CancelCheck();
        QCoreApplication::processEvents();
        QCOMPARE(form.state().strActionCaption, cancelled ? CaptionCheck() : CaptionDownload());
        QCOMPARE(form.Tag(), cancelled ? u"0"_qs : u"1"_qs);
        QCOMPARE(form.size(), cancelled ? QSize(460, 220) : QSize(400, 460));
    }

    // While a message box waits for its answer, or the view animation runs, a press through
    // assistive technology (检查更新, 立即退出) does nothing and the elements report
    // themselves unavailable; afterwards they are available again.
    void accessiblePressWaits_data() {
        testsupport::addRows<bool>("box", {{"question box open", true}, {"view animation", false}});
    }
    void accessiblePressWaits() {
        QFETCH(bool, box);
        FakeReadService reads;
        ScriptedMessageBoxes boxes;
        frmDown form({&boxes, nullptr, stampedCopy(QStringLiteral("Modal"), u"1"_qs), &reads});
        form.Form_Load();
        QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&form);
        QVERIFY(window);
        const auto element = [&](std::int32_t region) -> QAccessibleInterface * {
            const auto &elements = form.accessibleElements();
            for (std::size_t i = 0; i < elements.size(); ++i)
                if (elements[i].region == region)
                    return window->child(int(i));
            return nullptr;
        };
        int tried = 0;
        const auto pressBoth = [&] {
            for (const std::int32_t region : {render::srActionButton, render::srClose}) {
                QAccessibleInterface *e = element(region);
                QVERIFY(e && e->actionInterface());
                QVERIFY(e->state().disabled);
                e->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            }
            QCoreApplication::processEvents(); // where a queued press would run
            ++tried;
        };
        if (box) {
            boxes.whileShown = pressBoth;
            form.workflow().StartCheck();
            QCOMPARE(reads.started.size(), size_t(1));
            const FakeReadService::Started read = reads.started[0];
            reads.complete(FakeReadService::record(read.target, read.propertyName, 0),
                           net::ReadOutcome::Failed, {});
            QCoreApplication::processEvents();
            QCOMPARE(boxes.shown.size(), 1);
        } else {
            int frames = 0;
            form.setPresentObserver([&] {
                if (++frames == 5)
                    pressBoth();
            });
            QTest::mouseClick(&form, Qt::LeftButton, {}, ExpandButton);
            form.setPresentObserver({});
        }
        QCOMPARE(tried, 1);
        QVERIFY(!form.isUnloaded());
        QCOMPARE(reads.started.size(), size_t(box ? 1 : 0));
        QVERIFY(!element(render::srClose)->state().disabled);
    }

    // A window manager that answers an animation's resize request late leaves the window at
    // a size between the views: the view's size is asked for again and the picture is
    // drawn for the size the window has.
    void lateWindowManagerAnswerIsCorrected_data() {
        QTest::addColumn<bool>("expanded");
        QTest::addColumn<QSize>("answered");
        for (const QSize answered :
             {QSize(448, 268), QSize(454, 244), QSize(406, 436), QSize(370, 580)}) {
            QTest::addRow("compact, %dx%d", answered.width(), answered.height())
                << false << answered;
            QTest::addRow("expanded, %dx%d", answered.width(), answered.height())
                << true << answered;
        }
    }
    void lateWindowManagerAnswerIsCorrected() {
        QFETCH(bool, expanded);
        QFETCH(QSize, answered);
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Late"), u"1"_qs)});
        form.Form_Load();
        form.workflow().showExpanded(expanded);
        const QSize view = expanded ? QSize(400, 460) : QSize(460, 220);
        QCOMPARE(form.size(), view);
        form.resize(answered);
        QTRY_COMPARE(form.size(), view);
        QTRY_COMPARE(form.surface().size(), view);
        QCOMPARE(form.rcCanvas(), (render::Rect{0, 0, view.width() - 20, view.height() - 20}));
    }

    // A minimised window draws nothing, presents nothing and forgets the request.
    void redrawWhileMinimised() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Min"), u"1"_qs)});
        form.Form_Load();
        form.ReDraw(0, u"标题"_qs, u"状态"_qs, 30);
        const QImage before = form.surface().image().copy();
        form.minimize();
        QVERIFY(form.isMinimized());
        int presents = 0;
        form.setPresentObserver([&] { ++presents; });
        form.ReDraw(2, u"另一个"_qs, QString(), 80);
        QCOMPARE(presents, 0);
        QCOMPARE(form.strLastInfo1(), u"标题"_qs);
        QCOMPARE(form.strLastInfo2(), u"状态"_qs);
        QCOMPARE(form.sngLastPercent(), 30.0f);
        QCOMPARE(form.surface().image(), before);
        QVERIFY(!form.regions().rcStatusLine.isEmpty());
    }

    void escapeEndsTheProgram() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Esc"), u"1"_qs)});
        form.Form_Load();
        QVERIFY(form.isVisible());
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(form.isUnloaded());
        QVERIFY(!form.isVisible());
        QVERIFY(!form.graphicsStarted()); // released at unload
        QVERIFY(!form.graphicsFailed());
    }

    void everyMouseButtonClicks_data() {
        testsupport::addRows<Qt::MouseButton>(
            "button",
            {{"left", Qt::LeftButton}, {"right", Qt::RightButton}, {"middle", Qt::MiddleButton}});
    }
    void everyMouseButtonClicks() {
        QFETCH(Qt::MouseButton, button);
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Buttons"), u"1"_qs)});
        form.Form_Load();
        // The close button: card (420, 8)-(432, 20), 10 pixels into the window.
        const QPoint close(10 + 426, 10 + 14);
        QTest::mousePress(&form, button, {}, close);
        QVERIFY(!form.isUnloaded());
        QTest::mouseRelease(&form, button, {}, close);
        QVERIFY(form.isUnloaded());
    }

    void pressMovedOffDoesNotClick() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Off"), u"1"_qs)});
        form.Form_Load();
        QTest::mousePress(&form, Qt::LeftButton, {}, QPoint(436, 24));
        QTest::mouseMove(&form, QPoint(200, 100));
        QTest::mouseRelease(&form, Qt::LeftButton, {}, QPoint(200, 100));
        QVERIFY(!form.isUnloaded());
    }

    void otherKeysDoNothing() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Keys"), u"1"_qs)});
        form.Form_Load();
        QTest::keyClick(&form, Qt::Key_Enter);
        QTest::keyClick(&form, Qt::Key_A);
        QVERIFY(!form.isUnloaded());
    }

    // A held Return or Space presses the focused 检查更新 once: its repeats must not cancel
    // the check and start it again.
    void heldKeyPressesOnce_data() {
        testsupport::addRows<Qt::Key>("key",
                                      {{"Return", Qt::Key_Return}, {"Space", Qt::Key_Space}});
    }
    void heldKeyPressesOnce() {
        QFETCH(Qt::Key, key);
        FakeReadService reads;
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Held"), u"1"_qs), &reads});
        form.Form_Load();
        QCOMPARE(form.state().strActionCaption, CaptionCheck());
        for (const bool repeat : {false, true, true, true}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), repeat);
            QCoreApplication::sendEvent(&form, &press);
        }
        QCOMPARE(reads.started.size(), size_t(1));
        QCOMPARE(form.state().strActionCaption, CaptionCancel());
    }

    void unreadableExecutableStartsWithDefaults() {
        frmDown form({&m_boxes, nullptr, m_dir.filePath(u"missing.exe"_qs)});
        form.Form_Load();
        QVERIFY(form.isVisible());
        QVERIFY(form.state().strTitleText.startsWith(u"更新工具 "_qs));
        QVERIFY(form.state().strActionCaption.isEmpty());
        QCOMPARE(form.state().lThemeStyle, 27);
    }
};

QTEST_MAIN(tst_frmDown)
#include "tst_frmdown.moc"
