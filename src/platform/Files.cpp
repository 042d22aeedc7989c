#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QFile>
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
    const QString prefix = folder.endsWith(u'/') ? folder : folder + QLatin1Char('/');
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
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    error = QStringLiteral("cannot move the download to %1: %2")
                .arg(to, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

} // namespace platform
