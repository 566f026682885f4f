// From a paired identity to a running sensor: the service manager is asked to
// replace the agent, then the run finishes like a successful setup.

#include "installer/sensor/pairing.h"
#include "installer/sensor/sensoragent.h"
#include "tests/support/fakebrain.h"
#include "tests/support/fakeservicemanager.h"
#include "tests/support/filechecks.h"
#include "tests/support/fulldisk.h"
#include "tests/support/installerrig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <sys/stat.h>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

const QString kClientLine = QStringLiteral("🧠 메뉴바 앱 설치 — 우상단에서 바로 질문/브리핑을 쓸 수 있어요.\n");
const QString kPanesLine = QStringLiteral("⚠️ 마지막 한 걸음 — 수집 권한 2개를 켜주세요 (안 켜면 화면 기억이 비어요):\n"
                                          "   1) 화면 기록  2) 손쉬운 사용  → 방금 열린 시스템 설정에서 Kovel 허용\n");
const QString kCompleted = QStringLiteral("완료! 센서가 로그인 시 자동 시작되고 지금도 수집 중입니다.\n");
// The sensor is in place, the menu bar client is not (the warning above says why).
const QString kSensorOnly = QStringLiteral("센서는 로그인 시 자동 시작되고 지금도 수집 중입니다. 메뉴바 앱은 위의 ⚠️ 줄을 확인해 주세요.\n");

const QString kAgentInBundle = QStringLiteral("/Contents/Resources/kovel/kovel");

QString serviceFailed(const QString &error)
{
    return QStringLiteral("⚠️ 센서 자동시작을 등록하지 못했어요: ") + error + QStringLiteral("\n");
}

// Enabled, so it starts at the next login, but not started now.
const QString kNotStartedNow = QStringLiteral("⚠️ 센서 자동시작은 등록했지만 지금 바로 시작하지는 못했어요 (다음 로그인 때 시작돼요): ");

// A recording platform whose service manager side is the real one, run
// against a stand-in launchctl or systemctl in a temporary home.
template <class Side>
class LivePlatform : public RecordingPlatform<Side>
{
public:
    explicit LivePlatform(const QString &serviceManager)
        : RecordingPlatform<Side>([&] {
              PlatformFacts f = fakeplatform_detail::factsFor({});
              f.launchctl = serviceManager;
              f.systemctl = serviceManager;
              return f;
          }())
    {
    }
    void replaceAgentService(const SensorAgentService &agent, std::function<void(const AgentServiceResult &)> finished) override
    {
        this->agents.append(agent);
        Side::replaceAgentService(agent, std::move(finished));
    }
};

template <class Side>
struct LiveRig {
    explicit LiveRig(int exitStatus = 0, bool startable = true, const QString &failing = {}, const QString &message = {})
        : manager({}, exitStatus, failing, message),
          platform(startable ? manager.program() : manager.program() + QStringLiteral(".missing"))
    {
        bundle.addMenubarClient("v1");
        bundle.addFile(kAgentInBundle, "#!/bin/sh\n# agent v1\n", true);
    }
    FakeServiceManager manager;
    LivePlatform<Side> platform;
    InstallerState state;
    TempBundle bundle;
    QNetworkAccessManager network;
    Context context{state, platform, bundle.path(), network};
};

void begin(InstallerState &state)
{
    state.setLog({});
    state.setRunning(true);
    state.setDone(false);
}

bool waitForDone(InstallerState &state)
{
    if (!QTest::qWaitFor([&] { return state.done(); }, 15000))
        return false;
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return true;
}

// The run has ended, with or without success, and its lines are in.
bool waitForEnd(InstallerState &state)
{
    if (!QTest::qWaitFor([&] { return !state.running(); }, 15000))
        return false;
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return true;
}

// A brain that hands out an identity derived from the code it is sent.
void pairByCode(FakeBrain &brain)
{
    brain.on("POST", "/api/devices/pair", [](const FakeBrain::Request &request) {
        const QString code = QJsonDocument::fromJson(request.body).object().value("code").toString();
        return FakeBrain::Reply::json(QJsonDocument(QJsonObject{{"device_id", "dev-" + code}, {"api_key", "key-" + code}})
                                          .toJson(QJsonDocument::Compact));
    });
}

