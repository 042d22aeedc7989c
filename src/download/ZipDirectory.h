#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QByteArrayView>

// The central directory of a zip archive read from the archive's last bytes alone, so that a
// remote package's table of contents costs one range request. A pure function over bytes
// with hard limits: whatever the bytes claim, nothing outside them is touched, nothing larger
// than the limits is allocated, and every entry lies inside the file without overlapping
// another.
namespace download {

inline constexpr qint64 MaxZipDirectorySize = qint64(16) * 1024 * 1024;
inline constexpr qsizetype MaxZipEntries = 200'000;
// The end record (22 bytes) and the longest comment it can carry.
inline constexpr qint64 MaxZipEndSearch = 22 + 0xffff;
// The end record with the longest comment, the zip64 locator (20) and record (56).
inline constexpr qint64 MaxZipEndRecords = MaxZipEndSearch + 20 + 56;

struct ZipEntry {
    QByteArray name;
    std::uint32_t crc32 = 0;
    qint64 compressedSize = 0;
    qint64 uncompressedSize = 0;
    std::uint16_t method = 0;
    std::uint16_t flags = 0;
    qint64 localHeaderOffset = 0;

    // Whether the two entries hold the same compressed bytes as far as the directory tells.
    bool sameContent(const ZipEntry &other) const {
        return name == other.name && crc32 == other.crc32 &&
               compressedSize == other.compressedSize &&
               uncompressedSize == other.uncompressedSize && method == other.method &&
               flags == other.flags;
    }
};

struct ZipDirectory {
    std::vector<ZipEntry> entries; // in the directory's order
    qint64 directoryOffset = 0;    // where the central directory starts
    qint64 directorySize = 0;
    qint64 fileSize = 0;
};

enum class ZipDirectoryError {
    None,
    NeedsLongerTail, // the records start before the bytes given: see `tailNeededFrom`
    NoEndRecord,     // no end-of-central-directory record at the end of the bytes
    MultiDisk,       // split archives are not packages
    BadZip64,        // a zip64 locator or record that is missing, damaged or misplaced
    TooLarge,        // more entries or a larger directory than the limits
    OutOfBounds,     // a directory or an entry that lies outside the file
    BadEntry,        // a directory entry that is cut, damaged or disagrees with the count
    Overlap,         // two entries that claim the same bytes
};

struct ZipDirectoryResult {
    std::optional<ZipDirectory> directory;
    ZipDirectoryError error = ZipDirectoryError::None;
    // With `NeedsLongerTail`: the tail must start at this offset of the file.
    qint64 tailNeededFrom = -1;
};

// The `width`-byte little-endian number at `at`, from a view the caller has checked to be
// long enough.
std::uint64_t littleEndian(QByteArrayView bytes, qint64 at, int width);

// Reads the directory of a `fileSize`-byte archive from `tail`, its last `tail.size()` bytes.
// Never throws.
ZipDirectoryResult parseZipDirectory(QByteArrayView tail, qint64 fileSize);

// A short English name of the error, for messages.
const char *zipDirectoryErrorText(ZipDirectoryError error);

} // namespace download
