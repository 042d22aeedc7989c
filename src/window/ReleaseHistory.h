#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArrayView>
#include <QString>

#include "signing/Minisign.h"

// The releases this user's copies have published, so that an older signed release cannot be
// passed off as new (a rollback): per product and vendor key, the newest signed timestamp
// and its version. Kept in a small text file, one release a line:
//   PRODUCT<TAB>KEY ID (hex)<TAB>TIMESTAMP<TAB>VERSION
namespace window {

struct AcceptedRelease {
    std::int32_t product = 0;
    signing::KeyId keyId{};
    qint64 timestamp = 0;
    QString version;
};

using ReleaseHistory = std::vector<AcceptedRelease>;

inline constexpr qsizetype MaxReleaseHistorySize = 64 * 1024;

// "$XDG_STATE_HOME/update-tool/releases", with ~/.local/state when the variable is unset or
// not an absolute path.
QString releaseHistoryPath();

// The newest timestamp accepted for `product` signed with `keyId`.
std::optional<qint64> newestAccepted(const ReleaseHistory &history, std::int32_t product,
                                     const signing::KeyId &keyId);
// `history` with `release` in it; an entry of the same product and key is replaced unless it
// is newer.
ReleaseHistory withAccepted(ReleaseHistory history, const AcceptedRelease &release);

QByteArray formatReleaseHistory(const ReleaseHistory &history);
// Nothing when the text is damaged in any way: a damaged history counts as absent.
std::optional<ReleaseHistory> parseReleaseHistory(QByteArrayView text);

// The history at `path`; empty when there is none. A file that cannot be read, or is
// damaged, also gives an empty history, with the reason in `error`. Never throws.
ReleaseHistory readReleaseHistory(const QString &path, QString &error);
// Replaces the file at `path` in one step (its folder is made when missing). Never throws.
bool writeReleaseHistory(const QString &path, const ReleaseHistory &history, QString &error);

} // namespace window
