#include <QTest>
#include <QtEndian>

#include "platform/PropertyBag.h"

using namespace platform;

namespace {

PropertyBag exampleBag() {
    PropertyBag bag;
    bag.write(QStringLiteral("SoftwareName"), QStringLiteral("Convert1"));
    bag.write(QStringLiteral("SoftwareID"), QStringLiteral("123456"));
    bag.write(QStringLiteral("SoftwareThemeStyle"), QStringLiteral("27"));
    bag.write(QStringLiteral("SoftwareThemeColor"), QStringLiteral("16777215"));
    bag.write(QStringLiteral("SoftwareThemeSpecialColor"), QStringLiteral("12566463"));
    return bag;
}

qint32 le32(const QByteArray &bytes, qsizetype at) {
    return qFromLittleEndian<qint32>(bytes.constData() + at);
}

void putLe32(QByteArray &bytes, qsizetype at, qint32 value) {
    qToLittleEndian(value, bytes.data() + at);
}

} // namespace

class tst_PropertyBag : public QObject {
    Q_OBJECT
private slots:
    void writesTheDocumentedLayout() {
        const QByteArray contents = exampleBag().contents();
        QCOMPARE(contents.size(), 320);
        QCOMPARE(contents.left(4), QByteArray("\x93\xB2\x00\x00", 4));
        QCOMPARE(le32(contents, 4), 320);
        // Entries of 56, 48, 56, 68 and 84 bytes; the last leads back to the first.
        const QList<qint32> expectedOffsets{56, 48, 56, 68, -228};
        qsizetype entry = 8;
        for (qint32 expected : expectedOffsets) {
            QCOMPARE(le32(contents, entry + 8), expected);
            entry += expected > 0 ? expected : 0;
        }
        // First entry: text type, 12 name units, lower-case UTF-16LE name, 8 value units.
        QCOMPARE(qFromLittleEndian<quint16>(contents.constData() + 8), quint16(8));
        QCOMPARE(qFromLittleEndian<quint16>(contents.constData() + 10), quint16(12));
        QCOMPARE(contents.mid(20, 4), QByteArray("s\0o\0", 4));
        QCOMPARE(le32(contents, 20 + 24), 8);
        QCOMPARE(quint32(le32(contents, 12)), PropertyBag::nameHash(u"softwarename"));
    }

    void readsBackWhatItWrote() {
        PropertyBag bag = exampleBag();
        bag.write(QStringLiteral("Number"), std::int32_t(-42));
        bag.write(QStringLiteral("Empty"), QString());
        const auto parsed = PropertyBag::fromContents(bag.contents());
        QVERIFY(parsed);
        QCOMPARE(parsed->read(u"SOFTWARENAME"), std::optional<PropertyValue>(u"Convert1"_qs));
        QCOMPARE(parsed->read(u"softwarethemestyle"), std::optional<PropertyValue>(u"27"_qs));
        QCOMPARE(parsed->read(u"number"), std::optional<PropertyValue>(std::int32_t(-42)));
        QCOMPARE(parsed->read(u"Empty"), std::optional<PropertyValue>(QString()));
        QVERIFY(!parsed->read(u"Missing"));
        QCOMPARE(parsed->properties().size(), size_t(7));
    }

    void writeReplacesWithoutRegardToCase() {
        PropertyBag bag;
        bag.write(QStringLiteral("Key"), QStringLiteral("1"));
        bag.write(QStringLiteral("KEY"), QStringLiteral("2"));
        QCOMPARE(bag.properties().size(), size_t(1));
        QCOMPARE(bag.read(u"key"), std::optional<PropertyValue>(u"2"_qs));
    }

    void stepsOverUnknownTypes() {
        QByteArray contents = exampleBag().contents();
        contents[8] = 9; // first entry: a type the reader does not know
        const auto bag = PropertyBag::fromContents(contents);
        QVERIFY(bag);
        QVERIFY(!bag->read(u"SoftwareName"));
        QCOMPARE(bag->read(u"SoftwareID"), std::optional<PropertyValue>(u"123456"_qs));
    }

    void damagedContents_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QStringList>("present");
        const QByteArray good = exampleBag().contents();
        const QStringList all{"SoftwareName", "SoftwareID", "SoftwareThemeStyle",
                              "SoftwareThemeColor", "SoftwareThemeSpecialColor"};