template <class Rig>
void pair(Rig &rig, FakeBrain &brain, const QString &code)
{
    begin(rig.state);
    rig.state.setServerURL(brain.url());
    rig.state.setPairCode(code);
    startSensor(rig.context);
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestSensorAgent : public QObject
{
    Q_OBJECT
private slots:
    void finishesAfterTheServiceManager();
    void failuresEndWithoutCompletion_data();
    void failuresEndWithoutCompletion();
    void pairingInstallsTheLaunchAgent();
    void secondPairingLeavesOnlyTheSecondIdentity();
    void pairingInstallsTheSystemdUnit_data();
    void pairingInstallsTheSystemdUnit();
    void agentCopiedAndReplaced_data();
    void agentCopiedAndReplaced();
    void runningAgentSurvivesTheSwap();
    void packagedAgentUsedInPlace();
    void fullDiskKeepsTheWorkingSensor_data();
    void fullDiskKeepsTheWorkingSensor();
    void modesWhateverTheUmask_data();
    void modesWhateverTheUmask();
    void keyFolderOfAnotherUserRefused();
    void clientRefusedNoCompletion();
};

void TestSensorAgent::finishesAfterTheServiceManager()
{
    InstallerRig<FakeMacPlatform> rig;
    rig.bundle.addMenubarClient("v1");
    rig.bundle.addFile(kAgentInBundle, "#!/bin/sh\n", true);
    QDir().mkpath(rig.platform.home() + "/Library/LaunchAgents");
    rig.platform.holdAgentFinish = true;
    begin(rig.state);

    installSensorAgent(rig.context, QStringLiteral("http://brain:8900"), QStringLiteral("dev-1"), QStringLiteral("key-1"));
    QCOMPARE(rig.platform.agents.size(), 1);
    const SensorAgentService agent = rig.platform.agents.first();
    QCOMPARE(agent.program, rig.platform.home() + "/Library/Application Support/Kovel/kovel");
    QCOMPARE(agent.server, QStringLiteral("http://brain:8900"));
    QCOMPARE(agent.deviceID, QStringLiteral("dev-1"));
    QCOMPARE(agent.apiKey, QStringLiteral("key-1"));

    // Nothing finishes while the service manager is still at work.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(rig.state.running());
    QVERIFY(!rig.state.done());
    QVERIFY(rig.state.log().isEmpty());
    QVERIFY(rig.platform.openedApplications.isEmpty());

    rig.platform.heldAgentFinish();
    QVERIFY(waitForDone(rig.state));
    QVERIFY(!rig.state.running());
    QCOMPARE(rig.state.log(), kClientLine + kPanesLine + kCompleted);
    QCOMPARE(rig.platform.openedApplications, QStringList{rig.platform.installedMenubarPath()});
    QCOMPARE(rig.platform.openedUrls.size(), 2);   // the two panes, no dashboard
}

// Whatever kept the sensor from being set up ends the run with the warning in
// its own words: no completion line, no client, no panes, `done` false.
void TestSensorAgent::failuresEndWithoutCompletion_data()
{
    QTest::addColumn<bool>("mac");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("startable");
    QTest::addColumn<bool>("agentShipped");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("warning");
    const QString notRegistered = serviceFailed({}).chopped(1);
    QTest::newRow("launchctl bootstrap refuses") << true << 5 << true << true << "bootstrap" << "Bootstrap failed: 5: Input/output error" << notRegistered;
    QTest::newRow("launchctl cannot start") << true << 0 << false << true << "" << "No such file or directory" << notRegistered;
    QTest::newRow("systemctl without a user bus") << false << 1 << true << true << "daemon-reload" << "Failed to connect to bus: No medium found" << notRegistered;
    // Reloaded and enabled: it is registered, only not running now.
    QTest::newRow("systemctl restart fails") << false << 1 << true << true << "restart" << "Job for io.kovel.agent.service failed." << kNotStartedNow;
    QTest::newRow("systemctl cannot start") << false << 0 << false << true << "" << "No such file or directory" << notRegistered;
    QTest::newRow("mac: no agent in the bundle") << true << 0 << true << false << "" << kAgentInBundle << notRegistered;
    QTest::newRow("linux: no agent in the bundle") << false << 0 << true << false << "" << kAgentInBundle << notRegistered;
}

template <class Side>
void checkFailure(int status, bool startable, bool agentShipped, const QString &failing, const QString &said,
                  const QString &warning)
{
    LiveRig<Side> rig(status, startable, failing, said);
    if (!agentShipped)
        QVERIFY(QFile::remove(rig.bundle.path() + kAgentInBundle));
    begin(rig.state);
    installSensorAgent(rig.context, QStringLiteral("http://brain:8900"), QStringLiteral("d"), QStringLiteral("k"));
    QVERIFY(waitForEnd(rig.state));
    const QString log = rig.state.log();
    QVERIFY2(log.startsWith(warning) && log.endsWith(u'\n') && log.count(u'\n') == 1, qPrintable(log));
    QVERIFY2(log.contains(said), qPrintable(log));
    QVERIFY(!log.contains(kCompleted));
    QVERIFY(!rig.state.done());
    QVERIFY(rig.platform.openedApplications.isEmpty());
    QVERIFY(rig.platform.openedUrls.isEmpty());
}

void TestSensorAgent::failuresEndWithoutCompletion()
{
    QFETCH(bool, mac);
    QFETCH(int, status);
    QFETCH(bool, startable);
    QFETCH(bool, agentShipped);
    QFETCH(QString, failing);
    QFETCH(QString, said);
    QFETCH(QString, warning);
    if (mac)
        checkFailure<MacPlatform>(status, startable, agentShipped, failing, said, warning);
    else
        checkFailure<LinuxPlatform>(status, startable, agentShipped, failing, said, warning);
}

void TestSensorAgent::pairingInstallsTheLaunchAgent()
{
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<MacPlatform> rig;
    const QString home = rig.platform.home();
    pair(rig, brain, QStringLiteral("ABC123"));
    QVERIFY(waitForDone(rig.state));

    QCOMPARE(rig.state.log(), QStringLiteral("브레인에 연결하는 중… (") + brain.url() + ")\n"
                                  + QStringLiteral("페어링 성공: dev-ABC123\n자동시작 등록 중…\n") + kClientLine + kPanesLine
                                  + kCompleted);
    const QString plist = home + "/Library/LaunchAgents/io.kovel.agent.plist";
    const QByteArray text = readAll(plist);
    // The service runs the agent's own copy, not the installer's.
    QVERIFY(text.contains("<string>" + home.toUtf8() + "/Library/Application Support/Kovel/kovel</string><string>agent</string>"));
    QVERIFY(text.contains("<string>--server</string><string>" + brain.url().toUtf8() + "</string>"));
    QVERIFY(text.contains("<string>--device-id</string><string>dev-ABC123</string>"));
    QVERIFY(text.contains("<string>--api-key</string><string>key-ABC123</string>"));
    QVERIFY(text.contains("<string>" + home.toUtf8() + "/Library/Logs/kovel-agent.log</string>"));
    QCOMPARE(modeOf(plist), 0600);
    const QList<QStringList> calls = {
        {"bootout", "gui/501/io.kovel.agent", "@none"},
        {"bootstrap", "gui/501", plist, "@none"},
    };
    QCOMPARE(rig.manager.calls(), calls);
}

void TestSensorAgent::secondPairingLeavesOnlyTheSecondIdentity()
{
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<MacPlatform> rig;
    const QString home = rig.platform.home();
    QVERIFY(QDir().mkpath(home + "/Library/LaunchAgents"));
    const QString plist = home + "/Library/LaunchAgents/io.kovel.agent.plist";

    for (const QString &code : {QStringLiteral("FIRST1"), QStringLiteral("SECND2")}) {
        pair(rig, brain, code);
        QVERIFY(waitForDone(rig.state));
    }

    const QByteArray text = readAll(plist);
    QVERIFY(text.contains("<string>dev-SECND2</string>"));
    QVERIFY(text.contains("<string>key-SECND2</string>"));
    QVERIFY(!text.contains("FIRST1"));
    // One agent file (beside the menu bar client's login item), nothing left over.
    QCOMPARE(filesIn(home + "/Library/LaunchAgents"), (QStringList{"io.kovel.agent.plist", "io.kovel.menubar.plist"}));
    // Each pairing unloads the earlier agent before loading its own.
    const QList<QStringList> calls = rig.manager.calls();
    QCOMPARE(calls.size(), 4);
    QCOMPARE(calls[0].first(), QStringLiteral("bootout"));
    QCOMPARE(calls[1].first(), QStringLiteral("bootstrap"));
    QCOMPARE(calls[2].first(), QStringLiteral("bootout"));
    QCOMPARE(calls[3].first(), QStringLiteral("bootstrap"));
}

// The unit where systemd --user looks, the key in its own file, and no word
// about system settings that were never opened.
void TestSensorAgent::pairingInstallsTheSystemdUnit_data()
{
    QTest::addColumn<bool>("xdgSet");
    QTest::newRow("XDG defaults") << false;
    QTest::newRow("XDG folders set") << true;
}

void TestSensorAgent::pairingInstallsTheSystemdUnit()
{
    QFETCH(bool, xdgSet);
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<LinuxPlatform> rig;
    const QString home = rig.platform.home();
    QString config = home + "/.config";
    QString data = home + "/.local/share";
    if (xdgSet) {
        config = home + "/cfg dir";
        data = home + "/data";
        QProcessEnvironment env = rig.platform.environment();
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("XDG_DATA_HOME", data);
        rig.platform.setEnvironment(env);
    }
    pair(rig, brain, QStringLiteral("LNX"));
    QVERIFY(waitForDone(rig.state));

    const QString unit = config + "/systemd/user/io.kovel.agent.service";
    const QString keyFile = config + "/kovel/agent.key";
    const QByteArray text = readAll(unit);
    QVERIFY2(text.contains("ExecStart=\"" + data.toUtf8() + "/kovel/kovel\" \"agent\" \"--server\" \"" + brain.url().toUtf8()
                           + "\" \"--device-id\" \"dev-LNX\" \"--api-key-file\" \"" + keyFile.toUtf8() + "\"\n"),
             text.constData());
    QVERIFY(!text.contains("key-LNX"));
    QCOMPARE(modeOf(unit), 0644);
    QCOMPARE(readAll(keyFile), QByteArray("key-LNX"));
    QCOMPARE(modeOf(keyFile), 0600);
    if (xdgSet)
        QVERIFY(!QFileInfo::exists(home + "/.config/systemd"));
    QCOMPARE(rig.manager.calls().size(), 3);
    QCOMPARE(rig.manager.calls().last().mid(0, 3), (QStringList{"--user", "restart", "io.kovel.agent.service"}));
    QCOMPARE(rig.state.log(), QStringLiteral("브레인에 연결하는 중… (") + brain.url() + ")\n"
                                  + QStringLiteral("페어링 성공: dev-LNX\n자동시작 등록 중…\n") + kClientLine + kCompleted);
}

// The service runs a copy in the user's own folder, which outlives the
// installer; pairing again replaces it whole.
void TestSensorAgent::agentCopiedAndReplaced_data()
{
    QTest::addColumn<bool>("mac");
    QTest::newRow("mac") << true;
    QTest::newRow("linux") << false;
}

template <class Side>
void checkAgentCopy()
{
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<Side> rig;
    const QString copy = rig.platform.agentFolder() + "/kovel";
    pair(rig, brain, QStringLiteral("ONE"));
    QVERIFY(waitForDone(rig.state));
    QCOMPARE(rig.platform.agents.last().program, copy);
    QCOMPARE(readAll(copy), QByteArray("#!/bin/sh\n# agent v1\n"));
    QCOMPARE(modeOf(copy), 0755);

    // A newer installer, started from somewhere else: its agent replaces the copy.
    rig.bundle.addFile(kAgentInBundle, "#!/bin/sh\n# agent v2\n", true);
    pair(rig, brain, QStringLiteral("TWO"));
    QVERIFY(waitForDone(rig.state));
    QCOMPARE(rig.platform.agents.last().program, copy);
    QCOMPARE(readAll(copy), QByteArray("#!/bin/sh\n# agent v2\n"));
    QCOMPARE(filesIn(rig.platform.agentFolder()), QStringList{"kovel"});

    // The installer can go; the service does not need it.
    QVERIFY(QDir(rig.bundle.path()).removeRecursively());
    QVERIFY(QFileInfo(copy).isExecutable());
}

void TestSensorAgent::agentCopiedAndReplaced()
{
    QFETCH(bool, mac);
    if (mac)
        checkAgentCopy<MacPlatform>();
    else
        checkAgentCopy<LinuxPlatform>();
}

// Pairing again while the agent runs from its copy: the new copy takes the
// old one's place (a program file cannot be written over while it runs), and
// the running agent goes on until the service manager restarts it.
void TestSensorAgent::runningAgentSurvivesTheSwap()
{
    const QString built = qEnvironmentVariable("KOVEL_TEST_BUNDLE") + kAgentInBundle;
    QVERIFY2(QFileInfo(built).isExecutable(), qPrintable(built));
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<LinuxPlatform> rig;
    QFile::remove(rig.bundle.path() + kAgentInBundle);
    QVERIFY(QFile::copy(built, rig.bundle.path() + kAgentInBundle));
    pair(rig, brain, QStringLiteral("ONE"));
    QVERIFY(waitForDone(rig.state));
    const QString copy = rig.platform.agentFolder() + "/kovel";

    QProcess agent;
    agent.start(copy, {"agent", "--server", brain.url(), "--device-id", "dev-ONE", "--api-key", "key-ONE"});
    QVERIFY(agent.waitForStarted(15000));
    QTRY_VERIFY_WITH_TIMEOUT(agent.canReadLine(), 15000);
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(copy).constData(), &before), 0);

    pair(rig, brain, QStringLiteral("TWO"));
    QVERIFY2(waitForDone(rig.state), qPrintable(rig.state.log()));
    struct stat after {};
    QCOMPARE(::stat(QFile::encodeName(copy).constData(), &after), 0);
    QVERIFY(after.st_ino != before.st_ino);
    QCOMPARE(readAll(copy), readAll(built));
    QCOMPARE(agent.state(), QProcess::Running);
    agent.terminate();
    QVERIFY(agent.waitForFinished(15000));
}

