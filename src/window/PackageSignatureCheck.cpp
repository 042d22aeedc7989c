#include "window/PackageSignatureCheck.h"

#include "platform/Files.h"
#include "signing/PackageVerifier.h"
#include "window/ReleaseCheck.h"

namespace window {
namespace {

class SignatureCheck final : public download::PublishCheck {
public:
    explicit SignatureCheck(const SignedRelease *release) {
        if (release) {
            m_verifier.emplace(release->key, release->signature);
            m_size = release->info.size;
        }
    }

    void observe(qint64 offset, const QByteArray &bytes) override {
        if (m_verifier)
            m_verifier->update(offset, bytes);
    }

    bool verify(const QString &file, QString &error) override {
        QString problem = QStringLiteral("no release information was checked");
        if (m_verifier) {
            const std::optional<qint64> size = platform::fileSize(file);
            if (!size) {
                problem = QStringLiteral("the package's size cannot be read");
            } else if (m_size && *size != *m_size) {
                problem = QStringLiteral("the package has %1 bytes, the signed release %2")
                              .arg(*size)
                              .arg(*m_size);
            } else {
                const signing::Verdict verdict = m_verifier->verifyFile(file);
                if (verdict == signing::Verdict::Valid)
                    return true;
                problem = QString::fromLatin1(signing::describe(verdict));
            }
        }
        error = QStringLiteral("the package signature does not verify: %1").arg(problem);
        return false;
    }

    net::FailureKind refusalKind() const override { return net::FailureKind::RefusedSignature; }
    std::optional<qint64> expectedSize() const override { return m_size; }

private:
    std::optional<signing::PackageVerifier> m_verifier; // nothing: refuse every package
    std::optional<qint64> m_size;
};

} // namespace

std::unique_ptr<download::PublishCheck> packageSignatureCheck(const SignedRelease *release) {
    return std::make_unique<SignatureCheck>(release);
}

} // namespace window
