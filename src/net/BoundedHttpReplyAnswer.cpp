// Reading the answer: its head, within bounds, its body in any of the three framings, and
// the redirects it may ask for.
#include "net/BoundedHttpReply.h"

#include <algorithm>
#include <utility>

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace net {
namespace {

// The most taken from the socket at once while nobody set a read buffer size.
constexpr qint64 ReadPiece = qint64(1) << 20;
constexpr int MaximumInterimHeads = 8;

} // namespace

void BoundedHttpReply::schedulePump() {
    if (m_pumpScheduled || m_stage == Stage::Done)
        return;
    m_pumpScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_pumpScheduled = false;
        pump();
    });
}

// Takes what the socket holds as far as the limits allow, and tells the reader.
void BoundedHttpReply::pump() {
    bool grew = false;
    while (m_stage == Stage::Head && m_socket) {
        if (!readHead())
            break;
    }
    if (m_stage == Stage::Body && !readBody(grew))
        return;
    if (grew) {
        const QPointer<BoundedHttpReply> alive(this);
        emit readyRead();
        if (!alive || m_stage == Stage::Done)
            return;
        emit downloadProgress(m_received, m_total);
        if (!alive || m_stage == Stage::Done)
            return;
    }
    if (m_stage == Stage::Body && m_socket == nullptr)
        succeed(); // the body's end came
    else if (m_peerClosed && m_stage != Stage::Done && m_socket &&
             m_socket->bytesAvailable() == 0 && (m_stage == Stage::Head || m_raw.isEmpty()))
        endOfConnection();
    else if (m_socket && m_socket->bytesAvailable() > 0 && !passesThrough() &&
             (readBufferSize() <= 0 || buffered() < readBufferSize()))
        schedulePump(); // bytes came while the reader ran; passed through, they wait for it
}

// One step of reading the head; false when there is nothing more to do for now.
bool BoundedHttpReply::readHead() {
    // Never more than one byte past the limit: enough to know it is passed.
    const qint64 room = MaximumHeadBytes + 1 - m_raw.size();
    const QByteArray got = room > 0 ? m_socket->read(room) : QByteArray();
    if (got.isEmpty())
        return false;
    m_raw += got;
    if (!got.contains('\n') && m_raw.size() <= MaximumHeadBytes)
        return true;
    while (true) {
        const ParsedHead head = parseResponseHead(m_raw);
        switch (head.state) {
        case ParsedHead::State::Incomplete:
            return true;
        case ParsedHead::State::Failed:
            failWith(ProtocolFailure, head.error);
            return false;
        case ParsedHead::State::Complete:
            m_raw.remove(0, head.length);
            if (!takeHead(head))
                return false;
            break; // an interim answer: the next head may be here already
        }
    }
}

// Moves body bytes from the socket into the reply's buffer. False when the reply is done.
bool BoundedHttpReply::readBody(bool &grew) {
    while (m_socket) {
        const qint64 limit = readBufferSize() > 0 ? readBufferSize() - buffered() : ReadPiece;
        if (limit <= 0)
            break; // read() brings us back
        if (m_framing != Framing::Chunked && m_raw.isEmpty()) {
            // The reader takes these bytes straight from the socket (readData): one copy less.
            grew = grew || (buffered() == 0 && m_socket->bytesAvailable() > 0);
            break;
        }
        QByteArray raw = !m_raw.isEmpty() ? std::exchange(m_raw, {})
                                          : m_socket->read(std::min(limit, ReadPiece));
        if (raw.isEmpty())
            break;
        const qsizetype before = m_body.size();
        bool complete = false;
        switch (m_framing) {
        case Framing::Length: {
            const qint64 take = std::min<qint64>(m_remaining, raw.size());
            m_body.append(raw.constData(), take);
            m_remaining -= take;
            complete = m_remaining == 0;
            break;
        }
        case Framing::Chunked:
            m_chunks.feed(raw, m_body);
            complete = m_chunks.done();
            break;
        case Framing::UntilClose:
            m_body.append(raw);
            break;
        }
        m_received += m_body.size() - before;
        grew = grew || m_body.size() > before;
        if (m_chunks.failed()) {
            failWith(ProtocolFailure, m_chunks.error());
            return false;
        }
        if (complete)
            dropSocket(); // the rest of this connection is of no use
    }
    return true;
}

