#pragma once

#include <optional>
#include <variant>

#include <QByteArrayView>
#include <QString>

// The release information a vendor signs into a minisign signature's trusted comment, which
// the signature's global signature covers: tab-separated "key:value" fields, for example
//   timestamp:1700000000<TAB>product:1234<TAB>version:Demo 2.1<TAB>size:3001234
// Known fields are `timestamp` (seconds since 1970), `product`, `version` and `size` (bytes);
// others (minisign's default `file` and `hashed` among them) are ignored. The comment is
// untrusted bytes until the global signature is checked: the parser is a pure function with
// hard limits that returns a value or a typed error.
namespace signing {

// A signature file holds at most a few KiB; so does its trusted comment.
inline constexpr qsizetype MaxTrustedCommentSize = 4096;
inline constexpr qsizetype MaxReleaseFields = 64;
// Beyond any real package, and far from overflowing a qint64 when counted on.
inline constexpr qint64 MaxReleaseSize = qint64(1) << 50;

struct ReleaseInfo {
    std::optional<qint64> timestamp;
    std::optional<QString> product;
    std::optional<QString> version;
    std::optional<qint64> size;
};

enum class ReleaseInfoError {
    TooLarge,      // a comment over MaxTrustedCommentSize, or over MaxReleaseFields fields
    NotUtf8,       // a comment that is not valid UTF-8
    BadNumber,     // a timestamp or size that is not a plain decimal number in range
    RepeatedField, // a known field given twice: which one would count?
};

const char *describe(ReleaseInfoError error);

std::variant<ReleaseInfo, ReleaseInfoError> parseReleaseInfo(QByteArrayView trustedComment);

} // namespace signing
