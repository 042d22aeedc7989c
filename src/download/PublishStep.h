#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArrayView>
#include <QString>
#include <QTime>

#include "download/FileHelpers.h"
#include "net/ReadService.h"

// The last step of a download to a file: the finished temporary file passes every check of
// its download, is flushed to disk and is moved to a free name beside the save path without
// ever replacing anything that appeared there meanwhile.
namespace download {

// One check of one download's bytes before they are published. A check may follow the
// bytes as they are written (to hash them without reading the file again) and decides on the
// finished file.
class PublishCheck {
public:
    virtual ~PublishCheck() = default;

    // The bytes of the temporary file in the order they are written, starting at `offset`.
    // An offset of 0 means the file starts over: forget everything seen before.
    // `bytes` may be kept: see net::ChunkObserver.
    virtual void observe(qint64 /*offset*/, const QByteArray & /*bytes*/) {}
    // Whether the finished file at `file` may be published; when not, `error` says why and
    // the download fails with it. An exception from here fails the download too; one from
    // `observe` is dropped, so the check must then refuse the file here.
    virtual bool verify(const QString &file, QString &error) = 0;
    // What a refusal by this check is, for the host to tell the user.
    virtual net::FailureKind refusalKind() const { return net::FailureKind::RefusedArchive; }
    // The exact size the finished file must have, when the check knows it in advance: the
    // download then fails as soon as the server announces another length or sends one byte
    // more, instead of after the whole answer has arrived.
    virtual std::optional<qint64> expectedSize() const { return std::nullopt; }
};

using PublishChecks = std::vector<std::unique_ptr<PublishCheck>>;

// Makes the check of one download of `url` saved as `saveFileName`; nullptr when the check
// does not apply to it.
using PublishCheckFactory =
    std::function<std::unique_ptr<PublishCheck>(const QString &url, const QString &saveFileName)>;

// The most entries a package's archive may hold: more would cost the check memory and time
// out of all proportion (its directory is read whole), and no package needs them.
inline constexpr quint64 MaximumZipEntries = 200'000;

// The check for packages saved as ".zip" (letter case ignored): the archive must open with
// libzip's consistency checks and hold at least one entry and at most `MaximumZipEntries`
// (the count its end record declares is checked before the directory is read). Transport
// damage (a cut, a corrupt directory) fails here for every copy, signed or not.
std::unique_ptr<PublishCheck> zipArchiveCheck(const QString &url, const QString &saveFileName);
// The same check with another limit on the entries (for tests).
std::unique_ptr<PublishCheck> zipEntriesCheck(quint64 maximumEntries);

// The first half of publishing `file`, which reads it whole and so may run on any thread (it
// touches only the file and `checks`): runs `checks` on the finished `file` in order, stopping
// at the first failure, and flushes it to disk. Before each step it looks at `stop` and gives
// up when it is set. False, with the reason in `error` and its kind in `kind` (the refusing
// check's, else Disk), when the file must not be published. Never throws out of a check.
bool verifyDownload(const QString &file, const PublishChecks &checks, const std::atomic<bool> &stop,
                    QString &error, net::FailureKind &kind);

// The second half: moves the verified `file` to `bRenameExists(saveFileName, overwrite, now)`
// and gives the path it now has; when another file took the name meanwhile, to the next free
// name ("NAME, HHMMSS (2).EXT", …). With `overwrite` an existing file at the save path is
// replaced instead. The folder is flushed after the move, so the published name survives a
// power cut. On failure, nothing and the reason in `error`; `file` stays where it was.
std::optional<QString> moveDownload(const QString &file, const QString &saveFileName,
                                    bool overwrite, QTime now, QString &error);

} // namespace download
