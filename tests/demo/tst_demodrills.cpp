// The demo brain against what a web page, a flood or a guesser sends it.
#include "menubar/brain/brain.h"
#include "tests/demo/demobundle.h"
#include "tests/demo/rawhttp.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <algorithm>
#include <memory>
#include <vector>

using namespace Kovel::Bar;

using DemoBundle::RunningBrain;
using RawHttp::Client;
using RawHttp::Reply;
using RawHttp::request;

Q_DECLARE_METATYPE(RawHttp::Reply)

namespace {
// One request on a connection of its own.
Reply ask(quint16 port, const QByteArray &bytes)
{
    Client client(port);
    if (!client.connected())
        return {};
    client.send(bytes);
    return client.next();
}

qsizetype openLoops(quint16 port)
{
    const Reply reply = ask(port, request(port, "GET", "/api/structured/open-loops"));
    return QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("loops")).toArray().size();
}

QString issueCode(quint16 port)
{
    const Reply reply = ask(port, request(port, "POST", "/api/devices/pair-code"));
    return QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("code")).toString();
}

QByteArray pairBody(const QString &code, const QString &name = QStringLiteral("테스트 Mac"))
{
    return QJsonDocument(QJsonObject{{QStringLiteral("code"), code},
                                     {QStringLiteral("name"), name},
                                     {QStringLiteral("device_type"), QStringLiteral("mac")}})
        .toJson(QJsonDocument::Compact);
}

QByteArray pairRequest(quint16 port, const QString &code)
{
    return request(port, "POST", "/api/devices/pair", "Content-Type: application/json\r\n", pairBody(code));
}

const QByteArray json = "Content-Type: application/json\r\n";

// A program that keeps a connection open whatever the server does: it sends
// its requests on each connection, throws the replies away and connects
// again as soon as it is let go.
class Hog : public QObject
{
public:
    Hog(quint16 port, QByteArray requests) : m_port(port), m_requests(std::move(requests))
    {
        connect(&m_socket, &QTcpSocket::connected, this, [this] { m_socket.write(m_requests); });
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { m_socket.readAll(); });
        connect(&m_socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
            if (state != QAbstractSocket::UnconnectedState)
                return;
            ++m_ends;
            QMetaObject::invokeMethod(this, [this] { m_socket.connectToHost(QHostAddress::LocalHost, m_port); },
                                      Qt::QueuedConnection);
        });
        m_socket.connectToHost(QHostAddress::LocalHost, m_port);
    }
    ~Hog() override { QObject::disconnect(&m_socket, nullptr, this, nullptr); }
    int ends() const { return m_ends; }

private:
    QTcpSocket m_socket;
    quint16 m_port;
    QByteArray m_requests;
    int m_ends = 0;
};

// A program that guesses pairing codes without pause: one wrong code, and
// the next as soon as the answer is in, on one connection.
class Guesser : public QObject
{
public:
    explicit Guesser(quint16 port) : m_port(port)
    {
        connect(&m_socket, &QTcpSocket::connected, this, &Guesser::guess);
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
            m_in += m_socket.readAll();
            for (;;) {
                const qsizetype end = m_in.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const QRegularExpressionMatch length = QRegularExpression(QStringLiteral("(?i)content-length: *(\\d+)"))
                                                           .match(QString::fromLatin1(m_in.left(end)));
                const qsizetype total = end + 4 + length.captured(1).toLongLong();
                if (m_in.size() < total)
                    return;
                m_statuses.append(m_in.mid(9, 3).toInt());
                m_in.remove(0, total);
                guess();
            }
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    const QList<int> &statuses() const { return m_statuses; }

private:
    void guess() { m_socket.write(pairRequest(m_port, QStringLiteral("OOOOOO"))); }   // no code has an O

    QTcpSocket m_socket;
    quint16 m_port;
    QByteArray m_in;
    QList<int> m_statuses;
};
}

