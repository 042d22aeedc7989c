#include "platform/Paths.h"

#include <algorithm>

#include <sys/stat.h>

#include <QFile>

#include "platform/Files.h"

namespace platform {

bool isPathSeparator(QChar c) {
    return c == u'/' || c == u'\\';
}

qsizetype lastPathSeparator(QStringView path) {
    return std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
}

PathStem splitExtension(const QString &path) {
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < lastPathSeparator(path))
        return {path, std::nullopt};
    return {path.left(dot), path.mid(dot + 1)};
}

QString systemFolderOf(const QString &path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return {};
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString systemFileNameOf(const QString &path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString folderWithSlash(const QString &folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

bool pathExists(const QString &path) {
    struct stat info {};
    const QByteArray name = QFile::encodeName(path);
    return !path.isEmpty() &&
           retryInterrupted([&] { return ::lstat(name.constData(), &info); }) == 0;
}

} // namespace platform
