#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/tray/kovelbarapp.h"
#include "menubar/tray/popupplacement.h"
#include "tests/support/barhome.h"
#include "tests/support/fakebrain.h"

#include <QAction>
#include <QCursor>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace Kovel::Bar;

// The program around the panel. Offscreen there is no tray, which is the
// fallback case; the popup is driven directly.
class TestKovelBarApp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void trayIconAndMenu();
    void withoutTrayTheWindowOpens();
    void popupKeepsItsBrainAndText();
    void iconFirstThenThePanel();
    void readyPanelShowsAndAsksNothing();
    void opensAtItsFinalSize_data();
    void opensAtItsFinalSize();
    void openedBeforeItIsReadyStaysAsItIs();
    void windowThenATrayAppears();
    void waylandGetsASmallWindow();
    void replaceGivesUpOnACopyThatStays();
    void secondStartShowsTheRunningPanel();

private:
    QTemporaryDir m_home;
    FakeBrain m_fake;
};

void TestKovelBarApp::initTestCase()
{
    QVERIFY(m_home.isValid());
    // The panel's own Brain reads the configuration: point it at the fake
    // brain, and keep the lock away from any real copy of the program.
    QVERIFY(makeBarHome(m_home.path(), m_fake.url()));
    m_fake.on("GET", "/api/structured/open-loops", FakeBrain::Reply::json(R"({"loops":[{"id":"a","title":"하나"}]})"));
}

void TestKovelBarApp::trayIconAndMenu()
{
    KovelBarApp app;
    app.start();
    auto *tray = app.findChild<QSystemTrayIcon *>();
    QVERIFY(tray);
    QCOMPARE(tray->toolTip(), QStringLiteral("KOVEL"));
    QVERIFY(!tray->icon().isNull());
    QVERIFY(tray->contextMenu());
    QStringList labels;
    for (QAction *action : tray->contextMenu()->actions())
        labels.append(action->text());
    QCOMPARE(labels, (QStringList{"패널 열기", "종료"}));
    // Nothing on screen and no request until the panel is opened.
    QVERIFY(!app.popup().panel()->isVisible());
    QCOMPARE(app.popup().panel()->brain()->server(), m_fake.url());
}

void TestKovelBarApp::withoutTrayTheWindowOpens()
{
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    KovelBarApp app;
    app.start();
    QSignalSpy refreshed(app.popup().panel()->brain(), &Brain::refreshEnded);
    QTRY_VERIFY_WITH_TIMEOUT(app.popup().panel()->isVisible(), 10000);
    QCOMPARE(app.popup().panel()->windowTitle(), QStringLiteral("KOVEL"));
    QCOMPARE(app.popup().panel()->windowType(), Qt::Window);
    QVERIFY(!refreshed.isEmpty() || refreshed.wait(5000));
    QCOMPARE(app.popup().panel()->brain()->loops().size(), 1);
}

void TestKovelBarApp::popupKeepsItsBrainAndText()
{
    KovelBarApp app;
    app.start();
    BarView *panel = app.popup().panel();
    Brain *brain = panel->brain();
    app.popup().togglePanel();
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->windowType(), Qt::Popup);
    const QRect available = panel->screen()->availableGeometry();
    QVERIFY(available.contains(panel->geometry()));

    panel->findChild<QLineEdit *>(QStringLiteral("question"))->setText(QStringLiteral("적어 둔 질문"));
    app.popup().togglePanel();
    QVERIFY(!panel->isVisible());
    app.popup().showPanel();
    QVERIFY(panel->isVisible());
    QCOMPARE(app.popup().panel(), panel);
    QCOMPARE(panel->brain(), brain);
    QCOMPARE(panel->q(), QStringLiteral("적어 둔 질문"));
}

// The icon goes up at once; the panel is built on the next turn, before
// anyone could click.
void TestKovelBarApp::iconFirstThenThePanel()
{
    KovelBarApp app;
    app.start();
    auto *tray = app.findChild<QSystemTrayIcon *>();
    QVERIFY(tray && tray->isVisible());
    QVERIFY(!app.popup().hasPanel());
    QTRY_VERIFY(app.popup().hasPanel());
    QVERIFY(!app.popup().panel()->isVisible());
}

// Made ready for its first opening where no one sees it: nothing on screen and
// nothing asked of the brain until it is opened; then it asks once.
void TestKovelBarApp::readyPanelShowsAndAsksNothing()
{
    KovelBarApp app;
    QSignalSpy ready(&app, &KovelBarApp::panelReady);
    app.start();
    QVERIFY(ready.wait(5000));
    BarView *panel = app.popup().panel();
    for (QWidget *window : QApplication::topLevelWidgets())
        QVERIFY2(!window->isVisible(), window->metaObject()->className());

    m_fake.clearRequests();
    QSignalSpy refreshed(panel->brain(), &Brain::refreshEnded);
    app.popup().togglePanel();
    QVERIFY(panel->isVisible());
    QVERIFY(refreshed.wait(5000));
    QCOMPARE(m_fake.requests().size(), 1);
    QCOMPARE(m_fake.requests().first().path, QByteArray("/api/structured/open-loops"));
    QCOMPARE(ready.size(), 1);
}

void TestKovelBarApp::opensAtItsFinalSize_data()
{
    QTest::addColumn<bool>("waitForReady");
    QTest::newRow("clicked before the panel was made ready") << false;
    QTest::newRow("clicked once it was ready") << true;
}

