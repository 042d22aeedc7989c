#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>

#include "download/PublishStep.h"

namespace window {

// The publish check of a copy that carries its vendor's public key: the package must carry
// a valid minisign signature by that key, announced on the product page. `publicKey` is the
// stamped base64 line, `signatureFile` the announced .minisig bytes (nothing when the page
// announced none). A key or signature that does not parse fails the check as surely as a
// package that does not match. `rejected` is set when the check refuses the package, so that
// the workflow can tell the user why nothing was published.
std::unique_ptr<download::PublishCheck>
packageSignatureCheck(const QString &publicKey, const std::optional<QByteArray> &signatureFile,
                      std::shared_ptr<bool> rejected);

} // namespace window