// Installed by the system's package manager: the package's agent, where it lies.
void TestSensorAgent::packagedAgentUsedInPlace()
{
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<LinuxPlatform> rig;
    rig.context.packaged = true;
    pair(rig, brain, QStringLiteral("PKG"));
    QVERIFY(waitForDone(rig.state));
    QCOMPARE(rig.platform.agents.last().program, rig.bundle.path() + kAgentInBundle);
    QVERIFY(!QFileInfo::exists(rig.platform.agentFolder()));
    QVERIFY(readAll(rig.platform.home() + "/.config/systemd/user/io.kovel.agent.service")
                .contains("ExecStart=\"" + rig.bundle.path().toUtf8() + kAgentInBundle.toUtf8() + "\" "));
}

// A full disk during a second pairing: every working file of the first stays
// whole, the log says so, and the run does not complete.
void TestSensorAgent::fullDiskKeepsTheWorkingSensor_data()
{
    QTest::addColumn<bool>("mac");
    QTest::addColumn<bool>("bigAgent");
    QTest::newRow("mac: the agent copy") << true << true;
    QTest::newRow("mac: the property list") << true << false;
    QTest::newRow("linux: the agent copy") << false << true;
    QTest::newRow("linux: the unit and key") << false << false;
}

template <class Side>
void checkFullDisk(bool bigAgent)
{
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<Side> rig;
    pair(rig, brain, QStringLiteral("ONE"));
    QVERIFY(waitForDone(rig.state));

    const QString home = rig.platform.home();
    const QStringList files = {
        rig.platform.agentFolder() + "/kovel",
        home + "/Library/LaunchAgents/io.kovel.agent.plist",
        home + "/.config/systemd/user/io.kovel.agent.service",
        home + "/.config/kovel/agent.key",
    };
    QList<QByteArray> before;
    for (const QString &f : files)
        before << readAll(f);

    // Past the limit: either the new agent, or (with a tiny agent) the service files.
    if (bigAgent)
        rig.bundle.addFile(kAgentInBundle, QByteArray(64 * 1024, '#'), true);
    {
        FullDisk full(bigAgent ? 16 * 1024 : 48);
        pair(rig, brain, QStringLiteral("TWO"));
        QVERIFY(waitForEnd(rig.state));
    }
    const QString log = rig.state.log();
    QVERIFY2(log.contains(QStringLiteral("⚠️ 센서 자동시작을 등록하지 못했어요: ")), qPrintable(log));
    QVERIFY(!log.contains(kCompleted));
    QVERIFY(!rig.state.done());
    for (qsizetype i = 0; i < files.size(); ++i)
        QVERIFY2(readAll(files[i]) == before[i], qPrintable(files[i]));
    QCOMPARE(filesIn(rig.platform.agentFolder()), QStringList{"kovel"});
    // The loaded agent was left as it was.
    QCOMPARE(rig.manager.calls().size(), (std::is_same_v<Side, MacPlatform> ? 2 : 3));
}

