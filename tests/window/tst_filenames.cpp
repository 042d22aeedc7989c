#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include "window/FileNames.h"

using namespace window;

class tst_FileNames : public QObject {
    Q_OBJECT
private slots:
    void pathWithBackslash_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a backslash is part of the folder's name") << "/srv/prod\\"
                                                                  << "/srv/prod\\/";
        QTest::newRow("already ends with slash") << "/opt/"
                                                 << "/opt/";
        QTest::newRow("folder") << "/opt/tools"
                                << "/opt/tools/";
        QTest::newRow("blanks") << "   "
                                << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("untrimmed kept") << " /a "
                                        << " /a /";
    }
    void pathWithBackslash() {
        QFETCH(QString, path);
        QTEST(PathWithBackslash(path), "expected");
    }

    void fileExists() {
        QTemporaryDir dir;
        QVERIFY(!FileExists(QString()));
        QVERIFY(FileExists(dir.path())); // a folder counts
        const QString file = dir.filePath(QStringLiteral("名字.zip"));
        QVERIFY(!FileExists(file));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(FileExists(file));
    }

    void uniqueFileName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << "/d/Demo_2.1.zip" << QStringList{} << "/d/Demo_2.1.zip";
        QTest::newRow("first number")
            << "/d/Demo_2.1.zip" << QStringList{"/d/Demo_2.1.zip"} << "/d/Demo_2.1(1).zip";
        QTest::newRow("second number")
            << "/d/Demo_2.1.zip" << QStringList{"/d/Demo_2.1.zip", "/d/Demo_2.1(1).zip"}
            << "/d/Demo_2.1(2).zip";
        QTest::newRow("gap is used")
            << "/d/a.zip" << QStringList{"/d/a.zip", "/d/a(2).zip"} << "/d/a(1).zip";
        QTest::newRow("dot in a folder is no extension")
            << "/home/u/.local/pkg" << QStringList{"/home/u/.local/pkg"} << "/home/u/.local/pkg(1)";
        QTest::newRow("backslash folder")
            << "C:\\a.b\\pkg" << QStringList{"C:\\a.b\\pkg"} << "C:\\a.b\\pkg(1)";
        QTest::newRow("exhausted")
            << "/d/a.zip" << QStringList{"/d/a.zip", "/d/a(1).zip", "/d/a(2).zip", "/d/a(3).zip"}
            << "";
    }
    void uniqueFileName() {
        QFETCH(QString, path);
        QFETCH(QStringList, taken);
        const QSet<QString> takenSet(taken.begin(), taken.end());
        const auto exists = [&](const QString &p) { return takenSet.contains(p); };
        QTEST(UniqueFileName(path, exists, 3), "expected");
    }

    void uniqueFileNameOnDisk() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Demo 2.zip"));
        QCOMPARE(UniqueFileName(path), path);
        QFile(path).open(QIODevice::WriteOnly);
        QCOMPARE(UniqueFileName(path), dir.filePath(QStringLiteral("Demo 2(1).zip")));
    }
};

QTEST_APPLESS_MAIN(tst_FileNames)
#include "tst_filenames.moc"
