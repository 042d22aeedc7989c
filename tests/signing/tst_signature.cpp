#include <QTemporaryDir>
#include <QTest>

#include "signing/Minisign.h"
#include "signing/PackageVerifier.h"
#include "signing/ReleaseInfo.h"
#include "support/MinisignKit.h"

using namespace signing;

Q_DECLARE_METATYPE(signing::FormatError)
Q_DECLARE_METATYPE(signing::Verdict)

namespace {

// The signature file with its data line `line` (1 or 3) decoded, changed and encoded again.
QByteArray withDecodedLine(const QByteArray &file, int line,
                           const std::function<void(QByteArray &)> &change) {
    QList<QByteArray> lines = file.split('\n');
    QByteArray raw = QByteArray::fromBase64(lines[line]);
    change(raw);
    lines[line] = raw.toBase64();
    return lines.join('\n');
}

QByteArray withLine(const QByteArray &file, int line, const QByteArray &text) {
    QList<QByteArray> lines = file.split('\n');
    lines[line] = text;
    return lines.join('\n');
}

QByteArray flipped(QByteArray bytes, qsizetype at) {
    bytes[at] = char(bytes[at] ^ 0x01);
    return bytes;
}

} // namespace

class tst_Signature : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_package;
    QByteArray m_hashed;    // "ED" signature of m_package by key a
    QByteArray m_whole;     // "Ed" signature of m_package by key a
    QByteArray m_otherFile; // "ED" signature of another file by key a
    QByteArray m_byB;       // "ED" signature of m_package by key b
    QByteArray m_keyA;
    QByteArray m_keyB;

    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

