// The read service's decisions over plain values: what a head, an end and a failure mean.
// The tests over real sockets check that the service applies them.
#include <QTest>

#include "net/DownloadDecisions.h"

using namespace net;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

// "Name: value" lines as a head's fields.
ResponseHead headOf(int status, const QByteArrayList &fields) {
    ResponseHead head;
    head.status = status;
    head.reasonPhrase = "Reason";
    for (const QByteArray &field : fields) {
        const qsizetype colon = field.indexOf(':');
        head.headers.append({field.left(colon), field.mid(colon + 1).trimmed()});
    }
    return head;
}

const char *nameOf(HeadVerdict::Action action) {
    switch (action) {
    case HeadVerdict::Action::Undecided:
        return "undecided";
    case HeadVerdict::Action::Fail:
        return "fail";
    case HeadVerdict::Action::TakeWhole:
        return "whole";
    case HeadVerdict::Action::TakeRange:
        return "range";
    case HeadVerdict::Action::StartOver:
        return "start over";
    }
    return "?";
}

const char *nameOf(EndVerdict::Action action) {
    switch (action) {
    case EndVerdict::Action::TakeBody:
        return "body";
    case EndVerdict::Action::Succeed:
        return "succeed";
    case EndVerdict::Action::Retry:
        return "retry";
    case EndVerdict::Action::StartOver:
        return "start over";
    case EndVerdict::Action::Fail:
        return "fail";
    }
    return "?";
}

const QDateTime Now = QDateTime::fromString(QStringLiteral("2026-12-07T21:38:00Z"), Qt::ISODate);
const QByteArray Range = "Content-Range: bytes 100-999/1000";

} // namespace

