#include "signing/ReleaseInfo.h"

#include <QStringDecoder>
#include <QStringList>

namespace signing {
namespace {

// Digits only (no sign, no blanks), at most `max`.
std::optional<qint64> plainNumber(QByteArrayView text, qint64 max) {
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > max)
        return std::nullopt;
    return value;
}

} // namespace

const char *describe(ReleaseInfoError error) {
    switch (error) {
    case ReleaseInfoError::TooLarge:
        return "the trusted comment is too large";
    case ReleaseInfoError::NotUtf8:
        return "the trusted comment is not UTF-8 text";
    case ReleaseInfoError::BadNumber:
        return "the trusted comment's timestamp or size is not a number";
    case ReleaseInfoError::RepeatedField:
        return "the trusted comment names a field twice";
    }
    return "the trusted comment is malformed";
}

std::variant<ReleaseInfo, ReleaseInfoError> parseReleaseInfo(QByteArrayView trustedComment) {
    if (trustedComment.size() > MaxTrustedCommentSize)
        return ReleaseInfoError::TooLarge;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(trustedComment);
    if (utf8.hasError())
        return ReleaseInfoError::NotUtf8;
    const QStringList fields = text.split(u'\t');
    if (fields.size() > MaxReleaseFields)
        return ReleaseInfoError::TooLarge;

    ReleaseInfo info;
    const auto once = [](auto &slot, auto value) {
        if (slot)
            return false;
        slot = std::move(value);
        return true;
    };
    for (const QString &field : fields) {
        const qsizetype colon = field.indexOf(u':');
        if (colon < 0)
            continue; // minisign's "hashed", for one
        const QStringView key = QStringView(field).first(colon);
        const QString value = field.sliced(colon + 1);
        bool fresh = true;
        if (key == u"timestamp" || key == u"size") {
            const auto number = plainNumber(value.toLatin1(), MaxReleaseSize);
            if (!number)
                return ReleaseInfoError::BadNumber;
            fresh = once(key == u"size" ? info.size : info.timestamp, *number);
        } else if (key == u"product") {
            fresh = once(info.product, value);
        } else if (key == u"version") {
            fresh = once(info.version, value);
        }
        if (!fresh)
            return ReleaseInfoError::RepeatedField;
    }
    return info;
}

} // namespace signing
