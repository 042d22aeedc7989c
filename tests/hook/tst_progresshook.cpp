#include <clocale>
#include <stdexcept>

#include <QTemporaryDir>
#include <QTest>

#include "ProgressMessageExamples.h"
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
        const PayloadExample example = fetchPayloadExample();
        RecordingWindow window;
        ProgressHook hook(window.bind());
        const CopyDataStruct message = record(example.dwData, example.payload);
        hook.HandleCopyData(message);
        QVERIFY(matchesExample(window, example));
        if (!example.repaints)
            QCOMPARE(window.sngLastPercent, 7.0f);
        else
            QCOMPARE(window.sngLastPercent, example.percent);
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
        // A four-byte character (two UTF-16 units) whole at the end, and cut after two bytes.
        QByteArray grin(1020, 'c');
        grin.append("\xF0\x9F\x98\x80");
        QTest::newRow("four-byte character at the limit")
            << grin << QString(1020, u'c') + QString::fromUcs4(U"\U0001F600");
        QByteArray cutGrin(1022, 'c');
        cutGrin.append("\xF0\x9F\x98\x80");
        QTest::newRow("four-byte character split by the cut")
            << cutGrin << QString(1022, u'c') + QStringLiteral("\uFFFD\uFFFD");
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
        hook.HandleCopyData(noBytes);
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
        hook.HandleCopyData(message);
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
        hook.HandleCopyData(message);
        QCOMPARE(window.repaints.size(), 1);
        QCOMPARE(window.repaints.first().strInfo1, QString());
        QCOMPARE(window.repaints.first().strInfo2, QStringLiteral("正在处理"));
        QCOMPARE(window.sngLastPercent, 7.0f);

        bound.ReDraw = [](qint32, const QString &, const QString &, float) {
            throw std::runtime_error("repaint");
        };
        ProgressHook failingRepaint(bound);
        failingRepaint.HandleCopyData(message); // must not throw
    }

    void installedExactlyOnce() {
        RecordingWindow window;
        QObject updater;
        QObject later;
        ProgressHook hook(window.bind());
        QVERIFY(!hook.InstallProgressHook(nullptr));
        QVERIFY(!hook.isInstalled());
        QVERIFY(hook.InstallProgressHook(&updater));
        const ProgressChannel *channel = hook.channel();
        QVERIFY(channel);
        QVERIFY2(channel->isListening(), qPrintable(channel->errorString()));
        QVERIFY(!hook.InstallProgressHook(&updater));
        QVERIFY(!hook.InstallProgressHook(&later));
        QCOMPARE(hook.channel(), channel);
    }
};

QTEST_GUILESS_MAIN(tst_ProgressHook)
#include "tst_progresshook.moc"
