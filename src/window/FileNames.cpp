#include "window/FileNames.h"

#include "platform/Paths.h"
#include "platform/Text.h"

namespace window {

QString GetFileString(const QString &strPath, const QString &strDelim, std::int32_t StrStyle) {
    if (StrStyle < 0 || StrStyle > 3)
        return {};
    if (StrStyle == 3) {
        const qsizetype first = strDelim.isEmpty() ? -1 : strPath.indexOf(strDelim);
        return first < 0 ? strPath : strPath.left(first);
    }
    const qsizetype last = platform::lastDelimiter(strPath, strDelim);
    if (last < 0)
        return strPath;
    if (StrStyle == 1)
        return strPath.mid(last + strDelim.size());
    if (StrStyle == 0 && strDelim == u".") {
        // The bare file name. A web address has no "\" folders: its name starts after the
        // last "/".
        const qsizetype separator = platform::isHttpAddress(strPath)
                                        ? strPath.lastIndexOf(u'/')
                                        : platform::lastPathSeparator(strPath);
        if (last < separator)
            return QString();
        return strPath.mid(separator + 1, last - separator - 1);
    }
    return strPath.left(last);
}

QString PathWithBackslash(const QString &path) {
    if (platform::trimBlanks(path).isEmpty())
        return {};
    // The folder comes from the operating system, where "\" is an ordinary character of a
    // name: a folder called "prod\" still needs its separator.
    return platform::folderWithSlash(path);
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
