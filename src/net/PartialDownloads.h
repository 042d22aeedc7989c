#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QString>

class QFile;

// The bytes of an unfinished download kept beside its destination so that a later run can
// resume it: a hidden partial file whose name is derived from the address, and a small
// sidecar that tells which answer of the server the bytes belong to. Both carry this
// program's own name pattern, ".update-tool-<32 hex digits>.part" and "….resume", so that
// nothing else is ever taken for them.
namespace net {

// What the sidecar holds: the bytes are the start of the answer at `url` whose validator
// (a strong ETag, else Last-Modified) and full size were these.
struct PartialSidecar {
    QString url;
    QByteArray validator;
    qint64 size = 0;

    bool operator==(const PartialSidecar &) const = default;
};

// The sidecar's text, and back; nothing for text that is not a complete sidecar.
QByteArray encodeSidecar(const PartialSidecar &sidecar);
std::optional<PartialSidecar> decodeSidecar(const QByteArray &text);

// The partial file of one address in one folder, opened and locked by this process.
class PartialDownload {
public:
    // Opens (creating it when missing) the partial file of `url` in `folder`, never through
    // a symbolic link and only when it is a regular file of this user, and locks it. Nothing,
    // with the reason in `error`, when that fails or another read already holds it.
    static std::unique_ptr<PartialDownload> open(const QString &folder, const QString &url,
                                                 QString &error);
    ~PartialDownload();

    QFile &file() { return *m_file; }
    const QString &path() const { return m_path; }
    const QString &sidecarPath() const { return m_sidecarPath; }
    // The sidecar found beside the partial file; nothing when it is missing or unreadable.
    std::optional<PartialSidecar> readSidecar() const;
    // Replaces the sidecar in one step. False when it cannot be written.
    bool writeSidecar(const PartialSidecar &sidecar) const;
    // Removes the sidecar (the bytes no longer belong to a known answer) when it is a regular
    // file of this user.
    void removeSidecar() const;
    // Closes the file and leaves both files for a later run.
    void keep();
    // Closes and removes both files.
    void discard();

private:
    PartialDownload() = default;

    std::unique_ptr<QFile> m_file;
    QString m_path;
    QString m_sidecarPath;
};

// Moves the finished file `path` to a fresh partial-file name in its folder, never replacing
// anything, and gives that name: the receiver of a download keeps the bytes there while it
// checks them, and since no sidecar goes with them, a later start removes them should the
// process die first. Nothing, with the reason in `error`, when the move fails.
std::optional<QString> takeOverFinishedFile(const QString &path, QString &error);

// Whether `name` (a bare file name) is one of this program's partial or sidecar files.
bool isPartialDownloadName(const QString &name);

// Removes, in `folder`, this program's partial files that are older than `maximumAge` or
// whose sidecar is missing or unreadable, with their sidecars, and sidecars without a
// partial file. Files in use by a running read, anything at those names that is not a
// regular file of this user (a link, a FIFO, another user's file), and any other file are
// left alone; nothing is opened in a way that could wait.
// A partial file is removed, sidecar first, while this holds its lock, so that no read can
// take it up in between; `beforeRemoving` (a seam for tests) is called with its path then.
// Returns how many files were removed.
int removeStalePartialDownloads(const QString &folder,
                                std::chrono::hours maximumAge = std::chrono::hours(24 * 7),
                                const QDateTime &now = QDateTime::currentDateTimeUtc(),
                                const std::function<void(const QString &)> &beforeRemoving = {});

} // namespace net
