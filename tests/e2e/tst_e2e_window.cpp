#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "E2eKit.h"
#include "support/TestPortal.h"

using testsupport::PortalResponse;
using testsupport::XvfbSession;

namespace {

// Client points of the buttons: the card starts 10 pixels into the window.
const QPoint CompactAction(10 + 350, 10 + 157);
const QPoint CompactExpand(10 + 396, 10 + 14);
const QPoint ExpandedAction(10 + 290, 10 + 397);
const QPoint ExpandedExpand(10 + 336, 10 + 14);
const QSize CompactSize(460, 220);
const QSize ExpandedSize(400, 460);

// The test portal on a thread of its own: the test's calls to the desktop tools block its
// own event loop, and the portal's delays must not wait for them.
class PortalThread {
public:
    explicit PortalThread(const QList<std::pair<QByteArray, PortalResponse>> &routes) {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            &m_context,
            [&] {
                m_portal = new testsupport::TestPortal;
                for (const auto &[path, response] : routes)
                    m_portal->route(path, response);
                if (m_portal->listen())
                    m_base = m_portal->url(QString());
            },
            Qt::BlockingQueuedConnection);
    }
    ~PortalThread() {
        QMetaObject::invokeMethod(
            &m_context, [&] { delete m_portal; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    QString base() const { return m_base; }

private:
    QThread m_thread;
    QObject m_context;
    testsupport::TestPortal *m_portal = nullptr;
    QString m_base;
};

QByteArray productPage(const QByteArray &title) {
    return "<html><head><meta charset=\"UTF-8\"></head><body>\n<h1 title=\"" + title + "\">" +
           title + "</h1>\n</body></html>\n";
}

const QByteArray PagePath = "/content/77.html";
const QByteArray PackagePath = "/download/d_load.php?d_id=77&down_id=1";

// The updater of one stamped copy on a private X server.
struct Run {
    XvfbSession x;
    e2e::Product product;
    QProcess updater;
    qulonglong window = 0;

    // Stamped with a dark theme, so the expanded view's tinted panel shows in a probe. The
    // X server is started here unless the test started it already (for a window manager).
    // Empty when the updater is on screen, else what went wrong.
    QString start(const QString &portalBase) {
        if (x.display().isEmpty() && !x.start())
            return QStringLiteral("Xvfb did not start");
        if (!product.stamp({"--name", "E2E", "--id", "77", "--style", "27", "--color", "#3060A0",
                            "--portal", portalBase}))
            return QStringLiteral("stamping failed (portal %1)").arg(portalBase);
        return launch();
    }
    // Starts the stamped copy (again); empty when it is on screen.
    QString launch() {
        window = e2e::startUpdater(updater, x, product, e2e::productEnvironment(x, product));
        return window == 0 ? e2e::whyNoWindow(updater) : QString();
    }
    // Ends the updater and tells how it had ended before: empty while it still ran.
    QString stop() {
        // Without an event loop the process's state is only learnt by waiting on it.
        const bool running = updater.state() == QProcess::Running && !updater.waitForFinished(300);
        const QString ended =
            running ? QString()
                    : QStringLiteral("exit %1 (%2): %3")
                          .arg(updater.exitCode())
                          .arg(updater.exitStatus() == QProcess::CrashExit ? u"crashed"_qs
                                                                           : u"exited"_qs,
                               QString::fromLocal8Bit(updater.readAllStandardError()).right(4000));
        updater.kill();
        updater.waitForFinished(5000);
        return ended;
    }
    // Starts openbox on this run's X server (started here) and waits until it has taken
    // over the screen: one still starting may drop the updater's map request. Empty when
    // it runs, else why not.
    QString startOpenbox(QProcess &openbox) {
        if (x.display().isEmpty() && !x.start())
            return QStringLiteral("Xvfb did not start");
        openbox.setProcessEnvironment(x.environment());
        openbox.setProcessChannelMode(QProcess::MergedChannels);
        openbox.start(QStandardPaths::findExecutable(QStringLiteral("openbox")), {});
        if (!openbox.waitForStarted())
            return QStringLiteral("openbox did not start");
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired() && openbox.state() == QProcess::Running) {
            if (x.run(QStringLiteral("xprop"),
                      {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                    .contains(u"window id"))
                return {};
            QThread::msleep(200);
        }
        return QStringLiteral("openbox %1: %2")
            .arg(openbox.state() == QProcess::Running ? u"running"_qs : u"ended"_qs,
                 QString::fromLocal8Bit(openbox.readAll()));
    }
    ~Run() {
        if (updater.state() != QProcess::NotRunning) {
            updater.kill();
            updater.waitForFinished(5000);
        }
    }
    QRect frame() const { return x.windowGeometry(window); }
    QPoint at(QPoint client) const { return frame().topLeft() + client; }
    void xdotool(const QStringList &args) const { x.run(QStringLiteral("xdotool"), args); }
    // Presses Return in a message box and waits until it is gone.
    bool answer(qulonglong box, const QString &key = QStringLiteral("Return")) const {
        xdotool({"windowfocus", "--sync", QString::number(box), "key", "--window",
                 QString::number(box), key});
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            if (x.windowGeometry(box).isEmpty())
                return true;
            QThread::msleep(100);
        }
        return false;
    }
};

// Whether the window's picture shows the expanded view's content: its panel tints the
// card from x = 20 on, while x = 12 shows the bare background in both views.
bool showsExpandedContent(const QImage &screen, const QRect &frame) {
    const int y = frame.y() + 10 + frame.height() - 20 - 80;
    return screen.pixel(frame.x() + 10 + 22, y) != screen.pixel(frame.x() + 10 + 12, y);
}

// Waits until the screen stops changing and the window has one of the two view sizes;
// the picture then, or a null image on timeout.
QImage restingPicture(const Run &run, QRect &frame) {
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        const QImage shot = e2e::settledScreenshot(run.x);
        frame = run.frame();
        if (shot == run.x.screenshot() &&
            (frame.size() == CompactSize || frame.size() == ExpandedSize))
            return shot;
        QThread::msleep(200);
    }
    return {};
}

} // namespace

// The updater window under a bare X server, driven as a user would: view switches that
// meet a check's result, keys that belong to message boxes, hostile page titles.
class tst_E2eWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!XvfbSession::toolsAvailable())
            QSKIP("Xvfb, xdotool or imagemagick is not installed");
    }

    // The expand button is pressed just after 检查更新, and the page (found, or one naming
    // no version) arrives after a delay, during or around the view animation. Whatever the
    // order, the window comes to rest at one of the two view sizes with the content of
    // that view.
    void viewSwitchMeetsTheCheck_data() {
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("openbox");
        for (const int delay : {0, 60, 150, 300, 600}) {
            QTest::addRow("found after %d ms", delay) << true << delay << false;
            QTest::addRow("failed after %d ms", delay) << false << delay << false;
        }
        // openbox answers some of the animation's resize requests late or merges them.
        for (const int delay : {0, 50, 100}) {
            QTest::addRow("openbox, found after %d ms", delay) << true << delay << true;
            QTest::addRow("openbox, failed after %d ms", delay) << false << delay << true;
        }
    }
    void viewSwitchMeetsTheCheck() {
        QFETCH(bool, found);
        QFETCH(int, delayMs);
        QFETCH(bool, openbox);
        if (openbox && QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            QSKIP("openbox is not installed");
        const QByteArray page =
            found ? productPage("Demo 2.1") : productPage("").replace("h1", "h2");
        PortalResponse response = PortalResponse::ok(page, "text/html; charset=UTF-8");
        if (delayMs > 0)
            response.dripping(page.size(), delayMs);
        PortalThread portal({{PagePath, response}});
        Run run;
        QProcess windowManager;
        const auto stopWindowManager = qScopeGuard([&] {
            windowManager.terminate();
            windowManager.waitForFinished(5000);
        });
        if (openbox)
            QCOMPARE(run.startOpenbox(windowManager), QString());
        QCOMPARE(run.start(portal.base()), QString());

        QPoint action = CompactAction, expand = CompactExpand;
        if (found) {
            // From the expanded view, so that the found page asks to expand while the
            // window collapses.
            run.x.click(run.at(CompactExpand).x(), run.at(CompactExpand).y());
            QTRY_COMPARE_WITH_TIMEOUT(run.frame().size(), ExpandedSize, 10000);
            action = ExpandedAction;
            expand = ExpandedExpand;
        }
        const QPoint a = run.at(action), e = run.at(expand);
        run.xdotool({"mousemove", QString::number(a.x()), QString::number(a.y()), "click", "1",
                     "mousemove", QString::number(e.x()), QString::number(e.y()), "click", "1"});
        if (!found) {
            const qulonglong box = run.x.waitForWindow(QStringLiteral("更新工具"), 15000);
            QVERIFY(box != 0);
            QVERIFY(run.answer(box));
        }
        QRect frame;
        const QImage rest = restingPicture(run, frame);
        QVERIFY2(!rest.isNull(),
                 qPrintable(QStringLiteral("size %1 x %2").arg(frame.width()).arg(frame.height())));
        e2e::keepShot(rest.copy(frame), QStringLiteral("view-%1-%2ms%3")
                                            .arg(found ? u"found" : u"failed")
                                            .arg(delayMs)
                                            .arg(openbox ? u"-openbox" : u""));
        QCOMPARE(showsExpandedContent(rest, frame), frame.size() == ExpandedSize);
        if (!found)
            QCOMPARE(frame.size(), CompactSize);
        QCOMPARE(run.updater.state(), QProcess::Running);
    }

    // Escape closes the failure box on its press; its release must not end the updater,
    // or the retry the box allows is lost. The box opens over the updater, wherever the
    // user moved it.
    void escapeForTheFailureBox() {
        // The release reaches the updater where a window manager hands the focus back to
        // it when the box closes.
        if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            QSKIP("openbox is not installed");
        PortalThread portal({{PagePath, PortalResponse::notFound()}});
        Run run;
        QProcess openbox;
        const auto stopOpenbox = qScopeGuard([&] {
            openbox.terminate();
            openbox.waitForFinished(5000);
        });
        QCOMPARE(run.startOpenbox(openbox), QString());
        QCOMPARE(run.start(portal.base()), QString());
        run.xdotool({"windowmove", "--sync", QString::number(run.window), "30", "40"});
        QTRY_COMPARE(run.frame().topLeft(), QPoint(30, 40));
        const QRect updater = run.frame();

        for (int attempt = 0; attempt < 2; ++attempt) {
            run.x.click(run.at(CompactAction).x(), run.at(CompactAction).y());
            const qulonglong box = run.x.waitForWindow(QStringLiteral("更新工具"), 15000);
            QVERIFY(box != 0);
            const QRect boxFrame = run.x.windowGeometry(box);
            QVERIFY2(
                updater.contains(boxFrame.center()),
                qPrintable(QStringLiteral("box at %1,%2").arg(boxFrame.x()).arg(boxFrame.y())));
            e2e::keepShot(run.x.screenshot(), QStringLiteral("failure-box"));
            // Real key events to whichever window has the focus, as a keyboard makes them.
            run.xdotool({"windowactivate", "--sync", QString::number(box)});
            run.xdotool({"key", "Escape"});
            QTRY_VERIFY_WITH_TIMEOUT(run.x.windowGeometry(box).isEmpty(), 10000);
            QTest::qWait(1500);
            QCOMPARE(run.updater.state(), QProcess::Running);
        }
        // Escape pressed and released in the updater still ends it.
        run.xdotool({"windowactivate", "--sync", QString::number(run.window)});
        run.xdotool({"key", "Escape"});
        QVERIFY(run.updater.waitForFinished(10000));
        QCOMPARE(run.updater.exitCode(), 0);
    }

    // Under openbox, which answers some of the animation's resize requests late or merges
    // them: a page that arrives in sixteen pieces over 0.16 s, its progress events meeting
    // the view animation clicked 0 to 0.12 s later (检查更新, then expand from the compact
    // view or collapse from the expanded one). Twenty runs: the updater never crashes and always
    // comes to rest at one of the two view sizes, showing that view's content.
    void viewSwitchUnderOpenbox() {
        if (QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            QSKIP("openbox is not installed");
        const QByteArray page = productPage("Demo 2.1");
        PortalThread portal({{PagePath, PortalResponse::ok(page, "text/html; charset=UTF-8")
                                            .dripping((page.size() + 15) / 16, 10)}});
        Run run;
        QProcess openbox;
        const auto stopOpenbox = qScopeGuard([&] {
            openbox.terminate();
            openbox.waitForFinished(5000);
        });
        QCOMPARE(run.startOpenbox(openbox), QString());
        for (int i = 0; i < 20; ++i) {
            const bool fromExpanded = i % 2 == 1;
            QCOMPARE(i == 0 ? run.start(portal.base()) : run.launch(), QString());
            QPoint action = CompactAction, expand = CompactExpand;
            if (fromExpanded) {
                run.x.click(run.at(CompactExpand).x(), run.at(CompactExpand).y());
                QTRY_COMPARE_WITH_TIMEOUT(run.frame().size(), ExpandedSize, 10000);
                action = ExpandedAction;
                expand = ExpandedExpand;
            }
            // The second click lands at another moment of the page's arrival in each run.
            const QPoint a = run.at(action), e = run.at(expand);
            run.xdotool({"mousemove", QString::number(a.x()), QString::number(a.y()), "click", "1",
                         "sleep", QString::number((i / 2 % 5) * 0.03), "mousemove",
                         QString::number(e.x()), QString::number(e.y()), "click", "1"});
            QRect frame;
            const QImage rest = restingPicture(run, frame);
            const QString ended = run.stop();
            QVERIFY2(ended.isEmpty(), qPrintable(QStringLiteral("run %1: %2").arg(i).arg(ended)));
            QVERIFY2(!rest.isNull(), qPrintable(QStringLiteral("run %1: size %2 x %3")
                                                    .arg(i)
                                                    .arg(frame.width())
                                                    .arg(frame.height())));
            e2e::keepShot(rest.copy(frame), QStringLiteral("openbox-run-%1").arg(i));
            QCOMPARE(showsExpandedContent(rest, frame), frame.size() == ExpandedSize);
        }
    }

    // A page whose title holds 100 000 characters: the check completes, the window expands
    // and comes to rest with the title cut short.
    void hugeTitle() {
        PortalThread portal({{PagePath, PortalResponse::ok(productPage(QByteArray(100000, 'V')),
                                                           "text/html; charset=UTF-8")}});
        Run run;
        QCOMPARE(run.start(portal.base()), QString());
        run.x.click(run.at(CompactAction).x(), run.at(CompactAction).y());
        QTRY_COMPARE_WITH_TIMEOUT(run.frame().size(), ExpandedSize, 15000);
        QRect frame;
        const QImage rest = restingPicture(run, frame);
        QVERIFY(!rest.isNull());
        e2e::keepShot(rest.copy(frame), QStringLiteral("huge-title"));
        QVERIFY(showsExpandedContent(rest, frame));
        QCOMPARE(run.updater.state(), QProcess::Running);
    }

    // Without a font that shows Chinese the graphics failure is told in words the box can
    // show, on stderr too, and the program ends with 1.
    void graphicsFailureWithoutChineseFont() {
        XvfbSession x;
        QVERIFY(x.start());
        e2e::Product product;
        QVERIFY(product.stamp({"--name", "E2E", "--id", "77"}));
        const QString fontsConf = product.dir.filePath(QStringLiteral("fonts.conf"));
        QFile conf(fontsConf);
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                   "<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir>"
                   "<cachedir>" +
                   product.dir.filePath(QStringLiteral("fc-cache")).toUtf8() +
                   "</cachedir></fontconfig>\n");
        conf.close();
        QProcessEnvironment env = e2e::productEnvironment(x, product);
        env.insert(QStringLiteral("FONTCONFIG_FILE"), fontsConf);
        QProcess updater;
        updater.setProcessEnvironment(env);
        updater.start(product.exe, {});
        const qulonglong box = x.waitForWindow(QStringLiteral("update-tool"), 15000);
        QVERIFY(box != 0);
        e2e::keepShot(x.screenshot(), QStringLiteral("graphics-failure"));
        x.run(QStringLiteral("xdotool"), {"windowfocus", "--sync", QString::number(box), "key",
                                          "--window", QString::number(box), "Return"});
        QVERIFY(updater.waitForFinished(10000));
        QCOMPARE(updater.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(updater.readAllStandardError());
        QVERIFY2(err.contains(u"no installed font shows Chinese text"), qPrintable(err));
    }
};

QTEST_MAIN(tst_E2eWindow)
#include "tst_e2e_window.moc"
