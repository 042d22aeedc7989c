#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include "download/FileHelpers.h"
#include "net/PartialDownloads.h"
#include "window/FileNames.h"

using namespace download;

namespace {

bool writeFileBytes(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class tst_FileHelpers : public QObject {
    Q_OBJECT

private slots:
    void folderExists();
    void fileExists();
    void renameExists_data();
    void renameExists();
    void staleParts_data();
    void staleParts();
    void oddFilesAtOurNames_data();
    void oddFilesAtOurNames();
};

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
    QVERIFY(!bFileExists(QString()));
    QVERIFY(bFileExists(file.fileName()));
    QVERIFY(bFileExists(dir.path()));
    QVERIFY(!bFileExists(dir.filePath(QStringLiteral("b.zip"))));
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

// At start the program clears away what earlier runs kept of downloads and is of no more use,
// and nothing else.
void tst_FileHelpers::staleParts_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("ageDays");
    QTest::addColumn<QString>("sidecar"); // "none", or a kind of sidecar as staleParts makes it
    QTest::addColumn<bool>("removed");
    const QString ours = QStringLiteral(".update-tool-0123456789abcdef0123456789abcdef.part");
    QTest::newRow("fresh, readable sidecar") << ours << 1 << "valid" << false;
    QTest::newRow("older than 7 days") << ours << 8 << "valid" << true;
    QTest::newRow("sidecar unreadable") << ours << 1 << "garbled" << true;
    QTest::newRow("sidecar missing") << ours << 1 << "none" << true;
    QTest::newRow("sidecar with an extra line") << ours << 1 << "extra line" << true;
    QTest::newRow("sidecar of size 0") << ours << 1 << "size 0" << true;
    QTest::newRow("sidecar without a validator") << ours << 1 << "no validator" << true;
    QTest::newRow("in use by a running read") << "in use" << 8 << "garbled" << false;
    QTest::newRow("a name almost ours") << ".update-tool-0123.part" << 30 << "none" << false;
    QTest::newRow("another program's partial") << ".setup.exe.part" << 30 << "none" << false;
    QTest::newRow("a link with our name") << "link" << 30 << "none" << false;
}

void tst_FileHelpers::staleParts() {
    QFETCH(QString, name);
    QFETCH(int, ageDays);
    QFETCH(QString, sidecar);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::unique_ptr<net::PartialDownload> running;
    QString path = dir.filePath(name);
    if (name == u"in use") {
        QString error;
        running = net::PartialDownload::open(dir.path(), QStringLiteral("http://h/p"), error);
        QVERIFY2(running, qPrintable(error));
        path = running->path();
    } else if (name == u"link") {
        path = dir.filePath(QStringLiteral(".update-tool-0123456789abcdef0123456789abcdef.part"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("target")), path));
    } else {
        QVERIFY(writeFileBytes(path, "kept bytes"));
    }
    QString sidecarPath = path;
    sidecarPath.replace(QStringLiteral(".part"), QStringLiteral(".resume"));
    const QByteArray valid = net::encodeSidecar({"http://h/p", "\"e\"", 100});
    const QHash<QString, QByteArray> sidecars{
        {u"valid"_qs, valid},
        {u"garbled"_qs, "update-tool partial 1\nurl=http://h/p\n"},
        {u"extra line"_qs, valid + "x\n"},
        {u"size 0"_qs, net::encodeSidecar({"http://h/p", "\"e\"", 0})},
        {u"no validator"_qs, net::encodeSidecar({"http://h/p", "", 100})}};
    if (sidecar != u"none")
        QVERIFY(writeFileBytes(sidecarPath, sidecars.value(sidecar)));
    if (name != u"link") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addDays(-ageDays),
                                 QFileDevice::FileModificationTime));
    }
    // An orphan sidecar of another address goes whatever the row.
    const QString orphan =
        dir.filePath(QStringLiteral(".update-tool-ffffffffffffffffffffffffffffffff.resume"));
    QVERIFY(writeFileBytes(orphan, "x"));

    // A partial file goes while the clean-up still holds its lock: no read can take it up.
    QStringList lockedWhenRemoved;
    net::removeStalePartialDownloads(
        dir.path(), std::chrono::hours(24 * 7), QDateTime::currentDateTimeUtc(),
        [&](const QString &removing) {
            const int fd = ::open(QFile::encodeName(removing).constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
                lockedWhenRemoved << removing;
            if (fd >= 0)
                ::close(fd);
        });
    QCOMPARE(lockedWhenRemoved, removed ? QStringList{path} : QStringList());
    QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), !removed);
    if (sidecar != u"none")
        QCOMPARE(QFileInfo::exists(sidecarPath), !removed);
    QVERIFY(!QFileInfo::exists(orphan));
}

// Whatever sits at a partial or sidecar name without being a regular file of this user is
// neither opened in a way that could wait nor removed.
void tst_FileHelpers::oddFilesAtOurNames_data() {
    QTest::addColumn<QString>("kind");   // "fifo", "link", "other user" or "hard link"
    QTest::addColumn<QString>("suffix"); // where it sits: ".part" or ".resume"
    for (const char *kind : {"fifo", "link", "other user"})
        for (const char *suffix : {".part", ".resume"})
            QTest::addRow("%s at %s", kind, suffix) << kind << suffix;
    // Written through, the bytes would land in the other name too.
    QTest::newRow("hard link at .part") << "hard link"
                                        << ".part";
}

void tst_FileHelpers::oddFilesAtOurNames() {
    QFETCH(QString, kind);
    QFETCH(QString, suffix);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString url = QStringLiteral("http://h/p");
    const QString base = dir.filePath(
        QStringLiteral(".update-tool-") +
        QString::fromLatin1(
            QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha256).toHex().left(32)));
    const QByteArray path = QFile::encodeName(base + suffix);
    if (kind == u"fifo") {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (kind == u"link") {
        QVERIFY(writeFileBytes(dir.filePath(QStringLiteral("target")), "not ours"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("target")), QFile::decodeName(path)));
    } else if (kind == u"hard link") {
        QVERIFY(writeFileBytes(dir.filePath(QStringLiteral("target")), "not ours"));
        QCOMPARE(::link(QFile::encodeName(dir.filePath(QStringLiteral("target"))).constData(),
                        path.constData()),
                 0);
    } else {
        if (::geteuid() != 0)
            QSKIP("only the superuser can make a file of another user");
        QVERIFY(writeFileBytes(QFile::decodeName(path), "not ours"));
        QCOMPARE(::chown(path.constData(), 65534, 65534), 0);
    }
    struct stat before {};
    QCOMPARE(::lstat(path.constData(), &before), 0);

    QCOMPARE(net::removeStalePartialDownloads(dir.path()), 0);
    struct stat after {};
    QCOMPARE(::lstat(path.constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);

    // A read of the address neither waits on it nor takes it for its own.
    QString error;
    auto partial = net::PartialDownload::open(dir.path(), url, error);
    QCOMPARE(partial == nullptr, suffix == u".part");
    if (partial) {
        QVERIFY(!partial->readSidecar());
        partial->removeSidecar();
        QCOMPARE(::lstat(path.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
    }
}

QTEST_GUILESS_MAIN(tst_FileHelpers)
#include "tst_filehelpers.moc"
