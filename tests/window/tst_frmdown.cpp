#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "platform/PropertyBag.h"
#include "platform/SettingsTrailer.h"
#include "support/ScriptedMessageBoxes.h"
#include "window/frmDown.h"

using namespace window;

class tst_frmDown : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    ScriptedMessageBoxes m_boxes;

    QString stampedCopy(const QString &name, const QString &id) {
        platform::PropertyBag bag;
        bag.write(QStringLiteral("SoftwareName"), name);
        bag.write(QStringLiteral("SoftwareID"), id);
        bag.write(QStringLiteral("SoftwareThemeStyle"), QStringLiteral("15"));
        QByteArray exe(512, 'E');
        exe.append(platform::makeTrailer(bag.contents(), exe.size()));
        const QString path = m_dir.filePath(name + QStringLiteral(".exe"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(exe) != exe.size())
            return {};
        return path;
    }

private slots:
    void loadsAStampedCopy() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Demo"), u"1234"_qs)});
        form.Form_Load();
        QVERIFY(form.graphicsStarted());
        QVERIFY(!form.isUnloaded());
        QVERIFY(form.isVisible());
        QVERIFY(m_boxes.shown.isEmpty());
        QCOMPARE(form.settings().SoftwareName, QStringLiteral("Demo"));
        QVERIFY(form.state().strPageUrl.endsWith(u"/content/1234.html"));
        QCOMPARE(form.state().lThemeStyle, 15);
        QCOMPARE(form.windowTitle(), QStringLiteral("KIV UPDATE"));
        QCOMPARE(form.Tag(), QStringLiteral("0"));
        // The compact view: 6900 x 3300 twips, centred on the screen.
        QCOMPARE(form.size(), QSize(460, 220));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(form.geometry().center().x(), screen.center().x());
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(form.testAttribute(Qt::WA_TranslucentBackground));
    }

    void escapeEndsTheProgram() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Esc"), u"1"_qs)});
        form.Form_Load();
        QVERIFY(form.isVisible());
        QTest::keyClick(&form, Qt::Key_Escape);
        QVERIFY(form.isUnloaded());
        QVERIFY(!form.isVisible());
        QVERIFY(!form.graphicsStarted()); // released at unload
    }

    void otherKeysDoNothing() {
        frmDown form({&m_boxes, nullptr, stampedCopy(QStringLiteral("Keys"), u"1"_qs)});
        form.Form_Load();
        QTest::keyClick(&form, Qt::Key_Enter);
        QTest::keyClick(&form, Qt::Key_A);
        QVERIFY(!form.isUnloaded());
    }

    void unreadableExecutableStartsWithDefaults() {
        frmDown form({&m_boxes, nullptr, m_dir.filePath(u"missing.exe"_qs)});
        form.Form_Load();
        QVERIFY(form.isVisible());
        QVERIFY(form.state().strTitleText.startsWith(u"更新工具 "_qs));
        QVERIFY(form.state().strActionCaption.isEmpty());
        QCOMPARE(form.state().lThemeStyle, 27);
    }
};

QTEST_MAIN(tst_frmDown)
#include "tst_frmdown.moc"