class TestDemoDrills : public QObject
{
    Q_OBJECT

private slots:
    void webPagesAreRefused_data();
    void webPagesAreRefused();
    void dashboardRunsOnlyItsOwnScript();
    void connectionsCloseAsHttpSays_data();
    void connectionsCloseAsHttpSays();
    void pipelinedRequestsAreAnsweredInOrder();
    void slowAndIdleConnectionsAreClosed_data();
    void slowAndIdleConnectionsAreClosed();
    void aFloodOfConnectionsIsBounded();
    void aFloodOfHeldChatsLeavesRoomForOthers();
    void halfClosedClientsAreAnswered_data();
    void halfClosedClientsAreAnswered();
    void theIPv6LoopbackIsServed();
    void framingThatReadsTwoWaysIsRefused_data();
    void framingThatReadsTwoWaysIsRefused();
    void anOversizedBodyIsRefusedBeforeItIsSent();
    void aHeldBackBodyIsAskedForOrRefusedUnsent_data();
    void aHeldBackBodyIsAskedForOrRefusedUnsent();
    void wrongGuessesAreSlowedDown();
    void parallelGuessesAreLookedAtOneAtATime();
    void aGuesserDoesNotKeepTheRightCodeOut();
    void guessesBeyondTheQueueAreTurnedAwayUnread();
    void longDeviceNamesAreRefused();
};

// %1 in the extra lines stands for the server's port.
void TestDemoDrills::webPagesAreRefused_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    const QByteArray loops = "/api/structured/open-loops";
    const QByteArray close = "/api/structured/open-loops/loop-01/close";
    const QByteArray chat = R"({"message":"예산"})";
    // A page reached through a name of its own that now points here.
    QTest::newRow("rebound name") << QByteArray("GET") << loops << QByteArray("Host: attacker.example:%1\r\n") << QByteArray() << 421;
    QTest::newRow("rebound name, no port") << QByteArray("GET") << loops << QByteArray("Host: attacker.example\r\n") << QByteArray() << 421;
    QTest::newRow("own address, other port") << QByteArray("GET") << loops << QByteArray("Host: 127.0.0.1:1\r\n") << QByteArray() << 421;
    QTest::newRow("own address, no port") << QByteArray("GET") << loops << QByteArray("Host: 127.0.0.1\r\n") << QByteArray() << 421;
    QTest::newRow("rebound pairing") << QByteArray("POST") << QByteArray("/api/devices/pair-code") << QByteArray("Host: attacker.example:%1\r\n") << QByteArray() << 421;
    QTest::newRow("two hosts") << QByteArray("GET") << loops << QByteArray("Host: 127.0.0.1:%1\r\nHost: attacker.example\r\n") << QByteArray() << 400;
    QTest::newRow("localhost") << QByteArray("GET") << loops << QByteArray("Host: LocalHost:%1\r\n") << QByteArray() << 200;
    QTest::newRow("IPv6 loopback") << QByteArray("GET") << loops << QByteArray("Host: [::1]:%1\r\n") << QByteArray() << 200;

    // A page elsewhere posting here.
    QTest::newRow("foreign origin closes") << QByteArray("POST") << close << QByteArray("Origin: http://attacker.example\r\n") << QByteArray() << 403;
    QTest::newRow("foreign origin issues a code") << QByteArray("POST") << QByteArray("/api/devices/pair-code") << QByteArray("Origin: https://attacker.example\r\n") << QByteArray() << 403;
    QTest::newRow("opaque origin") << QByteArray("POST") << close << QByteArray("Origin: null\r\n") << QByteArray() << 403;
    QTest::newRow("origin on another port") << QByteArray("POST") << close << QByteArray("Origin: http://127.0.0.1:1\r\n") << QByteArray() << 403;
    QTest::newRow("own origin") << QByteArray("POST") << close << QByteArray("Origin: http://127.0.0.1:%1\r\n") << QByteArray() << 200;
    QTest::newRow("own origin by name") << QByteArray("POST") << close << QByteArray("Origin: http://localhost:%1\r\n") << QByteArray() << 200;
    QTest::newRow("foreign origin reads") << QByteArray("GET") << loops << QByteArray("Origin: http://attacker.example\r\n") << QByteArray() << 200;

    // Bodies a page may send without asking first.
    QTest::newRow("text/plain JSON") << QByteArray("POST") << QByteArray("/api/chat") << QByteArray("Content-Type: text/plain\r\n") << chat << 415;
    QTest::newRow("form") << QByteArray("POST") << QByteArray("/api/chat") << QByteArray("Content-Type: application/x-www-form-urlencoded\r\n") << chat << 415;
    QTest::newRow("multipart") << QByteArray("POST") << QByteArray("/api/devices/pair") << QByteArray("Content-Type: multipart/form-data; boundary=x\r\n") << QByteArray(R"({"code":"AAAAAA"})") << 415;
    QTest::newRow("empty text/plain close") << QByteArray("POST") << close << QByteArray("Content-Type: text/plain\r\n") << QByteArray() << 415;
    QTest::newRow("body without a type") << QByteArray("POST") << QByteArray("/api/chat") << QByteArray() << chat << 415;
    QTest::newRow("JSON with charset") << QByteArray("POST") << QByteArray("/api/chat") << QByteArray("Content-Type: Application/JSON; charset=utf-8\r\n") << chat << 200;
}

