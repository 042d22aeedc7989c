#include "net/PartialDownloads.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace net {
namespace {

const QByteArray SidecarHeader = "update-tool partial 1";
// A sidecar holds an address and a validator: anything longer is not ours.
constexpr qint64 SidecarLimit = 16 * 1024;

QString partialBaseName(const QString &url) {
    const QByteArray digest =
        QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return QStringLiteral(".update-tool-") + QString::fromLatin1(digest);
}

// Opens `path` without following a symbolic link and without waiting (a FIFO would block
// the open); -1 unless it is a regular file of ours with no other name (a hard link would let
// the bytes land elsewhere).
int openOwnRegularFile(const QString &path, int flags) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = platform::retryInterrupted([&] {
        return ::open(name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    });
    if (fd < 0)
        return -1;
    struct stat info {};
    if (platform::retryInterrupted([&] { return ::fstat(fd, &info); }) != 0 ||
        !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_nlink != 1 ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// Whether `path` itself (not what a link points to) is a regular file of ours.
bool isOwnRegularFile(const QString &path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_uid == ::geteuid();
}

std::optional<PartialSidecar> readSidecarAt(const QString &path) {
    const int fd = openOwnRegularFile(path, O_RDONLY);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    const QByteArray text = file.read(SidecarLimit + 1);
    if (text.size() > SidecarLimit)
        return std::nullopt;
    return decodeSidecar(text);
}

} // namespace

QByteArray encodeSidecar(const PartialSidecar &sidecar) {
    return SidecarHeader + "\nurl=" + sidecar.url.toUtf8() + "\nvalidator=" + sidecar.validator +
           "\nsize=" + QByteArray::number(sidecar.size) + '\n';
}

std::optional<PartialSidecar> decodeSidecar(const QByteArray &text) {
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 5 || lines[0] != SidecarHeader || !lines[4].isEmpty() ||
        !lines[1].startsWith("url=") || !lines[2].startsWith("validator=") ||
        !lines[3].startsWith("size="))
        return std::nullopt;
    PartialSidecar sidecar;
    sidecar.url = QString::fromUtf8(lines[1].mid(4));
    sidecar.validator = lines[2].mid(10);
    bool ok = false;
    sidecar.size = lines[3].mid(5).toLongLong(&ok);
    if (!ok || sidecar.size <= 0 || sidecar.url.isEmpty() || sidecar.validator.isEmpty())
        return std::nullopt;
    return sidecar;
}

std::unique_ptr<PartialDownload> PartialDownload::open(const QString &folder, const QString &url,
                                                       QString &error) {
    if (folder.isEmpty()) {
        error = QStringLiteral("no folder to keep the download in");
        return nullptr;
    }
    const QString base = platform::folderWithSlash(folder) + partialBaseName(url);
    const QString path = base + QStringLiteral(".part");
    int fd = -1;
    // The start-up clean-up may remove the file between its opening here and the lock: a
    // file without a name any more is opened afresh.
    for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
        fd = openOwnRegularFile(path, O_RDWR | O_CREAT);
        if (fd < 0) {
            error = QStringLiteral("cannot create a temporary file in %1: %2")
                        .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
            return nullptr;
        }
        if (platform::retryInterrupted([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
            ::close(fd);
            error = QStringLiteral("%1 is in use by another download").arg(path);
            return nullptr;
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0 || info.st_nlink != 1) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        error = QStringLiteral("%1 keeps being removed").arg(path);
        return nullptr;
    }
    std::unique_ptr<PartialDownload> partial(new PartialDownload);
    partial->m_file = std::make_unique<QFile>(path);
    if (!partial->m_file->open(fd, QIODevice::ReadWrite, QFile::AutoCloseHandle)) {
        ::close(fd);
        error = QStringLiteral("cannot open %1").arg(path);
        return nullptr;
    }
    partial->m_path = path;
    partial->m_sidecarPath = base + QStringLiteral(".resume");
    return partial;
}

PartialDownload::~PartialDownload() = default;

std::optional<PartialSidecar> PartialDownload::readSidecar() const {
    return readSidecarAt(m_sidecarPath);
}

bool PartialDownload::writeSidecar(const PartialSidecar &sidecar) const {
    QString error;
    return platform::replaceFileContents(m_sidecarPath, encodeSidecar(sidecar), std::nullopt,
                                         error);
}

void PartialDownload::removeSidecar() const {
    if (isOwnRegularFile(m_sidecarPath))
        QFile::remove(m_sidecarPath);
}

void PartialDownload::keep() {
    m_file->close();
}

void PartialDownload::discard() {
    m_file->close();
    QFile::remove(m_path);
    removeSidecar();
}

std::optional<QString> takeOverFinishedFile(const QString &path, QString &error) {
    const QString folder = QFileInfo(path).absolutePath();
    // A few tries: another file at a random name of 128 bits is a planted one, not chance.
    for (int attempt = 0; attempt < 4; ++attempt) {
        QByteArray random(16, Qt::Uninitialized);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()), 4);
        const QString name = folder + QStringLiteral("/.update-tool-") +
                             QString::fromLatin1(random.toHex()) + QStringLiteral(".part");
        const platform::MoveResult moved = platform::moveFileWithoutReplacing(path, name, error);
        if (moved == platform::MoveResult::Moved)
            return name;
        if (moved == platform::MoveResult::Failed)
            return std::nullopt;
    }
    error = QStringLiteral("no free name to keep %1 under").arg(path);
    return std::nullopt;
}

bool isPartialDownloadName(const QString &name) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\.update-tool-[0-9a-f]{32}\\.(part|resume)$"));
    return pattern.match(name).hasMatch();
}

int removeStalePartialDownloads(const QString &folder, std::chrono::hours maximumAge,
                                const QDateTime &now,
                                const std::function<void(const QString &)> &beforeRemoving) {
    const QString prefix = platform::folderWithSlash(folder);
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    const qint64 oldest = now.toSecsSinceEpoch() -
                          std::chrono::duration_cast<std::chrono::seconds>(maximumAge).count();
    int removed = 0;
    // Only regular files of ours: a link, a FIFO or another user's file with our name is not
    // ours to judge.
    const auto remove = [&](const QString &path) {
        if (isOwnRegularFile(path) && ::unlink(QFile::encodeName(path).constData()) == 0)
            ++removed;
    };
    for (const QString &name : names) {
        if (!isPartialDownloadName(name))
            continue;
        const QString path = prefix + name;
        if (name.endsWith(QStringLiteral(".resume"))) {
            const QString partial = path.chopped(7) + QStringLiteral(".part");
            struct stat info {};
            if (::lstat(QFile::encodeName(partial).constData(), &info) != 0)
                remove(path);
            continue;
        }
        const int fd = openOwnRegularFile(path, O_RDONLY);
        if (fd < 0)
            continue;
        // The lock is held until both files are gone: a read that starts meanwhile finds the
        // file in use, and one that starts after finds no file, never one half removed.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat info {};
            const bool old = ::fstat(fd, &info) == 0 && info.st_mtim.tv_sec < oldest;
            const QString sidecar = path.chopped(5) + QStringLiteral(".resume");
            if (old || !readSidecarAt(sidecar)) {
                if (beforeRemoving)
                    beforeRemoving(path);
                remove(sidecar);
                remove(path);
            }
        }
        ::close(fd);
    }
    return removed;
}

} // namespace net
