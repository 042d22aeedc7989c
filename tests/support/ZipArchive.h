#pragma once

#include <cstdio>

#include <QByteArray>
#include <QRandomGenerator>

#include <zip.h>

namespace testsupport {

// A zip archive with `content` stored (not compressed) as its one entry, so a test knows
// where its bytes lie; made by libzip, as real packages are made by a real packer.
inline QByteArray zipArchive(const QByteArray &content) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_source_keep(buffer);
    zip_t *archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_source_t *entry = zip_source_buffer(archive, content.constData(), content.size(), 0);
    const zip_int64_t index = zip_file_add(archive, "payload.bin", entry, ZIP_FL_OVERWRITE);
    zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0);
    zip_close(archive);
    QByteArray bytes;
    if (zip_source_open(buffer) == 0) {
        zip_source_seek(buffer, 0, SEEK_END);
        bytes.resize(qsizetype(zip_source_tell(buffer)));
        zip_source_seek(buffer, 0, SEEK_SET);
        zip_source_read(buffer, bytes.data(), zip_uint64_t(bytes.size()));
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    zip_error_fini(&error);
    return bytes;
}

// Random bytes, so that a copy that went wrong anywhere cannot compare equal.
inline QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = static_cast<char>(QRandomGenerator::global()->generate());
    return bytes;
}

// What a portal serves as a package: a complete zip archive around `payloadSize` random
// bytes, incompressible and accepted by the package check.
inline QByteArray randomPackage(qsizetype payloadSize) {
    return zipArchive(randomBytes(payloadSize));
}

} // namespace testsupport
