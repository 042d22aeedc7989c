#include "window/UpdaterSettings.h"

#include "platform/Events.h"
#include "platform/Numbers.h"
#include "platform/PropertyBag.h"
#include "platform/SettingsTrailer.h"
#include "platform/Text.h"

namespace window {
namespace {

using platform::PropertyValue;

QString asText(const PropertyValue &value) {
    if (const auto *text = std::get_if<QString>(&value))
        return *text;
    return QString::number(std::get<std::int32_t>(value));
}

// The identifier is the leading number of its text: "12abc" is 12, "abc" is 0.
std::int32_t leadingInteger(const PropertyValue &value) {
    if (const auto *number = std::get_if<std::int32_t>(&value))
        return *number;
    return platform::roundToInt32(platform::leadingNumber(std::get<QString>(value)));
}

// Theme values must be numbers as a whole; anything else throws and leaves the default.
std::int32_t numericInteger(const PropertyValue &value) {
    if (const auto *number = std::get_if<std::int32_t>(&value))
        return *number;
    const auto parsed = platform::parseNumber(std::get<QString>(value));
    if (!parsed)
        throw platform::OverflowError("not a number");
    return platform::roundToInt32(*parsed);
}

} // namespace

UpdaterSettings settingsFromBag(const platform::PropertyBag &bag) {
    UpdaterSettings s;
    auto readInto = [&bag](const char16_t *key, auto &&assign) {
        platform::ignoringErrors([&] {
            if (const auto value = bag.read(QStringView(key)))
                assign(*value);
        });
    };
    readInto(u"SoftwareName", [&](const PropertyValue &v) { s.SoftwareName = asText(v); });
    readInto(u"SoftwareID", [&](const PropertyValue &v) { s.SoftwareID = leadingInteger(v); });
    readInto(u"SoftwareThemeStyle",
             [&](const PropertyValue &v) { s.SoftwareThemeStyle = numericInteger(v); });
    readInto(u"SoftwareThemeColor",
             [&](const PropertyValue &v) { s.SoftwareThemeColor = numericInteger(v); });
    readInto(u"SoftwareThemeSpecialColor",
             [&](const PropertyValue &v) { s.SoftwareThemeSpecialColor = numericInteger(v); });
    readInto(u"PortalBase", [&](const PropertyValue &v) { s.PortalBase = asText(v); });
    readInto(u"PackagePublicKey", [&](const PropertyValue &v) { s.PackagePublicKey = asText(v); });
    readInto(u"PackagePublicKey2",
             [&](const PropertyValue &v) { s.PackagePublicKey2 = asText(v); });
    readInto(u"PackageRequireReleaseInfo",
             [&](const PropertyValue &v) { s.PackageRequireReleaseInfo = asText(v) == u"1"; });
    return s;
}

UpdaterSettings readUpdaterSettings(const QString &path) {
    UpdaterSettings settings;
    platform::ignoringErrors([&] {
        const auto contents = platform::readTrailerContents(path);
        if (!contents)
            return;
        if (const auto bag = platform::PropertyBag::fromContents(*contents))
            settings = settingsFromBag(*bag);
    });
    return settings;
}

} // namespace window
