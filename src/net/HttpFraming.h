#pragma once

#include <utility>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace net {

// The framing of an HTTP/1.1 response, as pure functions over bytes with hard limits: the
// head (status line and header lines up to the blank line) and a chunked body.

// A head longer than this, or with more header lines, is refused before its end arrives.
constexpr qsizetype MaximumHeadBytes = 64 * 1024;
constexpr int MaximumHeaderLines = 100;

struct ParsedHead {
    enum class State { Incomplete, Complete, Failed };
    State state = State::Incomplete;
    // Bytes the head took, up to and including its blank line (Complete only).
    qsizetype length = 0;
    int status = 0;
    QByteArray reasonPhrase;
    // In the order received; names as sent, values trimmed. Folded lines are joined.
    QList<std::pair<QByteArray, QByteArray>> headers;
    QString error; // for a person (Failed only)
};

// Reads the head at the start of `bytes` (which may hold body bytes after it). Incomplete
// while the blank line has not come and the limits still allow it. Lines may end in CRLF or
// a bare LF. Never throws.
ParsedHead parseResponseHead(QByteArrayView bytes);

// Takes a chunked body apart as it arrives. Chunk-size lines (with extensions) and the
// trailer are bounded; anything malformed fails for good.
class ChunkedDecoder {
public:
    static constexpr qsizetype MaximumSizeLine = 1024;

    // Appends the data in `in` to `out` and returns how many bytes of `in` were used: all of
    // them, unless the body ended or failed first. Never throws.
    qsizetype feed(QByteArrayView in, QByteArray &out);
    bool done() const { return m_state == State::Done; }
    bool failed() const { return m_state == State::Failed; }
    const QString &error() const { return m_error; }

private:
    enum class State { SizeLine, Data, DataEnd, Trailer, Done, Failed };

    qsizetype fail(const QString &error, qsizetype used);

    State m_state = State::SizeLine;
    QByteArray m_line;
    qint64 m_remaining = 0;
    qsizetype m_trailerBytes = 0;
    int m_trailerLines = 0;
    QString m_error;
};

} // namespace net
