#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The packages this user's copies published last, one per product and folder, so that the
// next download can start from the previous package (a delta download) while it is still
// there, unchanged. Kept beside the release history, one package a line:
//   PRODUCT<TAB>SIZE<TAB>BLAKE2B-512 (hex)<TAB>PATH
namespace window {

struct PublishedPackage {
    std::int32_t product = 0;
    qint64 size = 0;
    QByteArray blake2b; // 64 bytes
    QString path;       // absolute

    bool operator==(const PublishedPackage &) const = default;
};

using PublishedPackages = std::vector<PublishedPackage>;

inline constexpr qsizetype MaxPublishedPackagesSize = 256 * 1024;

// "packages" beside the release history (releaseHistoryPath()).
QString publishedPackagesPath();

QByteArray formatPublishedPackages(const PublishedPackages &packages);
// Nothing when the text is damaged in any way: a damaged file counts as absent.
std::optional<PublishedPackages> parsePublishedPackages(QByteArrayView text);
// `packages` with `package` in it, replacing the entry of the same product and folder.
PublishedPackages withPublished(PublishedPackages packages, const PublishedPackage &package);

// The size and BLAKE2b-512 of the file at `path` for `product`; nothing, with the reason,
// when it cannot be read or its path cannot be kept in the file. Never throws.
std::optional<PublishedPackage> describePackage(std::int32_t product, const QString &path,
                                                QString &error);

// The package published last for `product` in `folder`, when it is still there with the same
// size and hash; otherwise nothing, and `why` says what changed (it stays empty when none was
// recorded). Hashes the file again.
std::optional<QString> deltaBase(const PublishedPackages &packages, std::int32_t product,
                                 const QString &folder, QString &why);

// Read and write as the release history is; a missing file is empty. Never throw.
PublishedPackages readPublishedPackages(const QString &path, QString &error);
bool writePublishedPackages(const QString &path, const PublishedPackages &packages, QString &error);

} // namespace window