void TestSensorAgent::fullDiskKeepsTheWorkingSensor()
{
    QFETCH(bool, mac);
    QFETCH(bool, bigAgent);
    if (mac)
        checkFullDisk<MacPlatform>(bigAgent);
    else
        checkFullDisk<LinuxPlatform>(bigAgent);
}

// Modes are set, never left to the umask.
void TestSensorAgent::modesWhateverTheUmask_data()
{
    QTest::addColumn<bool>("mac");
    QTest::newRow("mac") << true;
    QTest::newRow("linux") << false;
}

template <class Side>
QStringList wrongModesAfterPairing(const QMap<QString, int> &underHome)
{
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<Side> rig;
    pair(rig, brain, QStringLiteral("U0"));
    if (!waitForDone(rig.state))
        return {QStringLiteral("the run did not complete")};
    QStringList wrong;
    for (auto it = underHome.cbegin(); it != underHome.cend(); ++it) {
        const int mode = modeOf(rig.platform.home() + it.key());
        if (mode != it.value())
            wrong << QStringLiteral("%1: %2").arg(it.key()).arg(mode, 0, 8);
    }
    return wrong;
}

void TestSensorAgent::modesWhateverTheUmask()
{
    QFETCH(bool, mac);
    const mode_t old = ::umask(0);
    const QStringList wrong = mac
        ? wrongModesAfterPairing<MacPlatform>({{"/Library/LaunchAgents", 0755},
                                               {"/Library/LaunchAgents/io.kovel.agent.plist", 0600},
                                               {"/Library/Application Support/Kovel", 0755},
                                               {"/Library/Application Support/Kovel/kovel", 0755}})
        : wrongModesAfterPairing<LinuxPlatform>({{"/.config/systemd/user", 0755},
                                                 {"/.config/systemd/user/io.kovel.agent.service", 0644},
                                                 {"/.config/kovel", 0700},
                                                 {"/.config/kovel/agent.key", 0600},
                                                 {"/.local/share/kovel", 0755},
                                                 {"/.local/share/kovel/kovel", 0755}});
    ::umask(old);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(", ")));
}

