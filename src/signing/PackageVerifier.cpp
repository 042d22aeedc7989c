#include "signing/PackageVerifier.h"

#include <openssl/evp.h>
#include <sodium.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include <QFile>

namespace signing {
namespace {

constexpr qint64 ReadPieceSize = 1 << 20;

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool ed25519Verifies(const std::array<std::uint8_t, 64> &signature, QByteArrayView message,
                     const PublicKey &key) {
    return crypto_sign_verify_detached(
               signature.data(), reinterpret_cast<const unsigned char *>(message.data()),
               static_cast<unsigned long long>(message.size()), key.key.data()) == 0;
}

// The key id and the global signature are the same for both algorithms; `signedPart` is
// the Ed25519 check of the package itself.
template <typename SignedPart>
Verdict verifyAround(const PublicKey &key, const Signature &signature, SignedPart signedPart) {
    if (!sodiumReady())
        return Verdict::NoCryptography;
    if (signature.keyId != key.keyId)
        return Verdict::OtherKey;
    if (!signedPart())
        return Verdict::BadSignature;
    return verifyGlobalSignature(key, signature);
}

} // namespace

// OpenSSL's BLAKE2b-512 hashes about twice as fast as libsodium's here, and a verified
// download waits on the hash; libsodium's serves where OpenSSL's is not offered (a FIPS-only
// configuration leaves it out). Both give minisign's digest.
struct Blake2b512::State {
    EVP_MD_CTX *openssl = nullptr;
    crypto_generichash_state sodium;

    ~State() { EVP_MD_CTX_free(openssl); }
};

namespace {

EVP_MD *opensslBlake2b512() {
    static EVP_MD *const algorithm = EVP_MD_fetch(nullptr, "BLAKE2B-512", nullptr);
    return algorithm;
}

} // namespace

Blake2b512::Blake2b512(Implementation implementation)
    : m_state(std::make_unique<State>()) {
    if (implementation == Implementation::Fastest && opensslBlake2b512()) {
        m_state->openssl = EVP_MD_CTX_new();
        if (m_state->openssl &&
            EVP_DigestInit_ex2(m_state->openssl, opensslBlake2b512(), nullptr) == 1)
            return;
        EVP_MD_CTX_free(std::exchange(m_state->openssl, nullptr));
    }
    sodiumReady();
    crypto_generichash_init(&m_state->sodium, nullptr, 0, crypto_generichash_BYTES_MAX);
}

Blake2b512::~Blake2b512() = default;

void Blake2b512::update(QByteArrayView bytes) {
    if (m_state->openssl) {
        // Only a broken context fails here, and then the digest is refused by the signature.
        EVP_DigestUpdate(m_state->openssl, bytes.data(), size_t(bytes.size()));
        return;
    }
    crypto_generichash_update(&m_state->sodium,
                              reinterpret_cast<const unsigned char *>(bytes.data()),
                              static_cast<unsigned long long>(bytes.size()));
}

Blake2b512Digest Blake2b512::finish() {
    Blake2b512Digest digest{};
    if (m_state->openssl) {
        unsigned int size = 0;
        EVP_DigestFinal_ex(m_state->openssl, digest.data(), &size);
        return digest;
    }
    crypto_generichash_final(&m_state->sodium, digest.data(), digest.size());
    return digest;
}

struct BackgroundBlake2b512::Queue {
    // Pieces smaller than this are copied into a batch of about this size.
    static constexpr qsizetype BatchSize = qsizetype(256) << 10;

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> pieces;
    qsizetype queuedBytes = 0;
    bool closing = false;
    Blake2b512 hasher;
    std::thread worker;
    QByteArray batch; // the caller's bytes not yet handed over

    void hashUntilClosed() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return closing || !pieces.empty(); });
            if (pieces.empty())
                return; // closing, and everything given is hashed
            QByteArray piece = std::move(pieces.front());
            pieces.pop_front();
            lock.unlock();
            hasher.update(piece);
            lock.lock();
            queuedBytes -= piece.size();
            changed.notify_all();
        }
    }
    // Queues `piece` for the hashing thread, waiting while too much is still unhashed (a
    // piece larger than the bound waits for an empty queue).
    void hand(QByteArray piece) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this, &piece] {
            return queuedBytes == 0 || queuedBytes + piece.size() <= MaxQueuedBytes;
        });
        queuedBytes += piece.size();
        pieces.push_back(std::move(piece));
        lock.unlock();
        changed.notify_all();
    }
    void close(bool dropQueued) {
        {
            std::lock_guard lock(mutex);
            closing = true;
            if (dropQueued)
                pieces.clear();
        }
        changed.notify_all();
        if (worker.joinable())
            worker.join();
    }
};

BackgroundBlake2b512::BackgroundBlake2b512()
    : m_queue(std::make_unique<Queue>()) {
    m_queue->worker = std::thread([queue = m_queue.get()] { queue->hashUntilClosed(); });
}

BackgroundBlake2b512::~BackgroundBlake2b512() {
    m_queue->close(true);
}

