// The start button's run: the setup script's inputs, the sensor hand-over,
// and the whole thing against the sample setup script and demo brain.

#include "installer/controller/installercontroller.h"
#include "installer/runs/runending.h"
#include "tests/support/installerrig.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <csignal>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

const QString kClientLine = QStringLiteral("🧠 메뉴바 앱 설치 — 우상단에서 바로 질문/브리핑을 쓸 수 있어요.\n");
const QString kPanesLine = QStringLiteral("⚠️ 마지막 한 걸음 — 수집 권한 2개를 켜주세요 (안 켜면 화면 기억이 비어요):\n"
                                          "   1) 화면 기록  2) 손쉬운 사용  → 방금 열린 시스템 설정에서 Kovel 허용\n");

QString failureFramed(int status) { return u'\n' + failureMessage(status) + u'\n'; }

template <class Rig>
bool waitForEnd(Rig &rig, int ms = 30000)
{
    QSignalSpy spy(&rig.state, &InstallerState::runningChanged);
    if (!rig.state.running())
        return true;
    return spy.wait(ms) && !rig.state.running();
}

// Stops a demo brain the sample script started under `home`, however the test ends.
struct BrainReaper {
    QString home;
    ~BrainReaper()
    {
        QFile f(home + QStringLiteral("/.local/state/kovel/demo-brain.pid"));
        if (f.open(QIODevice::ReadOnly)) {
            const int pid = f.readAll().trimmed().toInt();
            if (pid > 0)
                ::kill(pid, SIGTERM);
        }
    }
};

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

bool haveBuiltBundle(const QString &bundle)
{
    return !bundle.isEmpty() && QFileInfo::exists(bundle + "/Contents/Resources/bootstrap.sh")
        && QFileInfo(bundle + "/Contents/Resources/brain/kovel-demo-brain").isExecutable()
        && QFileInfo::exists(bundle + "/Contents/Resources/KovelBar.app/Contents/MacOS/KovelBar");
}

} // namespace

