// Pairing with a brain: what is sent, which replies pair, and how a run ends.

#include "installer/sensor/pairing.h"
#include "tests/common/replystatuses.h"
#include "tests/support/fakebrain.h"
#include "tests/support/installerrig.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace Kovel::Installer;
using namespace Kovel::System;

namespace {

const QString kBadAddress = QStringLiteral("⚠️ 브레인 주소가 올바르지 않아요. 예: http://192.168.0.10:8900\n");
const QString kNotPaired = QStringLiteral("페어링 실패 — 코드가 만료/오타거나 서버에 못 닿았습니다.\n");
const QString kCompleted = QStringLiteral("완료! 센서가 로그인 시 자동 시작되고 지금도 수집 중입니다.\n");
const QString kUnusableIdentity = QStringLiteral(
    "⚠️ 브레인이 보낸 기기 ID나 API 키를 센서에 쓸 수 없어요 (비어 있거나 쓸 수 없는 문자가 있어요). 아무것도 설치하지 않았어요.\n");

QString connecting(const QString &address)
{
    return QStringLiteral("브레인에 연결하는 중… (") + address + QStringLiteral(")\n");
}

QString paired(const QString &id)
{
    return QStringLiteral("페어링 성공: ") + id + QStringLiteral("\n자동시작 등록 중…\n");
}

// An installer whose bundle carries the agent program, as a built one does.
struct PairingRig : InstallerRig<> {
    PairingRig() { bundle.addFile(QStringLiteral("/Contents/Resources/kovel/kovel"), "#!/bin/sh\n", true); }
};

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

// A brain whose pairing reply never ends: a JSON object that opens with both
// texts and then pads one member for ever, in chunks, as fast as it is taken.
class EndlessBrain : public QObject
{
public:
    EndlessBrain()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            auto request = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                request->append(socket->readAll());
                if (!request->contains("\r\n\r\n") || socket->property("answering").toBool())
                    return;
                socket->setProperty("answering", true);
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
                sendChunk(socket, R"({"device_id":"d","api_key":"k","pad":")");
            });
            connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] {
                if (socket->bytesToWrite() < 256 * 1024)
                    sendChunk(socket, QByteArray(64 * 1024, 'x'));
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                closed = true;
                socket->deleteLater();
            });
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    qint64 sent = 0;
    bool closed = false;

private:
    void sendChunk(QTcpSocket *socket, const QByteArray &data)
    {
        socket->write(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
        sent += data.size();
    }
    QTcpServer m_server;
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
    void statusesCountByBody_data();
    void statusesCountByBody();
    void nothingKeptBetweenRuns();
    void unusableIdentityRefused_data();
    void unusableIdentityRefused();
    void oversizedReplyAbandoned();
    void endlessReplyAbandoned();
    void tricklingReplyMeetsTheDeadline();
    void serverDown();
    void badAddressSendsNothing_data();
    void badAddressSendsNothing();
};

