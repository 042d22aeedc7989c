#include "window/FileNames.h"

#include "platform/Paths.h"
#include "platform/Text.h"

namespace window {

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
