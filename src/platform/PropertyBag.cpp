#include "platform/PropertyBag.h"

#include <cstring>

#include <QtEndian>

namespace platform {
namespace {

constexpr char ContentsMark[4] = {'\x93', '\xB2', '\x00', '\x00'};
constexpr qsizetype HeaderSize = 8;
constexpr qsizetype EntryHeaderSize = 12;

// Bounds-checked little-endian reads from the contents block.
class Cursor {
public:
    explicit Cursor(QByteArrayView bytes)
        : m_bytes(bytes) {}

    bool fits(qsizetype offset, qsizetype length) const {
        return offset >= 0 && length >= 0 && offset <= m_bytes.size() &&
               length <= m_bytes.size() - offset;
    }
    template <typename T> std::optional<T> read(qsizetype offset) const {
        if (!fits(offset, sizeof(T)))
            return std::nullopt;
        return qFromLittleEndian<T>(m_bytes.data() + offset);
    }
    std::optional<QString> utf16(qsizetype offset, qint64 units) const {
        if (units < 0 || units > m_bytes.size() / 2 || !fits(offset, units * 2))
            return std::nullopt;
        QString text(units, Qt::Uninitialized);
        for (qsizetype i = 0; i < units; ++i)
            text[i] = QChar(qFromLittleEndian<quint16>(m_bytes.data() + offset + 2 * i));
        return text;
    }

private:
    QByteArrayView m_bytes;
};

void appendLE16(QByteArray &out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
void appendLE32(QByteArray &out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void appendUtf16(QByteArray &out, QStringView text) {
    for (QChar c : text)
        appendLE16(out, c.unicode());
}

} // namespace

std::optional<PropertyBag> PropertyBag::fromContents(QByteArrayView contents) {
    const Cursor whole(contents);
    if (contents.size() < HeaderSize || std::memcmp(contents.data(), ContentsMark, 4) != 0)
        return std::nullopt;
    const auto total = whole.read<qint32>(4);
    if (!total || *total < HeaderSize || *total > contents.size() ||
        *total > MaxPropertyBagContents)
        return std::nullopt;

    PropertyBag bag;
    qsizetype entry = HeaderSize;
    // Entries never overlap: an entry's name and value must end before the entry its offset
    // leads to, and only a forward step continues the walk. The last entry (its offset leads
    // back, or out of the block) may use the rest of the block. So every decoded byte comes
    // from its own place in the block and the decoded total never exceeds the block.
    const QByteArrayView block = contents.first(*total);
    const Cursor header(block);
    while (header.fits(entry, EntryHeaderSize)) {
        const auto type = *header.read<quint16>(entry);
        const auto nameLength = *header.read<quint16>(entry + 2);
        const qint64 nextEntry = qint64(entry) + *header.read<qint32>(entry + 8);
        const bool goesOn = nextEntry > entry && nextEntry < *total;
        const Cursor room(block.first(goesOn ? static_cast<qsizetype>(nextEntry) : block.size()));
        const auto name = room.utf16(entry + EntryHeaderSize, nameLength);
        if (!name)
            break;
        const qsizetype valueAt = entry + EntryHeaderSize + 2 * qsizetype(nameLength);
        if (type == PropertyTypeText) {
            const auto length = room.read<qint32>(valueAt);
            const auto text = length ? room.utf16(valueAt + 4, *length) : std::nullopt;
            if (!text)
                break;
            bag.m_properties.push_back({*name, *text});
        } else if (type == PropertyTypeLong) {
            const auto value = room.read<qint32>(valueAt);
            if (!value)
                break;
            bag.m_properties.push_back({*name, *value});
        }
        // Other value types are stepped over: the ring says where the next entry starts.
        if (!goesOn)
            break;
        entry = static_cast<qsizetype>(nextEntry);
    }
    return bag;
}

std::optional<PropertyValue> PropertyBag::read(QStringView name) const {
    for (const Property &p : m_properties)
        if (name.compare(p.name, Qt::CaseInsensitive) == 0)
            return p.value;
    return std::nullopt;
}

void PropertyBag::write(const QString &name, const PropertyValue &value) {
    for (Property &p : m_properties)
        if (name.compare(p.name, Qt::CaseInsensitive) == 0) {
            p.value = value;
            return;
        }
    m_properties.push_back({name, value});
}

std::uint32_t PropertyBag::nameHash(QStringView lowerCaseName) {
    std::uint32_t hash = 2166136261u;
    for (QChar c : lowerCaseName)
        for (const unsigned byte : {c.unicode() & 0xFFu, unsigned(c.unicode()) >> 8u}) {
            hash ^= byte;
            hash *= 16777619u;
        }
    return hash;
}

QByteArray PropertyBag::contents() const {
    QByteArray entries;
    qsizetype lastEntryStart = 0;
    for (const Property &p : m_properties) {
        const QString name = p.name.toLower();
        QByteArray entry;
        const bool isText = std::holds_alternative<QString>(p.value);
        appendLE16(entry, isText ? PropertyTypeText : PropertyTypeLong);
        appendLE16(entry, static_cast<quint16>(name.size()));
        appendLE32(entry, nameHash(name));
        appendLE32(entry, 0); // next-entry offset, set below
        appendUtf16(entry, name);
        if (isText) {
            const QString &text = std::get<QString>(p.value);
            appendLE32(entry, static_cast<quint32>(text.size()));
            appendUtf16(entry, text);
        } else {
            appendLE32(entry, static_cast<quint32>(std::get<std::int32_t>(p.value)));
        }
        while (entry.size() % 4 != 0)
            entry.append('\0');
        qToLittleEndian(static_cast<qint32>(entry.size()), entry.data() + 8);
        lastEntryStart = entries.size();
        entries.append(entry);
    }
    if (!entries.isEmpty()) // close the ring: the last entry leads back to the first
        qToLittleEndian(static_cast<qint32>(-lastEntryStart), entries.data() + lastEntryStart + 8);

    QByteArray out(ContentsMark, 4);
    appendLE32(out, static_cast<quint32>(HeaderSize + entries.size()));
    out.append(entries);
    return out;
}

} // namespace platform
