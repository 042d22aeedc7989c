#include "window/FileNames.h"

#include <QFileInfo>

#include "platform/Text.h"

namespace window {
namespace {

qsizetype lastSeparator(const QString &path) {
    return std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
}

// The file name without extension between the separator at `separator` (or the start when
// -1) and the last ".".
QString nameBetween(const QString &path, qsizetype separator, qsizetype lastDot) {
    if (lastDot < separator)
        return {};
    return path.mid(separator + 1, lastDot - separator - 1);
}

} // namespace

QString GetFileString(const QString &strPath, const QString &strDelim, std::int32_t StrStyle) {
    if (StrStyle < 0 || StrStyle > 3)
        return {};
    const qsizetype last = strPath.lastIndexOf(strDelim);
    if (last < 0 || strDelim.isEmpty())
        return strPath;
    switch (StrStyle) {
    case 0:
        if (strDelim != u".")
            return strPath.left(last);
        if (platform::isHttpAddress(strPath))
            return nameBetween(strPath, strPath.lastIndexOf(u'/'), last);
        return nameBetween(strPath, lastSeparator(strPath), last);
    case 1:
        return strPath.mid(last + strDelim.size());
    case 2:
        return strPath.left(last);
    default:
        return strPath.left(strPath.indexOf(strDelim));
    }
}

QString PathWithBackslash(const QString &path) {
    if (platform::trimBlanks(path).isEmpty())
        return {};
    if (path.endsWith(u'/') || path.endsWith(u'\\'))
        return path;
    return path + u'/';
}

bool FileExists(const QString &path) {
    return !path.isEmpty() && QFileInfo::exists(path);
}

QString UniqueFileName(const QString &path, const std::function<bool(const QString &)> &exists,
                       int maxTries) {
    if (!exists(path))
        return path;
    const qsizetype dot = path.lastIndexOf(u'.');
    const bool hasExtension = dot > lastSeparator(path);
    const QString stem = hasExtension ? path.left(dot) : path;
    const QString extension = hasExtension ? path.mid(dot) : QString();
    for (int n = 1; n <= maxTries; ++n) {
        const QString candidate = stem + u'(' + QString::number(n) + u')' + extension;
        if (!exists(candidate))
            return candidate;
    }
    return {};
}

} // namespace window
