#include <QIcon>
#include <QTest>
#include <QWindow>

#include "drawing/WindowIcon.h"
#include "support/DataRows.h"

using namespace drawing;

class tst_WindowIcon : public QObject {
    Q_OBJECT
private slots:
    void appIconHasEverySize() {
        const QIcon icon = AppIcon(QStringLiteral("APPICON"));
        QVERIFY(!icon.isNull());
        QList<QSize> sizes = icon.availableSizes();
        for (const int size : kAppIconSizes)
            QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        // Opaque in the middle, transparent in the rounded corner.
        const QImage big = icon.pixmap(256, 256).toImage();
        QCOMPARE(qAlpha(big.pixel(128, 20)), 255);
        QCOMPARE(qAlpha(big.pixel(1, 1)), 0);
        QVERIFY(AppIcon(QStringLiteral("NOSUCHICON")).isNull());
    }

    void setWindowIcon_data() {
        testsupport::addRows<bool>("setOwner", {{"window only", false}, {"and its owner", true}});
    }
    void setWindowIcon() {
        QFETCH(bool, setOwner);
        QWindow owner, middle, window;
        middle.setTransientParent(&owner);
        window.setTransientParent(&middle);
        SetWindowIcon(&window, QStringLiteral("APPICON"), setOwner);
        QCOMPARE(window.icon().availableSizes().size(), int(std::size(kAppIconSizes)));
        QCOMPARE(owner.icon().isNull(), !setOwner);
        QVERIFY(middle.icon().isNull());
        // A missing icon group is handed on as it is: no icon.
        SetWindowIcon(&window, QStringLiteral("NOSUCHICON"), false);
        QVERIFY(window.icon().isNull());
        SetWindowIcon(nullptr, QStringLiteral("APPICON"), true);
    }
};

QTEST_MAIN(tst_WindowIcon)
#include "tst_windowicon.moc"