void TestDemoDrills::webPagesAreRefused()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, lines);
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("0")});
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    const QByteArray extra = QByteArray(lines).replace("%1", QByteArray::number(port));
    const Reply reply = ask(port, request(port, method, path, extra, body));
    QCOMPARE(reply.status, status);
    QVERIFY2(QJsonDocument::fromJson(reply.body).isObject(), reply.body.constData());
    for (const auto &header : reply.headers)
        QVERIFY2(!header.first.startsWith("access-control-"), header.first.constData());
    // A refused request changed nothing.
    if (status != 200)
        QCOMPARE(openLoops(port), 12);
}

void TestDemoDrills::dashboardRunsOnlyItsOwnScript()
{
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const Reply page = ask(server.port(), request(server.port(), "GET", "/"));
    QCOMPARE(page.status, 200);
    QCOMPARE(page.header("x-frame-options"), QByteArray("DENY"));
    const QByteArray policy = page.header("content-security-policy");
    QVERIFY2(policy.contains("default-src 'none'"), policy.constData());
    QVERIFY(policy.contains("frame-ancestors 'none'"));
    QVERIFY(policy.contains("connect-src 'self'"));
    QVERIFY(!policy.contains("unsafe-inline"));

    // The page's own script and style are exactly what the policy allows.
    const QString html = QString::fromUtf8(page.body);
    for (const char *tag : {"script", "style"}) {
        const QRegularExpression element(QStringLiteral("<%1>(.*)</%1>").arg(QLatin1String(tag)),
                                         QRegularExpression::DotMatchesEverythingOption
                                             | QRegularExpression::InvertedGreedinessOption);
        const QRegularExpressionMatch match = element.match(html);
        QVERIFY2(match.hasMatch(), tag);
        const QByteArray hash = "'sha256-"
            + QCryptographicHash::hash(match.captured(1).toUtf8(), QCryptographicHash::Sha256).toBase64() + "'";
        QVERIFY2(policy.contains(QByteArray(tag) + "-src " + hash), qPrintable(QString::fromLatin1(policy)));
    }
    QCOMPARE(html.count(QStringLiteral("<script")), 1);
}

void TestDemoDrills::connectionsCloseAsHttpSays_data()
{
    QTest::addColumn<QByteArray>("requestText");
    QTest::addColumn<bool>("closes");
    const QByteArray path = "GET /api/structured/briefing ";
    QTest::newRow("HTTP/1.1") << path + "HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n\r\n" << false;
    QTest::newRow("HTTP/1.1, Connection: close") << path + "HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nConnection: close\r\n\r\n" << true;
    QTest::newRow("HTTP/1.1, close among tokens") << path + "HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nConnection: TE, Close\r\n\r\n" << true;
    QTest::newRow("HTTP/1.0") << path + "HTTP/1.0\r\nHost: 127.0.0.1:%1\r\n\r\n" << true;
    QTest::newRow("HTTP/1.0, keep-alive") << path + "HTTP/1.0\r\nHost: 127.0.0.1:%1\r\nConnection: keep-alive\r\n\r\n" << false;
}

