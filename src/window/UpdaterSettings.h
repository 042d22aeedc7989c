#pragma once

#include <cstdint>
#include <optional>

#include <QString>

namespace platform {
class PropertyBag;
}

namespace window {

// The values a stamped copy carries in its settings trailer, read once at start-up. A
// missing trailer, a damaged one or an absent key leaves its value as listed here.
struct UpdaterSettings {
    QString SoftwareName;
    std::int32_t SoftwareID = 0;
    std::int32_t SoftwareThemeStyle = 0;
    std::int32_t SoftwareThemeColor = 0;
    std::int32_t SoftwareThemeSpecialColor = 0;
    // Overrides the built-in portal base for this copy (demo and tests point it at a
    // portal on 127.0.0.1). Absent in ordinary trailers.
    std::optional<QString> PortalBase;
    // The vendor's minisign public key (base64 line): a copy that carries one publishes only
    // packages signed with it. Absent in ordinary trailers.
    std::optional<QString> PackagePublicKey;
    // A second key, for a vendor that rotates keys: the signature's key id picks the key.
    std::optional<QString> PackagePublicKey2;
    // "1": a signature's trusted comment must name the product, version and size.
    bool PackageRequireReleaseInfo = false;
};

// Converts the bag's values. Each key is its own step: a value that does not convert keeps
// the default without affecting the others. Never throws.
UpdaterSettings settingsFromBag(const platform::PropertyBag &bag);

// Reads the trailer of the executable at `path`; defaults when it has none. Never throws.
UpdaterSettings readUpdaterSettings(const QString &path);

} // namespace window
