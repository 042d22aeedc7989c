#include <clocale>

#include <QTest>

#include "RecordingWindow.h"
#include "hook/ProgressPayload.h"

using namespace hook;

class tst_ProgressPayload : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The payload is text in the locale's codeset; these cases are written in UTF-8.
        QVERIFY(std::setlocale(LC_ALL, "C.UTF-8") != nullptr);
    }

    void decode_data() { addPayloadExamples(); }
    void decode() {
        QFETCH(quint32, dwData);
        QFETCH(QByteArray, payload);
        QFETCH(bool, repaints);
        QFETCH(QString, status);
        QFETCH(float, percent);
        const ProgressDecision decision = decodeProgressMessage(dwData, payload);
        QCOMPARE(decision.repaintCase != RepaintCase::None, repaints);
        QCOMPARE(decision.statusText(QStringLiteral("点击这里访问作者页面")), status);
        QCOMPARE(decision.percent, percent);
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

    void statusTexts() {
        const QString idle = QStringLiteral("idle text");
        QCOMPARE((ProgressDecision{RepaintCase::Idle, 0}).statusText(idle), idle);
        QCOMPARE((ProgressDecision{RepaintCase::Finished, 0}).statusText(idle),
                 QStringLiteral("已经完成"));
        QCOMPARE((ProgressDecision{RepaintCase::Processing, 5}).statusText(idle),
                 QStringLiteral("正在处理"));
        QVERIFY((ProgressDecision{}).statusText(idle).isEmpty());
    }
};

QTEST_APPLESS_MAIN(tst_ProgressPayload)
#include "tst_progresspayload.moc"
