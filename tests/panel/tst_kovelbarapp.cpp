#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/panel/kovelbarapp.h"
#include "tests/support/fakebrain.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>

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
    void secondCopyIsRefused();

private:
    QTemporaryDir m_home;
    FakeBrain m_fake;
};

void TestKovelBarApp::initTestCase()
{
    QVERIFY(m_home.isValid());
    // The panel's own Brain reads the configuration: point it at the fake
    // brain, and keep the lock away from any real copy of the program.
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", m_home.path().toUtf8());
    QVERIFY(QDir(m_home.path()).mkpath(".kovel"));
    QFile config(m_home.filePath(".kovel/config.json"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QByteArray("{\"brain\":\"") + m_fake.url().toUtf8() + "\"}");
    config.close();
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
    QVERIFY(!app.panel()->isVisible());
    QCOMPARE(app.panel()->brain()->server(), m_fake.url());
}

void TestKovelBarApp::withoutTrayTheWindowOpens()
{
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    KovelBarApp app;
    app.start();
    QSignalSpy refreshed(app.panel()->brain(), &Brain::refreshEnded);
    QTRY_VERIFY_WITH_TIMEOUT(app.panel()->isVisible(), 10000);
    QCOMPARE(app.panel()->windowTitle(), QStringLiteral("KOVEL"));
    QCOMPARE(app.panel()->windowType(), Qt::Window);
    QVERIFY(!refreshed.isEmpty() || refreshed.wait(5000));
    QCOMPARE(app.panel()->brain()->loops().size(), 1);
}

void TestKovelBarApp::popupKeepsItsBrainAndText()
{
    KovelBarApp app;
    app.start();
    BarView *panel = app.panel();
    Brain *brain = panel->brain();
    app.togglePanel();
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->windowType(), Qt::Popup);
    const QRect available = panel->screen()->availableGeometry();
    QVERIFY(available.contains(panel->geometry()));

    panel->findChild<QLineEdit *>(QStringLiteral("question"))->setText(QStringLiteral("적어 둔 질문"));
    app.togglePanel();
    QVERIFY(!panel->isVisible());
    app.showPanel();
    QVERIFY(panel->isVisible());
    QCOMPARE(app.panel(), panel);
    QCOMPARE(panel->brain(), brain);
    QCOMPARE(panel->q(), QStringLiteral("적어 둔 질문"));
}

void TestKovelBarApp::secondCopyIsRefused()
{
    KovelBarApp first;
    QVERIFY(first.claimSingleInstance());
    KovelBarApp second;
    QVERIFY(!second.claimSingleInstance());
}

QTEST_MAIN(TestKovelBarApp)
#include "tst_kovelbarapp.moc"
