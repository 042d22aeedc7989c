#include "download/PublishStep.h"

#include <cerrno>
#include <exception>

#include <zip.h>

#include <QFileInfo>

#include "platform/Files.h"
#include "platform/Text.h"

namespace download {
namespace {

// Enough for any sane folder; a folder that fills this many names is not worth a search.
constexpr int MaximumNameTries = 100;
// How often a check interrupted by signals is tried before its answer counts.
constexpr int InterruptedTries = 5;

class ZipArchiveCheck final : public PublishCheck {
public:
    bool verify(const QString &file, QString &error) override {
        int code = 0;
        zip_t *archive = nullptr;
        // libzip gives up on a call that a signal interrupts; that is no verdict on the file.
        for (int attempt = 0; attempt < InterruptedTries && !archive; ++attempt) {
            errno = 0;
            archive =
                zip_open(QFile::encodeName(file).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
            if (errno != EINTR)
                break;
        }
        if (!archive) {
            zip_error_t zipError;
            zip_error_init_with_code(&zipError, code);
            error = QStringLiteral("the package is not a complete zip archive: %1")
                        .arg(QString::fromLocal8Bit(zip_error_strerror(&zipError)));
            zip_error_fini(&zipError);
            return false;
        }
        const zip_int64_t entries = zip_get_num_entries(archive, 0);
        zip_discard(archive);
        if (entries < 1) {
            error = QStringLiteral("the package is an empty zip archive");
            return false;
        }
        return true;
    }
};

} // namespace

std::unique_ptr<PublishCheck> zipArchiveCheck(const QString &, const QString &saveFileName) {
    if (!saveFileName.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive))
        return nullptr;
    return std::make_unique<ZipArchiveCheck>();
}

std::optional<QString> publishDownload(const QString &file, const QString &saveFileName,
                                       bool overwrite, const Clock &clock,
                                       const PublishChecks &checks, QString &error,
                                       net::FailureKind &kind) {
    kind = net::FailureKind::Disk;
    const QTime now = clock();
    QString path = bRenameExists(saveFileName, overwrite, [now] { return now; });
    for (const auto &check : checks) {
        // A check that breaks down has not passed the file; nothing escapes to the caller.
        bool passed = false;
        try {
            passed = check->verify(file, error);
        } catch (const std::exception &breakdown) {
            error = QStringLiteral("the package could not be checked: %1").arg(breakdown.what());
        } catch (...) {
            error = QStringLiteral("the package could not be checked");
        }
        if (!passed) {
            kind = check->refusalKind();
            return std::nullopt;
        }
    }
    if (!platform::syncToDisk(file, error))
        return std::nullopt;

    if (overwrite) {
        if (!platform::moveFileReplacing(file, path, error))
            return std::nullopt;
    } else {
        // The name was free when it was chosen; whatever took it since is never replaced.
        int number = path == saveFileName ? 1 : 2;
        for (;;) {
            const platform::MoveResult moved =
                platform::moveFileWithoutReplacing(file, path, error);
            if (moved == platform::MoveResult::Moved)
                break;
            if (moved == platform::MoveResult::Failed)
                return std::nullopt;
            if (number > MaximumNameTries) {
                error = QStringLiteral("no free name for %1").arg(saveFileName);
                return std::nullopt;
            }
            path = stampedFileName(saveFileName, now, number++);
        }
    }
    // The new name must reach the disk too; the file itself is already there.
    QString ignored;
    platform::syncToDisk(QFileInfo(path).absolutePath(), ignored);
    return path;
}

} // namespace download
