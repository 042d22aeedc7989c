#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "signing/Minisign.h"

// Checks a package against its vendor's signature with libsodium's Ed25519 and the fastest
// BLAKE2b at hand.
namespace signing {

// An "Ed" signature covers the whole file, so the whole file must be in memory to check it.
inline constexpr qint64 MaxWholeFileSignedSize = qint64(64) << 20;

using Blake2b512Digest = std::array<std::uint8_t, 64>;

// BLAKE2b-512 over bytes given in any number of pieces.
class Blake2b512 {
public:
    enum class Implementation {
        Fastest,   // OpenSSL's where it is offered, else libsodium's
        Libsodium, // the portable one, always at hand
    };
    explicit Blake2b512(Implementation implementation = Implementation::Fastest);
    ~Blake2b512();
    Blake2b512(const Blake2b512 &) = delete;
    Blake2b512 &operator=(const Blake2b512 &) = delete;

    void update(QByteArrayView bytes);
    // The digest of everything given so far; the hasher must not be used afterwards.
    Blake2b512Digest finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// BLAKE2b-512 on a thread of its own, so that hashing a download overlaps with receiving
// it: `update` queues the array itself, sharing its bytes without copying them (the caller
// must not change them afterwards), waits only while `MaxQueuedBytes` are still unhashed, and
// returns. Small pieces are gathered into one batch first: waking the thread for each would
// cost more than the copy. Used from one thread.
class BackgroundBlake2b512 {
public:
    // The most bytes handed to the hashing thread and not yet hashed: three of the read
    // service's slices, slack enough for the thread's turns, little memory.
    static constexpr qsizetype MaxQueuedBytes = qsizetype(6) << 20;

    BackgroundBlake2b512();
    // Stops the thread; whatever is still queued is dropped.
    ~BackgroundBlake2b512();
    BackgroundBlake2b512(const BackgroundBlake2b512 &) = delete;
    BackgroundBlake2b512 &operator=(const BackgroundBlake2b512 &) = delete;

    void update(const QByteArray &bytes);
    // Waits until everything given is hashed; the hasher must not be used afterwards.
    Blake2b512Digest finish();

private:
    struct Queue;
    std::unique_ptr<Queue> m_queue;
};

enum class Verdict {
    Valid,
    OtherKey,             // the signature names another key id
    BadSignature,         // the package's bytes are not what was signed
    BadGlobalSignature,   // the trusted comment (or the global signature) was changed
    TooLargeForWholeFile, // an "Ed" signature over a package larger than MaxWholeFileSignedSize
    Unreadable,           // the package file could not be read
    NoCryptography,       // libsodium could not start
};

const char *describe(Verdict verdict);

// The key id and the global signature alone (over the signature and its trusted comment):
// what the small signature file proves before any byte of the package is at hand.
Verdict verifyGlobalSignature(const PublicKey &key, const Signature &signature);

// The checks on their own, for bytes and digests already at hand.
Verdict verifyHashed(const PublicKey &key, const Signature &signature,
                     const Blake2b512Digest &digest);
Verdict verifyWholeFile(const PublicKey &key, const Signature &signature, QByteArrayView bytes);

// Checks one package. Bytes given to `update` as they are written are hashed at once, so
// that a large "ED"-signed package needs no second read at the end; `verifyFile` uses that
// digest when the pieces ran without a gap from the start to exactly the file's size, and
// reads the file (in pieces for "ED", whole for "Ed") otherwise.
class PackageVerifier {
public:
    PackageVerifier(PublicKey key, Signature signature);
    ~PackageVerifier();
    PackageVerifier(PackageVerifier &&) noexcept;
    PackageVerifier &operator=(PackageVerifier &&) noexcept;

    // `bytes` as written at `offset` of the file; offset 0 starts the file over. The array
    // may be kept until it is hashed: it must not change afterwards.
    void update(qint64 offset, const QByteArray &bytes);
    Verdict verifyFile(const QString &path);

private:
    void restart();

    PublicKey m_key;
    Signature m_signature;
    std::unique_ptr<BackgroundBlake2b512> m_streamed; // "ED" only, while the pieces join up
    qint64 m_streamedBytes = 0;
};

} // namespace signing
