#include "net/DownloadDecisions.h"

#include <algorithm>

namespace net {
namespace {

using std::chrono::milliseconds;

// The length the answer declares: nothing when it declares none, and -1 when its
// Content-Length fields are not one number (several that disagree, or garbage) — such an
// answer cannot be told apart from a cut one.
std::optional<qint64> declaredLength(const ResponseHead &head) {
    const std::optional<QByteArray> field = head.header("Content-Length");
    if (!field)
        return std::nullopt;
    std::optional<qint64> length;
    for (const QByteArray &part : field->split(',')) {
        bool ok = false;
        const QByteArray digits = part.trimmed();
        const qint64 value = digits.toLongLong(&ok);
        if (!ok || value < 0 || digits.startsWith('+') || (length && *length != value))
            return -1;
        length = value;
    }
    return length;
}

// What identifies this version of the answer: a strong ETag, else Last-Modified; empty when
// the server gives neither (a weak ETag cannot vouch for bytes).
QByteArray validatorOf(const ResponseHead &head) {
    const QByteArray etag = head.header("ETag").value_or(QByteArray()).trimmed();
    if (!etag.isEmpty() && !etag.startsWith("W/") && !etag.contains(','))
        return etag;
    return head.header("Last-Modified").value_or(QByteArray()).trimmed();
}

struct ContentRange {
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = 0;
};

// "bytes FIRST-LAST/TOTAL"; nothing for anything else (an unknown total included).
std::optional<ContentRange> contentRangeOf(const ResponseHead &head) {
    const QByteArray value = head.header("Content-Range").value_or(QByteArray()).trimmed();
    if (!value.startsWith("bytes "))
        return std::nullopt;
    const QByteArray range = value.mid(6).trimmed();
    const qsizetype dash = range.indexOf('-');
    const qsizetype slash = range.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return std::nullopt;
    bool ok1 = false, ok2 = false, ok3 = false;
    ContentRange parsed{range.left(dash).toLongLong(&ok1),
                        range.mid(dash + 1, slash - dash - 1).toLongLong(&ok2),
                        range.mid(slash + 1).toLongLong(&ok3)};
    if (!ok1 || !ok2 || !ok3 || parsed.first < 0 || parsed.last < parsed.first ||
        parsed.total <= parsed.last)
        return std::nullopt;
    return parsed;
}

// The N of "Content-Range: bytes */N", the length a 416 gives the whole answer; -1 without it.
qint64 unsatisfiedRangeTotal(const ResponseHead &head) {
    const QByteArray value = head.header("Content-Range").value_or(QByteArray()).trimmed();
    if (!value.startsWith("bytes */"))
        return -1;
    bool ok = false;
    const qint64 total = value.mid(8).toLongLong(&ok);
    return ok && total > 0 ? total : -1;
}

// Whether a 206 continues the bytes held exactly: from where they end, of the size known,
// and of the same version.
bool continuesExactly(const ResponseHead &head, qint64 rangeStart, const AnswerIdentity &known) {
    const std::optional<ContentRange> range = contentRangeOf(head);
    const std::optional<qint64> length = declaredLength(head);
    const QByteArray validator = validatorOf(head);
    return range && range->first == rangeStart && range->total == known.totalSize &&
           range->last == range->total - 1 &&
           (!length || *length == range->last - range->first + 1) &&
           (validator.isEmpty() || validator == known.validator);
}

// A number of exactly `width` digits (1 or 2 for `width` 0); -1 for anything else.
int digits(QByteArrayView text, qsizetype width) {
    if (width == 0 && (text.size() == 1 || text.size() == 2))
        width = text.size();
    if (text.size() != width)
        return -1;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int monthOf(QByteArrayView name) {
    static const QByteArrayView months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (name == months[i])
            return i + 1;
    return -1;
}

bool isDayName(QByteArrayView name, bool full) {
    static const QByteArrayView days[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                          "Friday", "Saturday", "Sunday"};
    for (const QByteArrayView day : days)
        if (name == (full ? day : day.first(3)))
            return true;
    return false;
}

// "HH:MM:SS" on `date`, in UTC; nothing when either is not a real one.
std::optional<QDateTime> atTime(const QDate &date, QByteArrayView time) {
    if (time.size() != 8 || time[2] != ':' || time[5] != ':')
        return std::nullopt;
    const QTime clock(digits(time.first(2), 2), digits(time.sliced(3, 2), 2),
                      digits(time.sliced(6, 2), 2));
    if (!date.isValid() || !clock.isValid())
        return std::nullopt;
    return QDateTime(date, clock, Qt::UTC);
}

HeadVerdict failure(const QString &reason, FailureKind kind) {
    return {HeadVerdict::Action::Fail, reason, {}, kind};
}

EndVerdict endWith(EndVerdict::Action action, const QString &reason = QString(),
                   FailureKind kind = FailureKind::None,
                   std::optional<milliseconds> retryAfter = std::nullopt) {
    return {action, reason, retryAfter, kind};
}

} // namespace

std::optional<QByteArray> ResponseHead::header(QByteArrayView name) const {
    std::optional<QByteArray> joined;
    for (const auto &[field, value] : headers) {
        if (field.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        joined = joined ? *joined + ", " + value : value;
    }
    return joined;
}

QString ResponseHead::statusText() const {
    return QStringLiteral("HTTP %1 %2")
        .arg(status)
        .arg(QString::fromLatin1(reasonPhrase))
        .trimmed();
}

AnswerIdentity identityOf(const ResponseHead &head) {
    AnswerIdentity answer;
    answer.validator = validatorOf(head);
    answer.rangesAccepted = head.header("Accept-Ranges")
                                .value_or(QByteArray())
                                .trimmed()
                                .compare("bytes", Qt::CaseInsensitive) == 0;
    answer.totalSize = std::max<qint64>(0, declaredLength(head).value_or(0));
    return answer;
}

std::optional<AnswerIdentity> keptAnswer(const QString &sidecarUrl, const QByteArray &validator,
                                         qint64 size, const QString &target, qint64 fileSize) {
    if (sidecarUrl != target || fileSize <= 0 || fileSize > size)
        return std::nullopt;
    return AnswerIdentity{validator, true, size};
}

HeadVerdict judgeHead(const ResponseHead &head, qint64 rangeStart, const AnswerIdentity &known,
                      std::optional<qint64> memoryLimit) {
    if (head.status >= 300)
        return {};
    if (head.status == 204 || head.status == 205)
        return failure(head.statusText(), FailureKind::ServerAnswer);
    if (declaredLength(head) == -1)
        return failure(QStringLiteral("the answer declares conflicting lengths: %1")
                           .arg(QString::fromLatin1(*head.header("Content-Length"))),
                       FailureKind::Lie);
    if (head.status == 206) {
        if (rangeStart == 0)
            return failure(QStringLiteral("the server sent part of the answer unasked"),
                           FailureKind::Lie);
        if (!continuesExactly(head, rangeStart, known))
            return {HeadVerdict::Action::StartOver, QString(), {}};
        return {HeadVerdict::Action::TakeRange, QString(), known};
    }
    const AnswerIdentity answer = identityOf(head);
    if (memoryLimit && answer.totalSize > *memoryLimit)
        return failure(QStringLiteral("the answer of %1 bytes is too large to hold in memory")
                           .arg(answer.totalSize),
                       FailureKind::ServerAnswer);
    return {HeadVerdict::Action::TakeWhole, QString(), answer};
}

bool isTransientStatus(int status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
           status == 504;
}

// Failures of the way, not of the answer: another attempt may well get through. A refused
// connection or an unknown host is not among them: nobody is there to answer.
bool isTransientError(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

EndVerdict judgeEnd(const ResponseHead &head, QNetworkReply::NetworkError error,
                    const QString &errorText, qint64 rangeStart, qint64 totalSize,
                    const QDateTime &now) {
    using Action = EndVerdict::Action;
    if (head.status == 416 && rangeStart > 0) {
        // Nothing follows the bytes held: when they are the whole answer, the read is done.
        if (rangeStart == totalSize && unsatisfiedRangeTotal(head) == totalSize)
            return endWith(Action::Succeed);
        return endWith(Action::StartOver);
    }
    if (head.status >= 400) {
        if (isTransientStatus(head.status))
            return endWith(Action::Retry, head.statusText(), FailureKind::ServerAnswer,
                           retryAfterOf(head, now));
        return endWith(Action::Fail, head.statusText(), FailureKind::ServerAnswer);
    }
    if (error != QNetworkReply::NoError)
        return endWith(isTransientError(error) ? Action::Retry : Action::Fail, errorText,
                       FailureKind::Network);
    // A redirect that was not followed is no answer either.
    if (head.status >= 300)
        return endWith(Action::Fail, head.statusText(), FailureKind::ServerAnswer);
    return endWith(Action::TakeBody);
}

EndVerdict judgeBody(const ResponseHead &head, qint64 rangeStart, qint64 bytesHeld,
                     qint64 totalSize) {
    using Action = EndVerdict::Action;
    const std::optional<qint64> length = declaredLength(head);
    const qint64 received = bytesHeld - rangeStart;
    if ((length && *length != received) || (rangeStart > 0 && bytesHeld != totalSize))
        return endWith(Action::Retry,
                       QStringLiteral("the connection ended after %1 of %2 bytes")
                           .arg(bytesHeld)
                           .arg(rangeStart + length.value_or(received)),
                       FailureKind::Network);
    if (bytesHeld == 0)
        return endWith(Action::Fail, QStringLiteral("the answer holds no data"),
                       FailureKind::ServerAnswer);
    return endWith(Action::Succeed);
}

std::optional<QDateTime> parseHttpDate(QByteArrayView text, const QDateTime &now) {
    if (text.size() > 64)
        return std::nullopt;
    const QList<QByteArray> parts = QByteArray(text.data(), text.size()).split(' ');
    QList<QByteArray> words;
    for (const QByteArray &part : parts)
        if (!part.isEmpty())
            words << part; // asctime pads a one-digit day with a second space
    const auto dayName = [&](bool full) {
        return words[0].endsWith(',') && isDayName(QByteArrayView(words[0]).chopped(1), full);
    };
    if (words.size() == 6 && dayName(false) && words[5] == "GMT") // IMF-fixdate
        return atTime(QDate(digits(words[3], 4), monthOf(words[2]), digits(words[1], 2)), words[4]);
    if (words.size() == 4 && dayName(true) && words[3] == "GMT") { // RFC 850
        const QList<QByteArray> date = words[1].split('-');
        const int twoDigits = date.size() == 3 ? digits(date[2], 2) : -1;
        if (twoDigits < 0)
            return std::nullopt;
        // The century whose year lies no more than 50 years ahead.
        int year = now.date().year() / 100 * 100 + twoDigits;
        if (year > now.date().year() + 50)
            year -= 100;
        return atTime(QDate(year, monthOf(date[1]), digits(date[0], 2)), words[2]);
    }
    if (words.size() == 5 && isDayName(words[0], false)) // asctime
        return atTime(QDate(digits(words[4], 4), monthOf(words[1]), digits(words[2], 0)), words[3]);
    return std::nullopt;
}

std::optional<milliseconds> retryAfterOf(const ResponseHead &head, const QDateTime &now) {
    const QByteArray value = head.header("Retry-After").value_or(QByteArray()).trimmed();
    if (value.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 seconds = value.toLongLong(&ok);
    // Any wait is capped later; a year keeps an absurd number from overflowing here.
    constexpr qint64 LongestWaitSeconds = 365LL * 24 * 3600;
    if (ok)
        return seconds < 0
                   ? std::nullopt
                   : std::optional<milliseconds>(std::min(seconds, LongestWaitSeconds) * 1000);
    std::optional<QDateTime> when = parseHttpDate(value, now);
    if (!when) {
        // A numeric zone ("+0000") is no HTTP date, but its meaning is plain.
        const QDateTime zoned = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
        if (zoned.isValid())
            when = zoned;
    }
    if (!when)
        return std::nullopt;
    return milliseconds(std::max<qint64>(0, now.msecsTo(*when)));
}

RetryPlan planRetry(const RetryBudget &budget, qint64 bytesHeld,
                    std::optional<milliseconds> retryAfter) {
    RetryPlan plan;
    plan.budget = budget;
    // An attempt that got further than any before counts as progress, not as another failure
    // in a row: a link that drops now and then still finishes a long download.
    // A few bytes are no progress, and each attempt is measured on its own.
    if (bytesHeld - budget.furthestAtFailure >= ProgressMinimumBytes)
        plan.budget.failuresInARow = 0;
    plan.budget.furthestAtFailure = std::max(budget.furthestAtFailure, bytesHeld);
    if (plan.budget.failuresInARow >= MaximumRetries || budget.attempts >= MaximumAttempts) {
        plan.giveUp = true;
        return plan;
    }
    const int attempt = plan.budget.failuresInARow++;
    plan.wait = std::chrono::seconds(1 << attempt);
    // A longer wait than the cap is cut to it: the server said it is busy, and asking sooner
    // than the cap would only count against the retries.
    if (retryAfter)
        plan.wait = std::min<milliseconds>(*retryAfter, MaximumRetryAfter);
    return plan;
}

} // namespace net
