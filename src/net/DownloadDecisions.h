#pragma once

#include <chrono>
#include <optional>
#include <utility>

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QNetworkReply>
#include <QString>

#include "net/FailureKind.h"

// What the read service decides from what a server said: pure functions over plain values
// (a status, header fields, byte counts, attempts) with typed verdicts. The service only
// applies them; nothing here touches a socket, a file or a clock.
namespace net {

// A read fails for good once this many transient failures came in a row.
inline constexpr int MaximumRetries = 5;
// An attempt counts as progress, which starts the failures in a row afresh, only when it
// brought at least this many new bytes: a server that sends a few bytes per connection must
// not keep a read alive for ever.
inline constexpr qint64 ProgressMinimumBytes = qint64(64) * 1024;
// However much each brought, a read gives up after this many requests in all.
inline constexpr int MaximumAttempts = 30;
// A head not complete this long after its request is an endless one: the read fails at
// once (Qt's HTTP/1 parser holds a head whole, without a limit, until it ends).
inline constexpr std::chrono::seconds MaximumHeadTime{10};
// Longer waits a server asks for are cut to this.
inline constexpr std::chrono::seconds MaximumRetryAfter{60};
// A trickle below this many bytes per stall timeout is no download: it would never end.
inline constexpr qint64 StallMinimumBytes = 1024;

// A response head: its status, reason phrase and header fields as they came. A field sent
// several times may appear several times or once with its values joined by ", " (as Qt
// gives it); both read the same.
struct ResponseHead {
    int status = 0;
    QByteArray reasonPhrase;
    QList<std::pair<QByteArray, QByteArray>> headers;

    // The field's values joined by ", " (letter case of the name ignored); nothing when the
    // field is absent.
    std::optional<QByteArray> header(QByteArrayView name) const;
    // "HTTP 503 Service Unavailable": how a failure names the answer.
    QString statusText() const;
};

// What identifies the whole answer a read is fetching, as far as the server told.
struct AnswerIdentity {
    QByteArray validator; // a strong ETag, else Last-Modified; empty when there is neither
    bool rangesAccepted = false;
    qint64 totalSize = 0; // 0 when unknown

    // Whether bytes of this answer can be continued by a range request.
    bool resumable() const { return rangesAccepted && !validator.isEmpty() && totalSize > 0; }
};

// What the server says about the answer it sends whole.
AnswerIdentity identityOf(const ResponseHead &head);

// The bytes an earlier run kept for `target`, as its sidecar describes them: the identity to
// resume under, or nothing when they must go (another address, an empty file, or a file
// longer than the answer). A file as long as the answer is kept: asked for what follows it,
// the server's 416 tells that it is whole.
std::optional<AnswerIdentity> keptAnswer(const QString &sidecarUrl, const QByteArray &validator,
                                         qint64 size, const QString &target, qint64 fileSize);

// The verdict on a response head that arrived.
struct HeadVerdict {
    enum class Action {
        Undecided, // a redirect or an error page: the end of the reply decides
        Fail,      // the answer cannot be used; `reason` says why
        TakeWhole, // the answer starts at byte 0; `answer` is what a resume must match
        TakeRange, // the answer continues the bytes held exactly
        StartOver, // a range that does not continue them: forget them, ask for the whole
    };
    Action action = Action::Undecided;
    QString reason;
    AnswerIdentity answer;
    FailureKind kind = FailureKind::None; // for Fail
};

// Judges a head. `rangeStart` is where the asked range starts (0 when the whole was asked),
// `known` what the bytes held belong to, and `memoryLimit` the most a read into memory may
// hold (nothing for a read to a file).
HeadVerdict judgeHead(const ResponseHead &head, qint64 rangeStart, const AnswerIdentity &known,
                      std::optional<qint64> memoryLimit);

// The verdict at the end of a reply, and on the body it brought.
struct EndVerdict {
    enum class Action {
        TakeBody,  // the reply ended well: its body decides (see `judgeBody`)
        Succeed,   // the bytes are the whole answer
        Retry,     // a transient failure; `retryAfter` is the wait the server asked for
        StartOver, // the range asked cannot be given: ask for the whole
        Fail,      // for good; `reason` says why
    };
    Action action = Action::TakeBody;
    QString reason;
    std::optional<std::chrono::milliseconds> retryAfter;
    FailureKind kind = FailureKind::None; // for Fail, and for Retry once the retries run out
};

// Whether a failure of the way (not of the answer) may get through on another attempt.
bool isTransientError(QNetworkReply::NetworkError error);
bool isTransientStatus(int status);

// Judges how a reply ended: its head, the transport's error and text, where the asked range
// started and the size of the answer the bytes held belong to (0 when unknown). A 416 to a
// range from the end of all `totalSize` bytes, which the server confirms as the answer's
// length, means the bytes held are whole. `now` dates a Retry-After given as a date.
EndVerdict judgeEnd(const ResponseHead &head, QNetworkReply::NetworkError error,
                    const QString &errorText, qint64 rangeStart, qint64 totalSize,
                    const QDateTime &now);

// Judges the body of a reply that ended well: `bytesHeld` bytes in all, the answer's part in
// them starting at `rangeStart`, of an answer of `totalSize` bytes (0 when unknown).
EndVerdict judgeBody(const ResponseHead &head, qint64 rangeStart, qint64 bytesHeld,
                     qint64 totalSize);

// An HTTP date in any of the three forms a recipient must accept: IMF-fixdate
// ("Sun, 06 Nov 1994 08:49:37 GMT"), RFC 850 ("Sunday, 06-Nov-94 08:49:37 GMT", its year in
// the century that puts it at most 50 years after `now`) and asctime ("Sun Nov  6 08:49:37
// 1994"). Nothing for anything else, or a date that does not exist.
std::optional<QDateTime> parseHttpDate(QByteArrayView text, const QDateTime &now);

// The wait a Retry-After asks for: seconds, or a date (an HTTP date, or one with a numeric
// zone) relative to `now`; nothing when it asks for none or cannot be read.
std::optional<std::chrono::milliseconds> retryAfterOf(const ResponseHead &head,
                                                      const QDateTime &now);

// The failures a read has had so far.
struct RetryBudget {
    int attempts = 0; // requests made, the one that just failed included
    int failuresInARow = 0;
    qint64 furthestAtFailure = 0; // the most bytes held at any failure
};

struct RetryPlan {
    bool giveUp = false;
    std::chrono::milliseconds wait{0};
    RetryBudget budget; // the budget after this failure
};

// Plans the retry after a transient failure with `bytesHeld` bytes held: an attempt that got
// at least `ProgressMinimumBytes` further than any before counts as progress and starts the
// count afresh; otherwise the failures in a row grow, and after `MaximumRetries` the read
// gives up, as it does after `MaximumAttempts` requests. The wait doubles from 1 s, unless
// the server asked for one: then it is that wait, cut to `MaximumRetryAfter`.
RetryPlan planRetry(const RetryBudget &budget, qint64 bytesHeld,
                    std::optional<std::chrono::milliseconds> retryAfter);

} // namespace net
