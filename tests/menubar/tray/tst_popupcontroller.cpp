#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/tray/popupcontroller.h"
#include "menubar/tray/popupplacement.h"
#include "tests/support/barhome.h"
#include "tests/support/fakebrain.h"

#include <QCursor>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Kovel::Bar;

// The panel's ways on screen, without a tray: the icon's place is given.
class TestPopupController : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void staysUnderTheIconAsItGrows();
    void putAway_data();
    void putAway();

private:
    QTemporaryDir m_home;
    FakeBrain m_fake;
};

void TestPopupController::initTestCase()
{
    QVERIFY(m_home.isValid());
    QVERIFY(makeBarHome(m_home.path(), m_fake.url()));
    m_fake.on("GET", "/api/structured/open-loops",
              FakeBrain::Reply::json(R"({"total":3,"loops":[{"id":"a","title":"하나"},{"id":"b","title":"둘"},{"id":"c","title":"셋"}]})"));
}

// A tray at the bottom of the screen: the popup hangs above its icon, and as
// the loops come in and it grows, it moves up to stay there.
void TestPopupController::staysUnderTheIconAsItGrows()
{
    PopupController popup(QStringLiteral("xcb"));
    popup.followIcon();
    BarView *panel = popup.panel();
    const QRect available = panel->screen()->availableGeometry();
    const QRect icon(available.right() - 40, available.bottom() - 23, 24, 24);
    popup.setIconGeometry([icon] { return icon; });
    QSignalSpy refreshed(panel->brain(), &Brain::refreshEnded);

    popup.showPanel();
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->windowType(), Qt::Popup);
    QCOMPARE(panel->frameGeometry().topLeft(), popupPosition(icon, QCursor::pos(), panel->size(), available));
    const QRect opened = panel->frameGeometry();
    QVERIFY(opened.bottom() < icon.top());

    QVERIFY(refreshed.wait(5000));
    QTRY_VERIFY(panel->height() > opened.height());
    QCOMPARE(panel->frameGeometry().topLeft(), popupPosition(icon, QCursor::pos(), panel->size(), available));
    QVERIFY(panel->frameGeometry().top() < opened.top());
}

void TestPopupController::putAway_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<bool>("standAlone");
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("closingEnds");
    QTest::newRow("popup under the icon") << QStringLiteral("xcb") << false << false << false;
    QTest::newRow("small window beside the icon (Wayland)") << QStringLiteral("wayland") << false << false << false;
    QTest::newRow("window of its own, no tray") << QStringLiteral("xcb") << true << true << true;
}

// Escape puts the panel away: under a tray it hides, and the icon brings it
// back; a window of its own, the only way back in, is only minimised.
// Closing that window, and only that one, asks for the end of the program.
void TestPopupController::putAway()
{
    QFETCH(QString, platform);
    QFETCH(bool, standAlone);
    QFETCH(bool, minimized);
    QFETCH(bool, closingEnds);
    PopupController popup(platform);
    if (standAlone)
        popup.standAlone();
    else
        popup.followIcon();
    QSignalSpy windowClosed(&popup, &PopupController::windowClosed);
    BarView *panel = popup.panel();

    popup.showPanel();
    QVERIFY(panel->isVisible());
    QTest::keyClick(panel->findChild<QLineEdit *>(QStringLiteral("question")), Qt::Key_Escape);
    QCOMPARE(panel->isVisible(), minimized);
    QCOMPARE(panel->isMinimized(), minimized);

    popup.showPanel();
    QVERIFY(panel->isVisible());
    QVERIFY(!panel->isMinimized());
    QVERIFY(panel->close());
    QVERIFY(!panel->isVisible());
    QCOMPARE(windowClosed.size(), closingEnds ? 1 : 0);
}

QTEST_MAIN(TestPopupController)
#include "tst_popupcontroller.moc"
