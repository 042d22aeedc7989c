#pragma once

#include <cstdint>
#include <functional>

#include <QString>
#include <QTime>

// The path and file routines of the download control. Paths are cut as platform/Paths.h
// describes: "/" and "\" both separate folders, so asking for the last "\" finds the last of
// either. None of them reports an error; a failing step gives the neutral answer.
namespace download {

// The time of day that `bRenameExists` stamps into a name; a seam for tests.
using Clock = std::function<QTime()>;
QTime systemClock();

// Cuts `strPath` at the last `strDelim` (exact, case-sensitive):
//   1: what follows it   2: what precedes it
//   0: with "." the bare file name (the empty text when the last "." lies before the last
//      separator); with any other delimiter as 2
//   other styles: the empty text
// When the delimiter does not occur, styles 0, 1 and 2 give `strPath` itself.
QString bGetFileString(const QString &strPath, const QString &strDelim = QStringLiteral("."),
                       std::int32_t StrStyle = 0);

// Whether `path` names a folder that can be listed; false for the empty text.
bool bFolderExists(const QString &path);

// Whether the file system knows `FileName` (a folder counts); false for the empty text.
// `useUnicode` only matters where names have two encodings; here every name has one.
bool bFileExists(const QString &FileName, bool useUnicode = false);

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
