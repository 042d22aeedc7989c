#pragma once

#include <QByteArray>
#include <QString>
#include <QTest>

#include "RecordingWindow.h"

// The one table of progress messages, shared by the hook's tests (the record handed to the
// hook directly) and the channel's tests (the same bytes sent over the socket).
// The progress messages of the conversion engine and what each must do to the window:
// whether it repaints, the status line and the percent.
inline void addPayloadExamples() {
    QTest::addColumn<quint32>("dwData");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("repaints");
    QTest::addColumn<QString>("status");
    QTest::addColumn<float>("percent");

    const QString idle = QStringLiteral("点击这里访问作者页面");
    const QString processing = QStringLiteral("正在处理");
    const QString finished = QStringLiteral("已经完成");
    auto row = [](const char *name, const QByteArray &payload, bool repaints, const QString &status,
                  float percent, quint32 dwData = 3) {
        QTest::newRow(name) << dwData << payload << repaints << status << percent;
    };

    row("half", "Trancel1_ProgressValue?0.5", true, processing, 50);
    row("one", "Trancel1_ProgressValue?1", true, finished, 0);
    row("beyond one", "Trancel1_ProgressValue?1.2", true, finished, 0);
    row("zero", "Trancel1_ProgressValue?0", true, idle, 0);
    row("further field ignored", "Trancel1_ProgressValue?0.25?more", true, processing, 25);
    row("no number", "Trancel1_ProgressValue?abc", true, idle, 0);
    row("negative", "Trancel1_ProgressValue?-0.1", true, processing, -10);
    row("negative zero", "Trancel1_ProgressValue?-0", true, idle, 0);
    row("blanks before number", "Trancel1_ProgressValue? \t0.75", true, processing, 75);
    row("empty field", "Trancel1_ProgressValue??0.5", true, idle, 0);
    row("key after the fraction", "x?0.4?Trancel1_ProgressValue", true, processing, 40);
    row("just below finished", "Trancel1_ProgressValue?0.9999", true, processing, 99.99f);
    row("huge", "Trancel1_ProgressValue?1e308", true, finished, 0);
    row("beyond single range", "Trancel1_ProgressValue?-1e300", false, QString(), 0);
    row("NUL ends the text", QByteArray("Trancel1_ProgressValue?0.5\0?0.9", 32), true, processing,
        50);
    row("NUL before the question mark", QByteArray("Trancel1_ProgressValue\0?0.5", 27), false,
        QString(), 0);
    row("pipe change", "Trancel1_ProgressValue?0.5?Trancel1_PipeChange", false, QString(), 0);
    row("script change", "Trancel1_ScriptChange?Trancel1_ProgressValue?0.5", false, QString(), 0);
    row("no question mark", "Trancel1_ProgressValue 0.5", false, QString(), 0);
    row("other key", "Trancel1_Other?0.5", false, QString(), 0);
    row("key case matters", "trancel1_progressvalue?0.5", false, QString(), 0);
    row("empty payload", "", false, QString(), 0);
    row("kind 1", "Trancel1_ProgressValue?0.5", false, QString(), 0, 1);
    row("kind 0", "Trancel1_ProgressValue?0.5", false, QString(), 0, 0);

    // Only the first 1024 bytes count: the number after the blanks lies beyond them.
    QByteArray cut = "Trancel1_ProgressValue?";
    cut.append(QByteArray(1024 - cut.size(), ' '));
    cut.append("0.5");
    cut.append(QByteArray(2000 - cut.size(), ' '));
    row("2000 bytes, number past the cut", cut, true, idle, 0);
    QByteArray kept = "Trancel1_ProgressValue?0.3";
    kept.append(QByteArray(2000 - kept.size(), 'x'));
    row("2000 bytes, number within the cut", kept, true, processing, 30);
    QByteArray mark(1024, 'x');
    mark.prepend("Trancel1_ProgressValue");
    mark.truncate(1024);
    mark.append("?0.5");
    row("question mark past the cut", mark, false, QString(), 0);
}

// One row of addPayloadExamples(), as the running test function reads it.
struct PayloadExample {
    quint32 dwData = 0;
    QByteArray payload;
    bool repaints = false;
    QString status;
    float percent = 0;
};
inline PayloadExample fetchPayloadExample() {
    QFETCH(quint32, dwData);
    QFETCH(QByteArray, payload);
    QFETCH(bool, repaints);
    QFETCH(QString, status);
    QFETCH(float, percent);
    return {dwData, payload, repaints, status, percent};
}

// Compares a repaint with one row of addPayloadExamples().
inline bool matchesExample(const RecordingWindow &window, const PayloadExample &example) {
    if (!example.repaints)
        return window.repaints.isEmpty();
    if (window.repaints.size() != 1)
        return false;
    const auto &r = window.repaints.first();
    return r.lMouseStatus == 0 && r.strInfo1 == window.strLastInfo1 &&
           r.strInfo2 == example.status &&
           qFuzzyCompare(1.0f + r.lPercentValue, 1.0f + example.percent) &&
           qFuzzyCompare(1.0f + r.sngLastPercentSeen, 1.0f + example.percent);
}