class tst_DownloadDecisions : public QObject {
    Q_OBJECT

private slots:
    void head_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("fields");
        QTest::addColumn<qint64>("rangeStart");  // and the bytes held: an answer of 1000, "v1"
        QTest::addColumn<qint64>("memoryLimit"); // -1: a read to a file
        QTest::addColumn<QString>("action");
        QTest::addColumn<QByteArray>("validator"); // of a whole answer
        QTest::addColumn<bool>("resumable");
        const QByteArrayList ranged{"Accept-Ranges: bytes", "ETag: \"v1\"", "Content-Length: 1000"};
        QTest::newRow("whole, resumable")
            << 200 << ranged << 0LL << -1LL << "whole" << QByteArray("\"v1\"") << true;
        QTest::newRow("whole, no length")
            << 200 << ranged.mid(0, 2) << 0LL << -1LL << "whole" << QByteArray("\"v1\"") << false;
        QTest::newRow("weak ETag")
            << 200 << QByteArrayList{"Accept-Ranges: bytes", "ETag: W/\"v1\"", "Content-Length: 9"}
            << 0LL << -1LL << "whole" << QByteArray() << false;
        QTest::newRow("weak ETag, Last-Modified")
            << 200 << QByteArrayList{"ETag: W/\"v1\"", "Last-Modified: Mon, 07 Dec 2026"} << 0LL
            << -1LL << "whole" << QByteArray("Mon, 07 Dec 2026") << false;
        QTest::newRow("two ETags") << 200 << QByteArrayList{"ETag: \"a\"", "ETag: \"b\""} << 0LL
                                   << -1LL << "whole" << QByteArray() << false;
        QTest::newRow("equal lengths twice")
            << 200 << QByteArrayList{"Content-Length: 9", "Content-Length: 9"} << 0LL << -1LL
            << "whole" << QByteArray() << false;
        QTest::newRow("conflicting lengths")
            << 200 << QByteArrayList{"Content-Length: 100", "Content-Length: 200004"} << 0LL << -1LL
            << "fail" << QByteArray() << false;
        QTest::newRow("signed length") << 200 << QByteArrayList{"Content-Length: +9"} << 0LL << -1LL
                                       << "fail" << QByteArray() << false;
        QTest::newRow("negative length") << 200 << QByteArrayList{"Content-Length: -5"} << 0LL
                                         << -1LL << "fail" << QByteArray() << false;
        QTest::newRow("205") << 205 << QByteArrayList{} << 0LL << -1LL << "fail" << QByteArray()
                             << false;
        QTest::newRow("ranges in capitals")
            << 200 << QByteArrayList{"Accept-Ranges: Bytes", "ETag: \"v1\"", "Content-Length: 9"}
            << 0LL << -1LL << "whole" << QByteArray("\"v1\"") << true;
        QTest::newRow("204") << 204 << QByteArrayList{} << 0LL << -1LL << "fail" << QByteArray()
                             << false;
        QTest::newRow("redirect") << 302 << QByteArrayList{} << 0LL << -1LL << "undecided"
                                  << QByteArray() << false;
        QTest::newRow("over the memory limit")
            << 200 << ranged << 0LL << 999LL << "fail" << QByteArray() << false;
        QTest::newRow("at the memory limit")
            << 200 << ranged << 0LL << 1000LL << "whole" << QByteArray("\"v1\"") << true;
        QTest::newRow("206 unasked")
            << 206 << QByteArrayList{Range} << 0LL << -1LL << "fail" << QByteArray() << false;
        QTest::newRow("206 continues") << 206 << QByteArrayList{Range, "ETag: \"v1\""} << 100LL
                                       << -1LL << "range" << QByteArray() << false;
        QTest::newRow("206 from elsewhere") << 206 << QByteArrayList{Range} << 101LL << -1LL
                                            << "start over" << QByteArray() << false;
        QTest::newRow("206 from further on, its length consistent")
            << 206 << QByteArrayList{"Content-Range: bytes 200-999/1000", "Content-Length: 800"}
            << 100LL << -1LL << "start over" << QByteArray() << false;
        QTest::newRow("206 without a validator")
            << 206 << QByteArrayList{Range} << 100LL << -1LL << "range" << QByteArray() << false;
        QTest::newRow("206 length longer than its range")
            << 206 << QByteArrayList{Range, "Content-Length: 901"} << 100LL << -1LL << "start over"
            << QByteArray() << false;
        QTest::newRow("206 of another size")
            << 206 << QByteArrayList{"Content-Range: bytes 100-998/999"} << 100LL << -1LL
            << "start over" << QByteArray() << false;
        QTest::newRow("206 short of the end")
            << 206 << QByteArrayList{"Content-Range: bytes 100-998/1000"} << 100LL << -1LL
            << "start over" << QByteArray() << false;
        QTest::newRow("206 length disagrees")
            << 206 << QByteArrayList{Range, "Content-Length: 899"} << 100LL << -1LL << "start over"
            << QByteArray() << false;
        QTest::newRow("206 of another version")
            << 206 << QByteArrayList{Range, "ETag: \"v2\""} << 100LL << -1LL << "start over"
            << QByteArray() << false;
        QTest::newRow("206 unknown total")
            << 206 << QByteArrayList{"Content-Range: bytes 100-999/*"} << 100LL << -1LL
            << "start over" << QByteArray() << false;
    }
    void head() {
        QFETCH(int, status);
        QFETCH(QByteArrayList, fields);
        QFETCH(qint64, rangeStart);
        QFETCH(qint64, memoryLimit);
        QFETCH(QString, action);
        QFETCH(QByteArray, validator);
        QFETCH(bool, resumable);
        const AnswerIdentity known{"\"v1\"", true, 1000};
        const HeadVerdict verdict =
            judgeHead(headOf(status, fields), rangeStart, known,
                      memoryLimit < 0 ? std::nullopt : std::optional<qint64>(memoryLimit));
        QCOMPARE(QString::fromLatin1(nameOf(verdict.action)), action);
        QCOMPARE(verdict.reason.isEmpty(), action != u"fail");
        if (action == u"whole") {
            QCOMPARE(verdict.answer.validator, validator);
            QCOMPARE(verdict.answer.resumable(), resumable);
        }
    }

    // A kept partial file is resumed only for the address it was kept for, and only while it
    // holds some of the bytes.
    void keptAnswers_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<bool>("resumed");
        QTest::newRow("same address") << "http://h/p" << 500LL << true;
        QTest::newRow("another address") << "http://h/q" << 500LL << false;
        QTest::newRow("empty file") << "http://h/p" << 0LL << false;
    }
    void keptAnswers() {
        QFETCH(QString, target);
        QFETCH(qint64, fileSize);
        QTEST(
            keptAnswer(QStringLiteral("http://h/p"), "\"v1\"", 1000, target, fileSize).has_value(),
            "resumed");
    }

    void end_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("fields");
        QTest::addColumn<int>("error"); // QNetworkReply::NetworkError
        QTest::addColumn<qint64>("rangeStart");
        QTest::addColumn<qint64>("bytesHeld"); // of an answer of 1000 bytes
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("retryAfterMs"); // -1: none
        const int ok = QNetworkReply::NoError;
        QTest::newRow("416 to a range")
            << 416 << QByteArrayList{} << ok << 100LL << 100LL << "start over" << -1;
        QTest::newRow("416 saying the answer is as long as the bytes held")
            << 416 << QByteArrayList{"Content-Range: bytes */100"} << ok << 100LL << 100LL
            << "start over" << -1;
        QTest::newRow("416 to a range from the end: whole")
            << 416 << QByteArrayList{"Content-Range: bytes */1000"} << ok << 1000LL << 1000LL
            << "succeed" << -1;
        QTest::newRow("416 from the end of an answer grown since")
            << 416 << QByteArrayList{"Content-Range: bytes */2000"} << ok << 1000LL << 1000LL
            << "start over" << -1;
        QTest::newRow("416 unasked") << 416 << QByteArrayList{} << ok << 0LL << 0LL << "fail" << -1;
        QTest::newRow("503 with Retry-After")
            << 503 << QByteArrayList{"Retry-After: 3"} << ok << 0LL << 0LL << "retry" << 3000;
        QTest::newRow("429") << 429 << QByteArrayList{} << ok << 0LL << 0LL << "retry" << -1;
        QTest::newRow("502") << 502 << QByteArrayList{} << ok << 0LL << 0LL << "retry" << -1;
        QTest::newRow("504") << 504 << QByteArrayList{} << ok << 0LL << 0LL << "retry" << -1;
        QTest::newRow("timed out") << 200 << QByteArrayList{} << int(QNetworkReply::TimeoutError)
                                   << 0LL << 5LL << "retry" << -1;
        QTest::newRow("404") << 404 << QByteArrayList{} << ok << 0LL << 0LL << "fail" << -1;
        QTest::newRow("connection closed")
            << 200 << QByteArrayList{} << int(QNetworkReply::RemoteHostClosedError) << 0LL << 5LL
            << "retry" << -1;
        QTest::newRow("connection refused")
            << 0 << QByteArrayList{} << int(QNetworkReply::ConnectionRefusedError) << 0LL << 0LL
            << "fail" << -1;
        QTest::newRow("redirect not followed")
            << 301 << QByteArrayList{} << ok << 0LL << 0LL << "fail" << -1;
        QTest::newRow("whole body") << 200 << QByteArrayList{"Content-Length: 1000"} << ok << 0LL
                                    << 1000LL << "succeed" << -1;
        QTest::newRow("body cut") << 200 << QByteArrayList{"Content-Length: 1000"} << ok << 0LL
                                  << 999LL << "retry" << -1;
        QTest::newRow("range to the end")
            << 206 << QByteArrayList{} << ok << 100LL << 1000LL << "succeed" << -1;
        QTest::newRow("range short of the end")
            << 206 << QByteArrayList{} << ok << 100LL << 900LL << "retry" << -1;
        QTest::newRow("no length, some bytes")
            << 200 << QByteArrayList{} << ok << 0LL << 1LL << "succeed" << -1;
        QTest::newRow("no bytes") << 200 << QByteArrayList{} << ok << 0LL << 0LL << "fail" << -1;
    }
    void end() {
        QFETCH(int, status);
        QFETCH(QByteArrayList, fields);
        QFETCH(int, error);
        QFETCH(qint64, rangeStart);
        QFETCH(qint64, bytesHeld);
        QFETCH(QString, action);
        QFETCH(int, retryAfterMs);
        const ResponseHead h = headOf(status, fields);
        EndVerdict verdict = judgeEnd(h, QNetworkReply::NetworkError(error), QStringLiteral("e"),
                                      rangeStart, 1000, Now);
        if (verdict.action == EndVerdict::Action::TakeBody)
            verdict = judgeBody(h, rangeStart, bytesHeld, 1000);
        QCOMPARE(QString::fromLatin1(nameOf(verdict.action)), action);
        QCOMPARE(verdict.retryAfter.value_or(milliseconds(-1)).count(), retryAfterMs);
        if (status >= 400 && (action == u"fail" || action == u"retry"))
            QVERIFY2(verdict.reason.startsWith(QStringLiteral("HTTP %1 Reason").arg(status)),
                     qPrintable(verdict.reason));
    }

    // A row per run of failures: the bytes held at each, the wait a server asked for (-1
    // none), and the waits planned (-1 for giving up).
    // What kind of failure a verdict names decides which box the window shows.
    void failureKinds_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("fields");
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("bytesHeld"); // -1: the head decides
        QTest::addColumn<FailureKind>("kind");
        const int ok = QNetworkReply::NoError;
        QTest::newRow("204") << 204 << QByteArrayList{} << ok << -1LL << FailureKind::ServerAnswer;
        QTest::newRow("conflicting lengths")
            << 200 << QByteArrayList{"Content-Length: 5", "Content-Length: 6"} << ok << -1LL
            << FailureKind::Lie;
        QTest::newRow("206 unasked")
            << 206 << QByteArrayList{Range} << ok << -1LL << FailureKind::Lie;
        QTest::newRow("404") << 404 << QByteArrayList{} << ok << 0LL << FailureKind::ServerAnswer;
        QTest::newRow("503") << 503 << QByteArrayList{} << ok << 0LL << FailureKind::ServerAnswer;
        QTest::newRow("refused") << 0 << QByteArrayList{}
                                 << int(QNetworkReply::ConnectionRefusedError) << 0LL
                                 << FailureKind::Network;
        QTest::newRow("body cut") << 200 << QByteArrayList{"Content-Length: 1000"} << ok << 999LL
                                  << FailureKind::Network;
        QTest::newRow("no bytes") << 200 << QByteArrayList{} << ok << 0LL
                                  << FailureKind::ServerAnswer;
    }
    void failureKinds() {
        QFETCH(int, status);
        QFETCH(QByteArrayList, fields);
        QFETCH(int, error);
        QFETCH(qint64, bytesHeld);
        QFETCH(FailureKind, kind);
        const ResponseHead h = headOf(status, fields);
        if (bytesHeld < 0) {
            QCOMPARE(judgeHead(h, 0, {}, std::nullopt).kind, kind);
            return;
        }
        EndVerdict verdict =
            judgeEnd(h, QNetworkReply::NetworkError(error), QStringLiteral("e"), 0, 1000, Now);
        if (verdict.action == EndVerdict::Action::TakeBody)
            verdict = judgeBody(h, 0, bytesHeld, 1000);
        QCOMPARE(verdict.kind, kind);
    }

    void retries_data() {
        QTest::addColumn<QList<qint64>>("held");
        QTest::addColumn<int>("retryAfterS");
        QTest::addColumn<QList<int>>("waits");
        QTest::newRow("no progress: five tries, doubling")
            << QList<qint64>{0, 0, 0, 0, 0, 0} << -1 << QList<int>{1, 2, 4, 8, 16, -1};
        constexpr qint64 Enough = ProgressMinimumBytes;
        QTest::newRow("progress starts the count afresh")
            << QList<qint64>{0, 0, Enough, Enough, 2 * Enough} << -1 << QList<int>{1, 2, 1, 2, 1};
        QTest::newRow("a few bytes each time are no progress")
            << QList<qint64>{1, 2, 3, 4, 5, 6} << -1 << QList<int>{1, 2, 4, 8, 16, -1};
        QTest::newRow("a little short of progress")
            << QList<qint64>{Enough, 2 * Enough - 1} << -1 << QList<int>{1, 2};
        QList<qint64> steady;
        QList<int> waits(MaximumAttempts - 1, 1);
        for (int i = 1; i <= MaximumAttempts; ++i)
            steady << i * Enough;
        QTest::newRow("progress every time, until the attempts are spent")
            << steady << -1 << (waits << -1);
        QTest::newRow("Retry-After within the cap") << QList<qint64>{0} << 60 << QList<int>{60};
        QTest::newRow("Retry-After too long: the cap, as often as the retries allow")
            << QList<qint64>{0, 0, 0, 0, 0, 0} << 3600 << QList<int>{60, 60, 60, 60, 60, -1};
    }
    void retries() {
        QFETCH(QList<qint64>, held);
        QFETCH(int, retryAfterS);
        QFETCH(QList<int>, waits);
        RetryBudget budget;
        QList<int> planned;
        for (const qint64 bytes : held) {
            ++budget.attempts;
            const RetryPlan plan = planRetry(
                budget, bytes,
                retryAfterS < 0 ? std::nullopt : std::optional<milliseconds>(seconds(retryAfterS)));
            budget = plan.budget;
            planned << (plan.giveUp ? -1 : int(plan.wait.count() / 1000));
        }
        QCOMPARE(planned, waits);
    }

    void retryAfter_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("waitS"); // -1: none
        QTest::newRow("seconds") << QByteArray("3") << 3;
        QTest::newRow("negative") << QByteArray("-1") << -1;
        QTest::newRow("zero") << QByteArray("0") << 0;
        QTest::newRow("beyond a year, no overflow")
            << QByteArray("7666666666606666666") << 31536000;
        QTest::newRow("garbage") << QByteArray("soon") << -1;
        QTest::newRow("numeric offset") << QByteArray("Mon, 07 Dec 2026 21:38:01 +0000") << 1;
        QTest::newRow("in the past") << QByteArray("Mon, 07 Dec 2026 21:37:00 +0000") << 0;
        QTest::newRow("IMF-fixdate") << QByteArray("Mon, 07 Dec 2026 21:38:01 GMT") << 1;
        QTest::newRow("RFC 850") << QByteArray("Monday, 07-Dec-26 21:38:30 GMT") << 30;
        QTest::newRow("RFC 850, last century") << QByteArray("Monday, 07-Dec-77 21:38:30 GMT") << 0;
        QTest::newRow("RFC 850, fifty years ahead")
            << QByteArray("Monday, 07-Dec-76 21:38:00 GMT") << 1577923200;
        QTest::newRow("asctime") << QByteArray("Mon Dec  7 21:39:00 2026") << 60;
        QTest::newRow("asctime, two-digit day") << QByteArray("Thu Dec 17 21:38:00 2026") << 864000;
        QTest::newRow("no such day") << QByteArray("Mon, 31 Feb 2026 21:38:01 GMT") << -1;
        QTest::newRow("other zone") << QByteArray("Mon, 07 Dec 2026 21:38:01 UTC") << -1;
        QTest::newRow("one-digit day in IMF") << QByteArray("Mon, 7 Dec 2026 21:38:01 GMT") << -1;
    }
    void retryAfter() {
        QFETCH(QByteArray, value);
        QFETCH(int, waitS);
        const auto wait = retryAfterOf(headOf(503, {"Retry-After: " + value}), Now);
        QCOMPARE(wait ? int(wait->count() / 1000) : -1, waitS);
    }
};

QTEST_GUILESS_MAIN(tst_DownloadDecisions)
#include "tst_downloaddecisions.moc"
