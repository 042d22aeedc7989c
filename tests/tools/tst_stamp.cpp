#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "platform/Application.h"
#include "platform/PropertyBag.h"
#include "platform/SettingsTrailer.h"
#include "support/MinisignKit.h"
#include "window/StartupValues.h"
#include "window/UpdaterSettings.h"

namespace {

// A well-formed minisign public key line (no one holds its secret key).
const QString Key = QString::fromLatin1((QByteArray("Ed") + QByteArray(40, '\x01')).toBase64());

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run stamp(const QStringList &args) {
    QProcess process;
    process.start(QStringLiteral(STAMP_EXE), args);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// A copy whose 1 MiB trailer holds entries 12 bytes apart, each claiming a 65 535-unit
// name: read as overlapping entries, it decodes to gigabytes.
QString overlappingTrailer(const QString &file) {
    QByteArray contents(platform::MaxPropertyBagContents, '\0');
    contents.replace(0, 4, QByteArray("\x93\xB2\x00\x00", 4));
    qToLittleEndian<qint32>(qint32(contents.size()), contents.data() + 4);
    for (qsizetype at = 8; at + 12 <= contents.size(); at += 12) {
        qToLittleEndian<quint16>(8, contents.data() + at);
        qToLittleEndian<quint16>(0xFFFF, contents.data() + at + 2);
        qToLittleEndian<qint32>(12, contents.data() + at + 8);
    }
    QFile out(file);
    out.open(QIODevice::WriteOnly);
    out.write(QByteArray(100, 'x') + platform::makeTrailer(contents, 100));
    return file;
}

} // namespace

class tst_Stamp : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)); }

