#pragma once

#include <array>
#include <cstdint>
#include <variant>

#include <QByteArray>
#include <QByteArrayView>

// The public-key and signature files of the minisign tool, read as untrusted bytes:
//   public key: ["untrusted comment: ..." line] + base64("Ed" | key id (8) | Ed25519 key (32))
//   signature:  "untrusted comment: ..." line
//               base64(algorithm (2) | key id (8) | Ed25519 signature (64))
//               "trusted comment: TEXT" line
//               base64(Ed25519 signature over the 64 signature bytes followed by TEXT)
// Algorithm "Ed" signs the file itself, "ED" the BLAKE2b-512 hash of the file. Both parsers
// are pure functions with hard size limits that return a value or a typed error.
namespace signing {

using KeyId = std::array<std::uint8_t, 8>;

// A key file is two short lines; a signature file four, with comments of up to about 1 KiB.
inline constexpr qsizetype MaxPublicKeyFileSize = 2048;
inline constexpr qsizetype MaxSignatureFileSize = 4096;

struct PublicKey {
    KeyId keyId{};
    std::array<std::uint8_t, 32> key{};

    // The base64 line that stands for the key, as `minisign -P` takes it.
    QByteArray toBase64() const;
};

enum class SignatureAlgorithm {
    WholeFile,  // "Ed"
    HashedFile, // "ED": over the BLAKE2b-512 hash of the file
};

struct Signature {
    SignatureAlgorithm algorithm = SignatureAlgorithm::HashedFile;
    KeyId keyId{};
    std::array<std::uint8_t, 64> signature{};
    QByteArray trustedComment; // the text after "trusted comment: "
    std::array<std::uint8_t, 64> globalSignature{};
};

enum class FormatError {
    Empty,
    TooLarge,
    MissingLine,      // fewer lines than the format has, or comment lines out of place
    NotBase64,        // a data line that is not strict base64
    WrongLength,      // a data line that decodes to the wrong number of bytes
    UnknownAlgorithm, // neither "Ed" nor "ED" (a key must be "Ed")
};

// One line of text for an error, for messages to a person.
const char *describe(FormatError error);

// `text` is the base64 line alone or the whole contents of a .pub file.
std::variant<PublicKey, FormatError> parsePublicKey(QByteArrayView text);

// `file` is the whole contents of a .minisig file.
std::variant<Signature, FormatError> parseSignature(QByteArrayView file);

} // namespace signing