class TestInstallRun : public QObject
{
    Q_OBJECT

private slots:
    // What the script sees: its own path as the one argument, the three
    // entries (an inherited KOVEL_ROLE replaced, not doubled) and the rest of
    // the installer's environment.
    void scriptInputs_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("engine");
        QTest::addColumn<QString>("roleValue");
        QTest::addColumn<QString>("engineValue");
        QTest::newRow("all-in-one, ollama") << int(Role::allInOne) << int(Engine::ollama) << "all-in-one" << "ollama";
        QTest::newRow("all-in-one, subscription") << int(Role::allInOne) << int(Engine::subscription) << "all-in-one" << "subscription";
        QTest::newRow("server, ollama") << int(Role::server) << int(Engine::ollama) << "server" << "ollama";
        QTest::newRow("server, subscription") << int(Role::server) << int(Engine::subscription) << "server" << "subscription";
    }
    void scriptInputs()
    {
        QFETCH(int, role);
        QFETCH(int, engine);
        QFETCH(QString, roleValue);
        QFETCH(QString, engineValue);
        InstallerRig<> rig;
        const QString script = rig.bundle.addFile(QStringLiteral("/Contents/Resources/bootstrap.sh"),
            "printf '%s\\n' \"$0\" \"$#\" \"$KOVEL_ROLE\" \"$KOVEL_ENGINE\" \"$KOVEL_AUTOSTART\" \"$KOVEL_TEST_MARK\"\n"
            "env | grep -c '^KOVEL_ROLE='\n"
            "env | grep -c '^KOVEL_AUTOSTART='\n");
        QProcessEnvironment env = rig.platform.environment();
        env.insert(QStringLiteral("KOVEL_ROLE"), QStringLiteral("stale"));
        env.insert(QStringLiteral("KOVEL_AUTOSTART"), QStringLiteral("0"));
        env.insert(QStringLiteral("KOVEL_TEST_MARK"), QStringLiteral("kept"));
        rig.platform.setEnvironment(env);
        rig.state.setRole(Role(Role::Case(role)));
        rig.state.setEngine(Engine(Engine::Case(engine)));

        Controller(rig.context).start();
        QVERIFY(waitForEnd(rig));
        QVERIFY(rig.state.done());
        const QString lines = QStringList{script, "0", roleValue, engineValue, "1", "kept", "1", "1"}.join(u'\n') + u'\n';
        QTRY_COMPARE(rig.state.log(), lines); // no pane opens here, so no pane text
        QCOMPARE(rig.platform.openedUrls, QList<QUrl>{QUrl("http://127.0.0.1:8900/")});
    }

    // A successful setup: install client → panes → dashboard, each after the
    // script's own output.
    void successFinishes()
    {
        InstallerRig<FakeMacPlatform> rig;
        rig.bundle.addMenubarClient("v1");
        rig.bundle.addFile(QStringLiteral("/Contents/Resources/bootstrap.sh"), "echo step one; echo step two >&2\n");
        Controller(rig.context).start();
        QVERIFY(waitForEnd(rig));
        QVERIFY(rig.state.done());
        const QString expected = QStringLiteral("step one\nstep two\n") + kClientLine + kPanesLine;
        QTRY_COMPARE(rig.state.log(), expected);
        QCOMPARE(rig.platform.openedApplications, QStringList{rig.platform.installedMenubarPath()});
        const QList<QUrl> urls = {
            QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture")),
            QUrl(QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility")),
            QUrl(QStringLiteral("http://127.0.0.1:8900/")),
        };
        QCOMPARE(rig.platform.openedUrls, urls);
        QVERIFY(QFileInfo::exists(rig.platform.installedMenubarPath() + QStringLiteral("/Contents/MacOS/KovelBar")));
    }

    // The earlier log goes the moment the button is pressed.
    void startResetsAtOnce()
    {
        InstallerRig<> rig;
        rig.bundle.addFile(QStringLiteral("/Contents/Resources/bootstrap.sh"), "echo new\n");
        rig.state.setLog(QStringLiteral("old run\n"));
        rig.state.setDone(true);
        Controller(rig.context).start();
        QCOMPARE(rig.state.log(), QString());
        QVERIFY(rig.state.running());
        QVERIFY(!rig.state.done());
        QVERIFY(waitForEnd(rig));
        QTRY_VERIFY(rig.state.log().startsWith(QStringLiteral("new\n")));
    }

    // Sensor: the log is cleared and pairing takes over; no script runs.
    void sensorRunsNoScript()
    {
        InstallerRig<> rig;
        QTemporaryDir dir;
        const QString marker = dir.filePath(QStringLiteral("ran"));
        rig.bundle.addFile(QStringLiteral("/Contents/Resources/bootstrap.sh"), ": > '" + marker.toUtf8() + "'\n");
        rig.state.setRole(Role::sensor);
        rig.state.setServerURL(QStringLiteral("   "));
        rig.state.setLog(QStringLiteral("old run\n"));
        QSignalSpy runningSpy(&rig.state, &InstallerState::runningChanged);
        QSignalSpy logSpy(&rig.state, &InstallerState::logChanged);
        Controller(rig.context).start();
        // Set before pairing began, whatever pairing did with the bad address.
        QVERIFY(!runningSpy.isEmpty());
        QCOMPARE(runningSpy.first().first().toBool(), true);
        QCOMPARE(logSpy.size(), 1);
        QCOMPARE(logSpy.first().first().toString(), QString());
        QVERIFY(waitForEnd(rig));
        QTRY_VERIFY(!rig.state.log().isEmpty());
        QVERIFY(!rig.state.log().contains(QStringLiteral("old run")));
        QVERIFY(!QFileInfo::exists(marker));
        QVERIFY(!rig.state.done());
    }

    void missingScript()
    {
        InstallerRig<> rig;
        Controller(rig.context).start();
        QVERIFY(waitForEnd(rig));
        QVERIFY(!rig.state.done());
        QTRY_VERIFY(rig.state.log().endsWith(failureFramed(127)));
        const QString shellError = rig.state.log().chopped(failureFramed(127).size());
        QVERIFY2(shellError.contains(rig.bundle.path() + QStringLiteral("/Contents/Resources/bootstrap.sh")), qPrintable(shellError));
        QVERIFY2(shellError.contains(QStringLiteral("No such file")), qPrintable(shellError));
        QVERIFY(rig.platform.openedUrls.isEmpty());
    }

    // The sample setup script and the demo brain, in a temporary home, on a
    // port of the test's own (the dashboard address stays the fixed one).
    void endToEndAllInOne()
    {
        const QString bundle = qEnvironmentVariable("KOVEL_TEST_BUNDLE");
        if (!haveBuiltBundle(bundle))
            QSKIP("the installer bundle with the sample script, demo brain and KovelBar is not built");
        InstallerRig<> rig;
        BrainReaper reaper{rig.platform.home()};
        const quint16 port = freePort();
        QProcessEnvironment env = rig.platform.environment();
        env.insert(QStringLiteral("KOVEL_BRAIN_PORT"), QString::number(port));
        rig.platform.setEnvironment(env);
        Context context{rig.state, rig.platform, bundle, rig.network};

        QStringList pieces;
        connect(&rig.state, &InstallerState::logAppended, this, [&](const QString &p) { pieces << p; });
        Controller(context).start();
        QVERIFY(waitForEnd(rig, 60000));
        QTRY_VERIFY(rig.state.log().endsWith(kClientLine));
        const QString log = rig.state.log();
        QVERIFY2(rig.state.done(), qPrintable(log));
        QVERIFY(log.startsWith(QStringLiteral("역할: 올인원")));
        QVERIFY2(log.contains(QStringLiteral("데모 브레인이 응답해요: http://127.0.0.1:%1/\n").arg(port)), qPrintable(log));
        QVERIFY(log.endsWith(kClientLine));
        QVERIFY(!log.contains(kPanesLine));
        QVERIFY(pieces.size() > 2); // streamed, not handed over in one piece at the end

        // The brain really answers.
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(probe.waitForConnected(5000));

        const QString installed = rig.platform.installedMenubarPath();
        QVERIFY(QFileInfo(installed + "/Contents/MacOS/KovelBar").isExecutable());
        QVERIFY(QFileInfo::exists(rig.platform.home() + "/.config/autostart/io.kovel.menubar.desktop"));
        QCOMPARE(rig.platform.openedApplications, QStringList{installed});
        QCOMPARE(rig.platform.openedUrls, QList<QUrl>{QUrl("http://127.0.0.1:8900/")});
    }

    void endToEndPortTaken()
    {
        const QString bundle = qEnvironmentVariable("KOVEL_TEST_BUNDLE");
        if (!haveBuiltBundle(bundle))
            QSKIP("the installer bundle with the sample script and demo brain is not built");
        InstallerRig<> rig;
        BrainReaper reaper{rig.platform.home()};
        // Something that accepts connections and never speaks HTTP.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        QProcessEnvironment env = rig.platform.environment();
        env.insert(QStringLiteral("KOVEL_BRAIN_PORT"), QString::number(squatter.serverPort()));
        rig.platform.setEnvironment(env);
        Context context{rig.state, rig.platform, bundle, rig.network};
        rig.bundle.addMenubarClient("unused");

        Controller(context).start();
        QVERIFY(waitForEnd(rig, 60000));
        QVERIFY(!rig.state.done());
        QTRY_VERIFY2(rig.state.log().endsWith(failureFramed(7)), qPrintable(rig.state.log()));
        QVERIFY(rig.platform.openedUrls.isEmpty());
        QVERIFY(!QFileInfo::exists(rig.platform.installedMenubarPath()));
        QVERIFY(!QFileInfo::exists(rig.platform.home() + "/.local/state/kovel/demo-brain.pid"));
    }
};

QTEST_GUILESS_MAIN(TestInstallRun)
#include "tst_installrun.moc"
