#pragma once

#include <optional>

#include <QString>
#include <QStringView>

// How the program sees paths. The names it is given were written for a system whose folder
// separator is "\", while ours is "/". When a path is cut into folder and name, both "/" and
// "\" count as separators, and asking for the last "\" finds the last of either. Paths the
// program builds itself use "/". "." introduces the extension only when it lies after the
// last separator. All comparisons are exact (case-sensitive).
namespace platform {

bool isPathSeparator(QChar c);

// Position of the last "/" or "\" in `path`, -1 when there is none.
qsizetype lastPathSeparator(QStringView path);

// `path` split into the part before its extension and the extension (without the "."). A
// path whose last "." lies before its last separator, or that has no ".", has no extension.
struct PathStem {
    QString stem;
    std::optional<QString> extension;
};
PathStem splitExtension(const QString &path);

// The folder of a path the system gave us or that we built ourselves, cut at its last "/"
// only: "\" is an ordinary character of such names. "/" for a name in the root folder, the
// empty text for a path without a "/".
QString systemFolderOf(const QString &path);

// The file name of such a path: everything after its last "/".
QString systemFileNameOf(const QString &path);

// `folder` ready for a name to be appended: as it is when it ends with "/", else with "/"
// added ("" gives "/"). A "\" at its end is part of the folder's name.
QString folderWithSlash(const QString &folder);

// Whether the file system knows `path` (a folder counts too); false for the empty path. A
// symbolic link counts as what it is, dangling or not: a name it holds is taken.
bool pathExists(const QString &path);

} // namespace platform
