#include <QProcess>
#include <QTest>

// The updater binary as a process: how it behaves where it cannot show its window.
class tst_Process : public QObject {
    Q_OBJECT
private slots:
    void reportsAFailedGraphicsStart_data() {
        QTest::addColumn<QStringList>("unset");
        QTest::addColumn<QStringList>("set");
        QTest::newRow("no display at all")
            << QStringList{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"} << QStringList{};
        QTest::newRow("display that does not answer")
            << QStringList{"WAYLAND_DISPLAY"}
            << QStringList{"DISPLAY=:64999", "QT_QPA_PLATFORM=xcb"};
        QTest::newRow("unknown platform plugin")
            << QStringList{} << QStringList{"QT_QPA_PLATFORM=no-such-platform"};
    }
    void reportsAFailedGraphicsStart() {
        QFETCH(QStringList, unset);
        QFETCH(QStringList, set);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &name : unset)
            env.remove(name);
        for (const QString &pair : set)
            env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(UPDATER_EXE));
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(QString::fromUtf8(process.readAllStandardError())
                     .contains(QStringLiteral("无法启动 GDIPLUS，程序无法继续执行！")),
                 "the failure text is missing");
    }
};

QTEST_GUILESS_MAIN(tst_Process)
#include "tst_process.moc"