void TestDemoDrills::connectionsCloseAsHttpSays()
{
    QFETCH(QByteArray, requestText);
    QFETCH(bool, closes);
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const QByteArray text = requestText.replace("%1", QByteArray::number(server.port()));

    Client client(server.port());
    QVERIFY(client.connected());
    client.send(text);
    const Reply first = client.next();
    QCOMPARE(first.status, 200);
    if (closes) {
        QCOMPARE(first.header("connection").toLower(), QByteArray("close"));
        QVERIFY(client.closedByServer());
    } else {
        // The same connection serves the next request.
        client.send(text);
        QCOMPARE(client.next().status, 200);
        QCOMPARE(client.socket().state(), QAbstractSocket::ConnectedState);
    }
}

void TestDemoDrills::pipelinedRequestsAreAnsweredInOrder()
{
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("200")});
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    Client client(port);
    QVERIFY(client.connected());
    // The slow answer first: the quick one behind it waits its turn.
    client.send(request(port, "POST", "/api/chat", json, R"({"message":"치과"})")
                + request(port, "GET", "/api/structured/open-loops")
                + request(port, "GET", "/nowhere", "Connection: close\r\n"));
    const Reply chat = client.next();
    QCOMPARE(chat.status, 200);
    QVERIFY(QJsonDocument::fromJson(chat.body).object().value(QStringLiteral("response")).isString());
    const Reply loops = client.next();
    QCOMPARE(loops.status, 200);
    QVERIFY(QJsonDocument::fromJson(loops.body).object().contains(QStringLiteral("loops")));
    QCOMPARE(client.next().status, 404);
    QVERIFY(client.closedByServer());
}

void TestDemoDrills::slowAndIdleConnectionsAreClosed_data()
{
    QTest::addColumn<QByteArray>("start");     // sent at once
    QTest::addColumn<QByteArray>("trickle");   // then a byte every 50 ms, never ending
    QTest::addColumn<int>("status");           // what the server says before closing; 0: nothing
    QTest::newRow("never sends") << QByteArray() << QByteArray() << 0;
    QTest::newRow("idle after a request") << QByteArray("GET /api/structured/briefing HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n\r\n")
                                          << QByteArray() << 200;
    QTest::newRow("header trickled") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n")
                                     << QByteArray("X-Slow: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa") << 408;
    QTest::newRow("body trickled") << QByteArray("POST /api/chat HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n"
                                                 "Content-Type: application/json\r\nContent-Length: 60000\r\n\r\n")
                                   << QByteArray("{\"message\":\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa") << 408;
}

void TestDemoDrills::slowAndIdleConnectionsAreClosed()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, trickle);
    QFETCH(int, status);
    RunningBrain server({QStringLiteral("--idle-timeout-ms"), QStringLiteral("400")});
    QVERIFY(server.port() != 0);

    Client client(server.port());
    QVERIFY(client.connected());
    client.send(QByteArray(start).replace("%1", QByteArray::number(server.port())));
    qsizetype sent = 0;
    QTimer drip;
    QObject::connect(&drip, &QTimer::timeout, [&] {
        if (sent < trickle.size() && client.socket().state() == QAbstractSocket::ConnectedState)
            client.send(trickle.mid(sent++, 1));
    });
    drip.start(50);
    if (status != 0)
        QCOMPARE(client.next(5000).status, status);
    // Well before the trickle would have ended.
    QVERIFY(client.closedByServer(5000));
    QVERIFY(sent < trickle.size() || trickle.isEmpty());
    QVERIFY(server.running());
}

void TestDemoDrills::aFloodOfConnectionsIsBounded()
{
    const int bound = 16;
    RunningBrain server({QStringLiteral("--max-connections"), QString::number(bound),
                         QStringLiteral("--idle-timeout-ms"), QStringLiteral("60000")});
    QVERIFY(server.port() != 0);

    std::vector<std::unique_ptr<Client>> flood;
    for (int i = 0; i < 5 * bound; ++i) {
        flood.push_back(std::make_unique<Client>(server.port()));
        QVERIFY(flood.back()->connected());
    }
    // Those over the bound are let go, oldest first, long before they would time out.
    auto stillOpen = [&flood] {
        int open = 0;
        for (const auto &c : flood)
            open += c->socket().state() == QAbstractSocket::ConnectedState;
        return open;
    };
    QTRY_VERIFY_WITH_TIMEOUT(stillOpen() <= bound, 10000);
    QCOMPARE(flood.back()->socket().state(), QAbstractSocket::ConnectedState);

    // A real client still gets through, and so does one more after it.
    Brain brain(server.url());
    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    brain.refreshLoops();
    QVERIFY(refreshed.wait(10000));
    QCOMPARE(brain.loopTotal(), 12);
    QCOMPARE(ask(server.port(), request(server.port(), "GET", "/api/structured/briefing")).status, 200);
}

