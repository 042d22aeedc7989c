#include <memory>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

#include "download/DownloadTestKit.h"
#include "download/FakeReadService.h"
#include "download/ctlAsyncDownload.h"
#include "net/NetworkReadService.h"
#include "support/DataRows.h"
#include "support/MinisignKit.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestPortal.h"
#include "support/ZipArchive.h"
#include "window/FakeWindowHost.h"
#include "window/FileNames.h"
#include "window/Interaction.h"
#include "window/PublishedPackages.h"
#include "window/ReleaseHistory.h"
#include "window/Workflow.h"

using namespace window;
using testsupport::PortalResponse;
using testsupport::randomBytes;
using testsupport::randomPackage;
using testsupport::releaseComment;
using Draw = FakeWindowHost::Draw;

Q_DECLARE_METATYPE(testsupport::PortalResponse)

namespace {

const QString Title = QStringLiteral("Demo 更新工具 1.2.3 beta");
const QString AuthorPage = QStringLiteral("https://author.example/home");
const QByteArray PagePath = "/content/7.html";
const QByteArray PackagePath = "/download/d_load.php?d_id=7&down_id=1";
const QString CheckFailed = QStringLiteral("检查更新失败，请稍后重试。");
const QString DownloadFailed = QStringLiteral("文件下载失败！");
const QString OpenQuestion =
    QStringLiteral("文件已经完成下载。软件必须解压后才能正常使用，是否用系统默认程序打开软件包？");
const QString SavedHere = QStringLiteral("文件已经下载到当前目录。");
const QString SignatureFailed = QStringLiteral("软件包签名校验失败，文件已删除。");
const QString ReleaseRefused = QStringLiteral("版本信息签名校验失败，没有下载任何文件。");
const QString Product = QStringLiteral("1234");

QByteArray productPage(const QByteArray &title, const QByteArray &head = QByteArray()) {
    return "<html><head>" + head + "</head><body><div><h1 title=\"" + title + "\">" + title +
           "</h1></div></body></html>";
}

bool sameDraw(const Draw &d, const QString &info2, float percent) {
    return d.mouseStatus == 0 && d.info1 == Title && d.info2 == info2 && d.percent == percent;
}

QString describe(const Draw &d) {
    return QStringLiteral("%1 [%2] [%3] %4")
        .arg(d.mouseStatus)
        .arg(d.info1, d.info2)
        .arg(double(d.percent));
}

// The workflow with everything around it: the real download control over a read service,
// message boxes with scripted answers, a recording shell and a fake window.
struct Rig {
    QTemporaryDir dir;
    WindowState state;
    FakeWindowHost host{state};
    ScriptedMessageBoxes boxes;
    RecordingShell shell;
    std::unique_ptr<download::ctlAsyncDownload> control;
    std::unique_ptr<Workflow> workflow;
    std::unique_ptr<Interaction> interaction;
    qsizetype drawsAtUnload = -1;

    QString programFolder = dir.path();

    // `subfolder`: the program's folder below the scratch folder, created here.
    Rig(net::ReadService &service, const QString &pageUrl, const QString &packageUrl,
        const QString &subfolder = {}) {
        if (!subfolder.isEmpty()) {
            programFolder = dir.filePath(subfolder);
            QDir().mkpath(programFolder);
        }
        state.strPageUrl = pageUrl;
        state.strPackageUrl = packageUrl;
        state.strTitleText = Title;
        state.strAuthorLinkText = AuthorLinkText();
        state.strActionCaption = CaptionCheck();
        host.setLast(Title, AuthorLinkText(), 0);
        control = std::make_unique<download::ctlAsyncDownload>(service);
        workflow = std::make_unique<Workflow>(
            state, host,
            Workflow::Services{control.get(), &boxes, &shell, programFolder, AuthorPage});
        control->setEventSink(workflow.get());
        interaction = std::make_unique<Interaction>(state, host, *workflow);
        // As the window does: after unload the workflow draws no more.
        host.onUnload = [this] {
            drawsAtUnload = host.draws.size();
            workflow->detach();
        };
    }
    ~Rig() {
        // The control's clean-up still talks to the workflow.
        control.reset();
    }
    QString inFolder(const QString &name) const { return dir.filePath(name); }

    // A click with the pointer on the action button where the window shows it now.
    bool clickAction() {
        const render::Rect r = host.regions().rcActionButton;
        if (r.isEmpty())
            return false;
        const float x = float(state.lShadowMargin + (r.left + r.right) / 2);
        const float y = float(state.lShadowMargin + (r.top + r.bottom) / 2);
        interaction->Form_MouseDown(x, y);
        interaction->Form_MouseUp(x, y);
        return true;
    }
};

// A rig over the real read service and a portal on 127.0.0.1.
struct NetRig {
    testsupport::TestPortal portal;
    net::NetworkReadService service;
    std::unique_ptr<Rig> rig;

    explicit NetRig(const QString &subfolder = {}) {
        if (!portal.listen())
            return;
        service.setRetryWait(
            [](std::chrono::milliseconds) { return std::chrono::milliseconds(0); });
        rig = std::make_unique<Rig>(service, portal.url(QString::fromLatin1(PagePath)),
                                    portal.url(QString::fromLatin1(PackagePath)), subfolder);
    }
    ~NetRig() { rig.reset(); }

    // The copy, product 1234, carries `publicKey` (none when empty); the page offers
    // `title` and announces `signature` (none when empty).
    void serveSignedPage(const QString &publicKey, const QByteArray &signature,
                         const QByteArray &title = "Demo 2.1") {
        rig->state.lSoftwareID = Product.toInt();
        if (!publicKey.isEmpty())
            rig->state.strPackagePublicKey = publicKey;
        const QByteArray meta =
            signature.isEmpty()
                ? QByteArray()
                : "<meta name=\"package-signature\" content=\"" + signature.toBase64() + "\">";
        portal.route(PagePath, PortalResponse::ok(productPage(title, meta), "text/html"));
    }
};

} // namespace

class tst_Workflow : public QObject {
    Q_OBJECT

    // Two vendor key pairs made by the minisign tool, and the public key line of the first.
    QTemporaryDir m_keys;
    QString m_keyA;
    QString m_keyB;
    QString m_publicKeyA;
    QString m_publicKeyB;

    // The .minisig file minisign makes for `package` with the secret key `stem`.key, with
    // `comment` as its trusted comment (minisign's default when empty).
    QByteArray signedBy(const QByteArray &package, const QString &stem, bool wholeFile = false,
                        const QString &comment = {}) {
        const QString file = m_keys.filePath(u"package.zip"_qs);
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(package) < 0)
            return {};
        out.close();
        const QString signature = file + u".minisig"_qs;
        QFile::remove(signature);
        return testsupport::minisignFile(file, stem, signature, wholeFile, comment)
                   ? testsupport::readAll(signature)
                   : QByteArray();
    }

    // Clicks the action button in the ready-to-check state and waits for the check to end.
    static bool runCheck(Rig &rig) {
        if (rig.state.strActionCaption != CaptionCheck())
            return false;
        const qsizetype boxes = rig.boxes.shown.size();
        if (!rig.clickAction())
            return false;
        return QTest::qWaitFor(
            [&] {
                return rig.state.strActionCaption != CaptionCancel() ||
                       rig.boxes.shown.size() > boxes;
            },
            15000);
    }

    // Clicks the action button in the ready-to-download state and waits for the outcome.
    static bool runDownload(Rig &rig) {
        if (rig.state.strActionCaption != CaptionDownload() || !rig.clickAction())
            return false;
        return QTest::qWaitFor([&] { return !rig.boxes.shown.isEmpty(); }, 15000);
    }

