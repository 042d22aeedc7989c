#include "net/HttpFraming.h"

namespace net {
namespace {

bool isTokenChar(char c) {
    return c > ' ' && c < 127 && !QByteArrayView("\"(),/:;<=>?@[\\]{}").contains(c);
}

ParsedHead failed(const QString &error) {
    ParsedHead head;
    head.state = ParsedHead::State::Failed;
    head.error = error;
    return head;
}

bool parseStatusLine(QByteArrayView line, ParsedHead &head) {
    if (line.size() < 12 || !(line.startsWith("HTTP/1.1 ") || line.startsWith("HTTP/1.0 ")))
        return false;
    int status = 0;
    for (const char c : line.sliced(9, 3)) {
        if (c < '0' || c > '9')
            return false;
        status = status * 10 + (c - '0');
    }
    if (status < 100 || (line.size() > 12 && line[12] != ' '))
        return false;
    head.status = status;
    head.reasonPhrase = line.size() > 13 ? line.sliced(13).trimmed().toByteArray() : QByteArray();
    return true;
}

} // namespace

ParsedHead parseResponseHead(QByteArrayView bytes) {
    ParsedHead head;
    qsizetype pos = 0;
    int lines = 0;
    while (true) {
        const qsizetype newline = bytes.indexOf('\n', pos);
        if (newline < 0 || newline >= MaximumHeadBytes) {
            if (bytes.size() >= MaximumHeadBytes)
                return failed(QStringLiteral("the server's answer has a head of more than %1 bytes")
                                  .arg(MaximumHeadBytes));
            return head; // incomplete
        }
        QByteArrayView line = bytes.sliced(pos, newline - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        pos = newline + 1;
        if (lines == 0) {
            if (!parseStatusLine(line, head))
                return failed(QStringLiteral("the server's answer has no valid status line"));
        } else if (line.isEmpty()) {
            head.state = ParsedHead::State::Complete;
            head.length = pos;
            return head;
        } else if (lines > MaximumHeaderLines) {
            return failed(QStringLiteral("the server's answer has more than %1 header lines")
                              .arg(MaximumHeaderLines));
        } else if (line.front() == ' ' || line.front() == '\t') {
            if (head.headers.isEmpty())
                return failed(QStringLiteral("the server's answer has a damaged header line"));
            head.headers.last().second += ' ' + line.trimmed().toByteArray();
        } else {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                return failed(QStringLiteral("the server's answer has a damaged header line"));
            for (const char c : line.first(colon))
                if (!isTokenChar(c))
                    return failed(QStringLiteral("the server's answer has a damaged header line"));
            head.headers.append(
                {line.first(colon).toByteArray(), line.sliced(colon + 1).trimmed().toByteArray()});
        }
        ++lines;
    }
}

qsizetype ChunkedDecoder::fail(const QString &error, qsizetype used) {
    m_state = State::Failed;
    m_error = error;
    m_line.clear();
    return used;
}

qsizetype ChunkedDecoder::feed(QByteArrayView in, QByteArray &out) {
    qsizetype used = 0;
    while (used < in.size() && m_state != State::Done && m_state != State::Failed) {
        if (m_state == State::Data) {
            const qsizetype n = qsizetype(qMin<qint64>(m_remaining, in.size() - used));
            out.append(in.sliced(used, n));
            used += n;
            m_remaining -= n;
            if (m_remaining == 0)
                m_state = State::DataEnd;
            continue;
        }
        // The other states read lines.
        const qsizetype newline = in.indexOf('\n', used);
        const qsizetype end = newline < 0 ? in.size() : newline;
        m_line.append(in.sliced(used, end - used));
        used = newline < 0 ? in.size() : newline + 1;
        const qsizetype bound = m_state == State::Trailer ? MaximumHeadBytes : MaximumSizeLine;
        if (m_line.size() > bound)
            return fail(QStringLiteral("the server's chunked answer has a line that is too long"),
                        used);
        if (newline < 0)
            break;
        QByteArray line = std::exchange(m_line, {});
        if (line.endsWith('\r'))
            line.chop(1);
        switch (m_state) {
        case State::SizeLine: {
            const qsizetype semicolon = line.indexOf(';');
            const QByteArray digits = (semicolon < 0 ? line : line.left(semicolon)).trimmed();
            qint64 size = 0;
            bool valid = !digits.isEmpty() && digits.size() <= 15;
            for (const char c : valid ? digits : QByteArray()) {
                const int value = c >= '0' && c <= '9'   ? c - '0'
                                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
                valid = valid && value >= 0;
                size = size * 16 + qMax(value, 0);
            }
            if (!valid)
                return fail(QStringLiteral("the server's chunked answer has a damaged chunk size"),
                            used);
            m_remaining = size;
            m_state = size == 0 ? State::Trailer : State::Data;
            break;
        }
        case State::DataEnd:
            if (!line.isEmpty())
                return fail(
                    QStringLiteral("a chunk of the server's answer is longer than its size"), used);
            m_state = State::SizeLine;
            break;
        case State::Trailer:
            m_trailerBytes += line.size() + 2;
            if (line.isEmpty())
                m_state = State::Done;
            else if (++m_trailerLines > MaximumHeaderLines || m_trailerBytes > MaximumHeadBytes)
                return fail(QStringLiteral("the server's chunked answer has too long a trailer"),
                            used);
            break;
        default:
            break;
        }
    }
    return used;
}

} // namespace net
