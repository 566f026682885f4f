// From a paired identity to a running sensor: the service manager is asked to
// replace the agent, then the run finishes like a successful setup.

#include "installer/sensor/pairing.h"
#include "installer/sensor/sensoragent.h"
#include "tests/sensor/fakeservicemanager.h"
#include "tests/support/filechecks.h"
#include "tests/support/fakebrain.h"
#include "tests/support/installerrig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <sys/stat.h>

namespace {

const QString kClientLine = QStringLiteral("🧠 메뉴바 앱 설치 — 우상단에서 바로 질문/브리핑을 쓸 수 있어요.\n");
const QString kPanesLine = QStringLiteral("⚠️ 마지막 한 걸음 — 수집 권한 2개를 켜주세요 (안 켜면 화면 기억이 비어요):\n"
                                          "   1) 화면 기록  2) 손쉬운 사용  → 방금 열린 시스템 설정에서 Kovel 허용\n");
const QString kCompleted = QStringLiteral("완료! 센서가 로그인 시 자동 시작되고 지금도 수집 중입니다.\n");

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
    void replaceAgentService(const SensorAgentService &agent, std::function<void()> finished) override
    {
        this->agents.append(agent);
        Side::replaceAgentService(agent, std::move(finished));
    }
};

template <class Side>
struct LiveRig {
    explicit LiveRig(int exitStatus = 0, bool startable = true)
        : manager({}, exitStatus),
          platform(startable ? manager.program() : manager.program() + QStringLiteral(".missing"))
    {
        bundle.addMenubarClient("v1");
    }
    FakeServiceManager manager;
    LivePlatform<Side> platform;
    InstallerState state;
    TempBundle bundle;
    QNetworkAccessManager network;
    Installer in{state, platform, bundle.path(), network};
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

// A brain that hands out an identity derived from the code it is sent.
void pairByCode(FakeBrain &brain)
{
    brain.on("POST", "/api/devices/pair", [](const FakeBrain::Request &request) {
        const QString code = QJsonDocument::fromJson(request.body).object().value("code").toString();
        return FakeBrain::Reply::json(QJsonDocument(QJsonObject{{"device_id", "dev-" + code}, {"api_key", "key-" + code}})
                                          .toJson(QJsonDocument::Compact));
    });
}

} // namespace

class TestSensorAgent : public QObject
{
    Q_OBJECT
private slots:
    void finishesAfterTheServiceManager();
    void serviceManagerFailureStillCompletes_data();
    void serviceManagerFailureStillCompletes();
    void pairingInstallsTheLaunchAgent();
    void secondPairingLeavesOnlyTheSecondIdentity();
    void pairingInstallsTheSystemdUnit();
};

