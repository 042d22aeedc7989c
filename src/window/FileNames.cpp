#include "window/FileNames.h"

#include "platform/Paths.h"
#include "platform/Text.h"

namespace window {

QString GetFileString(const QString &strPath, const QString &strDelim, std::int32_t StrStyle) {
    if (StrStyle == 3) {
        const qsizetype first = strDelim.isEmpty() ? -1 : strPath.indexOf(strDelim);
        return first < 0 ? strPath : strPath.left(first);
    }
    // A web address has no "\" folders: its name starts after the last "/".
    if (StrStyle == 0 && strDelim == u"." && platform::isHttpAddress(strPath)) {
        const qsizetype lastDot = strPath.lastIndexOf(strDelim);
        const qsizetype slash = strPath.lastIndexOf(u'/');
        if (lastDot < 0)
            return strPath;
        return lastDot < slash ? QString() : strPath.mid(slash + 1, lastDot - slash - 1);
    }
    return platform::cutPath(strPath, strDelim, StrStyle).value_or(QString());
}

QString PathWithBackslash(const QString &path) {
    if (platform::trimBlanks(path).isEmpty())
        return {};
    // The folder comes from the operating system, where "\" is an ordinary character of a
    // name: a folder called "prod\" still needs its separator.
    if (path.endsWith(u'/'))
        return path;
    return path + u'/';
}

bool FileExists(const QString &path) {
    return platform::pathExists(path);
}

QString UniqueFileName(const QString &path, const std::function<bool(const QString &)> &exists,
                       int maxTries) {
    if (!exists(path))
        return path;
    const platform::PathStem parts = platform::splitExtension(path);
    const QString extension = parts.extension ? u'.' + *parts.extension : QString();
    for (int n = 1; n <= maxTries; ++n) {
        const QString candidate = parts.stem + u'(' + QString::number(n) + u')' + extension;
        if (!exists(candidate))
            return candidate;
    }
    return {};
}

} // namespace window
