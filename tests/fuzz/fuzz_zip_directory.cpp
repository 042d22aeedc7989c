// Feeds arbitrary bytes to the central-directory reader as the tail of a remote package, and
// checks what it accepts against the claims it must have verified.
#include <cstddef>
#include <cstdint>

#include "download/ZipDirectory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1)
        return 0;
    // The first byte says how much of the file lies before the bytes given.
    const qint64 before = qint64(data[0]) * 997;
    const QByteArrayView tail(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qint64 fileSize = tail.size() + before;
    const download::ZipDirectoryResult result = download::parseZipDirectory(tail, fileSize);
    if (result.error == download::ZipDirectoryError::NeedsLongerTail &&
        (result.tailNeededFrom < 0 || result.tailNeededFrom >= before))
        __builtin_trap();
    if (!result.directory)
        return 0;
    const download::ZipDirectory &directory = *result.directory;
    if (directory.directoryOffset < before ||
        directory.directoryOffset + directory.directorySize > fileSize)
        __builtin_trap();
    for (const download::ZipEntry &entry : directory.entries)
        if (entry.localHeaderOffset < 0 || entry.compressedSize < 0 ||
            entry.localHeaderOffset + 30 + entry.name.size() + entry.compressedSize >
                directory.directoryOffset)
            __builtin_trap();
    return 0;
}
