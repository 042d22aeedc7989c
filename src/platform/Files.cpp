#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include "platform/Paths.h"

namespace platform {

std::unique_ptr<QFile> createHiddenTemporaryFile(const QString &folder, const QString &nameHint,
                                                 QString &error) {
    if (folder.isEmpty()) {
        error = QStringLiteral("no folder to create a temporary file in");
        return nullptr;
    }
    QString base = systemFileNameOf(nameHint);
    if (base.isEmpty() || base.size() > 64)
        base = QStringLiteral("download");
    const QString prefix = folderWithSlash(folder);
    QString reason;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name =
            QStringLiteral(".%1.%2.part")
                .arg(base)
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        // QFile creates new files with 0666 less the umask: once moved into place the file
        // carries the permissions of any other new file.
        auto file = std::make_unique<QFile>(prefix + name);
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return file;
        reason = file->errorString();
        if (!QFile::exists(file->fileName()))
            break; // not a name clash: another name will not help
    }
    error = QStringLiteral("cannot create a temporary file in %1: %2").arg(folder, reason);
    return nullptr;
}

bool moveFileReplacing(const QString &from, const QString &to, QString &error) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray destination = QFile::encodeName(to);
    if (retryInterrupted(
            [&] { return std::rename(source.constData(), destination.constData()); }) == 0)
        return true;
    error = QStringLiteral("cannot move %1 to %2: %3")
                .arg(from, to, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool replaceFileContents(const QString &path, const QByteArray &bytes,
                         std::optional<QFileDevice::Permissions> permissions, QString &error) {
    const QFileInfo target(path);
    const auto temp = createHiddenTemporaryFile(target.absolutePath(), target.fileName(), error);
    if (!temp)
        return false;
    if (temp->write(bytes) != bytes.size() || !temp->flush() ||
        (permissions && !temp->setPermissions(*permissions))) {
        error = temp->errorString();
        temp->remove();
        return false;
    }
    temp->close();
    if (!moveFileReplacing(temp->fileName(), target.absoluteFilePath(), error)) {
        temp->remove();
        return false;
    }
    return true;
}

MoveResult moveFileWithoutReplacing(const QString &from, const QString &to, QString &error) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray destination = QFile::encodeName(to);
    int result = retryInterrupted([&] {
        return ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, destination.constData(),
                           RENAME_NOREPLACE);
    });
    if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
        // The file system cannot rename without replacing; a hard link cannot replace either.
        result =
            retryInterrupted([&] { return ::link(source.constData(), destination.constData()); });
        if (result == 0)
            retryInterrupted([&] { return ::unlink(source.constData()); });
    }
    if (result == 0)
        return MoveResult::Moved;
    if (errno == EEXIST)
        return MoveResult::NameTaken;
    error = QStringLiteral("cannot move %1 to %2: %3")
                .arg(from, to, QString::fromLocal8Bit(std::strerror(errno)));
    return MoveResult::Failed;
}

std::optional<qint64> fileSize(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (retryInterrupted([&] { return ::stat(name.constData(), &info); }) != 0)
        return std::nullopt;
    return qint64(info.st_size);
}

bool syncToDisk(const QString &path, QString &error) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = retryInterrupted([&] { return ::open(name.constData(), O_RDONLY | O_CLOEXEC); });
    if (fd >= 0 && retryInterrupted([fd] { return ::fsync(fd); }) == 0) {
        ::close(fd);
        return true;
    }
    error = QStringLiteral("cannot flush %1 to disk: %2")
                .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (fd >= 0)
        ::close(fd);
    return false;
}

} // namespace platform