void TestSensorAgent::finishesAfterTheServiceManager()
{
    InstallerRig<FakeMacPlatform> rig;
    rig.bundle.addMenubarClient("v1");
    QDir().mkpath(rig.platform.home() + "/Library/LaunchAgents");
    rig.platform.holdAgentFinish = true;
    begin(rig.state);

    installSensorAgent(rig.in, QStringLiteral("http://brain:8900"), QStringLiteral("dev-1"), QStringLiteral("key-1"));
    QCOMPARE(rig.platform.agents.size(), 1);
    const SensorAgentService agent = rig.platform.agents.first();
    QCOMPARE(agent.program, rig.bundle.path() + "/Contents/Resources/kovel/kovel");
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

void TestSensorAgent::serviceManagerFailureStillCompletes_data()
{
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<bool>("startable");
    QTest::newRow("refuses") << 1 << true;
    QTest::newRow("cannot start") << 0 << false;
}

void TestSensorAgent::serviceManagerFailureStillCompletes()
{
    QFETCH(int, exitStatus);
    QFETCH(bool, startable);
    LiveRig<MacPlatform> rig(exitStatus, startable);
    // No LaunchAgents folder either: the file cannot be written.
    begin(rig.state);
    installSensorAgent(rig.in, QStringLiteral("http://brain:8900"), QStringLiteral("d"), QStringLiteral("k"));
    QVERIFY(waitForDone(rig.state));
    QVERIFY(!rig.state.running());
    QVERIFY(rig.state.log().endsWith(kPanesLine + kCompleted));
    QCOMPARE(rig.manager.calls().size(), startable ? 2 : 0);
}

void TestSensorAgent::pairingInstallsTheLaunchAgent()
{
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<MacPlatform> rig;
    const QString home = rig.platform.home();
    QVERIFY(QDir().mkpath(home + "/Library/LaunchAgents"));
    begin(rig.state);
    rig.state.setServerURL(brain.url() + "/");
    rig.state.setPairCode(QStringLiteral("ABC123"));

    startSensor(rig.in);
    QVERIFY(waitForDone(rig.state));

    QCOMPARE(rig.state.log(), QStringLiteral("브레인에 연결하는 중… (") + brain.url() + ")\n"
                                  + QStringLiteral("페어링 성공: dev-ABC123\n자동시작 등록 중…\n") + kClientLine + kPanesLine
                                  + kCompleted);
    const QString plist = home + "/Library/LaunchAgents/io.kovel.agent.plist";
    const QByteArray text = readAll(plist);
    QVERIFY(text.contains("<string>" + rig.bundle.path().toUtf8() + "/Contents/Resources/kovel/kovel</string><string>agent</string>"));
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
        begin(rig.state);
        rig.state.setServerURL(brain.url());
        rig.state.setPairCode(code);
        startSensor(rig.in);
        QVERIFY(waitForDone(rig.state));
    }

    const QByteArray text = readAll(plist);
    QVERIFY(text.contains("<string>dev-SECND2</string>"));
    QVERIFY(text.contains("<string>key-SECND2</string>"));
    QVERIFY(!text.contains("FIRST1"));
    // One agent file (beside the menu bar client's login item), nothing left over.
    QCOMPARE(QDir(home + "/Library/LaunchAgents").entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{"io.kovel.agent.plist", "io.kovel.menubar.plist"}));
    // Each pairing unloads the earlier agent before loading its own.
    const QList<QStringList> calls = rig.manager.calls();
    QCOMPARE(calls.size(), 4);
    QCOMPARE(calls[0].first(), QStringLiteral("bootout"));
    QCOMPARE(calls[1].first(), QStringLiteral("bootstrap"));
    QCOMPARE(calls[2].first(), QStringLiteral("bootout"));
    QCOMPARE(calls[3].first(), QStringLiteral("bootstrap"));
}

void TestSensorAgent::pairingInstallsTheSystemdUnit()
{
    FakeBrain brain;
    pairByCode(brain);
    LiveRig<LinuxPlatform> rig;
    const QString home = rig.platform.home();
    begin(rig.state);
    rig.state.setServerURL(brain.url());
    rig.state.setPairCode(QStringLiteral("LNX"));

    startSensor(rig.in);
    QVERIFY(waitForDone(rig.state));

    const QString unit = home + "/.config/systemd/user/io.kovel.agent.service";
    const QByteArray text = readAll(unit);
    QVERIFY(text.contains("ExecStart=\"" + rig.bundle.path().toUtf8() + "/Contents/Resources/kovel/kovel\" \"agent\" \"--server\" \""
                          + brain.url().toUtf8() + "\" \"--device-id\" \"dev-LNX\" \"--api-key\" \"key-LNX\"\n"));
    QCOMPARE(modeOf(unit), 0600);
    QVERIFY(QFileInfo(home + "/.local/state/kovel").isDir());
    QCOMPARE(rig.manager.calls().size(), 3);
    QCOMPARE(rig.manager.calls().last().mid(0, 3), (QStringList{"--user", "restart", "io.kovel.agent.service"}));
    QVERIFY(rig.state.log().endsWith(kCompleted));
}

QTEST_GUILESS_MAIN(TestSensorAgent)
#include "tst_sensoragent.moc"
