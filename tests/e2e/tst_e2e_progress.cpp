#include <QProcess>
#include <QTest>

#include "E2eKit.h"

using testsupport::XvfbSession;

// The real updater under a private X server receives a progress message from
// update-tool-notify and draws it in its status line.
class tst_E2eProgress : public QObject {
    Q_OBJECT
private slots:
    void halfwayMessageFillsHalfTheStatusLine() {
        if (!XvfbSession::toolsAvailable())
            QSKIP("Xvfb, xdotool or imagemagick is not installed");
        XvfbSession x;
        QVERIFY(x.start());
        e2e::Product product;
        QVERIFY(product.stamp(
            {"--name", "E2E", "--id", "1234", "--style", "25", "--color", "#3366CC"}));
        const QProcessEnvironment env = e2e::productEnvironment(x, product);

        QProcess updater;
        const qulonglong window = e2e::startUpdater(updater, x, product, env);
        if (window == 0)
            QFAIL(qPrintable(e2e::whyNoWindow(updater)));
        const QRect frame = x.windowGeometry(window);
        QCOMPARE(frame.size(), QSize(460, 220));

        QProcess notify;
        notify.setProcessEnvironment(env);
        notify.start(e2e::toolPath(NOTIFY_EXE), {QStringLiteral("Trancel1_ProgressValue?0.5")});
        QVERIFY(notify.waitForFinished(15000));
        QCOMPARE(notify.exitCode(), 0);
        const QImage shot = x.screenshot();
        e2e::keepShot(shot.copy(frame), QStringLiteral("progress-half"));

        // The status line is the card's bottom 20 pixels, 439 wide, 10 pixels in from the
        // window's edge; half of it is 219.5, which rounds to an even 220.
        const int left = frame.x() + 10;
        const int row = frame.y() + 10 + 180 + 1; // above the text, below the frame line
        const QRgb bar = shot.pixel(left + 30, row);
        const QRgb line = shot.pixel(left + 380, row);
        QVERIFY2(qGray(bar) < qGray(line) - 10, "the bar is not darker than the line");
        QCOMPARE(shot.pixel(left + 214, row), bar);
        QCOMPARE(shot.pixel(left + 226, row), line);

        x.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--window"),
                                          QString::number(window), QStringLiteral("Escape")});
        QVERIFY(updater.waitForFinished(10000));
        QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
        QCOMPARE(updater.exitCode(), 0);
    }
};

QTEST_MAIN(tst_E2eProgress)
#include "tst_e2e_progress.moc"
