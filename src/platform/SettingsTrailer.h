#pragma once

#include <optional>

#include <QByteArray>

#include "platform/PropertyBag.h"

class QIODevice;

// The settings trailer a packaging step appends to an executable:
//   serialised byte array: type 0x2011 (2) | dimensions 1 (2) | element count n (4) |
//                          lower bound (4) | n bytes of property-bag contents
//   last 4 bytes of the file: the 1-based file position where the array begins.
// Everything here treats the file as untrusted: a position, count or size that points
// outside the file means "no trailer", and nothing larger than the file is allocated.
namespace platform {

inline constexpr quint16 ByteArrayVariantType = 0x2011;
inline constexpr qint64 MaxTrailerContents = MaxPropertyBagContents;

// Where a trailer lies in a file of `fileSize` bytes.
struct TrailerLocation {
    qint64 start = 0;         // file offset of the serialised array
    qint64 contentsSize = 0;  // n
    bool endsTheFile = false; // the array is followed directly by the position field
};

// Finds the trailer of a random-access device (an open file, or a buffer in tests).
std::optional<TrailerLocation> locateTrailer(QIODevice &device);

// The property-bag contents the trailer carries; nothing when there is no readable trailer.
std::optional<QByteArray> readTrailerContents(QIODevice &device);

// Reads the trailer of the file at `path`; nothing when the file cannot be read or carries
// no readable trailer.
std::optional<QByteArray> readTrailerContents(const QString &path);

// The bytes to append to a file that is `fileSize` bytes long so that it carries `contents`.
QByteArray makeTrailer(QByteArrayView contents, qint64 fileSize);

} // namespace platform