void TestPairing::requestSent()
{
    FakeBrain brain;
    brain.on("POST", "/api/devices/pair", FakeBrain::Reply::json(R"({"device_id":"d1","api_key":"k1"})"));
    PairingRig rig;
    const QString typed = QStringLiteral("  127.0.0.1:%1/\t").arg(brain.port());
    begin(rig.state, typed, QStringLiteral(" 12ab "));

    startSensor(rig.context);
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
    Context context{state, platform, bundle.path(), network};
    begin(state, brain.url(), QStringLiteral("123456"));

    startSensor(context);
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
    PairingRig rig;
    begin(rig.state, QStringLiteral("http://127.0.0.1:%1/kovel/brain/").arg(brain.port()), QStringLiteral("123456"));
    startSensor(rig.context);
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
    QTest::newRow("key with a leading dash") << R::json(R"({"device_id":"d-1","api_key":"-xY_z"})") << true << "d-1" << "-xY_z";
    QTest::newRow("hangul and markup") << R::json(R"({"device_id":"맥북 <&>","api_key":"k'\"y"})") << true << "맥북 <&>" << "k'\"y";
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
    PairingRig rig;
    begin(rig.state, brain.url(), QStringLiteral("123456"));
    startSensor(rig.context);
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

// A reply with a status line counts by its body, whatever its status (Qt
// reports several of them as errors); each status with the pairing texts and
// with an error body. A 3xx that names where to go leads there; one that
// names nowhere is the reply, like any other.
void TestPairing::statusesCountByBody_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("located");
    QTest::addColumn<bool>("withTexts");
    for (const ReplyStatuses::Row &row : ReplyStatuses::rows()) {
        QTest::newRow(row.name + " with both texts") << row.status << row.located << true;
        QTest::newRow(row.name + " with an error") << row.status << row.located << false;
    }
}

void TestPairing::statusesCountByBody()
{
    QFETCH(int, status);
    QFETCH(bool, located);
    QFETCH(bool, withTexts);
    FakeBrain brain;
    const QByteArray error = R"({"error":"code expired"})";
    ReplyStatuses::script(brain, "POST", "/api/devices/pair", status, located,
                          withTexts ? R"({"device_id":"dev-s","api_key":"key-s"})" : error,
                          withTexts ? R"({"device_id":"dev-there","api_key":"key-there"})" : error);
    PairingRig rig;
    begin(rig.state, brain.url(), QStringLiteral("123456"));
    startSensor(rig.context);
    QVERIFY(waitForEnd(rig.state));
    const ReplyStatuses::Counted counted = ReplyStatuses::counted(status, located);
    const bool pairs = withTexts && counted != ReplyStatuses::Counted::Nothing;
    if (pairs) {
        const bool there = counted == ReplyStatuses::Counted::There;
        QVERIFY2(rig.state.log().startsWith(connecting(brain.url()) + paired(there ? "dev-there" : "dev-s")),
                 qPrintable(rig.state.log()));
        QCOMPARE(rig.platform.agents.size(), 1);
        QCOMPARE(rig.platform.agents.first().apiKey, there ? QStringLiteral("key-there") : QStringLiteral("key-s"));
    } else {
        QCOMPARE(rig.state.log(), connecting(brain.url()) + kNotPaired);
        QVERIFY(rig.platform.agents.isEmpty());
    }
    QCOMPARE(rig.state.done(), pairs);
}

// Nothing is kept between pairings: a cookie the brain set during one run is
// not sent with the next.
void TestPairing::nothingKeptBetweenRuns()
{
    FakeBrain brain;
    FakeBrain::Reply refused = FakeBrain::Reply::json(R"({"error":"code expired"})", 400);
    refused.headers = {{"Set-Cookie", "session=abc; Path=/"}};
    brain.on("POST", "/api/devices/pair", refused);
    PairingRig rig;
    for (int run = 1; run <= 2; ++run) {
        begin(rig.state, brain.url(), QStringLiteral("123456"));
        startSensor(rig.context);
        QVERIFY(waitForEnd(rig.state));
        QCOMPARE(rig.state.log(), connecting(brain.url()) + kNotPaired);
    }
    QCOMPARE(brain.requests().size(), 2);
    QVERIFY2(!brain.requests().at(1).hasHeader("Cookie"), brain.requests().at(1).header("Cookie").constData());
}

// Values the agent could not be started with (and launchd could not read):
// refused before anything is written.
void TestPairing::unusableIdentityRefused_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("control in id") << QByteArray(R"({"device_id":"d\u0001","api_key":"k"})");
    QTest::newRow("escape in key") << QByteArray(R"({"device_id":"d","api_key":"k\u001b[0m"})");
    QTest::newRow("newline in id") << QByteArray(R"({"device_id":"d\nforged line","api_key":"k"})");
    QTest::newRow("tab in key") << QByteArray(R"({"device_id":"d","api_key":"k\tk"})");
    QTest::newRow("U+FFFE in id") << QByteArray(R"({"device_id":"d\ufffe","api_key":"k"})");
    QTest::newRow("U+FFFF in key") << QByteArray(R"({"device_id":"d","api_key":"\uffffk"})");
    QTest::newRow("lone high surrogate") << QByteArray(R"({"device_id":"d\ud800","api_key":"k"})");
    QTest::newRow("lone low surrogate") << QByteArray(R"({"device_id":"d","api_key":"k\udc00"})");
    QTest::newRow("empty texts") << QByteArray(R"({"device_id":"","api_key":""})");
    QTest::newRow("an option as id") << QByteArray(R"({"device_id":"--api-key","api_key":"k"})");
}

void TestPairing::unusableIdentityRefused()
{
    QFETCH(QByteArray, reply);
    FakeBrain brain;
    brain.on("POST", "/api/devices/pair", FakeBrain::Reply::json(reply));
    PairingRig rig;
    begin(rig.state, brain.url(), QStringLiteral("123456"));
    startSensor(rig.context);
    QVERIFY(waitForEnd(rig.state));
    QCOMPARE(rig.state.log(), connecting(brain.url()) + kUnusableIdentity);
    QVERIFY(rig.platform.agents.isEmpty());
    QVERIFY(!rig.state.done());
    // Nothing of the sensor written anywhere in the home.
    QCOMPARE(QDir(rig.platform.home()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

// More than a generous limit is abandoned as if it never came, even when
// what came first held both texts.
void TestPairing::oversizedReplyAbandoned()
{
    FakeBrain brain;
    brain.on("POST", "/api/devices/pair",
             FakeBrain::Reply::json(R"({"device_id":"d","api_key":"k","pad":")" + QByteArray(1100 * 1024, 'x') + "\"}"));
    PairingRig rig;
    begin(rig.state, brain.url(), QStringLiteral("123456"));
    startSensor(rig.context);
    QVERIFY(waitForEnd(rig.state));
    QCOMPARE(rig.state.log(), connecting(brain.url()) + kNotPaired);
    QVERIFY(rig.platform.agents.isEmpty());
}

void TestPairing::endlessReplyAbandoned()
{
    EndlessBrain brain;
    PairingRig rig;
    begin(rig.state, brain.url(), QStringLiteral("123456"));
    startSensor(rig.context);
    QVERIFY(waitForEnd(rig.state));
    QCOMPARE(rig.state.log(), connecting(brain.url()) + kNotPaired);
    QVERIFY(rig.platform.agents.isEmpty());
    // The installer hung up soon after the limit rather than reading on.
    QTRY_VERIFY_WITH_TIMEOUT(brain.closed, 10000);
    QVERIFY2(brain.sent < 16 * 1024 * 1024, qPrintable(QString::number(brain.sent)));
}

// A byte now and then never trips the idle limit; the overall deadline ends it.
void TestPairing::tricklingReplyMeetsTheDeadline()
{
    FakeBrain brain;
    FakeBrain::Reply reply = FakeBrain::Reply::json(R"({"device_id":"d","api_key":"k"})" + QByteArray(4000, ' '));
    reply.mode = FakeBrain::Mode::Trickle;
    reply.trickleBytes = 1;
    reply.trickleIntervalMs = 20;
    brain.on("POST", "/api/devices/pair", reply);
    PairingRig rig;
    begin(rig.state, brain.url(), QStringLiteral("123456"));
    PairingLimits limits;
    limits.overallMs = 700;
    QElapsedTimer clock;
    clock.start();
    startSensor(rig.context, limits);
    QVERIFY(waitForEnd(rig.state));
    QCOMPARE(rig.state.log(), connecting(brain.url()) + kNotPaired);
    QVERIFY(rig.platform.agents.isEmpty());
    // Ended by the deadline (a coarse timer may fire up to 5 % early), long
    // before the trickle would have.
    QVERIFY2(clock.elapsed() >= 650, qPrintable(QString::number(clock.elapsed())));
}

void TestPairing::serverDown()
{
    FakeBrain brain;
    const QString address = brain.url();
    brain.shutDown();
    PairingRig rig;
    begin(rig.state, address, QStringLiteral("123456"));
    startSensor(rig.context);
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
    Context context{state, platform, bundle.path(), network};
    begin(state, typed, QStringLiteral("123456"));

    startSensor(context);
    QCOMPARE(state.serverURL(), shown);
    QVERIFY(!state.running());
    QTRY_COMPARE(state.log(), kBadAddress);
    QCOMPARE(network.requests, 0);
    QVERIFY(!state.done());
    QVERIFY(platform.agents.isEmpty());
}

QTEST_GUILESS_MAIN(TestPairing)
#include "tst_pairing.moc"
