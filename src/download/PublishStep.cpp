#include "download/PublishStep.h"

#include <algorithm>
#include <cerrno>
#include <exception>

#include <zip.h>

#include <QFile>
#include <QFileInfo>

#include "platform/Files.h"
#include "platform/Text.h"

namespace download {
namespace {

// Enough for any sane folder; a folder that fills this many names is not worth a search.
constexpr int MaximumNameTries = 100;
// How often a check interrupted by signals is tried before its answer counts.
constexpr int InterruptedTries = 5;

quint64 littleEndian(const char *bytes, int size) {
    quint64 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | uchar(bytes[i]);
    return value;
}

// The number of entries the archive's end records declare (the zip64 one where the classic
// record defers to it), read without reading the directory itself; nothing when no end
// record is found.
std::optional<quint64> declaredZipEntries(QFile &file) {
    // The end record is 22 bytes and a comment of at most 64 KiB; the zip64 locator, 20
    // bytes, lies just before it.
    const qint64 tail = std::min<qint64>(file.size(), 22 + 0xFFFF + 20);
    if (!file.seek(file.size() - tail))
        return std::nullopt;
    const QByteArray bytes = file.read(tail);
    const qsizetype end = bytes.lastIndexOf(QByteArrayView("PK\5\6", 4));
    if (end < 0 || bytes.size() - end < 22)
        return std::nullopt;
    const quint64 entries = littleEndian(bytes.constData() + end + 10, 2);
    if (entries != 0xFFFF || end < 20 || !bytes.mid(end - 20).startsWith("PK\6\7"))
        return entries;
    const quint64 zip64End = littleEndian(bytes.constData() + end - 20 + 8, 8);
    char record[40];
    if (zip64End > quint64(file.size()) || !file.seek(qint64(zip64End)) ||
        file.read(record, sizeof record) != sizeof record ||
        QByteArrayView(record, 4) != QByteArrayView("PK\6\6", 4))
        return std::nullopt;
    return littleEndian(record + 32, 8);
}

class ZipArchiveCheck final : public PublishCheck {
public:
    explicit ZipArchiveCheck(quint64 maximumEntries)
        : m_maximumEntries(maximumEntries) {}

    bool verify(const QString &file, QString &error) override {
        // libzip holds the whole directory in memory: its size is bounded before it is read.
        QFile archiveFile(file);
        if (archiveFile.open(QIODevice::ReadOnly)) {
            const std::optional<quint64> declared = declaredZipEntries(archiveFile);
            if (declared && *declared > m_maximumEntries) {
                error = QStringLiteral("the package holds %1 entries, more than the %2 accepted")
                            .arg(*declared)
                            .arg(m_maximumEntries);
                return false;
            }
        }
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
        if (quint64(entries) > m_maximumEntries) {
            error = QStringLiteral("the package holds %1 entries, more than the %2 accepted")
                        .arg(entries)
                        .arg(m_maximumEntries);
            return false;
        }
        return true;
    }

private:
    quint64 m_maximumEntries;
};

} // namespace

std::unique_ptr<PublishCheck> zipArchiveCheck(const QString &, const QString &saveFileName) {
    if (!saveFileName.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive))
        return nullptr;
    return zipEntriesCheck(MaximumZipEntries);
}

std::unique_ptr<PublishCheck> zipEntriesCheck(quint64 maximumEntries) {
    return std::make_unique<ZipArchiveCheck>(maximumEntries);
}

bool verifyDownload(const QString &file, const PublishChecks &checks, const std::atomic<bool> &stop,
                    QString &error, net::FailureKind &kind) {
    kind = net::FailureKind::Disk;
    for (const auto &check : checks) {
        if (stop) {
            error = QStringLiteral("the check was stopped");
            return false;
        }
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
            return false;
        }
    }
    if (stop) {
        error = QStringLiteral("the check was stopped");
        return false;
    }
    return platform::syncToDisk(file, error);
}

std::optional<QString> moveDownload(const QString &file, const QString &saveFileName,
                                    bool overwrite, QTime now, QString &error) {
    QString path = bRenameExists(saveFileName, overwrite, [now] { return now; });
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
