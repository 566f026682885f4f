#include "menubar/tray/popupplacement.h"

#include <QTest>

using namespace Kovel::Bar;

// The panel hangs under the tray icon, or above it at the bottom of the
// screen, and never leaves the screen's usable area.
class TestPopupPlacement : public QObject
{
    Q_OBJECT
private slots:
    void place_data();
    void place();
};

void TestPopupPlacement::place_data()
{
    QTest::addColumn<QRect>("icon");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<QSize>("panel");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("expected");

    const QRect screen(0, 0, 1280, 800);
    const QSize panel(380, 400);
    QTest::newRow("under an icon in the middle of a top bar")
        << QRect(600, 0, 24, 24) << QPoint() << panel << QRect(0, 24, 1280, 776) << QPoint(422, 24);
    QTest::newRow("right edge: kept on screen")
        << QRect(1250, 0, 24, 24) << QPoint() << panel << screen << QPoint(900, 24);
    QTest::newRow("left edge: kept on screen")
        << QRect(2, 0, 24, 24) << QPoint() << panel << screen << QPoint(0, 24);
    QTest::newRow("bottom bar: above the icon")
        << QRect(1200, 776, 24, 24) << QPoint() << panel << QRect(0, 0, 1280, 776) << QPoint(900, 376);
    QTest::newRow("no icon rectangle: at the cursor")
        << QRect() << QPoint(640, 10) << panel << screen << QPoint(451, 11);
    QTest::newRow("no icon, cursor at the bottom right")
        << QRect() << QPoint(1279, 799) << panel << screen << QPoint(900, 399);
    QTest::newRow("panel taller than the screen: top aligned")
        << QRect(600, 0, 24, 24) << QPoint() << QSize(380, 900) << screen << QPoint(422, 0);
    QTest::newRow("second screen to the right")
        << QRect(2500, 0, 24, 24) << QPoint() << panel << QRect(1280, 0, 1280, 1024) << QPoint(2180, 24);
    QTest::newRow("exactly fits below")
        << QRect(600, 0, 24, 24) << QPoint() << QSize(380, 776) << screen << QPoint(422, 24);
}

void TestPopupPlacement::place()
{
    QFETCH(QRect, icon);
    QFETCH(QPoint, cursor);
    QFETCH(QSize, panel);
    QFETCH(QRect, available);
    QFETCH(QPoint, expected);
    const QPoint at = popupPosition(icon, cursor, panel, available);
    QCOMPARE(at, expected);
    if (panel.height() <= available.height())
        QVERIFY(available.contains(QRect(at, panel)));
}

QTEST_APPLESS_MAIN(TestPopupPlacement)
#include "tst_popupplacement.moc"
