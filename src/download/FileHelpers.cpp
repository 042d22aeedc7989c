#include "download/FileHelpers.h"

#include <QDir>

#include "platform/Paths.h"
#include "platform/Text.h"

namespace download {

QTime systemClock() {
    return QTime::currentTime();
}

bool bFolderExists(const QString &path) {
    if (path.isEmpty())
        return false;
    // A folder that exists but cannot be listed counts as missing, as nothing could be
    // found in it.
    const QDir folder(path);
    return folder.exists() && folder.isReadable();
}

bool bFileExists(const QString &FileName) {
    return platform::pathExists(FileName);
}

QString bRenameExists(const QString &inFile, bool Overwrite, const Clock &clock) {
    if (Overwrite || !bFileExists(inFile))
        return inFile;
    return stampedFileName(inFile, clock());
}

QString stampedFileName(const QString &inFile, const QTime &time, int number) {
    const platform::PathStem parts = platform::splitExtension(inFile);
    QString renamed = parts.stem + QStringLiteral(", ") + platform::timeStampHHMMSS(time);
    if (number > 1)
        renamed += QStringLiteral(" (%1)").arg(number);
    if (parts.extension)
        renamed += QLatin1Char('.') + *parts.extension;
    return renamed;
}

} // namespace download