void BackgroundBlake2b512::update(const QByteArray &bytes) {
    QByteArray &batch = m_queue->batch;
    if (bytes.size() >= Queue::BatchSize) {
        // The bytes of a batch come before these.
        if (!batch.isEmpty())
            m_queue->hand(std::exchange(batch, QByteArray()));
        m_queue->hand(bytes);
        return;
    }
    batch.append(bytes);
    if (batch.size() >= Queue::BatchSize)
        m_queue->hand(std::exchange(batch, QByteArray()));
}

Blake2b512Digest BackgroundBlake2b512::finish() {
    if (!m_queue->batch.isEmpty())
        m_queue->hand(std::exchange(m_queue->batch, QByteArray()));
    m_queue->close(false);
    return m_queue->hasher.finish();
}

const char *describe(Verdict verdict) {
    switch (verdict) {
    case Verdict::Valid:
        return "the signature is valid";
    case Verdict::OtherKey:
        return "the package was signed with another key";
    case Verdict::BadSignature:
        return "the package is not what was signed";
    case Verdict::BadGlobalSignature:
        return "the signature's trusted comment was changed";
    case Verdict::TooLargeForWholeFile:
        return "the package is too large for a signature over the whole file";
    case Verdict::Unreadable:
        return "the package cannot be read";
    case Verdict::NoCryptography:
        return "the cryptography library could not start";
    }
    return "the signature does not verify";
}

Verdict verifyGlobalSignature(const PublicKey &key, const Signature &signature) {
    if (!sodiumReady())
        return Verdict::NoCryptography;
    if (signature.keyId != key.keyId)
        return Verdict::OtherKey;
    QByteArray global(reinterpret_cast<const char *>(signature.signature.data()),
                      qsizetype(signature.signature.size()));
    global.append(signature.trustedComment);
    if (!ed25519Verifies(signature.globalSignature, global, key))
        return Verdict::BadGlobalSignature;
    return Verdict::Valid;
}

Verdict verifyHashed(const PublicKey &key, const Signature &signature,
                     const Blake2b512Digest &digest) {
    if (signature.algorithm != SignatureAlgorithm::HashedFile)
        return Verdict::BadSignature;
    return verifyAround(key, signature, [&] {
        return ed25519Verifies(
            signature.signature,
            QByteArrayView(reinterpret_cast<const char *>(digest.data()), qsizetype(digest.size())),
            key);
    });
}

Verdict verifyWholeFile(const PublicKey &key, const Signature &signature, QByteArrayView bytes) {
    if (signature.algorithm == SignatureAlgorithm::HashedFile) {
        Blake2b512 hasher;
        hasher.update(bytes);
        return verifyHashed(key, signature, hasher.finish());
    }
    return verifyAround(key, signature,
                        [&] { return ed25519Verifies(signature.signature, bytes, key); });
}

PackageVerifier::PackageVerifier(PublicKey key, Signature signature)
    : m_key(key)
    , m_signature(std::move(signature)) {
    restart();
}

PackageVerifier::~PackageVerifier() = default;
PackageVerifier::PackageVerifier(PackageVerifier &&) noexcept = default;
PackageVerifier &PackageVerifier::operator=(PackageVerifier &&) noexcept = default;

void PackageVerifier::update(qint64 offset, const QByteArray &bytes) {
    if (offset == 0)
        restart();
    if (!m_streamed)
        return;
    // A piece that does not follow on (a resumed or rewritten file) leaves a gap the digest
    // cannot cover: the file is read at the end instead.
    if (offset != m_streamedBytes) {
        m_streamed.reset();
        return;
    }
    m_streamed->update(bytes);
    m_streamedBytes += bytes.size();
}

void PackageVerifier::restart() {
    m_streamedBytes = 0;
    m_streamed.reset();
    if (m_signature.algorithm == SignatureAlgorithm::HashedFile)
        m_streamed = std::make_unique<BackgroundBlake2b512>();
}

Verdict PackageVerifier::verifyFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Verdict::Unreadable;
    const qint64 size = file.size();
    if (m_signature.algorithm == SignatureAlgorithm::WholeFile) {
        if (size > MaxWholeFileSignedSize)
            return Verdict::TooLargeForWholeFile;
        const QByteArray bytes = file.read(size);
        if (bytes.size() != size || file.error() != QFileDevice::NoError)
            return Verdict::Unreadable;
        return verifyWholeFile(m_key, m_signature, bytes);
    }
    // The digest of the bytes as they arrived stands for the file only when it covers all
    // of it; otherwise (nothing streamed, or a download that resumed) the file is read.
    if (m_streamed && m_streamedBytes == size) {
        const Blake2b512Digest digest = m_streamed->finish();
        restart();
        return verifyHashed(m_key, m_signature, digest);
    }
    Blake2b512 hasher;
    for (;;) {
        const QByteArray piece = file.read(ReadPieceSize);
        if (file.error() != QFileDevice::NoError)
            return Verdict::Unreadable;
        if (piece.isEmpty())
            break;
        hasher.update(piece);
    }
    return verifyHashed(m_key, m_signature, hasher.finish());
}

} // namespace signing
