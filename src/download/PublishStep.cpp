#include "download/PublishStep.h"

#include <zip.h>

#include <QFileInfo>

#include "platform/Files.h"
#include "platform/Text.h"

namespace download {
namespace {

// Enough for any sane folder; a folder that fills this many names is not worth a search.
constexpr int MaximumNameTries = 100;

class ZipArchiveCheck final : public PublishCheck {
public:
    std::optional<QString> verify(const QString &file) override {
        int code = 0;
        zip_t *archive =
            zip_open(QFile::encodeName(file).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
        if (!archive) {
            zip_error_t error;
            zip_error_init_with_code(&error, code);
            const QString reason = QString::fromLocal8Bit(zip_error_strerror(&error));
            zip_error_fini(&error);
            return QStringLiteral("the package is not a complete zip archive: %1").arg(reason);
        }
        const zip_int64_t entries = zip_get_num_entries(archive, 0);
        zip_discard(archive);
        if (entries < 1)
            return QStringLiteral("the package is an empty zip archive");
        return std::nullopt;
    }
};

} // namespace

std::unique_ptr<PublishCheck> zipArchiveCheck(const QString &, const QString &saveFileName) {
    if (!saveFileName.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive))
        return nullptr;
    return std::make_unique<ZipArchiveCheck>();
}

PublishResult publishDownload(const QString &file, const QString &saveFileName, bool overwrite,
                              const Clock &clock, const PublishChecks &checks) {
    const QTime now = clock();
    QString path = bRenameExists(saveFileName, overwrite, [now] { return now; });
    for (const auto &check : checks) {
        if (std::optional<QString> problem = check->verify(file))
            return {{}, *problem};
    }
    QString error;
    if (!platform::syncToDisk(file, error))
        return {{}, error};

    if (overwrite) {
        if (!platform::moveFileReplacing(file, path, error))
            return {{}, error};
    } else {
        // The name was free when it was chosen; whatever took it since is never replaced.
        int number = path == saveFileName ? 1 : 2;
        for (;;) {
            const platform::MoveResult moved =
                platform::moveFileWithoutReplacing(file, path, error);
            if (moved == platform::MoveResult::Moved)
                break;
            if (moved == platform::MoveResult::Failed)
                return {{}, error};
            if (number > MaximumNameTries)
                return {{}, QStringLiteral("no free name for %1").arg(saveFileName)};
            path = stampedFileName(saveFileName, now, number++);
        }
    }
    // The new name must reach the disk too; the file itself is already there.
    QString ignored;
    platform::syncToDisk(QFileInfo(path).absolutePath(), ignored);
    return {path, {}};
}

} // namespace download
