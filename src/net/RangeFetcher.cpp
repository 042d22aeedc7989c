#include "net/RangeFetcher.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace net {
namespace {

// "bytes FIRST-LAST/TOTAL" with plain decimal numbers; nothing else.
bool parseContentRange(const QByteArray &value, qint64 &first, qint64 &last, qint64 &total) {
    if (!value.startsWith("bytes "))
        return false;
    const QByteArray rest = value.mid(6).trimmed();
    const qsizetype dash = rest.indexOf('-');
    const qsizetype slash = rest.indexOf('/');
    if (dash <= 0 || slash <= dash + 1)
        return false;
    const auto number = [](QByteArrayView text, qint64 &out) {
        if (text.isEmpty() || text.size() > 18)
            return false;
        for (const char c : text)
            if (c < '0' || c > '9')
                return false;
        out = text.toLongLong();
        return true;
    };
    return number(QByteArrayView(rest).sliced(0, dash), first) &&
           number(QByteArrayView(rest).sliced(dash + 1, slash - dash - 1), last) &&
           number(QByteArrayView(rest).sliced(slash + 1), total) && first <= last && last < total;
}

} // namespace

RangeFetcher::RangeFetcher(QObject *parent)
    : QObject(parent) {
    m_manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_stall.setInterval(DefaultStallTimeout);
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        m_failure = QStringLiteral("the server stalled");
        if (m_reply)
            m_reply->abort();
    });
}

RangeFetcher::~RangeFetcher() {
    abort();
}

void RangeFetcher::fetch(const QUrl &url, qint64 first, qint64 length, const QByteArray &validator,
                         DataHandler onData, DoneHandler onDone) {
    abort();
    m_onData = std::move(onData);
    m_onDone = std::move(onDone);
    m_first = first;
    m_length = length;
    m_validator = validator;
    m_answer = {};
    m_received = 0;
    m_headAccepted = false;
    m_failure.clear();

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Accept-Encoding", "identity");
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("update-tool"));
    request.setRawHeader("Range", first < 0 ? "bytes=-" + QByteArray::number(length)
                                            : "bytes=" + QByteArray::number(first) + '-' +
                                                  QByteArray::number(first + length - 1));
    if (!validator.isEmpty()) {
        request.setRawHeader("If-Match", validator);
        request.setRawHeader("If-Range", validator);
    }
    ++m_requests;
    m_reply = m_manager.get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &RangeFetcher::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &RangeFetcher::onFinished);
    m_stall.start();
}

void RangeFetcher::abort() {
    m_stall.stop();
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    m_onData = {};
    m_onDone = {};
}

// The status line and headers must describe exactly the range asked, from the right version.
bool RangeFetcher::acceptHead() {
    if (m_headAccepted)
        return true;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 206) {
        m_failure = QStringLiteral("the server answered %1 to a range request").arg(status);
        return false;
    }
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding");
    if (!encoding.isEmpty() && encoding != "identity") {
        m_failure = QStringLiteral("the server encoded the range");
        return false;
    }
    const QByteArray etag = m_reply->rawHeader("ETag");
    if (etag.isEmpty() || etag.startsWith("W/") ||
        (!m_validator.isEmpty() && etag != m_validator)) {
        m_failure = QStringLiteral("the answer carries no strong ETag, or another one");
        return false;
    }
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = 0;
    if (!parseContentRange(m_reply->rawHeader("Content-Range"), first, last, total)) {
        m_failure = QStringLiteral("the answer's Content-Range is missing or damaged");
        return false;
    }
    const bool exact = m_first < 0 ? last == total - 1 && last - first + 1 == qMin(m_length, total)
                                   : first == m_first && last == m_first + m_length - 1;
    if (!exact) {
        m_failure = QStringLiteral("the server sent another range than asked");
        return false;
    }
    m_answer = {first, last - first + 1, total, etag};
    m_headAccepted = true;
    return true;
}

void RangeFetcher::onReadyRead() {
    if (!m_reply || !m_failure.isEmpty())
        return;
    m_stall.start();
    if (!acceptHead()) {
        m_reply->abort();
        return;
    }
    const QByteArray bytes = m_reply->readAll();
    m_received += bytes.size();
    if (m_received > m_answer.length) {
        m_failure = QStringLiteral("the server sent more than the range");
        m_reply->abort();
        return;
    }
    // A copy: the handler may abort this request, which drops the stored one.
    const DataHandler handler = m_onData;
    if (handler && !handler(bytes) && m_reply) {
        if (m_failure.isEmpty())
            m_failure = QStringLiteral("stopped");
        m_reply->abort();
    }
}

void RangeFetcher::onFinished() {
    if (!m_reply)
        return;
    if (m_failure.isEmpty() && m_reply->bytesAvailable() > 0)
        onReadyRead();
    if (m_failure.isEmpty()) {
        if (!m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            m_failure = m_reply->errorString(); // no answer at all
        else if (!acceptHead())
            ; // the reason is set
        else if (m_reply->error() != QNetworkReply::NoError)
            m_failure = m_reply->errorString();
        else if (m_received != m_answer.length)
            m_failure = QStringLiteral("the range ended after %1 of %2 bytes")
                            .arg(m_received)
                            .arg(m_answer.length);
    }
    finish(m_failure.isEmpty(), m_failure);
}

void RangeFetcher::finish(bool ok, const QString &error) {
    m_stall.stop();
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    if (reply) {
        reply->disconnect(this);
        reply->deleteLater();
    }
    m_onData = {};
    DoneHandler done = std::exchange(m_onDone, {});
    if (done)
        done(ok, error, m_answer);
}

} // namespace net