private slots:
    void initTestCase() {
        using namespace testsupport;
        QVERIFY(m_dir.isValid());
        m_package = QByteArray("PK\3\4 a package of some size ").repeated(3000);
        QFile package(path("package.zip"));
        QVERIFY(package.open(QIODevice::WriteOnly) && package.write(m_package) > 0);
        package.close();
        QFile other(path("other.zip"));
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("another package") > 0);
        other.close();
        QVERIFY2(makeMinisignKey(path("a")) && makeMinisignKey(path("b")),
                 "the minisign tool is needed (scripts/setup installs it)");
        QVERIFY(minisignFile(path("package.zip"), path("a"), path("hashed.minisig")));
        QVERIFY(minisignFile(path("package.zip"), path("a"), path("whole.minisig"), true));
        QVERIFY(minisignFile(path("other.zip"), path("a"), path("other.minisig")));
        QVERIFY(minisignFile(path("package.zip"), path("b"), path("b.minisig")));
        m_hashed = readAll(path("hashed.minisig"));
        m_whole = readAll(path("whole.minisig"));
        m_otherFile = readAll(path("other.minisig"));
        m_byB = readAll(path("b.minisig"));
        m_keyA = readAll(path("a.pub"));
        m_keyB = readAll(path("b.pub"));
    }

    void publicKeys_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("error"); // -1: accepted
        const QByteArray line = m_keyA.split('\n').value(1);
        QTest::newRow("the .pub file") << m_keyA << -1;
        QTest::newRow("the base64 line") << line << -1;
        QTest::newRow("line with blanks and CRLF") << "  " + line + "\r\n" << -1;
        QTest::newRow("empty") << QByteArray("\n ") << int(FormatError::Empty);
        QTest::newRow("not base64") << QByteArray("RW*not base64*") << int(FormatError::NotBase64);
        QTest::newRow("truncated") << line.chopped(4) << int(FormatError::WrongLength);
        QTest::newRow("a signature's algorithm") << [&] {
            QByteArray raw = QByteArray::fromBase64(line);
            raw[1] = 'D';
            return raw.toBase64();
        }() << int(FormatError::UnknownAlgorithm);
        QTest::newRow("two key lines") << line + "\n" + line << int(FormatError::MissingLine);
        QTest::newRow("too large")
            << QByteArray(MaxPublicKeyFileSize + 1, 'A') << int(FormatError::TooLarge);
        QTest::newRow("exactly the size limit")
            << line.leftJustified(MaxPublicKeyFileSize, ' ') << -1;
    }
    void publicKeys() {
        QFETCH(QByteArray, text);
        QFETCH(int, error);
        const auto parsed = parsePublicKey(text);
        if (error < 0) {
            QVERIFY(std::holds_alternative<PublicKey>(parsed));
            QCOMPARE(std::get<PublicKey>(parsed).toBase64(), m_keyA.split('\n').value(1));
        } else {
            QVERIFY(std::holds_alternative<FormatError>(parsed));
            QCOMPARE(int(std::get<FormatError>(parsed)), error);
        }
    }

    // Every way a package or its signature can be wrong, against signatures made by minisign.
    void verify_data() {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("formatError"); // -1: the signature file parses
        QTest::addColumn<Verdict>("verdict");
        const int parses = -1;
        QTest::newRow("hashed (ED)") << m_package << m_hashed << m_keyA << parses << Verdict::Valid;
        QTest::newRow("whole file (Ed)")
            << m_package << m_whole << m_keyA << parses << Verdict::Valid;
        QTest::newRow("flipped package byte, ED")
            << flipped(m_package, 1000) << m_hashed << m_keyA << parses << Verdict::BadSignature;
        QTest::newRow("flipped package byte, Ed")
            << flipped(m_package, 0) << m_whole << m_keyA << parses << Verdict::BadSignature;
        QTest::newRow("package one byte short")
            << m_package.chopped(1) << m_hashed << m_keyA << parses << Verdict::BadSignature;
        QTest::newRow("empty package")
            << QByteArray() << m_hashed << m_keyA << parses << Verdict::BadSignature;
        QTest::newRow("flipped signature byte")
            << m_package << withDecodedLine(m_hashed, 1, [](QByteArray &raw) { raw[40] ^= 1; })
            << m_keyA << parses << Verdict::BadSignature;
        QTest::newRow("changed trusted comment")
            << m_package << withLine(m_hashed, 2, "trusted comment: timestamp:0\tfile:evil.zip")
            << m_keyA << parses << Verdict::BadGlobalSignature;
        QTest::newRow("flipped global signature byte")
            << m_package << withDecodedLine(m_hashed, 3, [](QByteArray &raw) { raw[5] ^= 1; })
            << m_keyA << parses << Verdict::BadGlobalSignature;
        QTest::newRow("wrong key id")
            << m_package << withDecodedLine(m_hashed, 1, [](QByteArray &raw) { raw[2] ^= 1; })
            << m_keyA << parses << Verdict::OtherKey;
        QTest::newRow("another key") << m_package << m_byB << m_keyA << parses << Verdict::OtherKey;
        QTest::newRow("another key posing with our key id")
            << m_package
            << withDecodedLine(
                   m_byB, 1,
                   [&](QByteArray &raw) {
                       raw.replace(2, 8,
                                   QByteArray::fromBase64(m_keyA.split('\n').value(1)).mid(2, 8));
                   })
            << m_keyA << parses << Verdict::BadSignature;
        QTest::newRow("signature of another file")
            << m_package << m_otherFile << m_keyA << parses << Verdict::BadSignature;
        QTest::newRow("unknown algorithm")
            << m_package << withDecodedLine(m_hashed, 1, [](QByteArray &raw) { raw[1] = 'X'; })
            << m_keyA << int(FormatError::UnknownAlgorithm) << Verdict::Valid;
        QTest::newRow("truncated base64")
            << m_package << withLine(m_hashed, 1, m_hashed.split('\n')[1].chopped(8)) << m_keyA
            << int(FormatError::WrongLength) << Verdict::Valid;
        QTest::newRow("damaged base64")
            << m_package << withLine(m_hashed, 3, "@@" + m_hashed.split('\n')[3].mid(2)) << m_keyA
            << int(FormatError::NotBase64) << Verdict::Valid;
        QTest::newRow("empty signature file")
            << m_package << QByteArray() << m_keyA << int(FormatError::Empty) << Verdict::Valid;
        QTest::newRow("no trusted comment")
            << m_package << withLine(m_hashed, 2, "comment: x") << m_keyA
            << int(FormatError::MissingLine) << Verdict::Valid;
        QTest::newRow("lines missing") << m_package << m_hashed.left(m_hashed.indexOf("trusted"))
                                       << m_keyA << int(FormatError::MissingLine) << Verdict::Valid;
        QTest::newRow("too large") << m_package << m_hashed + QByteArray(MaxSignatureFileSize, ' ')
                                   << m_keyA << int(FormatError::TooLarge) << Verdict::Valid;
        // The untrusted comment is not signed: it may be padded to exactly the limit.
        const QByteArray signedLines = m_hashed.mid(m_hashed.indexOf('\n'));
        const QByteArray padded =
            QByteArray("untrusted comment: ")
                .leftJustified(MaxSignatureFileSize - signedLines.size(), 'x') +
            signedLines;
        QTest::newRow("exactly the size limit")
            << m_package << padded << m_keyA << parses << Verdict::Valid;
        QTest::newRow("CRLF line ends") << m_package << QByteArray(m_hashed).replace("\n", "\r\n")
                                        << m_keyA << parses << Verdict::Valid;
        QTest::newRow("an extra line") << m_package << m_hashed + "extra\n"
                                       << m_keyA << int(FormatError::MissingLine) << Verdict::Valid;
        QTest::newRow("no untrusted comment")
            << m_package << withLine(m_hashed, 0, "comment: x") << m_keyA
            << int(FormatError::MissingLine) << Verdict::Valid;
        QTest::newRow("empty data line") << m_package << withLine(m_hashed, 3, "") << m_keyA
                                         << int(FormatError::NotBase64) << Verdict::Valid;
    }
    void verify() {
        QFETCH(QByteArray, package);
        QFETCH(QByteArray, signature);
        QFETCH(QByteArray, key);
        QFETCH(int, formatError);
        QFETCH(Verdict, verdict);
        const auto parsedKey = parsePublicKey(key);
        QVERIFY(std::holds_alternative<PublicKey>(parsedKey));
        const auto parsed = parseSignature(signature);
        if (formatError >= 0) {
            QVERIFY(std::holds_alternative<FormatError>(parsed));
            QCOMPARE(int(std::get<FormatError>(parsed)), formatError);
            return;
        }
        QVERIFY(std::holds_alternative<Signature>(parsed));
        const QString file = path("checked.zip");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(out.write(package), package.size());
        out.close();

        // Read from the file at the end, and hashed in pieces as the bytes arrive.
        PackageVerifier fromFile(std::get<PublicKey>(parsedKey), std::get<Signature>(parsed));
        QCOMPARE(fromFile.verifyFile(file), verdict);
        PackageVerifier streamed(std::get<PublicKey>(parsedKey), std::get<Signature>(parsed));
        for (qsizetype at = 0; at < package.size(); at += 7001)
            streamed.update(at, package.sliced(at, qMin<qsizetype>(7001, package.size() - at)));
        QCOMPARE(streamed.verifyFile(file), verdict);
    }

    // The streamed digest stands for the file only when its pieces join up from the start to
    // the file's size; otherwise the file itself is read.
    // The trusted comment as release information; -1 in a number column: field absent.
    void releaseInfo_data() {
        QTest::addColumn<QByteArray>("comment");
        QTest::addColumn<int>("error"); // -1: parsed
        QTest::addColumn<qint64>("timestamp");
        QTest::addColumn<QString>("product"); // "-": absent
        QTest::addColumn<QString>("version");
        QTest::addColumn<qint64>("size");
        const QString none = u"-"_qs;
        QTest::newRow("minisign's default")
            << QByteArray("timestamp:1700000000\tfile:p.zip\thashed") << -1 << 1700000000LL << none
            << none << -1LL;
        QTest::newRow("all fields, unknown ones ignored")
            << QByteArray("timestamp:5\tproduct:1234\tx:y\tversion:演示 2.1: beta\tsize:300") << -1
            << 5LL << u"1234"_qs << u"演示 2.1: beta"_qs << 300LL;
        QTest::newRow("empty") << QByteArray() << -1 << -1LL << none << none << -1LL;
        const auto bad = [&](const char *tag, const QByteArray &comment, ReleaseInfoError error) {
            QTest::newRow(tag) << comment << int(error) << -1LL << none << none << -1LL;
        };
        bad("version twice", "version:2.1\tversion:3.0", ReleaseInfoError::RepeatedField);
        bad("size twice", "size:1\tsize:1", ReleaseInfoError::RepeatedField);
        bad("size with a sign", "size:+300", ReleaseInfoError::BadNumber);
        bad("size with a blank", "size: 300", ReleaseInfoError::BadNumber);
        bad("empty timestamp", "timestamp:", ReleaseInfoError::BadNumber);
        bad("size beyond any package", "size:9223372036854775807", ReleaseInfoError::BadNumber);
        bad("not UTF-8", "version:\xff\xfe", ReleaseInfoError::NotUtf8);
        bad("too long", "version:" + QByteArray(MaxTrustedCommentSize, 'x'),
            ReleaseInfoError::TooLarge);
        bad("too many fields", QByteArray("a:b\t").repeated(MaxReleaseFields + 1),
            ReleaseInfoError::TooLarge);
        bad("timestamp twice", "timestamp:1\ttimestamp:2", ReleaseInfoError::RepeatedField);
        QTest::newRow("exactly the most fields")
            << QByteArray("a:b\t").repeated(MaxReleaseFields - 1) + "size:7" << -1 << -1LL << none
            << none << 7LL;
        QTest::newRow("exactly the longest comment")
            << "version:" + QByteArray(MaxTrustedCommentSize - 8, 'x') << -1 << -1LL << none
            << QString(MaxTrustedCommentSize - 8, u'x') << -1LL;
        QTest::newRow("size of exactly the limit") << "size:" + QByteArray::number(MaxReleaseSize)
                                                   << -1 << -1LL << none << none << MaxReleaseSize;
    }
    void releaseInfo() {
        QFETCH(QByteArray, comment);
        QFETCH(int, error);
        const auto parsed = parseReleaseInfo(comment);
        if (error >= 0) {
            QCOMPARE(int(std::get<ReleaseInfoError>(parsed)), error);
            return;
        }
        const ReleaseInfo &info = std::get<ReleaseInfo>(parsed);
        const auto text = [](const std::optional<QString> &v) { return v.value_or(u"-"_qs); };
        QTEST(info.timestamp.value_or(-1), "timestamp");
        QTEST(text(info.product), "product");
        QTEST(text(info.version), "version");
        QTEST(info.size.value_or(-1), "size");
    }

    // The hashing thread takes large pieces as they are and gathers small ones into a batch:
    // the digest is that of the bytes in the order given, also for a piece larger than the
    // queue's bound (which waits for an empty queue instead of forever). OpenSSL's and
    // libsodium's BLAKE2b agree, whichever the machine offers.
    void backgroundHashKeepsOrder_data() {
        QTest::addColumn<QList<qsizetype>>("pieces"); // sizes, in KiB
        QTest::newRow("small pieces") << QList<qsizetype>{1, 7, 100, 3};
        QTest::newRow("a batch, then a large piece") << QList<qsizetype>{5, 300, 2048, 1, 2048, 17};
        QTest::newRow("larger than the queue's bound")
            << QList<qsizetype>{2048, 2048, 2048, 7 * 1024, 1};
    }
    void backgroundHashKeepsOrder() {
        QFETCH(QList<qsizetype>, pieces);
        Blake2b512 expected(Blake2b512::Implementation::Libsodium);
        BackgroundBlake2b512 background;
        char next = 0;
        for (const qsizetype kib : pieces) {
            QByteArray piece(kib * 1024, Qt::Uninitialized);
            for (char &byte : piece)
                byte = next++;
            expected.update(piece);
            background.update(piece);
        }
        QVERIFY(background.finish() == expected.finish());
    }

    void streamedPiecesMustCoverTheFile_data() {
        QTest::addColumn<QList<qint64>>("offsets"); // each piece is 100 bytes of the package
        QTest::addColumn<bool>("hashedAsWritten");
        QTest::newRow("an abandoned attempt, then the whole file")
            << QList<qint64>{0, 100, -1} << true;
        QTest::newRow("a gap (resumed elsewhere)") << QList<qint64>{0, 200} << false;
        QTest::newRow("only the start") << QList<qint64>{0} << false;
        QTest::newRow("nothing") << QList<qint64>{} << false;
    }
    void streamedPiecesMustCoverTheFile() {
        QFETCH(QList<qint64>, offsets);
        QFETCH(bool, hashedAsWritten);
        PackageVerifier verifier(std::get<PublicKey>(parsePublicKey(m_keyA)),
                                 std::get<Signature>(parseSignature(m_hashed)));
        for (const qint64 offset : offsets) {
            if (offset < 0) // the whole package, written anew
                verifier.update(0, m_package);
            else
                verifier.update(offset, m_package.sliced(offset, 100));
        }
        // Either way the verdict is right for the file as written. A digest taken as written
        // is used without reading the file again (the file is the download's own, written
        // from exactly those pieces): a file changed behind its back shows which way was taken.
        QCOMPARE(verifier.verifyFile(path("package.zip")), Verdict::Valid);
        QFile changed(path("changed.zip"));
        QVERIFY(changed.open(QIODevice::WriteOnly | QIODevice::Truncate));
        changed.write(flipped(m_package, 7));
        changed.close();
        PackageVerifier again(std::get<PublicKey>(parsePublicKey(m_keyA)),
                              std::get<Signature>(parseSignature(m_hashed)));
        for (const qint64 offset : offsets)
            again.update(offset < 0 ? 0 : offset,
                         offset < 0 ? m_package : m_package.sliced(offset, 100));
        QCOMPARE(again.verifyFile(path("changed.zip")),
                 hashedAsWritten ? Verdict::Valid : Verdict::BadSignature);
    }

    void wholeFileSignaturesHaveASizeLimit() {
        QFile big(path("big.zip"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(MaxWholeFileSignedSize + 1));
        big.close();
        PackageVerifier verifier(std::get<PublicKey>(parsePublicKey(m_keyA)),
                                 std::get<Signature>(parseSignature(m_whole)));
        QCOMPARE(verifier.verifyFile(path("big.zip")), Verdict::TooLargeForWholeFile);
        QCOMPARE(verifier.verifyFile(path("missing.zip")), Verdict::Unreadable);
    }
};

QTEST_GUILESS_MAIN(tst_Signature)
#include "tst_signature.moc"
