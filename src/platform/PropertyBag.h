#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include <QByteArray>
#include <QString>

namespace platform {

// A property bag's value: text (type 8) or a 32-bit signed integer (type 3).
using PropertyValue = std::variant<QString, std::int32_t>;

// Reader and writer of the property-bag contents format:
//   mark 93 B2 00 00 | total size (4) | entries, each on a 4-byte boundary:
//   type (2) | name length L (2) | name hash (4) | offset to next entry (4) |
//   name UTF-16LE (2L) | value: type 8 = length V (4) + UTF-16LE (2V); type 3 = 4 bytes
// The next-entry offsets form a ring: the last entry's offset leads back to the first.
// Names are looked up without regard to letter case; the writer stores them in lower case.
class PropertyBag {
public:
    struct Property {
        QString name;
        PropertyValue value;
    };

    PropertyBag() = default;

    // Parses untrusted bytes. Nothing when the mark or the total size is wrong, or the block
    // is larger than MaxPropertyBagContents. Damaged entries are never read past the block:
    // the walk along the ring stops at the first entry whose name or value would run past
    // the block or into the entry after it (entries never overlap), and the keys not
    // reached by then are simply absent. The decoded text is at most the block's size.
    static std::optional<PropertyBag> fromContents(QByteArrayView contents);

    // The value stored under `name` (letter case ignored); nothing when absent.
    std::optional<PropertyValue> read(QStringView name) const;

    // Sets `name` to `value`, replacing a property of the same name (letter case ignored)
    // in place, or adding it at the end.
    void write(const QString &name, const PropertyValue &value);

    const std::vector<Property> &properties() const { return m_properties; }

    // The contents block for the properties in their order.
    QByteArray contents() const;

    // The name hash the writer stores: FNV-1a over the lower-case UTF-16LE name. Readers
    // here find keys by name and never check it.
    static std::uint32_t nameHash(QStringView lowerCaseName);

private:
    std::vector<Property> m_properties;
};

// A bag holds a handful of short texts; a block near this size is damage, not data.
inline constexpr qsizetype MaxPropertyBagContents = 1 << 20;

// Value types of the format.
inline constexpr std::uint16_t PropertyTypeLong = 3;
inline constexpr std::uint16_t PropertyTypeText = 8;

} // namespace platform
