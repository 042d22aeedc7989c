#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "download/FileHelpers.h"
#include "window/FileNames.h"

using namespace download;

class tst_FileHelpers : public QObject {
    Q_OBJECT

private slots:
    void getFileString_data();
    void getFileString();
    void windowSharesTheCutting_data();
    void windowSharesTheCutting();
    void folderExists();
    void fileExists();
    void renameExists_data();
    void renameExists();
};

void tst_FileHelpers::getFileString_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("delim");
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("expected");

    const QString win = QStringLiteral("C:\\a\\b.zip");
    QTest::newRow("ext") << win << "." << 1 << "zip";
    QTest::newRow("without ext") << win << "." << 2 << "C:\\a\\b";
    QTest::newRow("name") << win << "\\" << 1 << "b.zip";
    QTest::newRow("folder") << win << "\\" << 2 << "C:\\a";
    QTest::newRow("bare name") << win << "." << 0 << "b";
    QTest::newRow("style 0 other delim") << win << "\\" << 0 << "C:\\a";
    QTest::newRow("style 5") << win << "." << 5 << "";
    QTest::newRow("style -1") << win << "." << -1 << "";
    QTest::newRow("dot before separator") << "C:\\a.b\\c"
                                          << "." << 0 << "";
    for (int style = 0; style <= 2; ++style)
        QTest::addRow("no delimiter, style %d", style) << "readme"
                                                       << "." << style << "readme";

    // Our own paths: "/" separates folders too, and "\" finds it.
    const QString posix = QStringLiteral("/home/u/dl/pkg 2.1.zip");
    QTest::newRow("posix folder") << posix << "\\" << 2 << "/home/u/dl";
    QTest::newRow("posix name") << posix << "\\" << 1 << "pkg 2.1.zip";
    QTest::newRow("posix bare name") << posix << "." << 0 << "pkg 2.1";
    QTest::newRow("posix dot in folder") << "/tmp/a.b/pkg"
                                         << "." << 0 << "";
    QTest::newRow("mixed separators") << "/tmp/x\\y/z.txt"
                                      << "\\" << 2 << "/tmp/x\\y";
    QTest::newRow("mixed, last is backslash") << "/tmp/x/y\\z.txt"
                                              << "/" << 1 << "z.txt";
    QTest::newRow("root file") << "/pkg.zip"
                               << "\\" << 2 << "";
}

void tst_FileHelpers::getFileString() {
    QFETCH(QString, path);
    QFETCH(QString, delim);
    QFETCH(int, style);
    QFETCH(QString, expected);
    QCOMPARE(bGetFileString(path, delim, style), expected);
}

void tst_FileHelpers::windowSharesTheCutting_data() {
    getFileString_data();
}

// The window's routine is wider (style 3, web addresses) but cuts plain paths the same way.
void tst_FileHelpers::windowSharesTheCutting() {
    QFETCH(QString, path);
    QFETCH(QString, delim);
    QFETCH(int, style);
    QFETCH(QString, expected);
    QCOMPARE(window::GetFileString(path, delim, style), expected);
}

void tst_FileHelpers::folderExists() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!bFolderExists(QString()));
    QVERIFY(bFolderExists(dir.path()));
    QVERIFY(bFolderExists(dir.path() + u'/'));
    QVERIFY(!bFolderExists(dir.filePath(QStringLiteral("missing"))));
    QFile file(dir.filePath(QStringLiteral("plain.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!bFolderExists(file.fileName()));
}

void tst_FileHelpers::fileExists() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("a.zip")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    for (const bool unicode : {false, true}) {
        QVERIFY(!bFileExists(QString(), unicode));
        QVERIFY(bFileExists(file.fileName(), unicode));
        QVERIFY(bFileExists(dir.path(), unicode));
        QVERIFY(!bFileExists(dir.filePath(QStringLiteral("b.zip")), unicode));
    }
    // A dangling link holds its name: a file moved there would replace it.
    const QString link = dir.filePath(QStringLiteral("link.zip"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), link));
    QVERIFY(bFileExists(link));
    QVERIFY(window::FileExists(link));
}

void tst_FileHelpers::renameExists_data() {
    QTest::addColumn<QString>("name"); // relative to the scratch folder
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<QString>("expected"); // relative to the scratch folder

    QTest::newRow("missing") << "pkg.zip" << false << false << "pkg.zip";
    QTest::newRow("overwrite") << "pkg.zip" << true << true << "pkg.zip";
    QTest::newRow("exists") << "pkg.zip" << true << false << "pkg, 090507.zip";
    QTest::newRow("two dots") << "Demo_2.1.zip" << true << false << "Demo_2.1, 090507.zip";
    QTest::newRow("no extension") << "README" << true << false << "README, 090507";
    QTest::newRow("dot only in folder") << "sub.d/pkg" << true << false << "sub.d/pkg, 090507";
    QTest::newRow("stamped name exists too") << "setup.exe" << true << false << "setup, 090507.exe";
}

void tst_FileHelpers::renameExists() {
    QFETCH(QString, name);
    QFETCH(bool, exists);
    QFETCH(bool, overwrite);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(name);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (QTest::currentDataTag() == QByteArray("stamped name exists too")) {
        QFile stamped(dir.filePath(expected));
        QVERIFY(stamped.open(QIODevice::WriteOnly));
    }
    const Clock clock = [] { return QTime(9, 5, 7); };
    QCOMPARE(bRenameExists(path, overwrite, clock), dir.filePath(expected));
}

QTEST_GUILESS_MAIN(tst_FileHelpers)
#include "tst_filehelpers.moc"
