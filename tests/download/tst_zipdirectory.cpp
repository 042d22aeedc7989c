#include <QTest>

#include "download/DeltaPlan.h"
#include "download/ZipDirectory.h"
#include "support/ZipArchive.h"

using download::ZipDirectoryError;
using testsupport::ZipItem;

Q_DECLARE_METATYPE(download::ZipDirectoryError)

namespace {

// Three entries of 100, 200 and 300 bytes with a comment: the directory starts at 648.
const QByteArray Valid = testsupport::writeZip({{"a.so", QByteArray(100, 'a'), false},
                                                {"b.so", QByteArray(200, 'b'), false},
                                                {"c.so", QByteArray(300, 'c'), false, true}},
                                               "release 2");
constexpr qsizetype DirectoryOffset = 3 * (30 + 4) + 600 + 16;
constexpr qsizetype EndRecord = DirectoryOffset + 3 * (46 + 4);

// `bytes` with the little-endian `value` written over `width` bytes at `at`.
QByteArray patched(QByteArray bytes, qsizetype at, quint32 value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xff);
    return bytes;
}

} // namespace

class tst_ZipDirectory : public QObject {
    Q_OBJECT

private slots:
    void hostileDirectories_data();
    void hostileDirectories();
    void localHeaders_data();
    void localHeaders();
};

void tst_ZipDirectory::hostileDirectories_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<qsizetype>("tailSize");
    QTest::addColumn<ZipDirectoryError>("error");
    QTest::addColumn<qint64>("neededFrom");
    const qsizetype whole = Valid.size();
    const qsizetype entry1 = DirectoryOffset + 50;
    QTest::newRow("valid") << Valid << whole << ZipDirectoryError::None << qint64(-1);
    QTest::newRow("tail without the directory")
        << Valid << whole - DirectoryOffset - 10 << ZipDirectoryError::NeedsLongerTail
        << qint64(DirectoryOffset);
    QTest::newRow("count lies (more)")
        << patched(patched(Valid, EndRecord + 8, 4, 2), EndRecord + 10, 4, 2) << whole
        << ZipDirectoryError::BadEntry << qint64(-1);
    QTest::newRow("count lies (fewer)")
        << patched(patched(Valid, EndRecord + 8, 2, 2), EndRecord + 10, 2, 2) << whole
        << ZipDirectoryError::BadEntry << qint64(-1);
    QTest::newRow("offset past the directory")
        << patched(Valid, entry1 + 42, quint32(DirectoryOffset), 4) << whole
        << ZipDirectoryError::OutOfBounds << qint64(-1);
    QTest::newRow("entries overlap")
        << patched(Valid, entry1 + 42, 10, 4) << whole << ZipDirectoryError::Overlap << qint64(-1);
    QTest::newRow("size runs into the next entry")
        << patched(Valid, DirectoryOffset + 20, 150, 4) << whole << ZipDirectoryError::Overlap
        << qint64(-1);
    QTest::newRow("directory larger than the file")
        << patched(Valid, EndRecord + 12, quint32(whole + 100), 4) << whole
        << ZipDirectoryError::OutOfBounds << qint64(-1);
    QTest::newRow("directory beyond the limit")
        << patched(Valid, EndRecord + 12, 0x7fffffff, 4) << whole << ZipDirectoryError::TooLarge
        << qint64(-1);
    QTest::newRow("split archive") << patched(Valid, EndRecord + 4, 1, 2) << whole
                                   << ZipDirectoryError::MultiDisk << qint64(-1);
    QTest::newRow("entries on this disk differ from the total")
        << patched(Valid, EndRecord + 8, 2, 2) << whole << ZipDirectoryError::MultiDisk
        << qint64(-1);
    QTest::newRow("entry on another disk")
        << patched(Valid, entry1 + 34, 1, 2) << whole << ZipDirectoryError::BadEntry << qint64(-1);
    // c.so's size taken to include its data descriptor: its data ends exactly at the directory.
    QTest::newRow("data up to the directory") << patched(Valid, DirectoryOffset + 100 + 20, 316, 4)
                                              << whole << ZipDirectoryError::None << qint64(-1);
    QTest::newRow("comment length lies")
        << Valid.chopped(1) << whole - 1 << ZipDirectoryError::NoEndRecord << qint64(-1);
    QTest::newRow("zip64 marker without a locator")
        << patched(Valid, EndRecord + 16, 0xffffffff, 4) << whole << ZipDirectoryError::BadZip64
        << qint64(-1);
    QTest::newRow("name runs past the directory")
        << patched(Valid, DirectoryOffset + 100 + 28, 400, 2) << whole
        << ZipDirectoryError::BadEntry << qint64(-1);
}

void tst_ZipDirectory::hostileDirectories() {
    QFETCH(QByteArray, file);
    QFETCH(qsizetype, tailSize);
    QFETCH(ZipDirectoryError, error);
    QFETCH(qint64, neededFrom);
    const download::ZipDirectoryResult result =
        download::parseZipDirectory(QByteArrayView(file).last(tailSize), file.size());
    QCOMPARE(result.error, error);
    QCOMPARE(result.tailNeededFrom, neededFrom);
    QCOMPARE(result.directory.has_value(), error == ZipDirectoryError::None);
    if (result.directory) {
        const auto &entries = result.directory->entries;
        QCOMPARE(entries.size(), std::size_t(3));
        QCOMPARE(entries[2].name, QByteArray("c.so"));
        QCOMPARE(entries[2].localHeaderOffset, qint64(2 * 34 + 300));
        QCOMPARE(entries[2].flags, std::uint16_t(8));
        QCOMPARE(result.directory->directoryOffset, qint64(DirectoryOffset));
    }
}

// A fetched local header proves a delta's copy is placed right only when it is the one the
// plan assumed, name included.
void tst_ZipDirectory::localHeaders_data() {
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("as planned") << qint64(34) << QByteArray("a.so") << true;
    QTest::newRow("another name of the same length") << qint64(34) << QByteArray("b.so") << false;
    QTest::newRow("longer than planned") << qint64(35) << QByteArray("a.so") << false;
}

void tst_ZipDirectory::localHeaders() {
    QFETCH(qint64, length);
    QFETCH(QByteArray, name);
    QTEST(download::matchesLocalHeader(QByteArrayView(Valid).first(length), {0, length, name}),
          "matches");
}

QTEST_APPLESS_MAIN(tst_ZipDirectory)
#include "tst_zipdirectory.moc"