private slots:
    void initTestCase() {
        m_keyA = m_keys.filePath(u"a"_qs);
        m_keyB = m_keys.filePath(u"b"_qs);
        QVERIFY2(testsupport::makeMinisignKey(m_keyA) && testsupport::makeMinisignKey(m_keyB),
                 "the minisign tool is needed (scripts/setup installs it)");
        m_publicKeyA =
            QString::fromLatin1(testsupport::readAll(m_keyA + u".pub"_qs).split('\n').value(1));
        m_publicKeyB =
            QString::fromLatin1(testsupport::readAll(m_keyB + u".pub"_qs).split('\n').value(1));
        qputenv("XDG_STATE_HOME", m_keys.filePath(u"state"_qs).toUtf8());
    }
    // Each case starts with no accepted release.
    void init() { QFile::remove(releaseHistoryPath()); }

    void wholeRoad_data() {
        testsupport::addRows<int>("answer", {{"Yes opens the package", platform::AnswerYes},
                                             {"No still ends the program", platform::AnswerNo}});
    }
    void wholeRoad() {
        QFETCH(int, answer);
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        const QByteArray package = randomPackage(300 * 1024 + 17);
        net.portal.route(PagePath,
                         PortalResponse::ok(productPage("Demo 2.1"), "text/html; charset=UTF-8"));
        net.portal.route(PackagePath,
                         PortalResponse::ok(package, "application/zip").dripping(16 * 1024, 2));
        rig.boxes.answers = {answer};

        // The check, by a click on the action button of the compact view.
        QVERIFY(rig.clickAction());
        QCOMPARE(rig.state.strActionCaption, CaptionCancel());
        // The button's pressed and released looks, then the check's own repaint.
        QCOMPARE(rig.host.draws.size(), 3);
        QVERIFY2(sameDraw(rig.host.draws[2], TextChecking(), 0),
                 qPrintable(describe(rig.host.draws[2])));
        QTRY_COMPARE_WITH_TIMEOUT(rig.state.strActionCaption, CaptionDownload(), 15000);
        QCOMPARE(rig.state.strPageTitle, u"Demo 2.1"_qs);
        const QString path = rig.inFolder(u"Demo_2.1.zip"_qs);
        QCOMPARE(rig.state.strPackagePath, path);
        QCOMPARE(rig.state.Tag, u"1"_qs); // the agreement is shown
        QCOMPARE(rig.host.calls, QStringList{u"switchViewSize"_qs});
        QVERIFY2(sameDraw(rig.host.draws.last(), AuthorLinkText(), 0),
                 qPrintable(describe(rig.host.draws.last())));
        QVERIFY(rig.boxes.shown.isEmpty());

        // The download, by a click on the action button of the expanded view.
        rig.host.draws.clear();
        const int pumpsBefore = rig.host.pumps;
        QVERIFY(rig.clickAction());
        QCOMPARE(rig.state.strActionCaption, QString());
        QCOMPARE(rig.state.Tag, u"0"_qs);
        QCOMPARE(rig.host.calls.count(u"switchViewSize"_qs), 2);
        QVERIFY(sameDraw(rig.host.draws.value(2), TextDownloading(), 0));
        QTRY_VERIFY_WITH_TIMEOUT(rig.host.calls.contains(u"Unload"_qs), 15000);

        // Progress: whole percents, each once and rising, never 100.
        QList<float> percents;
        for (const Draw &d : rig.host.draws)
            if (d.info2 == TextDownloading() && d.percent > 0) {
                QVERIFY2(sameDraw(d, TextDownloading(), d.percent), qPrintable(describe(d)));
                percents << d.percent;
            }
        QVERIFY2(percents.size() >= 5, qPrintable(QString::number(percents.size())));
        for (qsizetype i = 1; i < percents.size(); ++i)
            QVERIFY(qRound(percents[i]) > qRound(percents[i - 1]));
        QVERIFY(percents.last() < 100);
        // Progress runs inside the network's signals: no event loop may run in there.
        QCOMPARE(rig.host.pumps, pumpsBefore);

        // The end: ready to check for the moment of the boxes, then unload.
        const Draw &finished = rig.host.draws.last();
        QVERIFY2(sameDraw(finished, AuthorLinkText(), 0), qPrintable(describe(finished)));
        QCOMPARE(finished.caption, CaptionCheck());
        QCOMPARE(rig.drawsAtUnload, rig.host.draws.size());
        QCOMPARE(rig.host.calls.last(), u"Unload"_qs);
        QCOMPARE(rig.boxes.shown.value(0).text, OpenQuestion + u"\r\n\r\nDemo_2.1.zip"_qs);
        QCOMPARE(rig.boxes.shown.value(0).style, int(platform::MessageYesNoQuestion));
        QCOMPARE(rig.boxes.shown.value(0).caption, Title);
        if (answer == platform::AnswerYes) {
            QCOMPARE(rig.boxes.shown.size(), 1);
            QCOMPARE(rig.shell.opened, QStringList{path});
        } else {
            QCOMPARE(rig.boxes.shown.size(), 2);
            QCOMPARE(rig.boxes.shown[1].text, SavedHere);
            QCOMPARE(rig.boxes.shown[1].style, int(platform::MessageInformation));
            QCOMPARE(rig.boxes.shown[1].caption, Title);
            QVERIFY(rig.shell.opened.isEmpty());
        }
        QCOMPARE(contentsOf(path), package);
        QCOMPARE(entriesOf(rig.dir.path()), QStringList{u"Demo_2.1.zip"_qs});
    }

    // What the page says, and where the package lands.
    void pageTitles_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("fileName");
        const QByteArray gbk = "\xD1\xDD\xCA\xBE 2.1"; // 演示 2.1
        const QString chinese = u"演示 2.1"_qs;
        QTest::newRow("blanks become underscores")
            << productPage("Demo 2.1 beta") << QByteArray("text/html") << u"Demo 2.1 beta"_qs
            << u"Demo_2.1_beta.zip"_qs;
        QTest::newRow("other characters stay")
            << productPage("Demo-2.1+(x)[y]") << QByteArray("text/html") << u"Demo-2.1+(x)[y]"_qs
            << u"Demo-2.1+(x)[y].zip"_qs;
        QTest::newRow("parent folders") << productPage("../../evil") << QByteArray("text/html")
                                        << u"../../evil"_qs << u"_.._evil.zip"_qs;
        QTest::newRow("backslashes") << productPage("..\\..\\evil") << QByteArray("text/html")
                                     << u"..\\..\\evil"_qs << u"_.._evil.zip"_qs;
        QTest::newRow("right-to-left override")
            << productPage(u"Demo\u202Egnp.exe"_qs.toUtf8())
            << QByteArray("text/html; charset=utf-8") << u"Demognp.exe"_qs << u"Demognp.exe.zip"_qs;
        QTest::newRow("dots that would hide the file")
            << productPage(". .") << QByteArray("text/html") << u". ."_qs << u"_..zip"_qs;
        QTest::newRow("absolute path") << productPage("/etc/passwd") << QByteArray("text/html")
                                       << u"/etc/passwd"_qs << u"_etc_passwd.zip"_qs;
        QTest::newRow("drive and wildcards") << productPage("C:\\x*?|<y") << QByteArray("text/html")
                                             << u"C:\\x*?|<y"_qs << u"C__x____y.zip"_qs;
        QTest::newRow("control characters") << productPage("a\tb\x01"
                                                           "c")
                                            << QByteArray("text/html")
                                            << u"a\tb\x01"
                                               "c"_qs
                                            << u"a_b_c.zip"_qs;
        QTest::newRow("UTF-8 by header")
            << productPage(chinese.toUtf8()) << QByteArray("text/html; charset=utf-8") << chinese
            << u"演示_2.1.zip"_qs;
        QTest::newRow("GBK by header") << productPage(gbk) << QByteArray("text/html; charset=GBK")
                                       << chinese << u"演示_2.1.zip"_qs;
        QTest::newRow("GBK by meta charset")
            << productPage(gbk, "<meta charset=\"gbk\">") << QByteArray("text/html") << chinese
            << u"演示_2.1.zip"_qs;
        QTest::newRow("GB2312 by http-equiv")
            << productPage(gbk, "<meta http-equiv=\"Content-Type\" "
                                "content=\"text/html; charset=gb2312\">")
            << QByteArray("text/html") << chinese << u"演示_2.1.zip"_qs;
    }

    // The program's folder is used as the system names it: a "\" in it is part of a name.
    void programFolders_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("sibling");
        QTest::newRow("ends in a backslash, sibling without it") << "prod\\"
                                                                 << "prod";
        QTest::newRow("ends in a backslash, alone") << "prod\\"
                                                    << "";
        QTest::newRow("backslash inside") << "a\\b"
                                          << "a";
    }
    void programFolders() {
        QFETCH(QString, folder);
        QFETCH(QString, sibling);
        NetRig net(folder);
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        if (!sibling.isEmpty())
            QVERIFY(QDir(rig.dir.path()).mkdir(sibling));
        const QByteArray package = randomPackage(4096);
        net.portal.route(PagePath, PortalResponse::ok(productPage("Demo 2.1"), "text/html"));
        net.portal.route(PackagePath, PortalResponse::ok(package, "application/zip"));
        QVERIFY(runCheck(rig));
        const QString path = rig.programFolder + u"/Demo_2.1.zip"_qs;
        QCOMPARE(rig.state.strPackagePath, path);
        QVERIFY(runDownload(rig));
        QCOMPARE(rig.boxes.shown.value(0).text, OpenQuestion + u"\r\n\r\nDemo_2.1.zip"_qs);
        QCOMPARE(contentsOf(path), package);
        QStringList expected{folder};
        if (!sibling.isEmpty())
            expected << sibling;
        expected.sort();
        QCOMPARE(entriesOf(rig.dir.path()), expected);
        if (!sibling.isEmpty())
            QVERIFY(entriesOf(rig.dir.filePath(sibling)).isEmpty());
    }

    void pageTitles() {
        QFETCH(QByteArray, page);
        QFETCH(QByteArray, contentType);
        QFETCH(QString, fileName);
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        const QByteArray package = randomPackage(4096);
        net.portal.route(PagePath, PortalResponse::ok(page, contentType));
        net.portal.route(PackagePath, PortalResponse::ok(package, "application/zip"));

        QVERIFY(runCheck(rig));
        QVERIFY(rig.boxes.shown.isEmpty());
        QTEST(rig.state.strPageTitle, "title");
        QCOMPARE(rig.state.strPackagePath, rig.inFolder(fileName));
        QVERIFY(runDownload(rig));
        QCOMPARE(rig.boxes.shown.value(0).text, OpenQuestion + u"\r\n\r\n"_qs + fileName);
        QCOMPARE(entriesOf(rig.dir.path()), QStringList{fileName});
        QCOMPARE(contentsOf(rig.inFolder(fileName)), package);
    }

    void takenNames_data() {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("taken") << QStringList{u"Demo_2.1.zip"_qs} << u"Demo_2.1(1).zip"_qs;
        QTest::newRow("two taken")
            << QStringList{u"Demo_2.1.zip"_qs, u"Demo_2.1(1).zip"_qs} << u"Demo_2.1(2).zip"_qs;
        QTest::newRow("a gap is used")
            << QStringList{u"Demo_2.1.zip"_qs, u"Demo_2.1(2).zip"_qs} << u"Demo_2.1(1).zip"_qs;
    }
    void takenNames() {
        QFETCH(QStringList, existing);
        QFETCH(QString, fileName);
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        for (const QString &name : existing)
            QVERIFY(writeFile(rig.inFolder(name), "old " + name.toUtf8()));
        const QByteArray package = randomPackage(10000);
        net.portal.route(PagePath, PortalResponse::ok(productPage("Demo 2.1"), "text/html"));
        net.portal.route(PackagePath, PortalResponse::ok(package, "application/zip"));

        QVERIFY(runCheck(rig));
        QCOMPARE(rig.state.strPackagePath, rig.inFolder(fileName));
        QVERIFY(runDownload(rig));
        QVERIFY(rig.boxes.shown.value(0).text.endsWith(fileName));
        QCOMPARE(rig.shell.opened, QStringList{rig.inFolder(fileName)});
        QCOMPARE(contentsOf(rig.inFolder(fileName)), package);
        for (const QString &name : existing)
            QCOMPARE(contentsOf(rig.inFolder(name)), "old " + name.toUtf8());
    }

    // The last numbered name is tried too; past it there is none.
    void lastNumberedName_data() {
        QTest::addColumn<int>("taken"); // the name itself, then "(1)", "(2)", ...
        QTest::addColumn<QString>("name");
        QTest::newRow("all but the last taken") << 3 << u"/d/p(3).zip"_qs;
        QTest::newRow("all taken") << 4 << QString();
    }
    void lastNumberedName() {
        QFETCH(int, taken);
        QStringList names{u"/d/p.zip"_qs};
        for (int n = 1; n < taken; ++n)
            names << u"/d/p(%1).zip"_qs.arg(n);
        const auto exists = [&](const QString &path) { return names.contains(path); };
        QTEST(UniqueFileName(u"/d/p.zip"_qs, exists, 3), "name");
    }

    // A file that appears at the package's name after the check is not overwritten: the
    // control writes a time-stamped name beside it, and the question names that file.
    void nameTakenAfterTheCheck() {
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        rig.control->setClock([] { return QTime(9, 5, 7); });
        const QByteArray package = randomPackage(10000);
        net.portal.route(PagePath, PortalResponse::ok(productPage("Demo 2.1"), "text/html"));
        net.portal.route(PackagePath, PortalResponse::ok(package, "application/zip"));
        QVERIFY(runCheck(rig));
        QCOMPARE(rig.state.strPackagePath, rig.inFolder(u"Demo_2.1.zip"_qs));
        QVERIFY(writeFile(rig.state.strPackagePath, "meanwhile"));

        QVERIFY(runDownload(rig));
        const QString written = rig.inFolder(u"Demo_2.1, 090507.zip"_qs);
        QCOMPARE(rig.boxes.shown.value(0).text, OpenQuestion + u"\r\n\r\nDemo_2.1, 090507.zip"_qs);
        QCOMPARE(rig.shell.opened, QStringList{written});
        QCOMPARE(contentsOf(written), package);
        QCOMPARE(contentsOf(rig.inFolder(u"Demo_2.1.zip"_qs)), QByteArray("meanwhile"));
    }

    // A check that finds no version says so and lets the user check again.
    void checkFails_data() {
        QTest::addColumn<PortalResponse>("response");
        QTest::addColumn<bool>("expanded");
        const PortalResponse page = PortalResponse::ok(productPage("Demo 2.1"), "text/html");
        QTest::newRow("page 404") << PortalResponse::notFound() << false;
        QTest::newRow("server error") << PortalResponse::serverError() << false;
        QTest::newRow("truncated page") << PortalResponse(page).closingAfter(20) << false;
        QTest::newRow("no title") << PortalResponse::ok("<html><h1>Demo 2.1</h1></html>",
                                                        "text/html")
                                  << false;
        QTest::newRow("no end marker")
            << PortalResponse::ok("<html><h1 title=\"Demo 2.1", "text/html") << false;
        QTest::newRow("blank title")
            << PortalResponse::ok(productPage("   "), "text/html") << false;
        QTest::newRow("dots only") << PortalResponse::ok(productPage(".."), "text/html") << false;
        QTest::newRow("expanded view becomes compact") << PortalResponse::notFound() << true;
    }
    void checkFails() {
        QFETCH(PortalResponse, response);
        QFETCH(bool, expanded);
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        net.portal.route(PagePath, response);
        rig.state.Tag = expanded ? u"1"_qs : u"0"_qs;

        QVERIFY(runCheck(rig));
        QCOMPARE(rig.boxes.shown.size(), 1);
        QCOMPARE(rig.boxes.shown[0].text, CheckFailed);
        QCOMPARE(rig.boxes.shown[0].style, int(platform::MessageError));
        QCOMPARE(rig.boxes.shown[0].caption, Title);
        QCOMPARE(rig.state.strActionCaption, CaptionCheck());
        QCOMPARE(rig.state.Tag, u"0"_qs);
        QCOMPARE(rig.host.calls, expanded ? QStringList{u"switchViewSize"_qs} : QStringList());
        QCOMPARE(rig.host.strLastInfo2(), AuthorLinkText());
        QCOMPARE(rig.host.sngLastPercent(), 0.0F);
        QVERIFY(rig.state.strPageTitle.isEmpty());
        QVERIFY(rig.state.strPackagePath.isEmpty());
        QVERIFY(entriesOf(rig.dir.path()).isEmpty());

        // The next check may succeed.
        net.portal.route(PagePath, PortalResponse::ok(productPage("Demo 2.1"), "text/html"));
        QVERIFY(runCheck(rig));
        QCOMPARE(rig.state.strActionCaption, CaptionDownload());
        QCOMPARE(rig.boxes.shown.size(), 1);
    }

    // A download that did not write the package says so and offers to download again.
    // Every failed download, and every package a copy with a vendor key refuses, ends the
    // same way: one error box, nothing in the folder, the failed state with 开始下载.
    void downloadFails_data() {
        QTest::addColumn<PortalResponse>("response");
        QTest::addColumn<QString>("publicKey");    // stamped; empty: the copy carries none
        QTest::addColumn<QByteArray>("signature"); // announced on the page; empty: none
        QTest::addColumn<QString>("message");
        const QByteArray package = randomBytes(64 * 1024);
        const PortalResponse whole = PortalResponse::ok(package, "application/zip");
        QTest::newRow("package 404")
            << PortalResponse::notFound() << QString() << QByteArray() << DownloadFailed;
        QTest::newRow("server error")
            << PortalResponse::serverError() << QString() << QByteArray() << DownloadFailed;
        QTest::newRow("truncated package") << PortalResponse(whole).closingAfter(40000) << QString()
                                           << QByteArray() << DownloadFailed;
        QTest::newRow("shorter than announced")
            << PortalResponse(whole).withContentLength(package.size() + 100) << QString()
            << QByteArray() << DownloadFailed;
        // The check found no free name: the read succeeds but writes no file.
        QTest::newRow("every numbered name taken")
            << PortalResponse::ok(randomPackage(64 * 1024), "application/zip") << QString()
            << QByteArray() << DownloadFailed;

        const QByteArray zip = randomPackage(64 * 1024);
        const PortalResponse served = PortalResponse::ok(zip, "application/zip");
        const QByteArray good = signedBy(zip, m_keyA);
        QTest::newRow("signed copy, package 404")
            << PortalResponse::notFound() << m_publicKeyA << good << DownloadFailed;
        QTest::newRow("signed copy, bytes differ from the signed ones")
            << PortalResponse::ok(testsupport::zipArchive("other bytes"), "application/zip")
            << m_publicKeyA << good << SignatureFailed;
        QTest::newRow("signed copy, bytes that are no zip either")
            << whole << m_publicKeyA << good << SignatureFailed;
        // With a signed size the download stops at the first contradiction: a wrong length
        // before any body byte (the stall would otherwise hold it for the whole stall timeout),
        // an endless body one byte past the size.
        const QByteArray sized =
            signedBy(zip, m_keyA, false, releaseComment(1, {}, {}, zip.size()));
        QTest::newRow("signed size, the server announces another length")
            << PortalResponse::ok(zip + "more", "application/zip").stallingAfter(0) << m_publicKeyA
            << sized << SignatureFailed;
        QTest::newRow("signed size, the body runs past it")
            << PortalResponse::ok(zip + randomBytes(4 << 20), "application/zip")
                   .withoutContentLength()
                   .dripping(16 * 1024, 1)
            << m_publicKeyA << sized << SignatureFailed;
    }
    void downloadFails() {
        QFETCH(PortalResponse, response);
        QFETCH(QString, publicKey);
        QFETCH(QByteArray, signature);
        QFETCH(QString, message);
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        net.serveSignedPage(publicKey, signature);
        net.portal.route(PackagePath, response);

        QVERIFY(runCheck(rig));
        const bool noFreeName = QTest::currentDataTag() == QByteArray("every numbered name taken");
        if (noFreeName) // what the check makes of a folder where every name is taken
            rig.state.strPackagePath = UniqueFileName(
                rig.state.strPackagePath, [](const QString &) { return true; }, 3);
        QVERIFY(runDownload(rig));
        QCOMPARE(rig.boxes.shown.size(), 1);
        QCOMPARE(rig.boxes.shown[0].text, message);
        QCOMPARE(rig.boxes.shown[0].style, int(platform::MessageError));
        QCOMPARE(rig.boxes.shown[0].caption, Title);
        QCOMPARE(rig.state.strActionCaption, CaptionDownload());
        QCOMPARE(rig.state.Tag, u"0"_qs);
        QCOMPARE(rig.host.strLastInfo2(), AuthorLinkText());
        QCOMPARE(rig.host.sngLastPercent(), 0.0F);
        QVERIFY(!rig.host.calls.contains(u"Unload"_qs));
        QVERIFY(rig.shell.opened.isEmpty());
        // Nothing half-written is left behind, hidden or not.
        QVERIFY2(entriesOf(rig.dir.path()).isEmpty(),
                 qPrintable(entriesOf(rig.dir.path()).join(u' ')));
        if (QByteArray(QTest::currentDataTag()).startsWith("signed size")) // cut, not received
            QTRY_COMPARE_WITH_TIMEOUT(net.portal.abandoned(PackagePath), 1, 15000);

        // The next try, from the same card, gets the package (a copy without a key: a signed
        // one would need the page's signature of the new bytes).
        if (!publicKey.isEmpty() || noFreeName)
            return;
        const QByteArray package = randomPackage(64 * 1024);
        net.portal.route(PackagePath, PortalResponse::ok(package, "application/zip"));
        QVERIFY(rig.clickAction());
        QVERIFY(QTest::qWaitFor([&] { return rig.boxes.shown.size() >= 2; }, 15000));
        QVERIFY(rig.boxes.shown[1].text.startsWith(OpenQuestion));
        QVERIFY(contentsOf(rig.state.strPackagePath) == package);
    }

    // A package with a valid signature by the stamped key takes the ordinary road; a copy
    // without a key ignores whatever the page announces.
    // minisign's default comment carries no product, version or size: a copy that does not
    // require them checks none.
    void verifiedPackages_data() {
        QTest::addColumn<QString>("publicKey");
        QTest::addColumn<bool>("wholeFile");
        QTest::addColumn<bool>("announced");
        QTest::addColumn<bool>("releaseInfo"); // product, version and size in the comment
        QTest::addColumn<bool>("strict");      // stamped --require-release-info
        QTest::addColumn<bool>("secondKey");   // stamped with key B second, signed with it
        QTest::newRow("hashed signature (ED)")
            << m_publicKeyA << false << true << false << false << false;
        QTest::newRow("whole-file signature (Ed)")
            << m_publicKeyA << true << true << false << false << false;
        QTest::newRow("no key, signature announced")
            << QString() << false << true << false << false << false;
        QTest::newRow("no key, no signature")
            << QString() << false << false << false << false << false;
        QTest::newRow("release information, strict copy")
            << m_publicKeyA << false << true << true << true << false;
        QTest::newRow("signed with the second key")
            << m_publicKeyA << false << true << true << true << true;
    }
    void verifiedPackages() {
        QFETCH(QString, publicKey);
        QFETCH(bool, wholeFile);
        QFETCH(bool, announced);
        QFETCH(bool, releaseInfo);
        QFETCH(bool, strict);
        QFETCH(bool, secondKey);
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        const QByteArray package = randomPackage(300 * 1024);
        const QString comment = releaseInfo
                                    ? releaseComment(QDateTime::currentSecsSinceEpoch(), Product,
                                                     u"Demo 2.1"_qs, package.size())
                                    : QString();
        const QByteArray signature =
            announced ? signedBy(package, secondKey ? m_keyB : m_keyA, wholeFile, comment)
                      : QByteArray();
        net.serveSignedPage(publicKey, signature);
        rig.state.bRequireReleaseInfo = strict;
        if (secondKey)
            rig.state.strPackagePublicKey2 = m_publicKeyB;
        net.portal.route(PackagePath,
                         PortalResponse::ok(package, "application/zip").dripping(64 * 1024, 1));
        rig.boxes.answers = {platform::AnswerYes};
        QVERIFY(runCheck(rig));
        QCOMPARE(rig.state.packageSignature.value_or(QByteArray()), signature);
        QVERIFY(runDownload(rig));
        QCOMPARE(rig.boxes.shown.value(0).text, OpenQuestion + u"\r\n\r\nDemo_2.1.zip"_qs);
        QCOMPARE(rig.shell.opened, QStringList{rig.inFolder(u"Demo_2.1.zip"_qs)});
        QCOMPARE(contentsOf(rig.inFolder(u"Demo_2.1.zip"_qs)), package);
        QCOMPARE(entriesOf(rig.dir.path()), QStringList{u"Demo_2.1.zip"_qs});
    }

    // What the page offers is the vendor's signed word: a keyed copy refuses the offer at
    // the check, as a failed check, and asks for no byte of the package.
    void releaseRefused_data() {
        QTest::addColumn<QString>("publicKey");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<bool>("strict");
        QTest::addColumn<QByteArray>("history"); // the accepted releases before the check
        const QByteArray zip = randomPackage(4096);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const auto release = [&](const QString &product, const QString &version, qint64 size = 4096,
                                 const QString &stem = {}) {
            return signedBy(zip, stem.isEmpty() ? m_keyA : stem, false,
                            releaseComment(now, product, version, size));
        };
        const QByteArray full = release(Product, u"Demo 2.1"_qs);
        const QByteArray keyIdA = QByteArray::fromBase64(m_publicKeyA.toLatin1()).mid(2, 8).toHex();
        QTest::newRow("relabelled old release")
            << m_publicKeyA << release(Product, u"Demo 2.0"_qs) << false << QByteArray();
        QTest::newRow("another product's package")
            << m_publicKeyA << release(u"5678"_qs, u"Demo 2.1"_qs) << false << QByteArray();
        QTest::newRow("older than the release accepted")
            << m_publicKeyA << full << false
            << "1234\t" + keyIdA + '\t' + QByteArray::number(now + 1) + "\tDemo 2.2\n";
        QTest::newRow("unknown key id")
            << m_publicKeyA << release(Product, u"Demo 2.1"_qs, 4096, m_keyB) << false
            << QByteArray();
        QTest::newRow("edited trusted comment")
            << m_publicKeyA << QByteArray(full).replace("version:Demo 2.1", "version:Demo 2.2")
            << false << QByteArray();
        QTest::newRow("strict copy, no product")
            << m_publicKeyA << release({}, u"Demo 2.1"_qs) << true << QByteArray();
        QTest::newRow("strict copy, no version")
            << m_publicKeyA << release(Product, {}) << true << QByteArray();
        QTest::newRow("strict copy, no size")
            << m_publicKeyA << release(Product, u"Demo 2.1"_qs, -1) << true << QByteArray();
        QTest::newRow("strict copy, minisign's default comment")
            << m_publicKeyA << signedBy(zip, m_keyA) << true << QByteArray();
        QTest::newRow("no signature on the page")
            << m_publicKeyA << QByteArray() << false << QByteArray();
        QTest::newRow("malformed signature")
            << m_publicKeyA << QByteArray("untrusted comment: x\nnot base64\n") << false
            << QByteArray();
        QTest::newRow("unusable stamped key") << u"RWQ-broken"_qs << full << false << QByteArray();
    }
    void releaseRefused() {
        QFETCH(QString, publicKey);
        QFETCH(QByteArray, signature);
        QFETCH(bool, strict);
        QFETCH(QByteArray, history);
        if (!history.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(releaseHistoryPath()).absolutePath()));
            QVERIFY(writeFile(releaseHistoryPath(), history));
        }
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        net.serveSignedPage(publicKey, signature, "Demo 2.1");
        net.portal.route(PackagePath, PortalResponse::ok(randomPackage(4096), "application/zip"));
        rig.state.bRequireReleaseInfo = strict;
        rig.state.Tag = u"1"_qs;

        QVERIFY(runCheck(rig));
        QCOMPARE(rig.boxes.shown.size(), 1);
        QCOMPARE(rig.boxes.shown[0].text, ReleaseRefused);
        QCOMPARE(rig.boxes.shown[0].style, int(platform::MessageError));
        QCOMPARE(rig.state.strActionCaption, CaptionCheck());
        QCOMPARE(rig.state.Tag, u"0"_qs);
        QVERIFY(rig.state.strPageTitle.isEmpty());
        QCOMPARE(net.portal.requestCount(PackagePath), 0);
        QVERIFY(entriesOf(rig.dir.path()).isEmpty());
    }

    // A published release is remembered for the product and key: an older one is refused
    // from then on, in any later run, and the same one passes again.
    void acceptedReleaseRaisesTheBar() {
        const QByteArray package = randomPackage(8192);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const auto signedRelease = [&](qint64 timestamp, const QString &version) {
            return signedBy(package, m_keyA, false,
                            releaseComment(timestamp, Product, version, package.size()));
        };
        // A damaged history counts as absent, and the published release replaces it.
        QVERIFY(QDir().mkpath(QFileInfo(releaseHistoryPath()).absolutePath()));
        QVERIFY(writeFile(releaseHistoryPath(), "1234\tnot hex\t99999999999\tDemo 9\n"));
        {
            NetRig net;
            QVERIFY(net.rig);
            net.serveSignedPage(m_publicKeyA, signedRelease(now, u"Demo 2.1"_qs));
            net.portal.route(PackagePath, PortalResponse::ok(package, "application/zip"));
            QVERIFY(runCheck(*net.rig));
            QVERIFY(runDownload(*net.rig));
            QVERIFY(net.rig->boxes.shown.value(0).text.startsWith(OpenQuestion));
        }
        QString error;
        const ReleaseHistory history = readReleaseHistory(releaseHistoryPath(), error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(history.size(), size_t(1));
        QCOMPARE(history[0].timestamp, now);
        QCOMPARE(history[0].version, u"Demo 2.1"_qs);

        for (const bool older : {true, false}) {
            NetRig net;
            QVERIFY(net.rig);
            const QByteArray title = older ? "Demo 2.0" : "Demo 2.1";
            net.serveSignedPage(m_publicKeyA,
                                signedRelease(older ? now - 1 : now, QString::fromLatin1(title)),
                                title);
            net.portal.route(PackagePath, PortalResponse::ok(package, "application/zip"));
            QVERIFY(runCheck(*net.rig));
            QCOMPARE(net.rig->boxes.shown.value(0).text, older ? ReleaseRefused : QString());
            QCOMPARE(net.rig->state.strActionCaption, older ? CaptionCheck() : CaptionDownload());
        }
    }

    // The history as read back: its entries, or -1 when it counts as damaged.
    void releaseHistoryFiles_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("entries");
        // The newest accepted for product 1 and the first entry's key, -1 for none.
        QTest::addColumn<qint64>("newest");
        const QByteArray line = "1\t0123456789abcdef\t5\t" + QByteArray(42, 'v') + '\n';
        QCOMPARE(line.size() * 1024, MaxReleaseHistorySize); // the limit falls between lines
        QTest::newRow("cut mid-line")
            << QByteArray("1\t0123456789abcdef\t5\tDemo") << -1 << qint64(-1);
        QTest::newRow("the largest product number")
            << QByteArray("2147483647\t0123456789abcdef\t5\tDemo\n") << 1 << qint64(-1);
        QTest::newRow("a line past the size limit") << line.repeated(1025) << -1 << qint64(-1);
        QTest::newRow("another key's later release")
            << QByteArray("1\t0123456789abcdef\t5\tDemo\n1\tfedcba9876543210\t9\tDemo\n") << 2
            << qint64(5);
    }
    void releaseHistoryFiles() {
        QFETCH(QByteArray, text);
        QVERIFY(QDir().mkpath(QFileInfo(releaseHistoryPath()).absolutePath()));
        QVERIFY(writeFile(releaseHistoryPath(), text));
        QString error;
        const ReleaseHistory history = readReleaseHistory(releaseHistoryPath(), error);
        QTEST(error.isEmpty() ? int(history.size()) : -1, "entries");
        const std::optional<qint64> newest =
            history.empty() ? std::nullopt : newestAccepted(history, 1, history.front().keyId);
        QTEST(newest.value_or(-1), "newest");
    }

    // A copy whose portal is https never follows a redirect to plain http, for the page or
    // the package: the plain portal sees no request at all.
    // The previous package is a delta base only while it is still there, unchanged since the
    // copy published it.
    void deltaBases_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("based");
        QTest::addColumn<QString>("why");
        QTest::newRow("unchanged") << u"none"_qs << true << QString();
        QTest::newRow("changed, same size") << u"flip"_qs << false << u"changed since"_qs;
        QTest::newRow("deleted") << u"delete"_qs << false << u"gone or changed"_qs;
        QTest::newRow("grown") << u"grow"_qs << false << u"gone or changed"_qs;
        QTest::newRow("other product") << u"product"_qs << false << QString();
        QTest::newRow("damaged record") << u"damage"_qs << false << QString();
    }
    void deltaBases() {
        QFETCH(QString, change);
        QFETCH(bool, based);
        QFETCH(QString, why);
        QTemporaryDir dir;
        const QString package = dir.filePath(u"Demo_2.0.zip"_qs);
        QVERIFY(writeFile(package, testsupport::randomPackage(4096)));
        QString error;
        const auto described = describePackage(7, package, error);
        QVERIFY2(described, qPrintable(error));
        QVERIFY(
            writePublishedPackages(publishedPackagesPath(), withPublished({}, *described), error));
        QFile file(package);
        QVERIFY(file.open(QIODevice::ReadWrite));
        if (change == u"flip") {
            file.seek(100);
            const char c = file.read(1).at(0);
            file.seek(100);
            file.write(QByteArray(1, char(~c)));
        } else if (change == u"grow") {
            file.seek(file.size());
            file.write("x");
        }
        file.close();
        if (change == u"delete")
            QVERIFY(QFile::remove(package));
        if (change == u"damage")
            QVERIFY(writeFile(publishedPackagesPath(), "7\tnot a size\n"));
        error.clear();
        const PublishedPackages packages = readPublishedPackages(publishedPackagesPath(), error);
        QCOMPARE(error.isEmpty(), change != u"damage");
        QString reason;
        const auto base = deltaBase(packages, change == u"product" ? 8 : 7, dir.path(), reason);
        QCOMPARE(base.has_value(), based);
        if (base)
            QCOMPARE(*base, QFileInfo(package).absoluteFilePath());
        QVERIFY2(why.isEmpty() ? reason.isEmpty() : reason.contains(why), qPrintable(reason));
    }

    void httpsNeverFallsToHttp_data() {
        QTest::addColumn<bool>("package");
        QTest::newRow("page redirects to http") << false;
        QTest::newRow("package redirects to http") << true;
    }
    void httpsNeverFallsToHttp() {
        QFETCH(bool, package);
        const auto tls = testsupport::selfSignedTls(m_keys.path());
        QVERIFY2(tls, "the openssl tool is needed for the test certificate");
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificate(tls->localCertificate());
        QSslConfiguration::setDefaultConfiguration(trusting);
        testsupport::TestPortal secure;
        testsupport::TestPortal plain;
        QVERIFY(secure.listenTls(*tls) && plain.listen());
        const QByteArray page = productPage("Demo 2.1");
        plain.route(PagePath, PortalResponse::ok(page, "text/html"));
        plain.route(PackagePath, PortalResponse::ok(randomPackage(4096), "application/zip"));
        secure.route(PagePath, package ? PortalResponse::ok(page, "text/html")
                                       : PortalResponse::redirect(
                                             plain.url(QString::fromLatin1(PagePath)).toLatin1()));
        secure.route(PackagePath, PortalResponse::redirect(
                                      plain.url(QString::fromLatin1(PackagePath)).toLatin1()));
        net::NetworkReadService service;
        Rig rig(service, secure.url(QString::fromLatin1(PagePath)),
                secure.url(QString::fromLatin1(PackagePath)));

        QVERIFY(runCheck(rig));
        QCOMPARE(secure.requestCount(PagePath), 1); // TLS itself works
        if (package) {
            QCOMPARE(rig.state.strActionCaption, CaptionDownload());
            QVERIFY(runDownload(rig));
            QCOMPARE(secure.requestCount(PackagePath), 1);
        }
        QCOMPARE(rig.boxes.shown.value(0).text, package ? DownloadFailed : CheckFailed);
        QCOMPARE(plain.requests().size(), size_t(0));
        QVERIFY(entriesOf(rig.dir.path()).isEmpty());
    }

    void cancelDuringCheck_data() {
        testsupport::addRows<bool>("expanded", {{"compact", false}, {"expanded", true}});
    }
    void cancelDuringCheck() {
        QFETCH(bool, expanded);
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        net.portal.route(
            PagePath, PortalResponse::ok(productPage("Demo 2.1"), "text/html").stallingAfter(30));
        rig.state.Tag = expanded ? u"1"_qs : u"0"_qs;

        QVERIFY(rig.clickAction());
        QCOMPARE(rig.state.strActionCaption, CaptionCancel());
        // Wait until the check has data, so that it has shown a percentage.
        QTRY_VERIFY_WITH_TIMEOUT(rig.host.sngLastPercent() > 0, 15000);
        QCOMPARE(rig.host.strLastInfo2(), TextChecking());
        rig.host.draws.clear();

        rig.workflow->actionButtonClicked(); // the click itself is the pointer tests' business
        QCOMPARE(rig.state.strActionCaption, CaptionCheck());
        QCOMPARE(rig.state.Tag, u"0"_qs);
        QCOMPARE(rig.host.calls, expanded ? QStringList{u"switchViewSize"_qs} : QStringList());
        QCOMPARE(rig.host.strLastInfo2(), AuthorLinkText());
        QCOMPARE(rig.host.sngLastPercent(), 0.0F);
        for (const Draw &d : rig.host.draws)
            QVERIFY2(sameDraw(d, AuthorLinkText(), 0), qPrintable(describe(d)));
        // One for the cancelled page, one for \"all cancelled\", then the click's own.
        QCOMPARE(rig.host.draws.size(), 3);
        QCOMPARE(rig.host.draws.last().caption, CaptionCheck());
        QVERIFY(rig.boxes.shown.isEmpty());
        // The read really stopped: the portal sees the client go, and nothing more arrives.
        QTRY_COMPARE_WITH_TIMEOUT(net.portal.abandoned(PagePath), 1, 15000);
        QTest::qWait(100);
        QCOMPARE(rig.host.draws.size(), 3);
    }

    // The percentage is redrawn only when its whole number changes, never at 100.
    void progressRedraws_data() {
        QTest::addColumn<bool>("page");
        QTest::addColumn<qint64>("max");
        QTest::addColumn<QList<qint64>>("reads");
        QTest::addColumn<QList<float>>("drawn");
        QTest::newRow("42.3 then 42.4")
            << true << qint64(1000) << QList<qint64>{423, 424} << QList<float>{42.3F};
        QTest::newRow("100 draws nothing")
            << true << qint64(1000) << QList<qint64>{1000} << QList<float>{};
        QTest::newRow("99.5 is drawn, 100 is not")
            << true << qint64(200) << QList<qint64>{199, 200} << QList<float>{99.5F};
        QTest::newRow("42.5 rounds to the even 42")
            << true << qint64(200) << QList<qint64>{84, 85} << QList<float>{42.0F};
        QTest::newRow("43.5 rounds to the even 44")
            << true << qint64(200) << QList<qint64>{86, 87} << QList<float>{43.0F, 43.5F};
        QTest::newRow("an earlier percent again")
            << true << qint64(200) << QList<qint64>{100, 120, 100}
            << QList<float>{50.0F, 60.0F, 50.0F};
        QTest::newRow("0.5 ties to the first 0")
            << true << qint64(1000) << QList<qint64>{4, 5, 6} << QList<float>{0.6F};
        QTest::newRow("unknown size")
            << true << qint64(0) << QList<qint64>{10, 20} << QList<float>{};
        QTest::newRow("the package says downloading")
            << false << qint64(400) << QList<qint64>{1, 2, 100, 400} << QList<float>{25.0F};
    }
    void progressRedraws() {
        QFETCH(bool, page);
        QFETCH(qint64, max);
        QFETCH(QList<qint64>, reads);
        QFETCH(QList<float>, drawn);
        FakeReadService service;
        Rig rig(service, u"http://portal.test/content/7.html"_qs,
                u"http://portal.test/download/d_load.php?d_id=7&down_id=1"_qs);
        rig.state.strPackagePath = rig.inFolder(u"Demo.zip"_qs);
        if (page)
            rig.workflow->StartCheck();
        else
            rig.workflow->StartDownload();
        QCOMPARE(service.started.size(), size_t(1));
        rig.host.draws.clear();
        const auto &read = service.started[0];
        for (const qint64 n : reads)
            service.progress(FakeReadService::record(
                read.target, read.propertyName, net::AsyncStatusCode::DownloadingData, {}, n, max));
        QList<float> percents;
        for (const Draw &d : rig.host.draws) {
            QVERIFY2(sameDraw(d, page ? TextChecking() : TextDownloading(), d.percent),
                     qPrintable(describe(d)));
            percents << d.percent;
        }
        QCOMPARE(percents, drawn);
        QCOMPARE(rig.host.pumps, 0);
    }

    // The last whole percent is kept from the check into the download.
    void lastPercentCarriesOver() {
        FakeReadService service;
        Rig rig(service, u"http://portal.test/content/7.html"_qs,
                u"http://portal.test/download/d_load.php?d_id=7&down_id=1"_qs);
        rig.workflow->StartCheck();
        const auto pageRead = service.started.at(0);
        service.progress(FakeReadService::record(pageRead.target, pageRead.propertyName,
                                                 net::AsyncStatusCode::DownloadingData, {}, 100,
                                                 200));
        service.complete(FakeReadService::record(pageRead.target, pageRead.propertyName,
                                                 net::AsyncStatusCode::EndDownloadData),
                         net::ReadOutcome::Succeeded, productPage("Demo 2.1"));
        QCOMPARE(rig.state.strActionCaption, CaptionDownload());
        rig.workflow->StartDownload();
        const auto packageRead = service.started.at(1);
        rig.host.draws.clear();
        for (const qint64 n : {100, 101, 102})
            service.progress(FakeReadService::record(packageRead.target, packageRead.propertyName,
                                                     net::AsyncStatusCode::DownloadingData, {}, n,
                                                     200));
        QCOMPARE(rig.host.draws.size(), 1);
        QCOMPARE(rig.host.draws[0].percent, 51.0F);
        QCOMPARE(rig.host.draws[0].info2, TextDownloading());
    }

    // A read of another address is none of the workflow's business.
    void foreignFinishedChangesNothing_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("succeeded");
        QTest::newRow("other page") << u"http://portal.test/content/8.html"_qs << true;
        QTest::newRow("other page failed") << u"http://portal.test/content/8.html"_qs << false;
        QTest::newRow("letter case differs") << u"http://portal.test/Content/7.html"_qs << true;
    }
    void foreignFinishedChangesNothing() {
        QFETCH(QString, url);
        QFETCH(bool, succeeded);
        FakeReadService service;
        Rig rig(service, u"http://portal.test/content/7.html"_qs,
                u"http://portal.test/download/d_load.php?d_id=7&down_id=1"_qs);
        rig.state.strActionCaption = CaptionCancel();
        rig.control->Download(url);
        const auto read = service.started.at(0);
        service.complete(FakeReadService::record(read.target, read.propertyName,
                                                 net::AsyncStatusCode::EndDownloadData),
                         succeeded ? net::ReadOutcome::Succeeded : net::ReadOutcome::Failed,
                         succeeded ? productPage("Other 9") : QByteArray());
        QVERIFY(rig.host.draws.isEmpty());
        QVERIFY(rig.host.calls.isEmpty());
        QVERIFY(rig.boxes.shown.isEmpty());
        QCOMPARE(rig.state.strActionCaption, CaptionCancel());
        QCOMPARE(rig.state.Tag, u"0"_qs);
        QVERIFY(rig.state.strPageTitle.isEmpty());
        QVERIFY(rig.state.strPackagePath.isEmpty());
    }

    void actionButtonByCaption_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("reads");
        QTest::newRow("check") << CaptionCheck() << CaptionCancel() << 1;
        QTest::newRow("download") << CaptionDownload() << QString() << 1;
        QTest::newRow("cancel") << CaptionCancel() << CaptionCheck() << 0;
        QTest::newRow("empty") << QString() << QString() << 0;
        QTest::newRow("near miss") << u"检查更新 "_qs << u"检查更新 "_qs << 0;
    }
    void actionButtonByCaption() {
        QFETCH(QString, caption);
        QFETCH(int, reads);
        FakeReadService service;
        Rig rig(service, u"http://portal.test/content/7.html"_qs,
                u"http://portal.test/download/d_load.php?d_id=7&down_id=1"_qs);
        rig.state.strPackagePath = rig.inFolder(u"Demo.zip"_qs);
        rig.state.strActionCaption = caption;
        rig.workflow->actionButtonClicked();
        QTEST(rig.state.strActionCaption, "after");
        QCOMPARE(int(service.started.size()), reads);
        if (caption.isEmpty() || caption.endsWith(u' '))
            QVERIFY(rig.host.draws.isEmpty());
    }

    void authorPage() {
        FakeReadService service;
        Rig rig(service, u"http://portal.test/content/7.html"_qs, QString());
        rig.workflow->OpenAuthorPage();
        QCOMPARE(rig.shell.opened, QStringList{AuthorPage});
        QVERIFY(rig.host.draws.isEmpty());
    }

    // After the window is gone, the control's last events draw nothing and ask nothing.
    void eventsAfterDetachDrawNothing_data() {
        testsupport::addRows<int>("how", {{"all reads cancelled", 0},
                                          {"the page arrives", 1},
                                          {"the control is destroyed during a download", 2}});
    }
    void eventsAfterDetachDrawNothing() {
        QFETCH(int, how);
        NetRig net;
        QVERIFY(net.rig);
        Rig &rig = *net.rig;
        const PortalResponse page = PortalResponse::ok(productPage("Demo 2.1"), "text/html");
        if (how == 2) {
            net.portal.route(PagePath, page);
            net.portal.route(
                PackagePath,
                PortalResponse::ok(randomPackage(100000), "application/zip").stallingAfter(50000));
            QVERIFY(runCheck(rig));
            rig.workflow->actionButtonClicked();
            QTRY_VERIFY_WITH_TIMEOUT(rig.host.sngLastPercent() > 0, 15000);
        } else {
            net.portal.route(PagePath, how == 0 ? PortalResponse(page).stallingAfter(10)
                                                : PortalResponse(page).dripping(10, 20));
            rig.workflow->actionButtonClicked();
            QTRY_COMPARE_WITH_TIMEOUT(net.portal.requestCount(PagePath), 1, 15000);
        }
        const WindowState before = rig.state;
        rig.workflow->detach();
        rig.host.draws.clear();
        if (how == 0)
            rig.control->CancelAllDownload();
        else if (how == 1)
            QTRY_COMPARE_WITH_TIMEOUT(rig.control->DownloadsCount(), 0, 15000);
        else
            rig.control.reset();
        QVERIFY(rig.host.draws.isEmpty());
        QVERIFY(rig.host.calls.size() <= 2); // only the check's view switch
        QVERIFY(rig.boxes.shown.isEmpty());
        QCOMPARE(rig.state.strActionCaption, before.strActionCaption);
        // A package that was on its way leaves no partial or temporary file.
        if (how == 2)
            QVERIFY2(entriesOf(rig.dir.path()).isEmpty(),
                     qPrintable(entriesOf(rig.dir.path()).join(u' ')));
    }
};

QTEST_GUILESS_MAIN(tst_Workflow)
#include "tst_workflow.moc"
