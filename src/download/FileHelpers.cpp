#include "download/FileHelpers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include "platform/Files.h"
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
    // found in it. A signal that interrupts a call is no answer: it is asked again.
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (platform::retryInterrupted([&] { return ::stat(name.constData(), &info); }) != 0 ||
        !S_ISDIR(info.st_mode))
        return false;
    return platform::retryInterrupted([&] { return ::access(name.constData(), R_OK); }) == 0;
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
