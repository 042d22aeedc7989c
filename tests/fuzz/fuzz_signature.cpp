// Feeds arbitrary bytes to the signature, public-key and release-information parsers, as a
// product page or a stamping vendor could, and checks a parsed signature against a fixed key.
#include <cstddef>
#include <cstdint>

#include "signing/Minisign.h"
#include "signing/PackageVerifier.h"
#include "signing/ReleaseInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto key = signing::parsePublicKey(bytes);
    const auto signature = signing::parseSignature(bytes);
    // The trusted-comment parser on the bytes themselves, and on a parsed signature's comment.
    const auto check = [](const std::variant<signing::ReleaseInfo, signing::ReleaseInfoError> &r) {
        if (const auto *info = std::get_if<signing::ReleaseInfo>(&r))
            if ((info->size && (*info->size < 0 || *info->size > signing::MaxReleaseSize)) ||
                (info->timestamp && *info->timestamp < 0))
                __builtin_trap(); // a number outside its range was let through
    };
    check(signing::parseReleaseInfo(bytes));
    if (const auto *parsed = std::get_if<signing::Signature>(&signature)) {
        check(signing::parseReleaseInfo(parsed->trustedComment));
        signing::PublicKey anyKey;
        anyKey.keyId = parsed->keyId;
        if (signing::verifyWholeFile(anyKey, *parsed, bytes) == signing::Verdict::Valid)
            __builtin_trap(); // an all-zero key is refused: a pass would mean a skipped check
    }
    (void)key;
    return 0;
}