bool BoundedHttpReply::takeHead(const ParsedHead &head) {
    if (head.status < 200 && head.status != 101) {
        // An interim answer: the real one follows, after a few of these at most.
        if (++m_interimHeads <= MaximumInterimHeads)
            return true;
        failWith(ProtocolFailure, QStringLiteral("the server sends no final answer"));
        return false;
    }
    QList<std::pair<QByteArray, QByteArray>> fields;
    for (const auto &header : head.headers) {
        const auto same = std::find_if(fields.begin(), fields.end(), [&](const auto &field) {
            return field.first.compare(header.first, Qt::CaseInsensitive) == 0;
        });
        if (same == fields.end())
            fields.append(header);
        else
            same->second += ", " + header.second;
    }
    const auto field = [&](QByteArrayView name) -> QByteArray {
        for (const auto &[n, v] : fields)
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        return {};
    };

    const QByteArray location = field("Location");
    const bool redirect = head.status == 301 || head.status == 302 || head.status == 303 ||
                          head.status == 307 || head.status == 308;
    if (redirect && !location.isEmpty() && m_policy != QNetworkRequest::ManualRedirectPolicy)
        return followRedirect(url().resolved(QUrl::fromEncoded(location)));

    setAttribute(QNetworkRequest::HttpStatusCodeAttribute, head.status);
    setAttribute(QNetworkRequest::HttpReasonPhraseAttribute, head.reasonPhrase);
    setAttribute(QNetworkRequest::ConnectionEncryptedAttribute, isHttps(url()));
    if (redirect && !location.isEmpty())
        setAttribute(QNetworkRequest::RedirectionTargetAttribute, QUrl::fromEncoded(location));
    for (const auto &[name, value] : std::as_const(fields))
        setRawHeader(name, value);

    bool framingOk = true;
    const QByteArray length = field("Content-Length");
    if (field("Transfer-Encoding").toLower().contains("chunked")) {
        m_framing = Framing::Chunked;
    } else if (head.status == 204 || head.status == 304) {
        m_framing = Framing::Length;
        m_remaining = 0;
    } else if (!length.isNull()) {
        m_framing = Framing::Length;
        m_remaining = -1;
        for (const QByteArray &part : length.split(',')) {
            bool ok = false;
            const QByteArray digits = part.trimmed();
            const qint64 value = digits.toLongLong(&ok);
            if (!ok || value < 0 || digits.startsWith('+') ||
                (m_remaining >= 0 && value != m_remaining))
                framingOk = false;
            m_remaining = value;
        }
        m_total = m_remaining;
    } else {
        m_framing = Framing::UntilClose;
    }
    m_stage = Stage::Body;

    const QPointer<BoundedHttpReply> alive(this);
    emit metaDataChanged();
    if (!alive || m_stage == Stage::Done)
        return false;
    if (!framingOk) {
        failWith(ProtocolFailure,
                 QStringLiteral("the server's answer has a damaged Content-Length"));
        return false;
    }
    if (m_framing == Framing::Length && m_remaining == 0)
        dropSocket();
    return false;
}

bool BoundedHttpReply::followRedirect(const QUrl &target) {
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() || target.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        failWith(ProtocolUnknownError, QStringLiteral("Unsupported redirect"));
        return false;
    }
    const bool lessSafe = isHttps(url()) && !isHttps(target);
    const bool otherOrigin = scheme != url().scheme().toLower() ||
                             target.host().compare(url().host(), Qt::CaseInsensitive) != 0 ||
                             portOf(target) != portOf(url());
    if (lessSafe || (m_policy == QNetworkRequest::SameOriginRedirectPolicy && otherOrigin)) {
        failWith(InsecureRedirectError, QStringLiteral("Insecure redirect"));
        return false;
    }
    if (m_redirects >= request().maximumRedirectsAllowed()) {
        failWith(TooManyRedirectsError, QStringLiteral("Too many redirects"));
        return false;
    }
    ++m_redirects;
    dropSocket();
    QNetworkRequest next = request();
    next.setUrl(target);
    setRequest(next);
    setUrl(target);
    const QPointer<BoundedHttpReply> alive(this);
    emit redirected(target);
    if (!alive || m_stage == Stage::Done)
        return false;
    connectToServer();
    return false;
}

} // namespace net