void TestDemoDrills::aFloodOfHeldChatsLeavesRoomForOthers()
{
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("2000")});
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    const QByteArray chat = request(port, "POST", "/api/chat", json, R"({"message":"치과"})");

    // More programs than the server keeps connections, each with 40 questions pipelined.
    std::vector<std::unique_ptr<Hog>> flood;
    for (int i = 0; i < 300; ++i)
        flood.push_back(std::make_unique<Hog>(port, chat.repeated(40)));
    // The flood is in once the server has let those beyond its bound go.
    auto ends = [&flood] {
        int all = 0;
        for (const auto &hog : flood)
            all += hog->ends();
        return all;
    };
    QTRY_VERIFY_WITH_TIMEOUT(ends() >= 44, 30000);

    // A good client is answered each time it asks.
    for (int i = 0; i < 5; ++i) {
        const Reply loops = ask(port, request(port, "GET", "/api/structured/open-loops"));
        QCOMPARE(loops.status, 200);
        QCOMPARE(QJsonDocument::fromJson(loops.body).object().value(QStringLiteral("loops")).toArray().size(), 12);
    }
    Brain brain(server.url());
    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    brain.refreshLoops();
    QVERIFY(refreshed.wait(10000));
    QCOMPARE(brain.loopTotal(), 12);
    // Its question gets an answer or a plain refusal, not silence.
    const Reply answer = ask(port, chat);
    QVERIFY2(answer.status == 200 || answer.status == 503, QByteArray::number(answer.status).constData());
    const QString key = answer.status == 200 ? QStringLiteral("response") : QStringLiteral("error");
    QVERIFY2(QJsonDocument::fromJson(answer.body).object().value(key).isString(), answer.body.constData());
    QVERIFY(server.running());
}

// %1 in the requests stands for the server's port.
void TestDemoDrills::halfClosedClientsAreAnswered_data()
{
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QList<int>>("statuses");
    const QByteArray chat = "POST /api/chat HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nContent-Type: application/json\r\n"
                            "Content-Length: 20\r\n\r\n{\"message\":\"치과\"}";
    const QByteArray loops = "GET /api/structured/open-loops HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n\r\n";
    const QByteArray wrongCode = "POST /api/devices/pair HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nContent-Type: application/json\r\n"
                                 "Content-Length: 17\r\n\r\n{\"code\":\"OOOOOO\"}";
    QTest::newRow("a question") << chat << QList<int>{200};
    QTest::newRow("a wrong code") << wrongCode << QList<int>{401};
    QTest::newRow("an answer at once") << loops << QList<int>{200};
    QTest::newRow("pipelined behind a question") << chat + loops << QList<int>{200, 200};
    QTest::newRow("a question that asks to close")
        << QByteArray(chat).replace("\r\n\r\n", "\r\nConnection: close\r\n\r\n") << QList<int>{200};
}

void TestDemoDrills::halfClosedClientsAreAnswered()
{
    QFETCH(QByteArray, requests);
    QFETCH(QList<int>, statuses);
    // Answers that come later, as a real brain's do.
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("300"),
                         QStringLiteral("--pair-guess-wait-ms"), QStringLiteral("300")});
    QVERIFY(server.port() != 0);
    Client client(server.port());
    QVERIFY(client.connected());
    client.send(requests.replace("%1", QByteArray::number(server.port())));
    client.finishSending();
    for (int status : statuses) {
        const Reply reply = client.next();
        QCOMPARE(reply.status, status);
        QVERIFY2(QJsonDocument::fromJson(reply.body).isObject(), reply.body.constData());
    }
    // Nothing more can come: the server closes once it has answered.
    QVERIFY(client.closedByServer());
}