// ~/.config/kovel leads into another user's shared folder where that user put
// a link agent.key -> ~/.bashrc: the pairing says what it refused, keeps the
// user's file, registers nothing and does not complete.
void TestSensorAgent::keyFolderOfAnotherUserRefused()
{
    if (!mayGiveFilesAway())
        QSKIP("giving a folder to another user (chown) needs root");
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<LinuxPlatform> rig;
    const QString home = rig.platform.home();
    const QString bashrc = home + "/.bashrc";
    QFile f(bashrc);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("alias ll='ls -l'\n");
    f.close();
    const QString shared = home + "/shared";
    QVERIFY(makeOthersSharedFolder(shared));
    QVERIFY(plantOthersLink(bashrc, shared + "/agent.key"));
    QVERIFY(QDir().mkpath(home + "/.config"));
    QVERIFY(QFile::link(shared, home + "/.config/kovel"));

    pair(rig, brain, QStringLiteral("EVIL"));
    QVERIFY(waitForEnd(rig.state));
    const QString log = rig.state.log();
    QVERIFY2(log.contains(serviceFailed(home + "/.config/kovel: ").chopped(1)), qPrintable(log));
    QVERIFY(!log.contains(QStringLiteral("완료")));
    QVERIFY(!rig.state.done());
    QCOMPARE(readAll(bashrc), QByteArray("alias ll='ls -l'\n"));
    QVERIFY(rig.manager.calls().isEmpty());
    QVERIFY(rig.platform.openedApplications.isEmpty());
}

