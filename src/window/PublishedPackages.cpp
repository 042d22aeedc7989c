#include "window/PublishedPackages.h"

#include <algorithm>
#include <limits>

#include <QDir>
#include <QFile>
#include <QList>
#include <QStringDecoder>

#include "signing/PackageVerifier.h"
#include "window/ReleaseHistory.h"
#include "window/StateFiles.h"

namespace window {
namespace {

constexpr qsizetype MaxEntries = 1024;
constexpr qsizetype DigestSize = 64;

bool keepablePath(const QString &path) {
    return QDir::isAbsolutePath(path) && !path.contains(u'\t') && !path.contains(u'\n') &&
           !path.contains(u'\r');
}

std::optional<PublishedPackage> parseLine(const QByteArray &line) {
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 4)
        return std::nullopt;
    const auto product = stateDecimal(fields[0], std::numeric_limits<std::int32_t>::max());
    const auto size = stateDecimal(fields[1], std::numeric_limits<qint64>::max() / 16);
    const QByteArray digest = QByteArray::fromHex(fields[2]);
    if (!product || !size || fields[2].size() != 2 * DigestSize || digest.size() != DigestSize ||
        digest.toHex() != fields[2].toLower())
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString path = utf8.decode(fields[3]);
    if (utf8.hasError() || !keepablePath(path))
        return std::nullopt;
    return PublishedPackage{std::int32_t(*product), *size, digest, path};
}

std::optional<QByteArray> hashFile(const QString &path, qint64 &size, QString &error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    signing::Blake2b512 hasher;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    size = 0;
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0) {
            error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return std::nullopt;
        }
        if (n == 0)
            break;
        hasher.update(QByteArrayView(buffer.constData(), n));
        size += n;
    }
    const signing::Blake2b512Digest digest = hasher.finish();
    return QByteArray(reinterpret_cast<const char *>(digest.data()), qsizetype(digest.size()));
}

} // namespace

QString publishedPackagesPath() {
    return QFileInfo(releaseHistoryPath()).absolutePath() + QStringLiteral("/packages");
}

QByteArray formatPublishedPackages(const PublishedPackages &packages) {
    QByteArray text;
    for (const PublishedPackage &package : packages)
        if (keepablePath(package.path) && package.blake2b.size() == DigestSize)
            text += QByteArray::number(package.product) + '\t' + QByteArray::number(package.size) +
                    '\t' + package.blake2b.toHex() + '\t' + package.path.toUtf8() + '\n';
    return text;
}

std::optional<PublishedPackages> parsePublishedPackages(QByteArrayView text) {
    if (text.size() > MaxPublishedPackagesSize || (!text.isEmpty() && !text.endsWith('\n')))
        return std::nullopt;
    PublishedPackages packages;
    for (const QByteArray &line : text.toByteArray().split('\n')) {
        if (line.isEmpty())
            continue;
        auto package = parseLine(line);
        if (!package || qsizetype(packages.size()) >= MaxEntries)
            return std::nullopt;
        packages.push_back(std::move(*package));
    }
    return packages;
}

PublishedPackages withPublished(PublishedPackages packages, const PublishedPackage &package) {
    const QString folder = QFileInfo(package.path).absolutePath();
    packages.erase(std::remove_if(packages.begin(), packages.end(),
                                  [&](const PublishedPackage &entry) {
                                      return entry.product == package.product &&
                                             QFileInfo(entry.path).absolutePath() == folder;
                                  }),
                   packages.end());
    packages.push_back(package);
    // The oldest go first when the file would grow past its limit.
    while (qsizetype(packages.size()) > MaxEntries)
        packages.erase(packages.begin());
    return packages;
}

std::optional<PublishedPackage> describePackage(std::int32_t product, const QString &path,
                                                QString &error) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!keepablePath(absolute)) {
        error = QStringLiteral("the path %1 cannot be recorded").arg(path);
        return std::nullopt;
    }
    qint64 size = 0;
    auto digest = hashFile(absolute, size, error);
    if (!digest)
        return std::nullopt;
    return PublishedPackage{product, size, *digest, absolute};
}

std::optional<QString> deltaBase(const PublishedPackages &packages, std::int32_t product,
                                 const QString &folder, QString &why) {
    const QString absoluteFolder = QDir::cleanPath(QDir(folder).absolutePath());
    const auto found =
        std::find_if(packages.rbegin(), packages.rend(), [&](const PublishedPackage &entry) {
            return entry.product == product &&
                   QFileInfo(entry.path).absolutePath() == absoluteFolder;
        });
    if (found == packages.rend())
        return std::nullopt; // never published here: nothing to say
    const QFileInfo info(found->path);
    if (!info.isFile() || info.size() != found->size) {
        why = QStringLiteral("%1 is gone or changed").arg(found->path);
        return std::nullopt;
    }
    QString error;
    const auto now = describePackage(product, found->path, error);
    if (!now || *now != *found) {
        why = error.isEmpty() ? QStringLiteral("%1 changed since it was published").arg(found->path)
                              : error;
        return std::nullopt;
    }
    return found->path;
}

PublishedPackages readPublishedPackages(const QString &path, QString &error) {
    const std::optional<QByteArray> text = readStateFile(path, MaxPublishedPackagesSize, error);
    if (!text)
        return {};
    auto packages = parsePublishedPackages(*text);
    if (!packages) {
        error = QStringLiteral("%1 is damaged and counts as empty").arg(path);
        return {};
    }
    return std::move(*packages);
}

bool writePublishedPackages(const QString &path, const PublishedPackages &packages,
                            QString &error) {
    return writeStateFile(path, formatPublishedPackages(packages), error);
}

} // namespace window