        QByteArray badMark = good;
        badMark[0] = 0;
        QTest::newRow("wrong mark") << badMark << false << QStringList();
        QByteArray bigTotal = good;
        putLe32(bigTotal, 4, 321);
        QTest::newRow("total past the block") << bigTotal << false << QStringList();
        QTest::newRow("too short") << good.left(7) << false << QStringList();
        QTest::newRow("cut in the third entry") << [&] {
            QByteArray b = good.left(8 + 56 + 48 + 20);
            putLe32(b, 4, b.size());
            return b;
        }() << true << QStringList{"SoftwareName", "SoftwareID"};
        QByteArray offsetOut = good;
        putLe32(offsetOut, 8 + 56 + 8, 100000);
        QTest::newRow("offset past the end")
            << offsetOut << true << QStringList{"SoftwareName", "SoftwareID"};
        QByteArray offsetNegative = good;
        putLe32(offsetNegative, 8 + 8, -100000);
        QTest::newRow("offset before the start")
            << offsetNegative << true << QStringList{"SoftwareName"};
        QByteArray selfLoop = good;
        putLe32(selfLoop, 8 + 56 + 8, 0);
        QTest::newRow("entry leading to itself")
            << selfLoop << true << QStringList{"SoftwareName", "SoftwareID"};
        QByteArray hugeName = good;
        hugeName[8 + 2] = '\xFF';
        hugeName[8 + 3] = '\xFF';
        QTest::newRow("name longer than the block") << hugeName << true << QStringList();
        QByteArray hugeValue = good;
        putLe32(hugeValue, 8 + 12 + 24, 0x7FFFFFFF);
        QTest::newRow("value longer than the block") << hugeValue << true << QStringList();
        QByteArray negativeValue = good;
        putLe32(negativeValue, 8 + 12 + 24, -2);
        QTest::newRow("negative value length") << negativeValue << true << QStringList();
        QByteArray overlapping = good;
        putLe32(overlapping, 8 + 8, 12); // the second entry would start inside the first's name
        QTest::newRow("next entry inside this one") << overlapping << true << QStringList();
        QByteArray nameIntoNext = good;
        nameIntoNext[8 + 56 + 2] = 20; // "softwareid" is 10 units; 20 run into the third entry
        QTest::newRow("name running into the next entry")
            << nameIntoNext << true << QStringList{"SoftwareName"};
        QByteArray valueIntoNext = good;
        putLe32(valueIntoNext, 8 + 12 + 24, 20); // "Convert1" is 8 units
        QTest::newRow("value running into the next entry")
            << valueIntoNext << true << QStringList();
        QByteArray backwards = good;
        putLe32(backwards, 8 + 56 + 48 + 8, -48); // the third entry leads back to the second
        QTest::newRow("step back into an earlier entry")
            << backwards << true << QStringList{"SoftwareName", "SoftwareID", "SoftwareThemeStyle"};
        // A block of the largest size, all of it entries 12 bytes apart that each claim a name
        // of 65 535 units: read as overlapping entries, it would decode to gigabytes.
        QByteArray bomb(MaxPropertyBagContents, '\0');
        bomb.replace(0, 4, good.left(4));
        putLe32(bomb, 4, bomb.size());
        for (qsizetype at = 8; at + 12 <= bomb.size(); at += 12) {
            bomb[at] = 8;
            bomb[at + 2] = '\xFF';
            bomb[at + 3] = '\xFF';
            putLe32(bomb, at + 8, 12);
        }
        QTest::newRow("overlapping entries with the longest names, block at the size limit")
            << bomb << true << QStringList();
        QByteArray justOver = bomb + QByteArray(1, '\0');
        putLe32(justOver, 4, justOver.size());
        QTest::newRow("block one byte over the size limit") << justOver << false << QStringList();
        QByteArray oversized = good + QByteArray(MaxPropertyBagContents, '\0');
        putLe32(oversized, 4, oversized.size());
        QTest::newRow("block over the size limit") << oversized << false << QStringList();
        QTest::newRow("intact") << good << true << all;
    }
    void damagedContents() {
        QFETCH(QByteArray, contents);
        QFETCH(bool, accepted);
        QFETCH(QStringList, present);
        const auto bag = PropertyBag::fromContents(contents);
        QCOMPARE(bag.has_value(), accepted);
        if (!bag)
            return;
        QStringList found;
        for (const auto &p : bag->properties())
            found << p.name;
        QCOMPARE(found, [&] {
            QStringList lower;
            for (const QString &name : present)
                lower << name.toLower();
            return lower;
        }());
    }
};

QTEST_APPLESS_MAIN(tst_PropertyBag)
#include "tst_propertybag.moc"
