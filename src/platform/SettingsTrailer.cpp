#include "platform/SettingsTrailer.h"

#include <QFile>
#include <QIODevice>
#include <QtEndian>

namespace platform {
namespace {

constexpr qint64 PositionFieldSize = 4;
constexpr qint64 ArrayHeaderSize = 12;

std::optional<QByteArray> readExactly(QIODevice &device, qint64 offset, qint64 length) {
    if (!device.seek(offset))
        return std::nullopt;
    QByteArray bytes = device.read(length);
    if (bytes.size() != length)
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<TrailerLocation> locateTrailer(QIODevice &device) {
    const qint64 size = device.size();
    if (size < PositionFieldSize + ArrayHeaderSize)
        return std::nullopt;
    const auto positionField = readExactly(device, size - PositionFieldSize, PositionFieldSize);
    if (!positionField)
        return std::nullopt;
    const qint32 position = qFromLittleEndian<qint32>(positionField->constData());
    if (position <= 0)
        return std::nullopt;
    const qint64 start = qint64(position) - 1;
    const qint64 room = size - PositionFieldSize - start - ArrayHeaderSize;
    if (room < 0)
        return std::nullopt;

    const auto header = readExactly(device, start, ArrayHeaderSize);
    if (!header)
        return std::nullopt;
    const char *h = header->constData();
    const auto type = qFromLittleEndian<quint16>(h);
    const auto dimensions = qFromLittleEndian<quint16>(h + 2);
    const auto count = qFromLittleEndian<qint32>(h + 4);
    if (type != ByteArrayVariantType || dimensions != 1 || count < 0 || count > room ||
        count > MaxTrailerContents)
        return std::nullopt;
    return TrailerLocation{start, count, count == room};
}

std::optional<QByteArray> readTrailerContents(QIODevice &device) {
    const auto location = locateTrailer(device);
    if (!location)
        return std::nullopt;
    return readExactly(device, location->start + ArrayHeaderSize, location->contentsSize);
}

std::optional<QByteArray> readTrailerContents(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return readTrailerContents(file);
}

QByteArray makeTrailer(QByteArrayView contents, qint64 fileSize) {
    QByteArray out(ArrayHeaderSize, '\0');
    qToLittleEndian<quint16>(ByteArrayVariantType, out.data());
    qToLittleEndian<quint16>(1, out.data() + 2);
    qToLittleEndian<qint32>(static_cast<qint32>(contents.size()), out.data() + 4);
    qToLittleEndian<qint32>(0, out.data() + 8);
    out.append(contents);
    char position[PositionFieldSize];
    qToLittleEndian<qint32>(static_cast<qint32>(fileSize + 1), position);
    out.append(position, PositionFieldSize);
    return out;
}

} // namespace platform
