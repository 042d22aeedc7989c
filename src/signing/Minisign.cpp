#include "signing/Minisign.h"

#include <algorithm>
#include <cstring>

#include <QList>

namespace signing {
namespace {

constexpr QByteArrayView UntrustedPrefix = "untrusted comment: ";
constexpr QByteArrayView TrustedPrefix = "trusted comment: ";
constexpr QByteArrayView WholeFileAlgorithm = "Ed";
constexpr QByteArrayView HashedFileAlgorithm = "ED";

// The lines of `text` without their "\n" or "\r\n", and without one empty line at the end.
QList<QByteArrayView> linesOf(QByteArrayView text) {
    QList<QByteArrayView> lines;
    while (!text.isEmpty()) {
        const qsizetype end = text.indexOf('\n');
        QByteArrayView line = end < 0 ? text : text.first(end);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        text = end < 0 ? QByteArrayView() : text.sliced(end + 1);
    }
    return lines;
}

std::variant<QByteArray, FormatError> decodeBase64(QByteArrayView line, qsizetype expectedSize) {
    const auto decoded = QByteArray::fromBase64Encoding(
        line.toByteArray(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || line.isEmpty())
        return FormatError::NotBase64;
    if (decoded.decoded.size() != expectedSize)
        return FormatError::WrongLength;
    return decoded.decoded;
}

template <std::size_t N> void copyInto(std::array<std::uint8_t, N> &to, QByteArrayView from) {
    std::memcpy(to.data(), from.data(), N);
}

} // namespace

QByteArray PublicKey::toBase64() const {
    QByteArray raw = WholeFileAlgorithm.toByteArray();
    raw.append(reinterpret_cast<const char *>(keyId.data()), qsizetype(keyId.size()));
    raw.append(reinterpret_cast<const char *>(key.data()), qsizetype(key.size()));
    return raw.toBase64();
}

const char *describe(FormatError error) {
    switch (error) {
    case FormatError::Empty:
        return "it is empty";
    case FormatError::TooLarge:
        return "it is too large";
    case FormatError::MissingLine:
        return "a line of the format is missing";
    case FormatError::NotBase64:
        return "its data line is not base64";
    case FormatError::WrongLength:
        return "its data line has the wrong length";
    case FormatError::UnknownAlgorithm:
        return "it names an unknown algorithm";
    }
    return "it is malformed";
}

std::variant<PublicKey, FormatError> parsePublicKey(QByteArrayView text) {
    if (text.size() > MaxPublicKeyFileSize)
        return FormatError::TooLarge;
    QList<QByteArrayView> lines = linesOf(text.trimmed());
    if (lines.isEmpty())
        return FormatError::Empty;
    if (lines.size() == 2 && lines[0].startsWith(UntrustedPrefix))
        lines.removeFirst();
    if (lines.size() != 1)
        return FormatError::MissingLine;
    const auto decoded = decodeBase64(lines[0].trimmed(), 2 + 8 + 32);
    if (const auto *error = std::get_if<FormatError>(&decoded))
        return *error;
    const QByteArrayView raw = std::get<QByteArray>(decoded);
    if (raw.first(2) != WholeFileAlgorithm)
        return FormatError::UnknownAlgorithm;
    PublicKey key;
    copyInto(key.keyId, raw.sliced(2, 8));
    copyInto(key.key, raw.sliced(10, 32));
    return key;
}

std::variant<Signature, FormatError> parseSignature(QByteArrayView file) {
    if (file.isEmpty())
        return FormatError::Empty;
    if (file.size() > MaxSignatureFileSize)
        return FormatError::TooLarge;
    const QList<QByteArrayView> lines = linesOf(file);
    if (lines.size() != 4 || !lines[0].startsWith(UntrustedPrefix) ||
        !lines[2].startsWith(TrustedPrefix))
        return FormatError::MissingLine;

    const auto main = decodeBase64(lines[1], 2 + 8 + 64);
    if (const auto *error = std::get_if<FormatError>(&main))
        return *error;
    const auto global = decodeBase64(lines[3], 64);
    if (const auto *error = std::get_if<FormatError>(&global))
        return *error;

    const QByteArrayView raw = std::get<QByteArray>(main);
    Signature signature;
    if (raw.first(2) == WholeFileAlgorithm)
        signature.algorithm = SignatureAlgorithm::WholeFile;
    else if (raw.first(2) == HashedFileAlgorithm)
        signature.algorithm = SignatureAlgorithm::HashedFile;
    else
        return FormatError::UnknownAlgorithm;
    copyInto(signature.keyId, raw.sliced(2, 8));
    copyInto(signature.signature, raw.sliced(10, 64));
    signature.trustedComment = lines[2].sliced(TrustedPrefix.size()).toByteArray();
    copyInto(signature.globalSignature, QByteArrayView(std::get<QByteArray>(global)));
    return signature;
}

} // namespace signing