// The first opening shows the panel at the size its content takes, not at a
// size it leaves on its next turn (a visible jump under the icon).
void TestKovelBarApp::opensAtItsFinalSize()
{
    QFETCH(bool, waitForReady);
    KovelBarApp app;
    QSignalSpy ready(&app, &KovelBarApp::panelReady);
    app.start();
    if (waitForReady)
        QVERIFY(ready.wait(5000));
    app.popup().togglePanel();
    BarView *panel = app.popup().panel();
    QVERIFY(panel->isVisible());
    const QRect opened = panel->geometry();
    // Its first turn on screen; the brain cannot have answered yet.
    QCoreApplication::sendPostedEvents();
    QCOMPARE(panel->geometry(), opened);
    QCOMPARE(panel->size(), panel->sizeHint());
}

// A click that comes before the panel was made ready opens it at once; making
// it ready later leaves the open panel open, where it is.
void TestKovelBarApp::openedBeforeItIsReadyStaysAsItIs()
{
    KovelBarApp app;
    QSignalSpy ready(&app, &KovelBarApp::panelReady);
    app.start();
    QVERIFY(!app.popup().hasPanel());
    app.popup().togglePanel();
    BarView *panel = app.popup().panel();
    QVERIFY(panel->isVisible());
    const QPoint opened = panel->pos();
    QVERIFY(ready.wait(5000));
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->pos(), opened);
    QCOMPARE(app.popup().panel(), panel);
}

// The window opened for want of a tray; then a tray came and its icon is
// clicked: the panel goes under the icon, and the next click puts it away.
void TestKovelBarApp::windowThenATrayAppears()
{
    bool tray = false;
    KovelBarApp app(KovelBarApp::Environment{QStringLiteral("xcb"), [&tray] { return tray; }, 10000});
    app.setQuitter([] { QFAIL("quit"); });
    app.start();
    QTRY_VERIFY_WITH_TIMEOUT(app.popup().hasPanel() && app.popup().panel()->isVisible(), 10000);
    QCOMPARE(app.popup().panel()->windowType(), Qt::Window);
    tray = true;
    auto *icon = app.findChild<QSystemTrayIcon *>();
    emit icon->activated(QSystemTrayIcon::Trigger);
    BarView *panel = app.popup().panel();
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->windowType(), Qt::Popup);
    QCOMPARE(app.popup().mode(), PopupController::Mode::Popup);
    const QRect available = panel->screen()->availableGeometry();
    QCOMPARE(panel->frameGeometry().topLeft(), popupPosition(icon->geometry(), QCursor::pos(), panel->size(), available));
    emit icon->activated(QSystemTrayIcon::Trigger);
    QVERIFY(!panel->isVisible());
}

// Where a popup cannot be placed, a small normal window titled KOVEL that the
// icon, Escape and closing put away, and the icon brings back.
void TestKovelBarApp::waylandGetsASmallWindow()
{
    int quits = 0;
    KovelBarApp app(KovelBarApp::Environment{QStringLiteral("wayland-egl"), [] { return true; }, 10000});
    app.setQuitter([&quits] { ++quits; });
    app.start();
    auto *icon = app.findChild<QSystemTrayIcon *>();
    BarView *panel = app.popup().panel();
    emit icon->activated(QSystemTrayIcon::Trigger);
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->windowType(), Qt::Window);
    QCOMPARE(panel->windowTitle(), QStringLiteral("KOVEL"));
    QCOMPARE(panel->width(), 380);
    emit icon->activated(QSystemTrayIcon::Trigger);
    QVERIFY(!panel->isVisible());
    emit icon->activated(QSystemTrayIcon::Trigger);
    QVERIFY(panel->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!panel->isVisible());
    emit icon->activated(QSystemTrayIcon::Trigger);
    QVERIFY(panel->isVisible());
    QVERIFY(panel->close());
    QVERIFY(!panel->isVisible());
    QCoreApplication::processEvents();
    QCOMPARE(quits, 0);
}

// The running copy is asked to quit and does not: the new one gives up with
// status 1 once its wait is over, and never runs beside it.
void TestKovelBarApp::replaceGivesUpOnACopyThatStays()
{
    KovelBarApp::Environment environment{QStringLiteral("xcb"), [] { return true; }, 400};
    int asked = 0;
    KovelBarApp running(environment);
    running.setQuitter([&asked] { ++asked; });
    QVERIFY(running.singleInstance().claim());
    KovelBarApp second(environment);
    QSignalSpy exits(&second, &KovelBarApp::exitRequested);
    second.launch(true);
    QVERIFY(exits.wait(5000));
    QCOMPARE(exits.first().first().toInt(), 1);
    QCOMPARE(asked, 1);
    QVERIFY(!second.popup().hasPanel());
    QVERIFY(!second.findChild<QSystemTrayIcon *>());
}

// A second start in this session asks the running copy for its panel and
// leaves with status 0.
void TestKovelBarApp::secondStartShowsTheRunningPanel()
{
    KovelBarApp::Environment environment{QStringLiteral("xcb"), [] { return true; }, 10000};
    KovelBarApp running(environment);
    QVERIFY(running.singleInstance().claim());
    running.start();
    QVERIFY(!running.popup().panel()->isVisible());
    KovelBarApp second(environment);
    QSignalSpy exits(&second, &KovelBarApp::exitRequested);
    second.launch(false);
    QVERIFY(exits.wait(5000));
    QCOMPARE(exits.first().first().toInt(), 0);
    QVERIFY(running.popup().panel()->isVisible());
    QVERIFY(!second.popup().hasPanel());
}

QTEST_MAIN(TestKovelBarApp)
#include "tst_kovelbarapp.moc"
