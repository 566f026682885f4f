// Pairing with a brain: what is sent, which replies pair, and how a run ends.

#include "installer/sensor/pairing.h"
#include "tests/support/fakebrain.h"
#include "tests/support/installerrig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QtTest>

namespace {

const QString kBadAddress = QStringLiteral("⚠️ 브레인 주소가 올바르지 않아요. 예: http://192.168.0.10:8900\n");
const QString kNotPaired = QStringLiteral("페어링 실패 — 코드가 만료/오타거나 서버에 못 닿았습니다.\n");
const QString kCompleted = QStringLiteral("완료! 센서가 로그인 시 자동 시작되고 지금도 수집 중입니다.\n");

QString connecting(const QString &address)
{
    return QStringLiteral("브레인에 연결하는 중… (") + address + QStringLiteral(")\n");
}

QString paired(const QString &id)
{
    return QStringLiteral("페어링 성공: ") + id + QStringLiteral("\n자동시작 등록 중…\n");
}

// Counts every request the installer makes, wherever it goes.
// and keeps each request as the installer built it.
class CountingNetwork : public QNetworkAccessManager
{
public:
    int requests = 0;
    QList<QNetworkRequest> built;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override
    {
        ++requests;
        built.append(request);
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

// Starts a pairing run the way the start button does.
void begin(InstallerState &state, const QString &address, const QString &code)
{
    state.setLog({});
    state.setRunning(true);
    state.setDone(false);
    state.setServerURL(address);
    state.setPairCode(code);
}

// A run has ended once `running` is false and the event loop has drained
// the log lines queued before it.
bool waitForEnd(InstallerState &state)
{
    if (!QTest::qWaitFor([&] { return !state.running(); }, 15000))
        return false;
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return true;
}

} // namespace

class TestPairing : public QObject
{
    Q_OBJECT
private slots:
    void requestSent();
    void requestAsBuilt();
    void addressPathKept();
    void replyShapes_data();
    void replyShapes();
    void serverDown();
    void badAddressSendsNothing_data();
    void badAddressSendsNothing();
};

void TestPairing::requestSent()
{
    FakeBrain brain;
    brain.on("POST", "/api/devices/pair", FakeBrain::Reply::json(R"({"device_id":"d1","api_key":"k1"})"));
    InstallerRig<> rig;
    const QString typed = QStringLiteral("  127.0.0.1:%1/\t").arg(brain.port());
    begin(rig.state, typed, QStringLiteral(" 12ab "));

    startSensor(rig.in);
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(brain.port());
    QCOMPARE(rig.state.serverURL(), address);
    QVERIFY(rig.state.running());

    QVERIFY(brain.waitForRequests(1));
    QVERIFY(waitForEnd(rig.state));
    QCOMPARE(brain.requests().size(), 1);
    const FakeBrain::Request request = brain.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/api/devices/pair"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    // Nothing of ours beside it (Qt's own connection headers aside).
    for (const QByteArray &name : {QByteArray("Authorization"), QByteArray("Cookie"), QByteArray("Accept")})
        QVERIFY2(!request.hasHeader(name), name.constData());

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(doc.isObject());
    const QJsonObject body = doc.object();
    QCOMPARE(body.size(), 3);
    QCOMPARE(body.value("code"), QJsonValue(" 12ab "));
    QCOMPARE(body.value("name"), QJsonValue("test-host"));
    QCOMPARE(body.value("device_type"), QJsonValue("mac"));
    QCOMPARE(request.body, QJsonDocument(body).toJson(QJsonDocument::Compact));

    QVERIFY(rig.state.log().startsWith(connecting(address) + paired("d1")));
    QVERIFY(rig.state.log().endsWith(kCompleted));
}

// What the installer itself puts on the request, before Qt adds its own
// connection headers: one header, and a 60-second limit.
void TestPairing::requestAsBuilt()
{
    FakeBrain brain;
    InstallerState state;
    FakePlatform platform;
    TempBundle bundle;
    CountingNetwork network;
    Installer in{state, platform, bundle.path(), network};
    begin(state, brain.url(), QStringLiteral("123456"));

    startSensor(in);
    QCOMPARE(network.requests, 1);
    const QNetworkRequest request = network.built.first();
    QCOMPARE(request.url(), QUrl(brain.url() + "/api/devices/pair"));
    QCOMPARE(request.rawHeaderList(), QList<QByteArray>{"Content-Type"});
    QCOMPARE(request.rawHeader("Content-Type"), QByteArray("application/json"));
    QCOMPARE(request.transferTimeout(), 60000);
    QVERIFY(waitForEnd(state));
}

void TestPairing::addressPathKept()
{
    FakeBrain brain;
    brain.otherwise([](const FakeBrain::Request &) {
        return FakeBrain::Reply::json(R"({"device_id":"d","api_key":"k"})");
    });
    InstallerRig<> rig;
    begin(rig.state, QStringLiteral("http://127.0.0.1:%1/kovel/brain/").arg(brain.port()), QStringLiteral("123456"));
    startSensor(rig.in);
    QVERIFY(brain.waitForRequests(1));
    QCOMPARE(brain.requests().first().path, QByteArray("/kovel/brain/api/devices/pair"));
    QVERIFY(waitForEnd(rig.state));
    QCOMPARE(rig.platform.agents.size(), 1);
    QCOMPARE(rig.platform.agents.first().server, QStringLiteral("http://127.0.0.1:%1/kovel/brain").arg(brain.port()));
}

void TestPairing::replyShapes_data()
{
    QTest::addColumn<FakeBrain::Reply>("reply");
    QTest::addColumn<bool>("pairs");
    QTest::addColumn<QString>("deviceID");
    QTest::addColumn<QString>("apiKey");

    using R = FakeBrain::Reply;
    QTest::newRow("both texts") << R::json(R"({"device_id":"dev-1","api_key":"key-1","extra":1})") << true << "dev-1" << "key-1";
    QTest::newRow("404 with both texts") << R::json(R"({"device_id":"dev-2","api_key":"key-2"})", 404) << true << "dev-2" << "key-2";
    QTest::newRow("500 with both texts") << R::json(R"({"device_id":"dev-3","api_key":"key-3"})", 500) << true << "dev-3" << "key-3";
    QTest::newRow("empty texts") << R::json(R"({"device_id":"","api_key":""})") << true << "" << "";
    QTest::newRow("as text/plain") << R::text(R"({"device_id":"a","api_key":"b"})") << true << "a" << "b";
    QTest::newRow("numeric device_id") << R::json(R"({"device_id":42,"api_key":"k"})") << false << "" << "";
    QTest::newRow("null api_key") << R::json(R"({"device_id":"d","api_key":null})") << false << "" << "";
    QTest::newRow("no api_key") << R::json(R"({"device_id":"d"})") << false << "" << "";
    QTest::newRow("array") << R::json(R"([{"device_id":"d","api_key":"k"}])") << false << "" << "";
    QTest::newRow("not json") << R::text("paired: d k") << false << "" << "";
    QTest::newRow("trailing garbage") << R::json(R"({"device_id":"d","api_key":"k"} x)") << false << "" << "";
    QTest::newRow("empty body") << R::json("") << false << "" << "";
    QTest::newRow("error body") << R::json(R"({"error":"code expired"})", 400) << false << "" << "";
    QTest::newRow("connection dropped") << R::drop() << false << "" << "";
    R reset = R::json(R"({"device_id":"d","api_key":"k"}                                        )");
    reset.mode = FakeBrain::Mode::ResetMidBody;
    QTest::newRow("reset mid-body") << reset << false << "" << "";
}

void TestPairing::replyShapes()
{
    QFETCH(FakeBrain::Reply, reply);
    QFETCH(bool, pairs);
    QFETCH(QString, deviceID);
    QFETCH(QString, apiKey);

    FakeBrain brain;
    brain.on("POST", "/api/devices/pair", reply);
    InstallerRig<> rig;
    begin(rig.state, brain.url(), QStringLiteral("123456"));
    startSensor(rig.in);
    QVERIFY(waitForEnd(rig.state));

    const QString start = connecting(brain.url());
    if (pairs) {
        QVERIFY2(rig.state.log().startsWith(start + paired(deviceID)), qPrintable(rig.state.log()));
        QVERIFY(rig.state.log().endsWith(kCompleted));
        QCOMPARE(rig.platform.agents.size(), 1);
        QCOMPARE(rig.platform.agents.first().server, brain.url());
        QCOMPARE(rig.platform.agents.first().deviceID, deviceID);
        QCOMPARE(rig.platform.agents.first().apiKey, apiKey);
        QVERIFY(rig.state.done());
    } else {
        QCOMPARE(rig.state.log(), start + kNotPaired);
        QVERIFY(rig.platform.agents.isEmpty());
        QVERIFY(!rig.state.done());
    }
    QVERIFY(!rig.state.running());
}

void TestPairing::serverDown()
{
    FakeBrain brain;
    const QString address = brain.url();
    brain.shutDown();
    InstallerRig<> rig;
    begin(rig.state, address, QStringLiteral("123456"));
    startSensor(rig.in);
    QVERIFY(waitForEnd(rig.state));
    QCOMPARE(rig.state.log(), connecting(address) + kNotPaired);
    QVERIFY(!rig.state.done());
    QVERIFY(rig.platform.agents.isEmpty());
}

void TestPairing::badAddressSendsNothing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");

    QTest::newRow("empty") << "" << "";
    QTest::newRow("blanks only") << " \t " << "";
    QTest::newRow("no host") << "http:///" << "http://";
    QTest::newRow("port out of range") << " brain:99999/ " << "http://brain:99999";
    QTest::newRow("blank inside") << "192.168.0 .10" << "http://192.168.0 .10";
    QTest::newRow("newline kept and refused") << "brain\n" << "http://brain\n";
}

void TestPairing::badAddressSendsNothing()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);

    InstallerState state;
    FakePlatform platform;
    TempBundle bundle;
    CountingNetwork network;
    Installer in{state, platform, bundle.path(), network};
    begin(state, typed, QStringLiteral("123456"));

    startSensor(in);
    QCOMPARE(state.serverURL(), shown);
    QVERIFY(!state.running());
    QTRY_COMPARE(state.log(), kBadAddress);
    QCOMPARE(network.requests, 0);
    QVERIFY(!state.done());
    QVERIFY(platform.agents.isEmpty());
}

QTEST_GUILESS_MAIN(TestPairing)
#include "tst_pairing.moc"
