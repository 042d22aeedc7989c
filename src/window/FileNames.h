#pragma once

#include <functional>

#include <QString>

// File-name operations of the updater window. Paths may use "/" or "\" as separators when
// they are cut into folder and name; new separators are the platform's own ("/").
namespace window {

// The empty text for a blank path; otherwise the path with one "/" at its end. The path is a
// folder as the system names it: a "\" at its end is part of the folder's name.
QString PathWithBackslash(const QString &path);

// Whether the file system knows the path (a folder counts); false for the empty path.
bool FileExists(const QString &path);

// The path itself when it is free, else the first free "name(n).ext" for n = 1 ... maxTries;
// the empty text when all are taken. A dot in a folder name is not an extension: such a
// path gets "(n)" at its end. `exists` and `maxTries` are seams for tests.
QString UniqueFileName(const QString &path,
                       const std::function<bool(const QString &)> &exists = FileExists,
                       int maxTries = 99999);

} // namespace window
