// The settings trailer at the end of an executable, read from untrusted bytes.
#include <QBuffer>
#include <QTest>
#include <QtEndian>

#include "platform/SettingsTrailer.h"

using namespace platform;

namespace {

// The trailer does not look inside its contents; any bytes of a bag's typical size do.
QByteArray exampleContents() {
    QByteArray contents(320, '\0');
    for (qsizetype i = 0; i < contents.size(); ++i)
        contents[i] = char(i * 7);
    return contents;
}

qint32 le32(const QByteArray &bytes, qsizetype at) {
    return qFromLittleEndian<qint32>(bytes.constData() + at);
}

void putLe32(QByteArray &bytes, qsizetype at, qint32 value) {
    qToLittleEndian(value, bytes.data() + at);
}

// A file of `prefix` bytes followed by a trailer carrying `contents`.
QByteArray stampedFile(const QByteArray &contents, qsizetype prefix = 100) {
    QByteArray file(prefix, 'x');
    file.append(makeTrailer(contents, file.size()));
    return file;
}

std::optional<QByteArray> contentsOf(QByteArray file) {
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    return readTrailerContents(buffer);
}

} // namespace

class tst_SettingsTrailer : public QObject {
    Q_OBJECT
private slots:
    void trailerRoundTrip() {
        const QByteArray contents = exampleContents();
        const QByteArray file = stampedFile(contents);
        QCOMPARE(contentsOf(file), std::optional<QByteArray>(contents));
        // The position field holds the 1-based position of the array.
        QCOMPARE(le32(file, file.size() - 4), 101);
        QCOMPARE(le32(file, 100), 0x00012011);
    }

    void damagedTrailers_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray good = stampedFile(exampleContents());
        auto withPosition = [&](qint32 position) {
            QByteArray f = good;
            putLe32(f, f.size() - 4, position);
            return f;
        };
        QTest::newRow("zero position") << withPosition(0);
        QTest::newRow("negative position") << withPosition(-5);
        QTest::newRow("position past the end") << withPosition(good.size() + 10);
        QTest::newRow("position inside the last bytes") << withPosition(good.size() - 6);
        QTest::newRow("position before the file grew") << withPosition(50);
        QByteArray wrongType = good;
        wrongType[100] = 0x08;
        QTest::newRow("wrong variant type") << wrongType;
        QByteArray twoDims = good;
        twoDims[102] = 2;
        QTest::newRow("two dimensions") << twoDims;
        QByteArray bigCount = good;
        putLe32(bigCount, 104, 0x7FFFFFFF);
        QTest::newRow("count larger than the file") << bigCount;
        QByteArray negativeCount = good;
        putLe32(negativeCount, 104, -1);
        QTest::newRow("negative count") << negativeCount;
        QTest::newRow("too short for a trailer") << QByteArray("\x01\x00\x00\x00", 4);
        QTest::newRow("empty file") << QByteArray();
        QByteArray cut = good;
        cut.remove(200, 40);
        QTest::newRow("truncated contents") << cut;
    }
    void damagedTrailers() {
        QFETCH(QByteArray, file);
        QVERIFY(!contentsOf(file));
    }

    void locatesTrailerForReplacement() {
        const QByteArray file = stampedFile(exampleContents(), 64);
        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        const auto where = locateTrailer(buffer);
        QVERIFY(where);
        QCOMPARE(where->start, 64);
        QVERIFY(where->endsTheFile);
    }

    // The contents are capped at exactly MaxTrailerContents bytes, whatever the file holds.
    void contentsCap_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << qint64(0) << true;
        QTest::newRow("exactly the cap") << qint64(MaxTrailerContents) << true;
        QTest::newRow("one byte over the cap") << qint64(MaxTrailerContents) + 1 << false;
    }
    void contentsCap() {
        QFETCH(qint64, size);
        QFETCH(bool, accepted);
        const QByteArray contents(size, 'c');
        const auto read = contentsOf(stampedFile(contents));
        QCOMPARE(read.has_value(), accepted);
        if (accepted)
            QCOMPARE(*read, contents);
    }
};

QTEST_APPLESS_MAIN(tst_SettingsTrailer)
#include "tst_settingstrailer.moc"
