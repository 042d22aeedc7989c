#pragma once

#include <cerrno>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QFileDevice>
#include <QString>

class QFile;

// Files that appear at their final path in one step: they are written under a hidden
// temporary name beside their destination and then moved into place, so no reader ever sees
// half a file.
namespace platform {

// Creates a new, empty file with a hidden name (".NAME.XXXXXXXX.part", NAME taken from the
// file name of `nameHint`) in `folder` and opens it for writing. The file gets 0666 less the
// umask, like any new file. Nothing, and the reason in `error`, when the folder is empty,
// missing or not writable.
std::unique_ptr<QFile> createHiddenTemporaryFile(const QString &folder, const QString &nameHint,
                                                 QString &error);

// Moves `from` to `to` in one step, replacing a file already at `to`; both must lie on the
// same file system. False, and the reason in `error`, when the move is impossible; `from`
// then stays where it was. (POSIX rename; a Windows build uses MoveFileEx.)
bool moveFileReplacing(const QString &from, const QString &to, QString &error);

// Writes `bytes` to `path` so that the file appears there whole or not at all: into a hidden
// temporary file beside it (given `permissions` when set, else those of any new file), then
// moved over whatever is at `path`. False, with the reason in `error` and no temporary file
// left, when any step fails; `path` is then as it was.
bool replaceFileContents(const QString &path, const QByteArray &bytes,
                         std::optional<QFileDevice::Permissions> permissions, QString &error);

enum class MoveResult { Moved, NameTaken, Failed };

// Moves `from` to `to` in one step only while nothing at all is at `to` — not even a
// dangling symbolic link; otherwise `NameTaken` and nothing changes, so a file that appears
// at the name meanwhile is never overwritten. `Failed`, with the reason in `error`, when the
// move is impossible for another reason. Uses renameat2(RENAME_NOREPLACE), and link + unlink
// on file systems without it (both refuse an existing name).
MoveResult moveFileWithoutReplacing(const QString &from, const QString &to, QString &error);

// `call()` again as long as it fails with EINTR: a signal that interrupts a file operation is
// no reason to give it up.
template <typename Call> auto retryInterrupted(Call call) {
    decltype(call()) result;
    do
        result = call();
    while (result == -1 && errno == EINTR);
    return result;
}

// The size of the file at `path` (following a symbolic link); nothing when it cannot be
// read. Unlike QFileInfo it tries again when a signal interrupts the call.
std::optional<qint64> fileSize(const QString &path);

// Flushes a file's data, or a folder's entries, to the disk (fsync). False, with the reason
// in `error`, when that fails.
bool syncToDisk(const QString &path, QString &error);

} // namespace platform
