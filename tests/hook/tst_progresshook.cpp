#include <clocale>
#include <stdexcept>

#include <QTemporaryDir>
#include <QTest>

#include "RecordingWindow.h"
#include "hook/ProgressChannel.h"
#include "hook/ProgressHook.h"
#include "hook/ProgressPayload.h"

using namespace hook;

namespace {

CopyDataStruct record(quint32 dwData, const QByteArray &payload) {
    return {dwData, static_cast<quint32>(payload.size()), payload.constData()};
}

} // namespace

class tst_ProgressHook : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtime;

private slots:
    void initTestCase() {
        QVERIFY(std::setlocale(LC_ALL, "C.UTF-8") != nullptr);
        // Installing opens the channel; keep it out of the user's own runtime folder.
        QVERIFY(m_runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    }

    void handleCopyData_data() { addPayloadExamples(); }
    void handleCopyData() {
        QFETCH(quint32, dwData);
        QFETCH(QByteArray, payload);
        QFETCH(bool, repaints);
        QFETCH(QString, status);
        QFETCH(float, percent);
        RecordingWindow window;
        ProgressHook hook(window.bind());
        const CopyDataStruct message = record(dwData, payload);
        hook.HandleCopyData(&message);
        QVERIFY(matchesExample(window, repaints, status, percent));
        if (!repaints)
            QCOMPARE(window.sngLastPercent, 7.0f);
        else
            QCOMPARE(window.sngLastPercent, percent);
    }

    void textIsCutAtFirstNulAndLimit_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("plain") << QByteArray("abc") << QStringLiteral("abc");
        QTest::newRow("inner NUL") << QByteArray("ab\0cd", 5) << QStringLiteral("ab");
        QTest::newRow("leading NUL") << QByteArray("\0abc", 4) << QString();
        QTest::newRow("exactly the limit") << QByteArray(1024, 'a') << QString(1024, u'a');
        QTest::newRow("beyond the limit") << QByteArray(5000, 'b') << QString(1024, u'b');
        QTest::newRow("locale text") << QByteArray("进度?0.5") << QStringLiteral("进度?0.5");
        QTest::newRow("invalid bytes") << QByteArray("a\xFF"
                                                     "b")
                                       << QStringLiteral("a\uFFFDb");
        // A character split by the cut does not take the text before it with it.
        QByteArray split(1023, 'c');
        split.append("进");
        QTest::newRow("character split by the cut") << split << QString(1023, u'c') + QChar(0xFFFD);
    }
    void textIsCutAtFirstNulAndLimit() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, expected);
        QCOMPARE(progressText(payload), expected);
    }

    void handleCopyDataWithoutPayload() {
        RecordingWindow window;
        ProgressHook hook(window.bind());
        const CopyDataStruct noBytes{3, 50, nullptr};
        hook.HandleCopyData(&noBytes);
        hook.HandleCopyData(nullptr);
        QVERIFY(window.repaints.isEmpty());
    }

    // The payload belongs to the sender: the hook must have read it before repainting, so
    // a sender that reuses its buffer right after cannot change what was shown.
    void payloadIsCopiedBeforeRepaint() {
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QByteArray payload("Trancel1_ProgressValue?0.5");
        window.duringReDraw = [&] { payload.fill('x'); };
        const CopyDataStruct message = record(3, payload);
        hook.HandleCopyData(&message);
        QCOMPARE(window.repaints.size(), 1);
        QCOMPARE(window.repaints.first().lPercentValue, 50.0f);
    }

    void failingStepsAreSkipped() {
        RecordingWindow window;
        HookWindow bound = window.bind();
        bound.strLastInfo1 = []() -> QString { throw std::runtime_error("title"); };
        bound.setLastPercent = [](float) { throw std::runtime_error("percent"); };
        ProgressHook hook(bound);
        const QByteArray payload("Trancel1_ProgressValue?0.5");
        const CopyDataStruct message = record(3, payload);
        hook.HandleCopyData(&message);
        QCOMPARE(window.repaints.size(), 1);
        QCOMPARE(window.repaints.first().strInfo1, QString());
        QCOMPARE(window.repaints.first().strInfo2, QStringLiteral("正在处理"));
        QCOMPARE(window.sngLastPercent, 7.0f);

        bound.ReDraw = [](const QString &, qint32, const QString &, const QString &, float,
                          qint32) { throw std::runtime_error("repaint"); };
        ProgressHook failingRepaint(bound);
        failingRepaint.HandleCopyData(&message); // must not throw
    }

    void hookProc_data() {
        QTest::addColumn<bool>("install");
        QTest::addColumn<bool>("hookedWindow");
        QTest::addColumn<quint32>("message");
        QTest::addColumn<quint32>("dwData");
        QTest::addColumn<qint32>("result");
        QTest::addColumn<bool>("repainted");
        QTest::addColumn<bool>("passedOn");
        QTest::newRow("progress") << true << true << 74u << 3u << 0 << true << false;
        QTest::newRow("other kind answered 0, not passed on")
            << true << true << 74u << 1u << 0 << false << false;
        QTest::newRow("other window") << true << false << 74u << 3u << 42 << false << true;
        QTest::newRow("other message") << true << true << 15u << 3u << 42 << false << true;
        QTest::newRow("not installed") << false << true << 74u << 3u << 42 << false << true;
    }
    void hookProc() {
        QFETCH(bool, install);
        QFETCH(bool, hookedWindow);
        QFETCH(quint32, message);
        QFETCH(quint32, dwData);
        QFETCH(qint32, result);
        QFETCH(bool, repainted);
        QFETCH(bool, passedOn);
        RecordingWindow window;
        QObject updater;
        QObject other;
        int passed = 0;
        HookWindow bound = window.bind();
        bound.previousProcedure = [&](const QObject *, quint32, quintptr, const void *) {
            ++passed;
            return 42;
        };
        ProgressHook hook(bound);
        if (install)
            QVERIFY(hook.InstallProgressHook(&updater));
        const QByteArray payload("Trancel1_ProgressValue?0.5");
        const CopyDataStruct data = record(dwData, payload);
        QCOMPARE(hook.ProgressHookProc(hookedWindow ? &updater : &other, message, 0, &data),
                 result);
        QCOMPARE(window.repaints.size() == 1, repainted);
        QCOMPARE(passed == 1, passedOn);
    }

    void installedExactlyOnce() {
        RecordingWindow window;
        QObject updater;
        QObject later;
        int passed = 0;
        HookWindow bound = window.bind();
        bound.previousProcedure = [&](const QObject *, quint32, quintptr, const void *) {
            ++passed;
            return 0;
        };
        ProgressHook hook(bound);
        QVERIFY(!hook.InstallProgressHook(nullptr));
        QVERIFY(!hook.isInstalled());
        QVERIFY(hook.InstallProgressHook(&updater));
        const ProgressChannel *channel = hook.channel();
        QVERIFY(channel);
        QVERIFY2(channel->isListening(), qPrintable(channel->errorString()));
        QVERIFY(!hook.InstallProgressHook(&updater));
        QVERIFY(!hook.InstallProgressHook(&later));
        QCOMPARE(hook.channel(), channel);

        // Still bound to the first window; a message for the other is passed on once, not
        // looped back into the hook.
        const QByteArray payload("Trancel1_ProgressValue?0.5");
        const CopyDataStruct data = record(3, payload);
        hook.ProgressHookProc(&later, kCopyDataMessage, 0, &data);
        QCOMPARE(passed, 1);
        QVERIFY(window.repaints.isEmpty());
        hook.ProgressHookProc(&updater, kCopyDataMessage, 0, &data);
        QCOMPARE(window.repaints.size(), 1);
    }

    void withoutPreviousProcedureOtherMessagesGiveZero() {
        RecordingWindow window;
        ProgressHook hook(window.bind());
        QObject updater;
        QVERIFY(hook.InstallProgressHook(&updater));
        QCOMPARE(hook.ProgressHookProc(&updater, 15, 0, nullptr), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ProgressHook)
#include "tst_progresshook.moc"