void TestDemoDrills::theIPv6LoopbackIsServed()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6))
        QSKIP("this machine has no IPv6 loopback");
    probe.close();
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    Client client(port, {}, QHostAddress(QHostAddress::LocalHostIPv6));
    QVERIFY(client.connected());
    client.send(request(port, "GET", "/api/structured/open-loops", "Host: [::1]:" + QByteArray::number(port) + "\r\n"));
    const Reply reply = client.next();
    QCOMPARE(reply.status, 200);
    QCOMPARE(QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("loops")).toArray().size(), 12);
}

void TestDemoDrills::framingThatReadsTwoWaysIsRefused_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status");
    const QByteArray start = "POST /api/chat HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nContent-Type: application/json\r\n";
    QTest::newRow("two lengths") << start + "Content-Length: 20\r\nContent-Length: 40\r\n" << 400;
    QTest::newRow("two lengths in one field") << start + "Content-Length: 20, 40\r\n" << 400;
    QTest::newRow("length and chunked") << start + "Content-Length: 20\r\nTransfer-Encoding: chunked\r\n" << 400;
    QTest::newRow("chunked and length") << start + "Transfer-Encoding: chunked\r\nContent-Length: 20\r\n" << 400;
    QTest::newRow("length not a number") << start + "Content-Length: 20x\r\n" << 400;
    QTest::newRow("negative length") << start + "Content-Length: -1\r\n" << 400;
    QTest::newRow("a comma for a length") << start + "Content-Length: ,\r\n" << 400;
    QTest::newRow("chunked") << start + "Transfer-Encoding: chunked\r\n" << 501;
    QTest::newRow("space before colon") << start + "Content-Length : 17\r\n" << 400;
    QTest::newRow("folded field") << start + "Content-Length: 20\r\nX-A: b\r\n c\r\n" << 400;
    QTest::newRow("HTTP/2.0") << QByteArray("GET / HTTP/2.0\r\nHost: 127.0.0.1:%1\r\n") << 505;
    QTest::newRow("not HTTP") << QByteArray("GET / SPDY\r\nHost: 127.0.0.1:%1\r\n") << 400;
    QTest::newRow("no Host") << QByteArray("GET / HTTP/1.1\r\n") << 400;
    QTest::newRow("header too large") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nX-Big: ")
            + QByteArray(20000, 'a') + "\r\n" << 431;
    QTest::newRow("same length twice") << start + "Content-Length: 20\r\nContent-Length: 20\r\n" << 200;
}

void TestDemoDrills::framingThatReadsTwoWaysIsRefused()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("0")});
    QVERIFY(server.port() != 0);
    Client client(server.port());
    QVERIFY(client.connected());
    // 20 bytes of body, then what a second reading would take for another request.
    client.send(head.replace("%1", QByteArray::number(server.port())) + "\r\n" + R"({"message":"치과"})"
                + "GET /api/devices/pair-code HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const Reply reply = client.next();
    QCOMPARE(reply.status, status);
    QVERIFY(QJsonDocument::fromJson(reply.body).isObject());
    if (status != 200) {
        QCOMPARE(reply.header("connection").toLower(), QByteArray("close"));
        QVERIFY(client.closedByServer());
    }
    QVERIFY(server.running());
}

void TestDemoDrills::anOversizedBodyIsRefusedBeforeItIsSent()
{
    RunningBrain server;
    QVERIFY(server.port() != 0);
    Client client(server.port());
    QVERIFY(client.connected());
    // A gigabyte announced: the refusal comes without a byte of it sent.
    client.send("POST /api/chat HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.port())
                + "\r\nContent-Type: application/json\r\nContent-Length: 1073741824\r\n\r\n");
    const Reply refused = client.next();
    QCOMPARE(refused.status, 413);
    // What the client still sends is thrown away, not kept, and it can finish and go.
    for (int i = 0; i < 16; ++i)
        client.send(QByteArray(256 * 1024, 'a'));
    client.socket().disconnectFromHost();
    QCOMPARE(ask(server.port(), request(server.port(), "GET", "/api/structured/briefing")).status, 200);
    QVERIFY(server.running());
}

