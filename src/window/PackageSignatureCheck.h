#pragma once

#include <memory>

#include "download/PublishStep.h"

namespace window {

struct SignedRelease;

// The publish check of a copy that carries its vendor's key: the package must be what the
// signature of the release checked on the product page signed, and exactly the size that
// release names, if it names one. Without a checked `release` (nullptr) every package is
// refused. A refusal is a `FailureKind::RefusedSignature`.
std::unique_ptr<download::PublishCheck> packageSignatureCheck(const SignedRelease *release);

} // namespace window
