#pragma once

#include <functional>

#include <QString>
#include <QTime>

// The file routines of the download control. A name's extension follows the last "." after
// its last "/" or "\" (platform/Paths.h). None of them reports an error; a failing step gives
// the neutral answer.
namespace download {

// The time of day that `bRenameExists` stamps into a name; a seam for tests.
using Clock = std::function<QTime()>;
QTime systemClock();

// Whether `path` names a folder that can be listed; false for the empty text.
bool bFolderExists(const QString &path);

// Whether the file system knows `FileName` (a folder counts); false for the empty text.
bool bFileExists(const QString &FileName);

// `inFile` itself when no such file exists or `Overwrite` is true; otherwise the name with
// ", HHMMSS" (the clock's time) before its extension: /dl/setup.exe at 09:05:07 becomes
// "/dl/setup, 090507.exe". A name without an extension (no ".", or a "." only in a folder
// name) gets the stamp at its end. The new name is not checked again.
QString bRenameExists(const QString &inFile, bool Overwrite = false,
                      const Clock &clock = systemClock);

// `inFile` with ", HHMMSS" before its extension as `bRenameExists` stamps it, and for a
// `number` above 1 also " (NUMBER)": the further names tried when the stamped one is taken.
QString stampedFileName(const QString &inFile, const QTime &time, int number = 1);

} // namespace download
