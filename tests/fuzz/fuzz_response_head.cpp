// Feeds arbitrary header values through the read service's decisions: the HTTP date and
// Retry-After parsers, and the verdicts on a head and a body that read Content-Length,
// Content-Range, the validators and Accept-Ranges; and the same bytes as a whole response head
// and as a chunked body.
#include <cstddef>
#include <cstdint>

#include "net/DownloadDecisions.h"
#include "net/HttpFraming.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    static const QDateTime now = QDateTime::fromSecsSinceEpoch(1'796'000'000, Qt::UTC);
    if (const auto date = net::parseHttpDate(bytes, now); date && !date->isValid())
        __builtin_trap();
    net::ResponseHead head;
    head.status = size > 0 && (data[0] & 1) ? 206 : 200;
    for (const char *name : {"Retry-After", "Content-Length", "Content-Range", "ETag",
                             "Last-Modified", "Accept-Ranges"})
        head.headers.append({name, bytes});
    if (const auto wait = net::retryAfterOf(head, now); wait && wait->count() < 0)
        __builtin_trap();
    const net::AnswerIdentity known{"\"v1\"", true, 1000};
    const net::HeadVerdict verdict = net::judgeHead(head, 100, known, std::nullopt);
    if (verdict.action == net::HeadVerdict::Action::TakeWhole && verdict.answer.totalSize < 0)
        __builtin_trap();
    net::judgeBody(head, 100, 1000, 1000);

    const net::ParsedHead parsed = net::parseResponseHead(bytes);
    if (parsed.state == net::ParsedHead::State::Complete &&
        (parsed.length > bytes.size() || parsed.length > net::MaximumHeadBytes ||
         parsed.headers.size() > net::MaximumHeaderLines))
        __builtin_trap();
    // In two pieces, as a socket may deliver it: the body never outgrows its input.
    net::ChunkedDecoder chunks;
    QByteArray body;
    const qsizetype half = bytes.size() / 2;
    const qsizetype used = chunks.feed(QByteArrayView(bytes).first(half), body);
    if (used == half)
        chunks.feed(QByteArrayView(bytes).sliced(half), body);
    if (body.size() > bytes.size())
        __builtin_trap();
    return 0;
}
