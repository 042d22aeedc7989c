#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "signing/Minisign.h"
#include "signing/ReleaseInfo.h"
#include "window/ReleaseHistory.h"

// What a copy that carries its vendor's key decides when the product page arrives, before it
// offers the download: the page's signature must vouch, by its signed trusted comment, for
// the release the page announces.
namespace window {

struct SignedRelease {
    signing::PublicKey key; // the stamped key the signature names
    signing::Signature signature;
    signing::ReleaseInfo info;
};

struct ReleaseRules {
    QStringList publicKeys; // the stamped base64 lines
    bool requireReleaseInfo = false;
    std::int32_t softwareId = 0;
};

// The release the page's `signatureFile` vouches for, or the reason for a person why it
// vouches for none: no or a malformed signature, a key id none of `rules.publicKeys` has, a
// global signature that does not verify, a `product` other than the copy's, a `version` other
// than `shownTitle`, a `timestamp` older than the newest in `history` for this product and
// key, or (with `requireReleaseInfo`) a missing product, version or size. Never throws.
std::variant<SignedRelease, QString>
checkSignedRelease(const ReleaseRules &rules, const std::optional<QByteArray> &signatureFile,
                   const QString &shownTitle, const ReleaseHistory &history);

} // namespace window