// ~/Applications leads into another user's shared folder holding their
// KovelBar.app: the sensor is set up and says so, the client is refused by
// name, their program is not started, and nothing says "완료".
void TestSensorAgent::clientRefusedNoCompletion()
{
    if (!mayGiveFilesAway())
        QSKIP("giving a folder to another user (chown) needs root");
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<LinuxPlatform> rig;
    const QString home = rig.platform.home();
    const QString shared = home + "/shared";
    QVERIFY(makeOthersSharedFolder(shared));
    QVERIFY(QDir().mkpath(shared + "/KovelBar.app/Contents/MacOS"));
    QVERIFY(giveToOtherUser(shared + "/KovelBar.app"));
    const QString apps = QFileInfo(rig.platform.installedMenubarPath()).absolutePath();
    QVERIFY(QFile::link(shared, apps));

    pair(rig, brain, QStringLiteral("APPS"));
    QVERIFY(waitForDone(rig.state));
    const QString log = rig.state.log();
    QVERIFY2(log.contains(QStringLiteral("⚠️ 메뉴바 앱을 설치하지 못했어요: ") + apps + ": "), qPrintable(log));
    QVERIFY2(log.endsWith(kSensorOnly), qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("완료")), qPrintable(log));
    QVERIFY(rig.platform.openedApplications.isEmpty());
    QCOMPARE(rig.manager.calls().size(), 3);
}

QTEST_GUILESS_MAIN(TestSensorAgent)
#include "tst_sensoragent.moc"
