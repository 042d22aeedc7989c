#include "window/ReleaseCheck.h"

#include "signing/PackageVerifier.h"
#include "window/PageTitle.h"

namespace window {

std::variant<SignedRelease, QString>
checkSignedRelease(const ReleaseRules &rules, const std::optional<QByteArray> &signatureFile,
                   const QString &shownTitle, const ReleaseHistory &history) {
    std::vector<signing::PublicKey> keys;
    for (const QString &text : rules.publicKeys) {
        const auto key = signing::parsePublicKey(text.toLatin1());
        if (const auto *error = std::get_if<signing::FormatError>(&key))
            return QStringLiteral("the stamped public key is unusable: %1")
                .arg(QLatin1String(signing::describe(*error)));
        keys.push_back(std::get<signing::PublicKey>(key));
    }
    if (!signatureFile)
        return QStringLiteral("the product page announces no signature");
    auto parsed = signing::parseSignature(*signatureFile);
    if (const auto *error = std::get_if<signing::FormatError>(&parsed))
        return QStringLiteral("the announced signature is unusable: %1")
            .arg(QLatin1String(signing::describe(*error)));
    SignedRelease release;
    release.signature = std::move(std::get<signing::Signature>(parsed));
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const signing::PublicKey &k) {
        return k.keyId == release.signature.keyId;
    });
    if (key == keys.end())
        return QStringLiteral("the signature was made with a key this copy does not carry");
    release.key = *key;
    const signing::Verdict verdict = signing::verifyGlobalSignature(release.key, release.signature);
    if (verdict != signing::Verdict::Valid)
        return QString::fromLatin1(signing::describe(verdict));
    // Only now is the comment the vendor's word.
    auto info = signing::parseReleaseInfo(release.signature.trustedComment);
    if (const auto *error = std::get_if<signing::ReleaseInfoError>(&info))
        return QString::fromLatin1(signing::describe(*error));
    release.info = std::get<signing::ReleaseInfo>(info);
    const signing::ReleaseInfo &signedInfo = release.info;

    if (rules.requireReleaseInfo &&
        (!signedInfo.product || !signedInfo.version || !signedInfo.size))
        return QStringLiteral("the signature lacks the product, the version or the size");
    if (signedInfo.product && *signedInfo.product != QString::number(rules.softwareId))
        return QStringLiteral("the signature is for product %1, not %2")
            .arg(*signedInfo.product)
            .arg(rules.softwareId);
    if (signedInfo.version && comparableTitle(*signedInfo.version) != comparableTitle(shownTitle))
        return QStringLiteral("the signature is for version '%1', the page announces '%2'")
            .arg(*signedInfo.version, shownTitle);
    const std::optional<qint64> newest =
        newestAccepted(history, rules.softwareId, release.signature.keyId);
    if (newest && !signedInfo.timestamp)
        return QStringLiteral("the signature has no timestamp, and one of %1 was accepted")
            .arg(*newest);
    if (newest && *signedInfo.timestamp < *newest)
        return QStringLiteral("the signature's timestamp %1 is older than the %2 already accepted")
            .arg(*signedInfo.timestamp)
            .arg(*newest);
    return release;
}

} // namespace window