private slots:
    void stampedUpdaterDerivesItsSettings() {
        const QString copy = path("update-tool");
        const Run w = stamp({"write", UPDATER_EXE, copy, "--name", "Demo", "--id", "1234",
                             "--style", "25", "--color", "#3366CC"});
        QCOMPARE(w.exitCode, 0);
        QVERIFY(w.err.isEmpty());
        const Run s = stamp({"show", copy});
        QCOMPARE(s.exitCode, 0);
        QCOMPARE(s.out, QStringLiteral("SoftwareName=Demo\nSoftwareID=1234\n"
                                       "SoftwareThemeStyle=25\nSoftwareThemeColor=13395507\n"));
        QVERIFY(QFileInfo(copy).isExecutable());

        // Read back through the same code the updater runs at start-up.
        const window::UpdaterSettings settings = window::readUpdaterSettings(copy);
        const window::StartupValues v =
            window::deriveStartupValues(settings, window::builtInValues());
        const platform::Version version = platform::programVersion();
        QVERIFY(v.strPageUrl.endsWith(u"/content/1234.html"));
        QCOMPARE(v.strTitleText, QStringLiteral("Demo 更新工具 %1.%2.%3 beta")
                                     .arg(version.major)
                                     .arg(version.minor)
                                     .arg(version.revision));
        QCOMPARE(v.lThemeStyle, 25);
        QCOMPARE(v.lThemeColor, 0x00CC6633);
        QCOMPARE(v.strActionCaption, QStringLiteral("检查更新"));
    }

    void restampingReplacesTheTrailer() {
        const QString once = path("once");
        const QString twice = path("twice");
        QCOMPARE(stamp({"write", UPDATER_EXE, once, "--name", "A", "--id", "1"}).exitCode, 0);
        QCOMPARE(stamp({"write", once, twice, "--name", "B", "--id", "2", "--portal",
                        "http://127.0.0.1:9/"})
                     .exitCode,
                 0);
        const QString base = path("base");
        QCOMPARE(stamp({"write", UPDATER_EXE, base, "--name", "B", "--id", "2", "--portal",
                        "http://127.0.0.1:9/"})
                     .exitCode,
                 0);
        QCOMPARE(QFileInfo(twice).size(), QFileInfo(base).size());
        QCOMPARE(stamp({"show", twice}).out,
                 QStringLiteral("SoftwareName=B\nSoftwareID=2\nPortalBase=http://127.0.0.1:9\n"));
        // Stamping a file over itself works too.
        QCOMPARE(stamp({"write", twice, twice, "--name", "C", "--id", "3"}).exitCode, 0);
        QCOMPARE(stamp({"show", twice}).out, QStringLiteral("SoftwareName=C\nSoftwareID=3\n"));
    }

    // The tools' one option syntax: a value as the next argument or after the first "=".
    void optionValueForms_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("shown");
        QTest::newRow("next argument")
            << QStringList{"--name", "A=B", "--id", "4"} << u"SoftwareName=A=B\nSoftwareID=4\n"_qs;
        QTest::newRow("after =") << QStringList{"--name=A=B", "--id=4"}
                                 << u"SoftwareName=A=B\nSoftwareID=4\n"_qs;
        QTest::newRow("empty after =, last one counts")
            << QStringList{"--id=4", "--name=", "--id", "5"} << u"SoftwareName=\nSoftwareID=5\n"_qs;
    }
    void optionValueForms() {
        QFETCH(QStringList, options);
        QFETCH(QString, shown);
        const QString copy = path("forms");
        QCOMPARE(stamp(QStringList{"write", UPDATER_EXE, copy} + options).exitCode, 0);
        QCOMPARE(stamp({"show", copy}).out, shown);
    }

    // Only a readable trailer at the very end of the input is ours to replace; anything
    // else that looks like one is part of the input and is copied whole.
    void onlyOurTrailerIsReplaced_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<qsizetype>("kept"); // how many input bytes start the output
        const QByteArray prefix(100, 'x');
        platform::PropertyBag bag;
        bag.write(u"SoftwareName"_qs, u"Old"_qs);
        const QByteArray stamped = prefix + platform::makeTrailer(bag.contents(), prefix.size());
        QTest::newRow("our trailer") << stamped << prefix.size();
        QByteArray followed = stamped;
        followed.insert(followed.size() - 4, QByteArray(8, 'y'));
        QTest::newRow("trailer followed by other bytes") << followed << followed.size();
        const QByteArray notABag =
            prefix + platform::makeTrailer(QByteArray(40, 'z'), prefix.size());
        QTest::newRow("trailer without a property bag") << notABag << notABag.size();
    }
    void onlyOurTrailerIsReplaced() {
        QFETCH(QByteArray, input);
        QFETCH(qsizetype, kept);
        const QString in = path("trailer-input");
        const QString out = path("trailer-output");
        QFile file(in);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(input) == input.size());
        file.close();
        QCOMPARE(stamp({"write", in, out, "--name", "New", "--id", "5"}).exitCode, 0);
        platform::PropertyBag bag;
        bag.write(u"SoftwareName"_qs, u"New"_qs);
        bag.write(u"SoftwareID"_qs, u"5"_qs);
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), input.left(kept) + platform::makeTrailer(bag.contents(), kept));
    }

    void keepsTheInputsFileMode() {
        const QString in = path("mode-in");
        QFile::copy(QStringLiteral(UPDATER_EXE), in);
        const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                          QFile::ReadGroup | QFile::ExeGroup | QFile::ReadUser | QFile::WriteUser |
                          QFile::ExeUser;
        QVERIFY(QFile::setPermissions(in, mode));
        const QString out = path("mode-out");
        QCOMPARE(stamp({"write", in, out, "--name", "X", "--id", "5", "--special-color", "255"})
                     .exitCode,
                 0);
        QCOMPARE(QFileInfo(out).permissions(), QFileInfo(in).permissions());
    }

    // The vendor's minisign key, as a .pub file or as its base64 line; anything else is a
    // usage error.
    void publicKey_data() {
        QTest::addColumn<bool>("asFile");
        QTest::addColumn<QByteArray>("damage"); // replaces the key line when not empty
        QTest::addColumn<bool>("rotation");     // a second key and --require-release-info too
        QTest::newRow(".pub file") << true << QByteArray() << false;
        QTest::newRow("base64 line") << false << QByteArray() << false;
        QTest::newRow("damaged line") << false << QByteArray("RWQ-not-a-key") << false;
        QTest::newRow("damaged file") << true << QByteArray("untrusted comment: x\nRWQ=") << false;
        QTest::newRow("second key, strict") << true << QByteArray() << true;
    }
    void publicKey() {
        QFETCH(bool, asFile);
        QFETCH(QByteArray, damage);
        QFETCH(bool, rotation);
        const QString stem = path("vendor");
        QVERIFY2(testsupport::makeMinisignKey(stem), "the minisign tool is needed");
        const QByteArray line = testsupport::readAll(stem + u".pub"_qs).split('\n').value(1);
        QString argument = QString::fromLatin1(damage.isEmpty() ? line : damage);
        if (asFile) {
            argument = stem + u".pub"_qs;
            if (!damage.isEmpty()) {
                QFile pub(argument);
                QVERIFY(pub.open(QIODevice::WriteOnly | QIODevice::Truncate));
                pub.write(damage);
            }
        }
        const QString copy = path("signed-copy");
        QFile::remove(copy);
        QStringList args{"write", UPDATER_EXE, copy,           "--name", "Demo",
                         "--id",  "7",         "--public-key", argument};
        QString shownExtra;
        QByteArray line2;
        if (rotation) {
            QVERIFY(testsupport::makeMinisignKey(path("vendor2")));
            line2 = testsupport::readAll(path("vendor2") + u".pub"_qs).split('\n').value(1);
            args << "--require-release-info"
                 << "--public-key" << path("vendor2") + u".pub"_qs;
            shownExtra = u"PackagePublicKey2="_qs + QString::fromLatin1(line2) +
                         u"\nPackageRequireReleaseInfo=1\n"_qs;
        }
        const Run w = stamp(args);
        if (!damage.isEmpty()) {
            QCOMPARE(w.exitCode, 2);
            QCOMPARE(w.err.count(u'\n'), 1);
            QVERIFY2(w.err.contains(u"--public-key"), qPrintable(w.err));
            QVERIFY(!QFileInfo::exists(copy));
            return;
        }
        QCOMPARE(w.exitCode, 0);
        QCOMPARE(stamp({"show", copy}).out,
                 u"SoftwareName=Demo\nSoftwareID=7\nPackagePublicKey="_qs +
                     QString::fromLatin1(line) + u"\n"_qs + shownExtra);
        const window::UpdaterSettings settings = window::readUpdaterSettings(copy);
        QCOMPARE(settings.PackagePublicKey, std::optional<QString>(QString::fromLatin1(line)));
        QCOMPARE(settings.PackagePublicKey2,
                 rotation ? std::optional<QString>(QString::fromLatin1(line2)) : std::nullopt);
        QCOMPARE(settings.PackageRequireReleaseInfo, rotation);
    }

    void rejectsBadInput_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        const QString in = QStringLiteral(UPDATER_EXE);
        const QString out = path("rejected");
        QTest::newRow("no command") << QStringList{} << 2;
        QTest::newRow("unknown command") << QStringList{"stamp"} << 2;
        QTest::newRow("unknown option")
            << QStringList{"write", in, out, "--name", "A", "--id", "1", "--colour", "1"} << 2;
        QTest::newRow("--require-release-info without a key")
            << QStringList{"write", in, out, "--name", "A", "--id", "1", "--require-release-info"}
            << 2;
        QTest::newRow("three public keys") << QStringList{"write", in,
                                                          out,     "--name",
                                                          "A",     "--id",
                                                          "1",     "--public-key",
                                                          Key,     "--public-key",
                                                          Key,     "--public-key",
                                                          Key}
                                           << 2;
        QTest::newRow("non-numeric id")
            << QStringList{"write", in, out, "--name", "A", "--id", "12abc"} << 2;
        QTest::newRow("id beyond 32 bits")
            << QStringList{"write", in, out, "--name", "A", "--id", "4294967296"} << 2;
        QTest::newRow("colour out of range")
            << QStringList{"write", in, out, "--name", "A", "--id", "1", "--color", "16777216"}
            << 2;
        QTest::newRow("short hex colour")
            << QStringList{"write", in, out, "--name", "A", "--id", "1", "--color", "#12345"} << 2;
        QTest::newRow("negative style")
            << QStringList{"write", in, out, "--name", "A", "--id", "1", "--style", "-1"} << 2;
        QTest::newRow("portal not http")
            << QStringList{"write", in, out, "--name", "A", "--id", "1", "--portal", "ftp://x"}
            << 2;
        QTest::newRow("missing id") << QStringList{"write", in, out, "--name", "A"} << 2;
        QTest::newRow("option without value") << QStringList{"write", in, out, "--name"} << 2;
        QTest::newRow("bad value after =")
            << QStringList{"write", in, out, "--name=A", "--id=12abc"} << 2;
        QTest::newRow("unknown option with =")
            << QStringList{"write", in, out, "--name", "A", "--id", "1", "--colour=1"} << 2;
        QTest::newRow("third operand")
            << QStringList{"write", in, out, "extra", "--name", "A", "--id", "1"} << 2;
        QTest::newRow("show with an option") << QStringList{"show", in, "--name", "A"} << 2;
        QTest::newRow("write without OUT") << QStringList{"write", in} << 2;
        QTest::newRow("show without file") << QStringList{"show"} << 2;
        QTest::newRow("show two files") << QStringList{"show", in, in} << 2;
        QTest::newRow("unreadable input")
            << QStringList{"write", path("no-such-file"), out, "--name", "A", "--id", "1"} << 1;
        QTest::newRow("output folder missing")
            << QStringList{"write", in, path("no-dir/out"), "--name", "A", "--id", "1"} << 1;
        // The temporary copy is written, then cannot replace a folder: it must not stay.
        QDir(m_dir.path()).mkdir(QStringLiteral("rejected-folder"));
        QTest::newRow("output is a folder")
            << QStringList{"write", in, path("rejected-folder"), "--name", "A", "--id", "1"} << 1;
        QFile(path("empty")).open(QIODevice::WriteOnly);
        QTest::newRow("empty input")
            << QStringList{"write", path("empty"), out, "--name", "A", "--id", "1"} << 1;
        QVERIFY(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600) == 0);
        QTest::newRow("FIFO input")
            << QStringList{"write", path("fifo"), out, "--name", "A", "--id", "1"} << 1;
        QTest::newRow("endless device input")
            << QStringList{"write", "/dev/zero", out, "--name", "A", "--id", "1"} << 1;
        QTest::newRow("folder input")
            << QStringList{"write", m_dir.path(), out, "--name", "A", "--id", "1"} << 1;
        QTest::newRow("show without trailer") << QStringList{"show", in} << 1;
        QTest::newRow("show a trailer of overlapping entries")
            << QStringList{"show", overlappingTrailer(path("overlapping"))} << 1;
        QTest::newRow("show missing file") << QStringList{"show", path("no-such-file")} << 1;
    }
    void rejectsBadInput() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        const Run r = stamp(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(r.out.isEmpty());
        QCOMPARE(r.err.count(u'\n'), 1);
        QVERIFY(r.err.startsWith(u"update-tool-stamp: "));
        QVERIFY(!QFileInfo::exists(path("rejected")));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Hidden | QDir::Files).filter(u".rej"_qs),
                 QStringList());
        QVERIFY(QFileInfo(path("rejected-folder")).isDir());
    }

    // Every tool answers --help with its usage and --version with "<tool> <version>", both
    // on stdout with exit code 0, and does nothing else.
    void toolsAnswerHelpAndVersion_data() {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("expected"); // the start of stdout
        const QString version = QStringLiteral("%1.%2.%3\n")
                                    .arg(platform::programVersion().major)
                                    .arg(platform::programVersion().minor)
                                    .arg(platform::programVersion().revision);
        const struct {
            const char *name;
            const char *exe;
            const char *usage;
        } tools[] = {{"update-tool-stamp", STAMP_EXE, "Usage: update-tool-stamp write IN OUT"},
                     {"update-tool-notify", NOTIFY_EXE, "Usage: update-tool-notify [--kind N]"},
                     {"update-tool-portal", PORTAL_EXE, "Usage: update-tool-portal --port N"}};
        for (const auto &tool : tools) {
            const QString name = QString::fromLatin1(tool.name);
            const QString exe = QString::fromUtf8(tool.exe);
            for (const char *option : {"--help", "-h"})
                QTest::addRow("%s %s", tool.name, option)
                    << exe << QString::fromLatin1(option) << QString::fromLatin1(tool.usage);
            QTest::addRow("%s --version", tool.name)
                << exe << QStringLiteral("--version") << name + u' ' + version;
        }
    }
    void toolsAnswerHelpAndVersion() {
        QFETCH(QString, tool);
        QFETCH(QString, option);
        QFETCH(QString, expected);
        QProcess process;
        process.start(tool, {option});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QString());
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        QVERIFY2(out.startsWith(expected), qPrintable(out));
        if (option == u"--version")
            QCOMPARE(out, expected);
        else
            QVERIFY2(out.contains(u"Exit status: 0"_qs), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(tst_Stamp)
#include "tst_stamp.moc"
