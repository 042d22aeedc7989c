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
    void getFileString_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("delim");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("expected");
        QTest::newRow("style 1 after last") << "a.b.c"
                                            << "." << 1 << "c";
        QTest::newRow("style 2 before last") << "a.b.c"
                                             << "." << 2 << "a.b";
        QTest::newRow("style 3 before first") << "a.b.c"
                                              << "." << 3 << "a";
        QTest::newRow("style 4 empty") << "a.b.c"
                                       << "." << 4 << "";
        QTest::newRow("style 9 empty") << "a.b.c"
                                       << "." << 9 << "";
        QTest::newRow("style -1 empty") << "a.b.c"
                                        << "." << -1 << "";
        for (int style = 0; style <= 3; ++style)
            QTest::addRow("no delimiter, style %d", style) << "name"
                                                           << "." << style << "name";
        QTest::newRow("no delimiter style 9") << "name"
                                              << "." << 9 << "";
        QTest::newRow("empty delimiter keeps path") << "a.b"
                                                    << "" << 1 << "a.b";

        // A local path written with "\".
        const QString win = QStringLiteral("C:\\a\\b.zip");
        QTest::newRow("extension") << win << "." << 1 << "zip";
        QTest::newRow("without extension") << win << "." << 2 << "C:\\a\\b";
        QTest::newRow("file name") << win << "\\" << 1 << "b.zip";
        QTest::newRow("folder") << win << "\\" << 2 << "C:\\a";
        QTest::newRow("style 0 other delimiter") << win << "\\" << 0 << "C:\\a";
        QTest::newRow("file name, dot in it") << "C:\\Tools\\Demo_2.1.zip"
                                              << "\\" << 1 << "Demo_2.1.zip";
        QTest::newRow("style 0 local path") << "C:\\Tools\\Demo.zip"
                                            << "." << 0 << "Demo";
        QTest::newRow("style 0 dot only in folder") << "C:\\a.b\\name"
                                                    << "." << 0 << "";
        QTest::newRow("style 3 first separator is exact") << "/a\\b/c"
                                                          << "\\" << 3 << "/a";

        // Our own paths: "/" separates folders too, and "\" finds it.
        const QString posix = QStringLiteral("/home/u/dl/pkg 2.1.zip");
        QTest::newRow("posix folder") << posix << "\\" << 2 << "/home/u/dl";
        QTest::newRow("posix name") << posix << "\\" << 1 << "pkg 2.1.zip";
        QTest::newRow("posix bare name") << posix << "." << 0 << "pkg 2.1";
        QTest::newRow("posix dot in folder") << "/tmp/a.b/pkg"
                                             << "." << 0 << "";
        QTest::newRow("style 0 slash delimiter") << "a/b/c"
                                                 << "/" << 0 << "a/b";
        QTest::newRow("style 0 no separator") << "Demo.zip"
                                              << "." << 0 << "Demo";
        QTest::newRow("mixed separators") << "/tmp/x\\y/z.txt"
                                          << "\\" << 2 << "/tmp/x\\y";
        QTest::newRow("mixed, last is backslash") << "/tmp/x/y\\z.txt"
                                                  << "/" << 1 << "z.txt";
        QTest::newRow("root file") << "/pkg.zip"
                                   << "\\" << 2 << "";

        // A web address has no "\" folders.
        QTest::newRow("style 0 web address") << "http://x.cn/d/pkg.v2.zip"
                                             << "." << 0 << "pkg.v2";
        QTest::newRow("style 0 web, backslash in name") << "http://x.cn/d/a\\b.zip"
                                                        << "." << 0 << "a\\b";
        QTest::newRow("style 0 web dot only in host") << "http://x.cn/name"
                                                      << "." << 0 << "";
        QTest::newRow("case-sensitive") << "aXbxc"
                                        << "x" << 1 << "c";
        QTest::newRow("longer delimiter") << "a--b--c"
                                          << "--" << 1 << "c";
    }
    void getFileString() {
        QFETCH(QString, path);
        QFETCH(QString, delim);
        QFETCH(int, style);
        QTEST(GetFileString(path, delim, style), "expected");
    }

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
