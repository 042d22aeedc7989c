#include <clocale>

#include <QTest>

#include "window/PageTitle.h"

using namespace window;

class tst_PageTitle : public QObject {
    Q_OBJECT
private slots:
    void getTextBetween_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("expected");
        QTest::newRow("title") << "<h1 title=Demo 2.1>x"
                               << "h1 title="
                               << ">"
                               << "Demo 2.1";
        QTest::newRow("first start, first end after it") << "> a[1] b[2]"
                                                         << "["
                                                         << "]"
                                                         << "1";
        QTest::newRow("no start") << "abc>"
                                  << "h1 title="
                                  << ">"
                                  << "";
        QTest::newRow("no end anywhere") << "h1 title=abc"
                                         << "h1 title="
                                         << ">"
                                         << "";
        QTest::newRow("end only before start") << "> h1 title=abc"
                                               << "h1 title="
                                               << ">"
                                               << "";
        QTest::newRow("end inside the start marker") << "ab"
                                                     << "ab"
                                                     << "b"
                                                     << "";
        QTest::newRow("empty between") << "h1 title=>"
                                       << "h1 title="
                                       << ">"
                                       << "";
        QTest::newRow("case-sensitive") << "H1 TITLE=x>"
                                        << "h1 title="
                                        << ">"
                                        << "";
    }
    void getTextBetween() {
        QFETCH(QString, text);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QTEST(GetTextBetween(text, start, end), "expected");
    }

    void pageTitle_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("title");
        QTest::newRow("quoted") << "<html><h1 title=\"Demo 2.1\">Demo</h1>" << true << "Demo 2.1";
        QTest::newRow("first heading wins")
            << "<h1 title=\"A 1\"></h1><h1 title=\"B 2\">" << true << "A 1";
        QTest::newRow("no title") << "<h1>Demo</h1>" << false << "";
        QTest::newRow("no end") << "<h1 title=\"Demo" << false << "";
        QTest::newRow("empty title") << "<h1 title=\"\">" << false << "";
        QTest::newRow("blank title") << "<h1 title=\"   \">" << false << "";
        QTest::newRow("dots only") << "<h1 title=\"..\">" << false << "";
        QTest::newRow("dots and blanks") << "<h1 title=\" . \">" << false << "";
        QTest::newRow("dots inside are fine") << "<h1 title=\"..v2\">" << true << "..v2";
        QTest::newRow("bidi override removed")
            << u"<h1 title=\"Demo\u202Egnp.exe\">"_qs << true << "Demognp.exe";
        QTest::newRow("only invisible characters")
            << u"<h1 title=\"\u200B\uFEFF\u2066\">"_qs << false << "";
        QTest::newRow("separators and a tag character removed")
            << u"<h1 title=\"A\u0085B\u2028C\u2029D\U000E0041\">"_qs << true << "ABCD";
    }
    void pageTitle() {
        QFETCH(QString, page);
        QFETCH(bool, found);
        const auto title = window::pageTitle(page);
        QCOMPARE(title.has_value(), found);
        if (found)
            QTEST(*title, "title");
    }

    void packageSignature_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QByteArray>("signature"); // empty: none
        const QByteArray file = "untrusted comment: x\nRUQ=\ntrusted comment: y\nAA==\n";
        const QString encoded = QString::fromLatin1(file.toBase64());
        QTest::newRow("double quotes")
            << "<head><meta name=\"package-signature\" content=\"" + encoded + "\"></head>" << file;
        QTest::newRow("content first, single quotes, upper case")
            << "<META CONTENT='" + encoded + "' NAME='package-signature' />" << file;
        QTest::newRow("none") << "<meta name=\"description\" content=\"" + encoded + "\">"
                              << QByteArray();
        QTest::newRow("longer name is another name")
            << "<meta name=\"package-signature-old\" content=\"" + encoded + "\">" << QByteArray();
        QTest::newRow("not base64")
            << "<meta name=\"package-signature\" content=\"@@@@\">" << QByteArray();
        QTest::newRow("empty") << "<meta name=\"package-signature\" content=\"\">" << QByteArray();
        QTest::newRow("larger than a signature file")
            << "<meta name=\"package-signature\" content=\"" + QString(5468, u'A') + "\">"
            << QByteArray();
    }
    void packageSignature() {
        QFETCH(QString, page);
        QFETCH(QByteArray, signature);
        const auto found = window::packageSignature(page);
        QCOMPARE(found.value_or(QByteArray()), signature);
    }

    void packageFileName_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("name");
        QTest::newRow("blanks") << "Demo 2.1"
                                << "Demo_2.1.zip";
        QTest::newRow("other characters stay") << "转换器 v2.1-beta(x)"
                                               << "转换器_v2.1-beta(x).zip";
        QTest::newRow("traversal") << "../../etc/passwd"
                                   << "_.._etc_passwd.zip";
        QTest::newRow("backslash traversal") << "..\\..\\x"
                                             << "_.._x.zip";
        QTest::newRow("no hidden file") << ". ."
                                        << "_..zip";
        QTest::newRow("dot behind an invisible character") << u"\u200B.x"_qs << "x.zip";
        QTest::newRow("nothing left") << u".\u202E."_qs << "_.zip";
        QTest::newRow("bidi controls")
            << u"Demo\u202Egnp.exe\u202A\u202B\u202C\u202D"_qs << "Demognp.exe.zip";
        QTest::newRow("isolates and marks")
            << u"a\u2066b\u2067c\u2068d\u2069e\u200Ef\u200Fg"_qs << "abcdefg.zip";
        QTest::newRow("zero-width and byte-order mark")
            << u"a\u200Bb\u200Cc\u200Dd\uFEFFe"_qs << "abcde.zip";
        QTest::newRow("line separators") << u"a\u0085b\u2028c\u2029d"_qs << "abcd.zip";
        QTest::newRow("C1 control") << u"a\u0090b"_qs << "a_b.zip";
        QTest::newRow("absolute") << "/tmp/evil"
                                  << "_tmp_evil.zip";
        QTest::newRow("control characters") << QString("a\tb\nc") + QChar(0) + "d"
                                            << "a_b_c_d.zip";
        QTest::newRow("reserved") << "a<b>c:d|e?f*g\"h"
                                  << "a_b_c_d_e_f_g_h.zip";
        // The name before ".zip" holds at most 200 bytes of UTF-8: exactly that is kept whole,
        // one byte more loses the last character, never a part of one.
        const QString a200(200, u'a');
        QTest::newRow("200 bytes kept") << a200 << a200 + u".zip"_qs;
        QTest::newRow("201 bytes cut") << a200 + u"b"_qs << a200 + u".zip"_qs;
        const QString wide = u"ab"_qs + QString(66, u'版'); // 2 + 66 * 3 = 200 bytes
        QTest::newRow("200 bytes of 3-byte characters kept") << wide << wide + u".zip"_qs;
        QTest::newRow("a 3-byte character over the cap") << wide + u'版' << wide + u".zip"_qs;
        const QString emoji = u"😀"_qs.repeated(50); // 4 bytes each, 2 UTF-16 units
        QTest::newRow("200 bytes of 4-byte characters kept") << emoji << emoji + u".zip"_qs;
        QTest::newRow("a 4-byte character over the cap") << emoji + u"😀"_qs << emoji + u".zip"_qs;
    }
    void packageFileName() {
        QFETCH(QString, title);
        QTEST(window::packageFileName(title), "name");
    }

    void longTitlesStayWithinNameLimits() {
        const QString name = window::packageFileName(QString(5000, QChar(u'版')));
        QVERIFY(name.endsWith(u".zip"));
        QVERIFY(name.toUtf8().size() + 7 <= 255); // room for "(99999)"
        QVERIFY(name.size() > 4);
        const QString emoji = window::packageFileName(QString::fromUtf8("😀").repeated(200));
        QVERIFY(!emoji.chopped(4).back().isHighSurrogate());
    }

    void declaredCharset_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("charset");
        QTest::newRow("header") << QByteArray("text/html; charset=GBK") << QByteArray("<html>")
                                << QByteArray("GBK");
        QTest::newRow("header quoted")
            << QByteArray("text/html; Charset=\"utf-8\"") << QByteArray() << QByteArray("utf-8");
        QTest::newRow("header beats meta")
            << QByteArray("text/html; charset=utf-8") << QByteArray("<meta charset=gbk>")
            << QByteArray("utf-8");
        QTest::newRow("meta charset")
            << QByteArray("text/html") << QByteArray("<head><meta charset=\"gb2312\"></head>")
            << QByteArray("gb2312");
        QTest::newRow("meta http-equiv")
            << QByteArray()
            << QByteArray("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=gbk\">")
            << QByteArray("gbk");
        QTest::newRow("meta beyond 2 KiB")
            << QByteArray() << QByteArray(3000, ' ') + "<meta charset=gbk>" << QByteArray();
        QTest::newRow("charset outside meta ignored")
            << QByteArray() << QByteArray("<p>charset=gbk</p>") << QByteArray();
        QTest::newRow("none") << QByteArray() << QByteArray("<html>") << QByteArray();
    }
    void declaredCharset() {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, page);
        QTEST(window::declaredCharset(contentType, page), "charset");
    }

    void decodesAGbkPageOnAUtf8Desktop() {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        const QByteArray gbk = "<meta charset=gbk><h1 title=\"\xB8\xFC\xD0\xC2 2.1\">";
        QCOMPARE(window::pageTitle(decodePage(gbk, QByteArray())),
                 std::optional<QString>(QStringLiteral("更新 2.1")));
        QCOMPARE(window::pageTitle(
                     decodePage("<h1 title=\"\xB8\xFC\xD0\xC2\">", "text/html; charset=GBK")),
                 std::optional<QString>(QStringLiteral("更新")));
        // No declaration: the locale's codeset.
        QCOMPARE(decodePage("\xE6\x9B\xB4", QByteArray()), QStringLiteral("更"));
        // An unknown declared charset falls back to the locale's codeset.
        QCOMPARE(decodePage("\xE6\x9B\xB4", "text/html; charset=x-unknown"), QStringLiteral("更"));
    }
};

QTEST_APPLESS_MAIN(tst_PageTitle)
#include "tst_pagetitle.moc"
