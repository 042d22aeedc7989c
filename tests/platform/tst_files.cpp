// Files that appear at their final path in one step, tested on a real folder.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/WriteBehind.h"
#include "support/DataRows.h"
#include "support/InjectedFault.h"

using namespace platform;

class tst_Files : public QObject {
    Q_OBJECT

private slots:
    // The hidden name keeps the hint's file name up to 64 characters; a longer or empty one
    // gives way to "download".
    void hiddenTemporaryName_data() {
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("base");
        QTest::newRow("plain") << QStringLiteral("/x/Demo_2.1.zip")
                               << QStringLiteral("Demo_2.1.zip");
        QTest::newRow("exactly 64 characters") << QString(64, u'n') << QString(64, u'n');
        QTest::newRow("65 characters") << QString(65, u'n') << QStringLiteral("download");
        QTest::newRow("folder only") << QStringLiteral("/x/") << QStringLiteral("download");
    }
    void hiddenTemporaryName() {
        QFETCH(QString, hint);
        QFETCH(QString, base);
        QTemporaryDir folder;
        QString error;
        const auto file = createHiddenTemporaryFile(folder.path(), hint, error);
        QVERIFY2(file, qPrintable(error));
        QVERIFY(file->isOpen());
        const QString name = QFileInfo(file->fileName()).fileName();
        const QRegularExpression shape(u"^\\."_qs + QRegularExpression::escape(base) +
                                       u"\\.[0-9a-f]{8}\\.part$"_qs);
        QVERIFY2(shape.match(name).hasMatch(), qPrintable(name));
        QCOMPARE(QFileInfo(file->fileName()).absolutePath(), QDir(folder.path()).absolutePath());
    }

    // A path's folder is cut at its last "/" only; a name in the root folder has "/".
    void systemFolderOfPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("in a folder") << u"/x/Demo.zip"_qs << u"/x"_qs;
        QTest::newRow("in the root folder") << u"/Demo.zip"_qs << u"/"_qs;
        QTest::newRow("a backslash is part of a name") << u"/x\\y/a.zip"_qs << u"/x\\y"_qs;
        QTest::newRow("no folder") << u"Demo.zip"_qs << QString();
    }
    void systemFolderOfPath() {
        QFETCH(QString, path);
        QTEST(systemFolderOf(path), "folder");
    }

    void noTemporaryFileWithoutFolder_data() {
        testsupport::addRows<QString>(
            "folder", {{"empty", QString()}, {"missing", QStringLiteral("/nonexistent/folder")}});
    }
    void noTemporaryFileWithoutFolder() {
        QFETCH(QString, folder);
        QString error;
        QVERIFY(!createHiddenTemporaryFile(folder, QStringLiteral("a.zip"), error));
        QVERIFY(!error.isEmpty());
    }

    // Whatever is at the destination, even a dangling link, makes the name taken; the
    // source then stays where it was.
    void moveWithoutReplacing_data() {
        QTest::addColumn<QString>("occupant"); // "", "file" or "dangling link"
        QTest::addColumn<int>("expected");
        QTest::newRow("free name") << QString() << int(MoveResult::Moved);
        QTest::newRow("file there") << QStringLiteral("file") << int(MoveResult::NameTaken);
        QTest::newRow("dangling link there")
            << QStringLiteral("dangling link") << int(MoveResult::NameTaken);
        QTest::newRow("folder missing") << QStringLiteral("no folder") << int(MoveResult::Failed);
    }
    void moveWithoutReplacing() {
        QFETCH(QString, occupant);
        QFETCH(int, expected);
        QTemporaryDir folder;
        const QString from = folder.filePath(u"from"_qs);
        QString to = folder.filePath(u"to"_qs);
        QFile source(from);
        QVERIFY(source.open(QIODevice::WriteOnly) && source.write("new") == 3);
        source.close();
        if (occupant == u"file") {
            QFile there(to);
            QVERIFY(there.open(QIODevice::WriteOnly) && there.write("old") == 3);
        } else if (occupant == u"dangling link") {
            QVERIFY(QFile::link(folder.filePath(u"nowhere"_qs), to));
        } else if (occupant == u"no folder") {
            to = folder.filePath(u"missing/to"_qs);
        }
        QString error;
        QCOMPARE(int(moveFileWithoutReplacing(from, to, error)), expected);
        QCOMPARE(error.isEmpty(), expected != int(MoveResult::Failed));
        QCOMPARE(QFile::exists(from), expected != int(MoveResult::Moved));
        if (occupant == u"file") {
            QFile there(to);
            QVERIFY(there.open(QIODevice::ReadOnly));
            QCOMPARE(there.readAll(), QByteArray("old"));
        }
    }

    // Writing back ahead of time: a file system that cannot do it leaves the whole file to
    // the final fsync and the download goes on; a disk error fails it at once (a later fsync
    // through another descriptor might not see it); a signal is no failure.
    void writeBehind_data() {
        QTest::addColumn<QByteArray>("error"); // of the first fdatasync call; "": none
        QTest::addColumn<bool>("fellBack");
        QTest::addColumn<bool>("fails");
        QTest::newRow("supported") << QByteArray() << false << false;
        QTest::newRow("not supported (ENOSYS)") << QByteArray("ENOSYS") << true << false;
        QTest::newRow("not supported here (EINVAL)") << QByteArray("EINVAL") << true << false;
        QTest::newRow("disk error") << QByteArray("EIO") << false << true;
        QTest::newRow("interrupted") << QByteArray("EINTR") << false << false;
    }
    // The flushes run on their own thread; whatever they met is known once `finish` returns.
    void writeBehind() {
        QFETCH(QByteArray, error);
        QFETCH(bool, fellBack);
        QFETCH(bool, fails);
        if (!error.isEmpty() && !testsupport::underInjectedFault()) {
            testsupport::rerunWithFault("fdatasync", 1, error.constData());
            return;
        }
        QTemporaryDir folder;
        QFile file(folder.filePath(u"growing"_qs));
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray half(WriteBehind::FlushBytes / 2, 'x');
        WriteBehind behind(file.handle());
        QString problem;
        bool ok = true;
        {
            const testsupport::ArmedFault armed;
            for (int halves = 1; halves <= 5 && ok; ++halves) {
                QCOMPARE(file.write(half), half.size());
                QVERIFY(file.flush());
                ok = behind.written(file.size(), problem);
            }
            // The owner's descriptor may go at any time: the flushes use their own.
            file.close();
            ok = ok && behind.finish(problem);
        }
        QCOMPARE(ok, !fails);
        QCOMPARE(problem.isEmpty(), !fails);
        QCOMPARE(behind.fellBack(), fellBack);
        // A failure stays: the download must not go on as if the bytes were safe.
        QCOMPARE(behind.written(6 * half.size(), problem), !fails);
    }
};

QTEST_GUILESS_MAIN(tst_Files)
#include "tst_files.moc"
