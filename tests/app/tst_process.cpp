#include <QProcess>
#include <QTest>

// The updater binary as a process: how it behaves where it cannot show its window.
class tst_Process : public QObject {
    Q_OBJECT
private slots:
    // The failure is the first text a user can meet, so it also shows which language the
    // desktop's locale settings choose.
    void reportsAFailedGraphicsStart_data() {
        QTest::addColumn<QStringList>("unset");
        QTest::addColumn<QStringList>("set");
        QTest::addColumn<QString>("expected");
        const QStringList noDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
        const QString chinese = QStringLiteral("无法启动 GDIPLUS，程序无法继续执行！");
        const QString english =
            QStringLiteral("Cannot start the graphics system. The program cannot continue.");
        QTest::newRow("no display at all") << noDisplay << QStringList{} << chinese;
        QTest::newRow("display that does not answer")
            << QStringList{"WAYLAND_DISPLAY"}
            << QStringList{"DISPLAY=:64999", "QT_QPA_PLATFORM=xcb"} << chinese;
        QTest::newRow("unknown platform plugin")
            << QStringList{} << QStringList{"QT_QPA_PLATFORM=no-such-platform"} << chinese;
        QTest::newRow("unknown platform plugin, English desktop")
            << QStringList{} << QStringList{"QT_QPA_PLATFORM=no-such-platform", "LANG=en_US.UTF-8"}
            << english;
        const struct {
            const char *name;
            QStringList set;
            bool isEnglish;
        } locales[] = {
            {"zh_CN", {"LANG=zh_CN.UTF-8"}, false},
            {"zh_TW", {"LANG=zh_TW.UTF-8"}, false},
            {"C", {"LANG=C"}, false},
            {"C.UTF-8", {"LANG=C.UTF-8"}, false},
            {"en_US", {"LANG=en_US.UTF-8"}, true},
            {"de_DE: no catalogue, English", {"LANG=de_DE.UTF-8"}, true},
            {"LANGUAGE=de:zh_CN", {"LANG=de_DE.UTF-8", "LANGUAGE=de:zh_CN"}, false},
            {"LANGUAGE=fr:en", {"LANG=zh_CN.UTF-8", "LANGUAGE=fr:en"}, true},
            {"LC_ALL=C wins over LANG", {"LANG=en_US.UTF-8", "LC_ALL=C"}, false},
            {"LC_MESSAGES wins over LANG", {"LANG=zh_CN.UTF-8", "LC_MESSAGES=en_GB.UTF-8"}, true},
        };
        for (const auto &locale : locales)
            QTest::addRow("locale %s", locale.name)
                << noDisplay << locale.set << (locale.isEnglish ? english : chinese);
    }
    void reportsAFailedGraphicsStart() {
        QFETCH(QStringList, unset);
        QFETCH(QStringList, set);
        QFETCH(QString, expected);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // An unset locale unless the row sets one.
        for (const char *name : {"LANG", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            env.remove(QString::fromLatin1(name));
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
        const QString stderrText = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(stderrText.contains(expected), qPrintable(stderrText));
    }
};

QTEST_GUILESS_MAIN(tst_Process)
#include "tst_process.moc"
