#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/tray/kovelbarapp.h"
#include "tests/support/barhome.h"
#include "tests/support/fakebrain.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace Kovel::Bar;

// The program started while a copy already runs for this user: the copy in
// this test holds the lock, the program under test is the real one.
class TestSecondStart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void showsTheRunningPanelAndLeaves();
    void replaceTakesTheRunningCopysPlace();

private:
    QProcess *startProgram(const QStringList &arguments);
    QTemporaryDir m_home;
    FakeBrain m_fake;
};

namespace {
constexpr int deadlineMs = 15000;
KovelBarApp::Environment withTray() { return {QStringLiteral("xcb"), [] { return true; }, 10000}; }

// Whether a copy listens beside the lock: a local connection is taken or
// refused at once.
bool listening()
{
    QLocalSocket probe;
    probe.connectToServer(SingleInstance::socketPath());
    return probe.state() == QLocalSocket::ConnectedState;
}
}

void TestSecondStart::initTestCase()
{
    QVERIFY(m_home.isValid());
    // Shared with the program: the lock, its socket and the configuration.
    QVERIFY(makeBarHome(m_home.path(), m_fake.url()));
    m_fake.on("GET", "/api/structured/open-loops", FakeBrain::Reply::json(R"({"loops":[]})"));
    QVERIFY(QFile::exists(qEnvironmentVariable("KOVEL_TEST_BUNDLE")
                          + QStringLiteral("/Contents/Resources/KovelBar.app/Contents/MacOS/KovelBar")));
}

QProcess *TestSecondStart::startProgram(const QStringList &arguments)
{
    auto *program = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), m_home.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    program->setProcessEnvironment(environment);
    program->start(qEnvironmentVariable("KOVEL_TEST_BUNDLE")
                       + QStringLiteral("/Contents/Resources/KovelBar.app/Contents/MacOS/KovelBar"),
                   arguments);
    return program;
}

void TestSecondStart::showsTheRunningPanelAndLeaves()
{
    KovelBarApp running(withTray());
    QVERIFY(running.singleInstance().claim());
    running.start();
    QVERIFY(!running.popup().panel()->isVisible());

    QProcess *second = startProgram({});
    QSignalSpy finished(second, &QProcess::finished);
    QVERIFY(finished.wait(deadlineMs));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    const QString said = QString::fromUtf8(second->readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("already running")), qPrintable(said));
    QTRY_VERIFY_WITH_TIMEOUT(running.popup().panel()->isVisible(), deadlineMs);
}

// --replace: the running copy is asked to quit; once its lock is free the
// new one runs in its place and answers the next start itself.
void TestSecondStart::replaceTakesTheRunningCopysPlace()
{
    auto running = std::make_unique<KovelBarApp>(withTray());
    // Leaving, as the program does when asked: the lock goes with it.
    running->setQuitter([&running] { QTimer::singleShot(0, [&running] { running.reset(); }); });
    QVERIFY(running->singleInstance().claim());
    running->start();

    QProcess *replacement = startProgram({QStringLiteral("--replace")});
    QSignalSpy finished(replacement, &QProcess::finished);
    QTRY_VERIFY_WITH_TIMEOUT(!running, deadlineMs);
    // The new copy holds the lock now: a start from here is turned away.
    QTRY_VERIFY_WITH_TIMEOUT(!KovelBarApp(withTray()).singleInstance().claim(), deadlineMs);
    // Holding the lock comes a moment before listening beside it; a --replace
    // in between would find no one to ask and only wait for the lock.
    QTRY_VERIFY_WITH_TIMEOUT(listening(), deadlineMs);
    QCOMPARE(replacement->state(), QProcess::Running);

    // And it makes way in turn for the next --replace, here in the test.
    KovelBarApp next(withTray());
    QSignalSpy exits(&next, &KovelBarApp::exitRequested);
    next.launch(true);
    QVERIFY(finished.wait(deadlineMs));
    QCOMPARE(replacement->exitStatus(), QProcess::NormalExit);
    QCOMPARE(replacement->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(next.findChild<QSystemTrayIcon *>(), deadlineMs);
    QVERIFY(exits.isEmpty());
}

QTEST_MAIN(TestSecondStart)
#include "tst_secondstart.moc"