// %1 in the extra lines stands for the server's port.
void TestDemoDrills::aHeldBackBodyIsAskedForOrRefusedUnsent_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<int>("status");
    QTest::newRow("own client") << json << 200;
    QTest::newRow("foreign origin") << "Origin: http://attacker.example\r\n" + json << 403;
    QTest::newRow("not JSON") << QByteArray("Content-Type: text/plain\r\n") << 415;
    QTest::newRow("rebound name") << "Host: attacker.example:%1\r\n" + json << 421;
}

void TestDemoDrills::aHeldBackBodyIsAskedForOrRefusedUnsent()
{
    QFETCH(QByteArray, lines);
    QFETCH(int, status);
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("0")});
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    const QByteArray body = R"({"message":"치과"})";
    Client client(port);
    QVERIFY(client.connected());
    // The head alone: this client sends its body only once asked for it.
    client.send(request(port, "POST", "/api/chat",
                        lines.replace("%1", QByteArray::number(port)) + "Expect: 100-continue\r\n"
                            + "Content-Length: " + QByteArray::number(body.size()) + "\r\n"));
    if (status == 200) {
        const QByteArray goAhead = "HTTP/1.1 100 Continue\r\n\r\n";
        QTRY_VERIFY_WITH_TIMEOUT(client.socket().bytesAvailable() >= goAhead.size(), 10000);
        QCOMPARE(client.socket().peek(goAhead.size()), goAhead);
        client.send(body);
    }
    const Reply reply = client.next();
    QCOMPARE(reply.status, status);
    const QString key = status == 200 ? QStringLiteral("response") : QStringLiteral("error");
    QVERIFY2(QJsonDocument::fromJson(reply.body).object().value(key).isString(), reply.body.toHex().constData());
    if (status != 200) {
        QCOMPARE(reply.header("connection").toLower(), QByteArray("close"));
        QVERIFY(client.closedByServer());
    }
}

void TestDemoDrills::wrongGuessesAreSlowedDown()
{
    RunningBrain server({QStringLiteral("--pair-guess-wait-ms"), QStringLiteral("100")});
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    const QString code = issueCode(port);
    QCOMPARE(code.size(), 6);

    Client client(port);
    QVERIFY(client.connected());
    QElapsedTimer clock;
    clock.start();
    qint64 previous = 0;
    qint64 slowest = 0;
    for (const char *wrong : {"AAAAAA", "BBBBBB", "CCCCCC", "DDDDDD"}) {
        client.send(pairRequest(port, QString::fromLatin1(wrong)));
        const Reply reply = client.next();
        QCOMPARE(reply.status, 401);
        const qint64 took = clock.elapsed() - previous;
        previous = clock.elapsed();
        // Each wrong guess waits longer than the one before it.
        QVERIFY2(took >= slowest, qPrintable(QStringLiteral("%1 ms after %2 ms").arg(took).arg(slowest)));
        slowest = took;
    }
    QVERIFY2(clock.elapsed() >= 100 + 200 + 400 + 800, qPrintable(QString::number(clock.elapsed())));

    // The right code still works, and being right starts the client afresh.
    client.send(pairRequest(port, code));
    QCOMPARE(client.next().status, 200);
    clock.restart();
    client.send(pairRequest(port, QStringLiteral("EEEEEE")));
    QCOMPARE(client.next().status, 401);
    QVERIFY(clock.elapsed() < 800);
}

