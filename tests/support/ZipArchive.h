#pragma once

#include <cstdio>

#include <QByteArray>
#include <QRandomGenerator>

#include <vector>

#include <zip.h>
#include <zlib.h>

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

// One entry of an archive written by `writeZip`.
struct ZipItem {
    QByteArray name;
    QByteArray data;
    bool deflated = true;
    bool descriptor = false;      // sizes and CRC in a data descriptor after the data (flag bit 3)
    bool descriptorSigned = true; // the descriptor starts with its optional signature
};

// A zip archive of `items` in this order, written byte by byte as a deterministic packer
// does (fixed times), with `comment` at its end: the release pairs of the delta tests.
inline QByteArray writeZip(const std::vector<ZipItem> &items, const QByteArray &comment = {}) {
    const auto le = [](QByteArray &out, quint64 value, int width) {
        for (int i = 0; i < width; ++i)
            out += char((value >> (8 * i)) & 0xff);
    };
    QByteArray file;
    QByteArray directory;
    for (const ZipItem &item : items) {
        QByteArray packed = item.data;
        if (item.deflated) {
            z_stream stream{};
            deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
            packed.resize(qsizetype(deflateBound(&stream, uLong(item.data.size()))));
            stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(item.data.constData()));
            stream.avail_in = uInt(item.data.size());
            stream.next_out = reinterpret_cast<Bytef *>(packed.data());
            stream.avail_out = uInt(packed.size());
            deflate(&stream, Z_FINISH);
            packed.resize(qsizetype(stream.total_out));
            deflateEnd(&stream);
        }
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(item.data.constData()),
                                          uInt(item.data.size())));
        const quint16 flags = item.descriptor ? 8 : 0;
        const quint16 method = item.deflated ? 8 : 0;
        const auto common = [&](QByteArray &out, bool local) {
            le(out, 20, 2); // version needed
            le(out, flags, 2);
            le(out, method, 2);
            le(out, 0x6000, 2); // 12:00
            le(out, 0x5821, 2); // 2024-01-01
            le(out, local && item.descriptor ? 0 : crc, 4);
            le(out, local && item.descriptor ? 0 : packed.size(), 4);
            le(out, local && item.descriptor ? 0 : item.data.size(), 4);
            le(out, item.name.size(), 2);
            le(out, 0, 2); // extra
        };
        const qsizetype offset = file.size();
        le(file, 0x04034b50, 4);
        common(file, true);
        file += item.name + packed;
        if (item.descriptor) {
            if (item.descriptorSigned)
                le(file, 0x08074b50, 4);
            le(file, crc, 4);
            le(file, packed.size(), 4);
            le(file, item.data.size(), 4);
        }
        le(directory, 0x02014b50, 4);
        le(directory, 20, 2); // version made by
        common(directory, false);
        le(directory, 0, 2); // comment
        le(directory, 0, 2); // disk
        le(directory, 0, 2); // internal attributes
        le(directory, 0, 4); // external attributes
        le(directory, offset, 4);
        directory += item.name;
    }
    const qsizetype directoryOffset = file.size();
    file += directory;
    le(file, 0x06054b50, 4);
    le(file, 0, 4);
    le(file, items.size(), 2);
    le(file, items.size(), 2);
    le(file, directory.size(), 4);
    le(file, directoryOffset, 4);
    le(file, comment.size(), 2);
    return file + comment;
}

} // namespace testsupport
