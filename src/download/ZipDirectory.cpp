#include "download/ZipDirectory.h"

#include <algorithm>

namespace download {
namespace {

constexpr qint64 EndRecordSize = 22;
constexpr qint64 Zip64LocatorSize = 20;
constexpr qint64 Zip64RecordSize = 56;
constexpr qint64 DirectoryEntrySize = 46;
constexpr qint64 LocalHeaderSize = 30;
constexpr std::uint32_t EndSignature = 0x06054b50;
constexpr std::uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t Zip64RecordSignature = 0x06064b50;
constexpr std::uint32_t EntrySignature = 0x02014b50;

std::uint16_t le16(QByteArrayView b, qint64 at) {
    return std::uint16_t(littleEndian(b, at, 2));
}
std::uint32_t le32(QByteArrayView b, qint64 at) {
    return std::uint32_t(littleEndian(b, at, 4));
}
std::uint64_t le64(QByteArrayView b, qint64 at) {
    return littleEndian(b, at, 8);
}

ZipDirectoryResult failure(ZipDirectoryError error, qint64 neededFrom = -1) {
    ZipDirectoryResult result;
    result.error = error;
    result.tailNeededFrom = neededFrom;
    return result;
}

// The end record: the last position whose comment length reaches exactly the end, so a
// signature inside a comment is not taken for it.
qint64 findEndRecord(QByteArrayView tail) {
    const qint64 last = tail.size() - EndRecordSize;
    const qint64 first = std::max<qint64>(0, last - 0xffff);
    for (qint64 at = last; at >= first; --at)
        if (le32(tail, at) == EndSignature && le16(tail, at + 20) == tail.size() - at - 22)
            return at;
    return -1;
}

// The zip64 extra field of a directory entry replaces the fields that hold all ones, in
// this order. False when the field is missing or too short for them.
bool readZip64Extra(QByteArrayView extra, ZipEntry &entry, bool wantUncompressed,
                    bool wantCompressed, bool wantOffset) {
    qint64 at = 0;
    while (at + 4 <= extra.size()) {
        const std::uint16_t id = le16(extra, at);
        const std::uint16_t size = le16(extra, at + 2);
        if (at + 4 + size > extra.size())
            return false;
        if (id == 0x0001) {
            qint64 field = at + 4;
            const qint64 end = field + size;
            const auto take = [&](qint64 &target) {
                if (field + 8 > end)
                    return false;
                const std::uint64_t value = le64(extra, field);
                if (value > std::uint64_t(INT64_MAX / 4))
                    return false;
                target = qint64(value);
                field += 8;
                return true;
            };
            return (!wantUncompressed || take(entry.uncompressedSize)) &&
                   (!wantCompressed || take(entry.compressedSize)) &&
                   (!wantOffset || take(entry.localHeaderOffset));
        }
        at += 4 + size;
    }
    return !wantUncompressed && !wantCompressed && !wantOffset;
}

} // namespace

std::uint64_t littleEndian(QByteArrayView bytes, qint64 at, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | std::uint8_t(bytes[at + i]);
    return value;
}

ZipDirectoryResult parseZipDirectory(QByteArrayView tail, qint64 fileSize) {
    if (fileSize < EndRecordSize || tail.size() > fileSize)
        return failure(ZipDirectoryError::NoEndRecord);
    if (tail.size() < EndRecordSize)
        return failure(ZipDirectoryError::NeedsLongerTail,
                       std::max<qint64>(0, fileSize - MaxZipEndRecords));
    const qint64 tailOffset = fileSize - tail.size();
    const qint64 end = findEndRecord(tail);
    if (end < 0) {
        // A longer comment may hide the record further back.
        if (tail.size() < std::min(fileSize, MaxZipEndSearch))
            return failure(ZipDirectoryError::NeedsLongerTail,
                           std::max<qint64>(0, fileSize - MaxZipEndRecords));
        return failure(ZipDirectoryError::NoEndRecord);
    }

    qint64 entries = le16(tail, end + 10);
    qint64 directorySize = le32(tail, end + 12);
    qint64 directoryOffset = le32(tail, end + 16);
    if (le16(tail, end + 4) != 0 || le16(tail, end + 6) != 0 ||
        le16(tail, end + 8) != le16(tail, end + 10))
        return failure(ZipDirectoryError::MultiDisk);
    qint64 recordsStart = tailOffset + end;
    // A zip64 locator would sit right before the end record: it must be among the bytes.
    if (end < Zip64LocatorSize && tailOffset > 0)
        return failure(ZipDirectoryError::NeedsLongerTail,
                       std::max<qint64>(0, recordsStart - Zip64LocatorSize - Zip64RecordSize));

    const bool hasLocator =
        end >= Zip64LocatorSize && le32(tail, end - Zip64LocatorSize) == Zip64LocatorSignature;
    if (hasLocator) {
        const qint64 locator = end - Zip64LocatorSize;
        const std::uint64_t recordOffset = le64(tail, locator + 8);
        if (le32(tail, locator + 4) != 0 || le32(tail, locator + 16) > 1)
            return failure(ZipDirectoryError::MultiDisk);
        // The record sits right before its locator (no extensible data is used by packers).
        if (recordOffset > std::uint64_t(tailOffset + locator) ||
            qint64(recordOffset) + Zip64RecordSize > tailOffset + locator)
            return failure(ZipDirectoryError::BadZip64);
        if (qint64(recordOffset) < tailOffset)
            return failure(ZipDirectoryError::NeedsLongerTail, qint64(recordOffset));
        const qint64 record = qint64(recordOffset) - tailOffset;
        if (le32(tail, record) != Zip64RecordSignature)
            return failure(ZipDirectoryError::BadZip64);
        if (le32(tail, record + 16) != 0 || le32(tail, record + 20) != 0 ||
            le64(tail, record + 24) != le64(tail, record + 32))
            return failure(ZipDirectoryError::MultiDisk);
        const std::uint64_t count = le64(tail, record + 32);
        const std::uint64_t size = le64(tail, record + 40);
        const std::uint64_t offset = le64(tail, record + 48);
        if (count > std::uint64_t(MaxZipEntries) || size > std::uint64_t(MaxZipDirectorySize))
            return failure(ZipDirectoryError::TooLarge);
        if (offset > std::uint64_t(fileSize))
            return failure(ZipDirectoryError::OutOfBounds);
        entries = qint64(count);
        directorySize = qint64(size);
        directoryOffset = qint64(offset);
        recordsStart = qint64(recordOffset);
    } else if (entries == 0xffff || directorySize == 0xffffffff || directoryOffset == 0xffffffff) {
        return failure(ZipDirectoryError::BadZip64);
    }

    if (entries > MaxZipEntries || directorySize > MaxZipDirectorySize)
        return failure(ZipDirectoryError::TooLarge);
    // The directory ends where the end records start: a prefix before the archive (which
    // would shift every offset) or bytes between them are not what a packer writes.
    if (directoryOffset + directorySize != recordsStart)
        return failure(ZipDirectoryError::OutOfBounds);
    if (directoryOffset < tailOffset)
        return failure(ZipDirectoryError::NeedsLongerTail, directoryOffset);
    if (entries * DirectoryEntrySize > directorySize)
        return failure(ZipDirectoryError::BadEntry);

    ZipDirectory directory;
    directory.directoryOffset = directoryOffset;
    directory.directorySize = directorySize;
    directory.fileSize = fileSize;
    directory.entries.reserve(std::size_t(entries));
    const QByteArrayView bytes = tail.sliced(directoryOffset - tailOffset, directorySize);
    qint64 at = 0;
    for (qint64 i = 0; i < entries; ++i) {
        if (at + DirectoryEntrySize > bytes.size() || le32(bytes, at) != EntrySignature)
            return failure(ZipDirectoryError::BadEntry);
        ZipEntry entry;
        entry.flags = le16(bytes, at + 8);
        entry.method = le16(bytes, at + 10);
        entry.crc32 = le32(bytes, at + 16);
        entry.compressedSize = le32(bytes, at + 20);
        entry.uncompressedSize = le32(bytes, at + 24);
        const qint64 nameLength = le16(bytes, at + 28);
        const qint64 extraLength = le16(bytes, at + 30);
        const qint64 commentLength = le16(bytes, at + 32);
        const std::uint16_t disk = le16(bytes, at + 34);
        entry.localHeaderOffset = le32(bytes, at + 42);
        const qint64 next = at + DirectoryEntrySize + nameLength + extraLength + commentLength;
        if (next > bytes.size() || (disk != 0 && disk != 0xffff))
            return failure(ZipDirectoryError::BadEntry);
        entry.name = bytes.sliced(at + DirectoryEntrySize, nameLength).toByteArray();
        const QByteArrayView extra =
            bytes.sliced(at + DirectoryEntrySize + nameLength, extraLength);
        if (!readZip64Extra(extra, entry, entry.uncompressedSize == 0xffffffff,
                            entry.compressedSize == 0xffffffff,
                            entry.localHeaderOffset == 0xffffffff))
            return failure(ZipDirectoryError::BadEntry);
        // The local header is at least its fixed part and the name, then the data.
        if (entry.localHeaderOffset > directoryOffset || entry.compressedSize > directoryOffset ||
            entry.localHeaderOffset + LocalHeaderSize + nameLength + entry.compressedSize >
                directoryOffset)
            return failure(ZipDirectoryError::OutOfBounds);
        directory.entries.push_back(std::move(entry));
        at = next;
    }
    if (at != bytes.size())
        return failure(ZipDirectoryError::BadEntry);

    // Each entry's smallest extent must end before the next entry starts.
    std::vector<const ZipEntry *> byOffset;
    byOffset.reserve(directory.entries.size());
    for (const ZipEntry &entry : directory.entries)
        byOffset.push_back(&entry);
    std::sort(byOffset.begin(), byOffset.end(), [](const ZipEntry *a, const ZipEntry *b) {
        return a->localHeaderOffset < b->localHeaderOffset;
    });
    for (std::size_t i = 1; i < byOffset.size(); ++i) {
        const ZipEntry &previous = *byOffset[i - 1];
        if (previous.localHeaderOffset + LocalHeaderSize + previous.name.size() +
                previous.compressedSize >
            byOffset[i]->localHeaderOffset)
            return failure(ZipDirectoryError::Overlap);
    }

    ZipDirectoryResult result;
    result.directory = std::move(directory);
    return result;
}

const char *zipDirectoryErrorText(ZipDirectoryError error) {
    switch (error) {
    case ZipDirectoryError::None:
        return "no error";
    case ZipDirectoryError::NeedsLongerTail:
        return "the directory starts before the bytes read";
    case ZipDirectoryError::NoEndRecord:
        return "no end-of-central-directory record";
    case ZipDirectoryError::MultiDisk:
        return "a split archive";
    case ZipDirectoryError::BadZip64:
        return "a damaged zip64 record";
    case ZipDirectoryError::TooLarge:
        return "a directory beyond the limits";
    case ZipDirectoryError::OutOfBounds:
        return "a directory or entry outside the file";
    case ZipDirectoryError::BadEntry:
        return "a damaged directory entry";
    case ZipDirectoryError::Overlap:
        return "entries that overlap";
    }
    return "an unknown error";
}

} // namespace download
