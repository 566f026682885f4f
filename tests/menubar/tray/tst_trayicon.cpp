#include "menubar/tray/trayicon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

using namespace Kovel::Bar;

// The menu bar item on its own: what it draws and what its clicks and its
// menu ask for.
class TestTrayIcon : public QObject
{
    Q_OBJECT
private slots:
    void sharpAtEverySize_data();
    void sharpAtEverySize();
    void standsOutOnDarkAndLight_data();
    void standsOutOnDarkAndLight();
    void onlyTheClickOpens_data();
    void onlyTheClickOpens();
    void menuAsksForThePanelAndTheEnd_data();
    void menuAsksForThePanelAndTheEnd();
};

namespace {

QSystemTrayIcon *shownIcon(TrayIcon &tray)
{
    return tray.findChild<QSystemTrayIcon *>();
}

}

void TestTrayIcon::sharpAtEverySize_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<qreal>("dpr");
    QTest::newRow("16 px") << 16 << 1.0;
    QTest::newRow("22 px") << 22 << 1.0;
    QTest::newRow("28 px, not one of the usual sizes") << 28 << 1.0;
    QTest::newRow("22 px on a 2× screen") << 22 << 2.0;
    QTest::newRow("24 px on a 1.5× screen") << 24 << 1.5;
}

// Whatever size a tray asks for, the icon is drawn at that many device
// pixels (never a smaller one scaled up), a disc filling the square.
void TestTrayIcon::sharpAtEverySize()
{
    QFETCH(int, side);
    QFETCH(qreal, dpr);
    TrayIcon tray;
    tray.show();
    const QIcon icon = shownIcon(tray)->icon();
    QVERIFY(!icon.availableSizes().isEmpty());
    const int pixels = qRound(side * dpr);
    QCOMPARE(icon.pixmap(QSize(side, side), dpr).size(), QSize(pixels, pixels));

    // Painted as the X11 tray paints it: into its window, at its size.
    QImage shown(QSize(pixels, pixels), QImage::Format_ARGB32_Premultiplied);
    shown.setDevicePixelRatio(dpr);
    shown.fill(Qt::transparent);
    {
        QPainter painter(&shown);
        icon.paint(&painter, QRect(0, 0, side, side));
    }
    // The disc reaches every edge's middle and leaves the corners clear.
    const int mid = pixels / 2;
    for (const QPoint edge : {QPoint(1, mid), QPoint(pixels - 2, mid), QPoint(mid, 1), QPoint(mid, pixels - 2)})
        QVERIFY2(qAlpha(shown.pixel(edge)) > 128, qPrintable(QStringLiteral("%1,%2").arg(edge.x()).arg(edge.y())));
    QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(shown.pixel(pixels - 1, pixels - 1)), 0);
}

void TestTrayIcon::standsOutOnDarkAndLight_data()
{
    QTest::addColumn<QColor>("panel");
    QTest::addColumn<QColor>("appText");
    QTest::newRow("dark panel, dark text") << QColor(0x20, 0x20, 0x20) << QColor(Qt::black);
    QTest::newRow("dark panel, light text") << QColor(0x20, 0x20, 0x20) << QColor(Qt::white);
    QTest::newRow("light panel, dark text") << QColor(0xf0, 0xf0, 0xf0) << QColor(Qt::black);
    QTest::newRow("light panel, light text") << QColor(0xf0, 0xf0, 0xf0) << QColor(Qt::white);
}

// Drawn over the tray's background, a good part of the icon differs clearly
// from it, whatever the panel's colour and the application's text colour.
void TestTrayIcon::standsOutOnDarkAndLight()
{
    QFETCH(QColor, panel);
    QFETCH(QColor, appText);
    const QPalette before = QApplication::palette();
    QPalette palette = before;
    palette.setColor(QPalette::WindowText, appText);
    QApplication::setPalette(palette);
    TrayIcon trayIcon;
    trayIcon.show();
    auto *tray = shownIcon(trayIcon);
    QApplication::setPalette(before);
    QVERIFY(tray);
    QImage shown(22, 22, QImage::Format_ARGB32);
    shown.fill(panel);
    {
        QPainter painter(&shown);
        tray->icon().paint(&painter, shown.rect());
    }
    int standing = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (qAbs(qGray(shown.pixel(x, y)) - qGray(panel.rgb())) > 80)
                ++standing;
    QVERIFY2(standing > shown.width() * shown.height() / 4, qPrintable(QString::number(standing)));
}

void TestTrayIcon::onlyTheClickOpens_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<int>("clicks");
    QTest::newRow("click") << QSystemTrayIcon::Trigger << 1;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << 0;
    QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << 0;
    QTest::newRow("menu asked for") << QSystemTrayIcon::Context << 0;
}

// A double click must not open the panel and close it again at once; the
// menu's own activation is the menu's.
void TestTrayIcon::onlyTheClickOpens()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(int, clicks);
    TrayIcon tray;
    QSignalSpy clicked(&tray, &TrayIcon::clicked);
    emit shownIcon(tray)->activated(reason);
    QCOMPARE(clicked.size(), clicks);
}

void TestTrayIcon::menuAsksForThePanelAndTheEnd_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("opens");
    QTest::newRow("panel") << QStringLiteral("패널 열기") << true;
    QTest::newRow("quit") << QStringLiteral("종료") << false;
}

void TestTrayIcon::menuAsksForThePanelAndTheEnd()
{
    QFETCH(QString, entry);
    QFETCH(bool, opens);
    TrayIcon tray;
    QSignalSpy openRequested(&tray, &TrayIcon::openRequested);
    QSignalSpy quitRequested(&tray, &TrayIcon::quitRequested);
    QMenu *menu = shownIcon(tray)->contextMenu();
    QVERIFY(menu);
    QAction *action = nullptr;
    for (QAction *candidate : menu->actions())
        if (candidate->text() == entry)
            action = candidate;
    QVERIFY(action);
    action->trigger();
    QCOMPARE(openRequested.size(), opens ? 1 : 0);
    QCOMPARE(quitRequested.size(), opens ? 0 : 1);
}

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
