// The HTTP server on its own: which loopback addresses it listens on.
#include "demo/http/httpserver.h"
#include "tests/demo/rawhttp.h"

#include <QTcpServer>
#include <QTest>

using namespace Kovel::Demo;

namespace {
// A server that answers every request with the same small JSON object.
HttpServer::Handler answerAll()
{
    return [](const HttpRequest &, HttpConnection *connection) {
        connection->reply(HttpReply::json(R"({"ok":true})"));
    };
}

int statusFrom(quint16 port, const QHostAddress &to)
{
    RawHttp::Client client(port, {}, to);
    if (!client.connected())
        return 0;
    client.send(RawHttp::request(port, "GET", "/"));
    return client.next().status;
}

bool hasIPv6Loopback()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6);
}
}

class TestHttpServer : public QObject
{
    Q_OBJECT

private slots:
    void bothLoopbackAddressesShareOnePort();
    void anIPv6PortHeldElsewhereLeavesIPv4Alone();
};

void TestHttpServer::bothLoopbackAddressesShareOnePort()
{
    if (!hasIPv6Loopback())
        QSKIP("this machine has no IPv6 loopback");
    HttpServer server({}, answerAll());
    const quint16 port = server.listenLocal(0);
    QVERIFY(port != 0);
    QVERIFY(server.listensOnIPv6());
    QCOMPARE(statusFrom(port, QHostAddress(QHostAddress::LocalHost)), 200);
    QCOMPARE(statusFrom(port, QHostAddress(QHostAddress::LocalHostIPv6)), 200);
}

void TestHttpServer::anIPv6PortHeldElsewhereLeavesIPv4Alone()
{
    // Another program holds the port on ::1, as where ::1 cannot be had.
    QTcpServer other;
    if (!other.listen(QHostAddress::LocalHostIPv6))
        QSKIP("this machine has no IPv6 loopback");
    const quint16 port = other.serverPort();
    HttpServer server({}, answerAll());
    const quint16 listening = server.listenLocal(port);
    if (listening == 0)
        QSKIP("the port is taken on 127.0.0.1 as well");
    QCOMPARE(listening, port);
    QVERIFY(!server.listensOnIPv6());
    QCOMPARE(statusFrom(port, QHostAddress(QHostAddress::LocalHost)), 200);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