void TestDemoDrills::parallelGuessesAreLookedAtOneAtATime()
{
    const int firstWaitMs = 200;
    RunningBrain server({QStringLiteral("--pair-guess-wait-ms"), QString::number(firstWaitMs)});
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    const QString code = issueCode(port);

    // Five wrong guesses at once, each on a connection of its own: each is
    // looked at only once the wait the one before it earned is over.
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<Client>> guessers;
    for (int i = 0; i < 5; ++i) {
        guessers.push_back(std::make_unique<Client>(port));
        QVERIFY(guessers.back()->connected());
        guessers.back()->send(pairRequest(port, QStringLiteral("OOOOOO")));
    }
    // The right code, sent once the first guess has been looked at, waits its
    // turn behind the others, also from another loopback address, and pairs.
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(guessers.begin(), guessers.end(),
                                         [](const auto &g) { return g->socket().bytesAvailable() > 0; }),
                             10000);
    Client rightOne(port, QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(rightOne.connected());
    rightOne.send(pairRequest(port, code));

    for (auto &g : guessers) {
        const Reply reply = g->next(20000);
        QCOMPARE(reply.status, 401);
    }
    // Looked at together they would all have been answered after the first wait.
    const qint64 waits = qint64(firstWaitMs) * (1 + 2 + 4) + 2 * qMax<qint64>(firstWaitMs, 1000);
    QVERIFY2(clock.elapsed() >= waits, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    const Reply paired = rightOne.next(20000);
    QCOMPARE(paired.status, 200);
    QVERIFY(QJsonDocument::fromJson(paired.body).object().value(QStringLiteral("api_key")).isString());
}

void TestDemoDrills::aGuesserDoesNotKeepTheRightCodeOut()
{
    RunningBrain server({QStringLiteral("--pair-guess-wait-ms"), QStringLiteral("100")});
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    Guesser guesser(port);
    // Wrong often enough that each next guess has to wait.
    QTRY_VERIFY_WITH_TIMEOUT(guesser.statuses().size() >= 3, 20000);

    // While it goes on guessing, the user's right code gets through, each time.
    for (int i = 0; i < 3; ++i) {
        const QString code = issueCode(port);
        QCOMPARE(code.size(), 6);
        const Reply paired = ask(port, pairRequest(port, code));
        QCOMPARE(paired.status, 200);
        QVERIFY(QJsonDocument::fromJson(paired.body).object().value(QStringLiteral("api_key")).isString());
    }
    // The guesser only ever heard no.
    for (int status : guesser.statuses())
        QCOMPARE(status, 401);
}

void TestDemoDrills::guessesBeyondTheQueueAreTurnedAwayUnread()
{
    // Long waits, so only a few guesses can have their turn soon enough.
    RunningBrain server({QStringLiteral("--pair-guess-wait-ms"), QStringLiteral("5000")});
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    std::vector<std::unique_ptr<Client>> guessers;
    for (int i = 0; i < 12; ++i) {
        guessers.push_back(std::make_unique<Client>(port));
        QVERIFY(guessers.back()->connected());
        guessers.back()->send(pairRequest(port, QStringLiteral("OOOOOO")));
    }
    // Those beyond are told at once, unread, when to come back; the rest wait
    // their turn, the first of them for five seconds.
    int turnedAway = 0, waiting = 0;
    const QDeadlineTimer atOnce(1500);
    for (auto &g : guessers) {
        const Reply reply = g->next(int(qMax<qint64>(1, atOnce.remainingTime())));
        if (reply.status == 0) {
            ++waiting;
            continue;
        }
        QCOMPARE(reply.status, 429);
        QVERIFY(reply.header("retry-after").toInt() >= 1);
        QVERIFY(QJsonDocument::fromJson(reply.body).object().value(QStringLiteral("error")).isString());
        ++turnedAway;
    }
    QVERIFY(turnedAway > 0);
    QVERIFY(waiting > 0);
}

void TestDemoDrills::longDeviceNamesAreRefused()
{
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const quint16 port = server.port();
    const QString code = issueCode(port);
    const QByteArray huge = pairBody(code, QString(60000, QLatin1Char('x')));
    const Reply refused = ask(port, request(port, "POST", "/api/devices/pair", json, huge));
    QCOMPARE(refused.status, 400);
    QVERIFY(QJsonDocument::fromJson(refused.body).object().value(QStringLiteral("error")).isString());
    // The code was not used up: the same Mac with its real name pairs.
    const Reply paired = ask(port, request(port, "POST", "/api/devices/pair", json,
                                           pairBody(code, QStringLiteral("Jinsu-MacBook-Pro.local"))));
    QCOMPARE(paired.status, 200);
    QVERIFY(QJsonDocument::fromJson(paired.body).object().value(QStringLiteral("api_key")).isString());
}

QTEST_GUILESS_MAIN(TestDemoDrills)
#include "tst_demodrills.moc"
