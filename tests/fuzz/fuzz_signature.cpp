// Feeds arbitrary bytes to the signature and public-key parsers, as a product page or a
// stamping vendor could, and checks a parsed signature against a fixed key.
#include <cstddef>
#include <cstdint>

#include "signing/Minisign.h"
#include "signing/PackageVerifier.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto key = signing::parsePublicKey(bytes);
    const auto signature = signing::parseSignature(bytes);
    if (const auto *parsed = std::get_if<signing::Signature>(&signature)) {
        signing::PublicKey anyKey;
        anyKey.keyId = parsed->keyId;
        if (signing::verifyWholeFile(anyKey, *parsed, bytes) == signing::Verdict::Valid)
            __builtin_trap(); // an all-zero key is refused: a pass would mean a skipped check
    }
    (void)key;
    return 0;
}
