#include "window/PackageSignatureCheck.h"

#include "signing/Minisign.h"
#include "signing/PackageVerifier.h"

namespace window {
namespace {

class SignatureCheck final : public download::PublishCheck {
public:
    SignatureCheck(std::optional<signing::PackageVerifier> verifier, QString problem,
                   std::shared_ptr<bool> rejected)
        : m_verifier(std::move(verifier))
        , m_problem(std::move(problem))
        , m_rejected(std::move(rejected)) {}

    void observe(qint64 offset, QByteArrayView bytes) override {
        if (m_verifier)
            m_verifier->update(offset, bytes);
    }

    bool verify(const QString &file, QString &error) override {
        if (m_verifier) {
            const signing::Verdict verdict = m_verifier->verifyFile(file);
            if (verdict == signing::Verdict::Valid)
                return true;
            m_problem = QString::fromLatin1(signing::describe(verdict));
        }
        *m_rejected = true;
        error = QStringLiteral("the package signature does not verify: %1").arg(m_problem);
        return false;
    }

private:
    std::optional<signing::PackageVerifier> m_verifier; // nothing when key or signature is bad
    QString m_problem;
    std::shared_ptr<bool> m_rejected;
};

} // namespace

std::unique_ptr<download::PublishCheck>
packageSignatureCheck(const QString &publicKey, const std::optional<QByteArray> &signatureFile,
                      std::shared_ptr<bool> rejected) {
    // A check that refuses whatever arrives, and says why.
    const auto refusing = [&](const QString &problem) {
        return std::make_unique<SignatureCheck>(std::nullopt, problem, std::move(rejected));
    };
    const auto key = signing::parsePublicKey(publicKey.toLatin1());
    if (const auto *error = std::get_if<signing::FormatError>(&key))
        return refusing(QStringLiteral("the stamped public key is unusable: %1")
                            .arg(QLatin1String(signing::describe(*error))));
    if (!signatureFile)
        return refusing(QStringLiteral("the product page announces no signature"));
    const auto signature = signing::parseSignature(*signatureFile);
    if (const auto *error = std::get_if<signing::FormatError>(&signature))
        return refusing(QStringLiteral("the announced signature is unusable: %1")
                            .arg(QLatin1String(signing::describe(*error))));
    return std::make_unique<SignatureCheck>(
        signing::PackageVerifier(std::get<signing::PublicKey>(key),
                                 std::get<signing::Signature>(signature)),
        QString(), std::move(rejected));
}

} // namespace window
