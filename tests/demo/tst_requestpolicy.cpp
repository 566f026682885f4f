// Which requests are refused before their body is read: by Host, Origin and Content-Type.
#include "demo/http/requestpolicy.h"

#include <QTest>

using namespace Kovel::Demo;

namespace {
// A request with the given header fields, one "Name: value" a line.
HttpRequest requestWith(const QByteArray &method, const QByteArray &fields)
{
    HttpRequest request;
    request.method = method;
    request.path = "/api/chat";
    for (const QByteArray &line : fields.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.first(colon).toLower(), line.sliced(colon + 1).trimmed()});
    }
    return request;
}
}

class TestRequestPolicy : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data();
    void refusals();
};

void TestRequestPolicy::refusals_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<qint64>("bodyLength");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("status");   // 0: not refused

    const QByteArray own = "Host: 127.0.0.1:8900\n";
    const QByteArray json = "Content-Type: application/json\n";
    const QByteArray foreign = "Origin: http://attacker.example\n";

    // Host: this server by the loopback address or "localhost", and its port.
    QTest::newRow("loopback") << QByteArray("GET") << own << qint64(0) << 8900 << 0;
    QTest::newRow("localhost in capitals") << QByteArray("GET") << QByteArray("Host: LOCALHOST:8900") << qint64(0) << 8900 << 0;
    QTest::newRow("IPv6 loopback") << QByteArray("GET") << QByteArray("Host: [::1]:8900") << qint64(0) << 8900 << 0;
    QTest::newRow("IPv6 loopback without brackets") << QByteArray("GET") << QByteArray("Host: ::1:8900") << qint64(0) << 8900 << 421;
    QTest::newRow("no Host") << QByteArray("GET") << QByteArray() << qint64(0) << 8900 << 421;
    QTest::newRow("a name ending in ours") << QByteArray("GET") << QByteArray("Host: evil.localhost:8900") << qint64(0) << 8900 << 421;
    QTest::newRow("a name with a final dot") << QByteArray("GET") << QByteArray("Host: localhost.:8900") << qint64(0) << 8900 << 421;
    QTest::newRow("a port starting like ours") << QByteArray("GET") << QByteArray("Host: 127.0.0.1:89000") << qint64(0) << 8900 << 421;
    QTest::newRow("no port") << QByteArray("GET") << QByteArray("Host: localhost") << qint64(0) << 8900 << 421;
    QTest::newRow("no port, on port 80") << QByteArray("GET") << QByteArray("Host: localhost") << qint64(0) << 80 << 0;
    QTest::newRow("port 80 written out") << QByteArray("GET") << QByteArray("Host: 127.0.0.1:80") << qint64(0) << 80 << 0;
    QTest::newRow("a rebound name posting from a foreign page")
        << QByteArray("POST") << "Host: attacker.example:8900\n" + foreign << qint64(0) << 8900 << 421;

    // Origin: reads go by it; anything else must come from no page or from this server's own.
    QTest::newRow("HEAD from a foreign page") << QByteArray("HEAD") << own + foreign << qint64(0) << 8900 << 0;
    QTest::newRow("OPTIONS from a foreign page") << QByteArray("OPTIONS") << own + foreign << qint64(0) << 8900 << 0;
    QTest::newRow("DELETE from a foreign page") << QByteArray("DELETE") << own + foreign << qint64(0) << 8900 << 403;
    QTest::newRow("a read in lower case from a foreign page") << QByteArray("get") << own + foreign << qint64(0) << 8900 << 403;
    QTest::newRow("no page") << QByteArray("POST") << own << qint64(0) << 8900 << 0;
    QTest::newRow("own page by IPv6") << QByteArray("POST") << own + "Origin: http://[::1]:8900" << qint64(0) << 8900 << 0;
    QTest::newRow("own page over https") << QByteArray("POST") << own + "Origin: https://127.0.0.1:8900" << qint64(0) << 8900 << 403;
    QTest::newRow("own page, scheme in capitals") << QByteArray("POST") << own + "Origin: HTTP://127.0.0.1:8900" << qint64(0) << 8900 << 403;
    QTest::newRow("own page with a path") << QByteArray("POST") << own + "Origin: http://127.0.0.1:8900/" << qint64(0) << 8900 << 403;
    QTest::newRow("own page twice") << QByteArray("POST")
        << own + "Origin: http://127.0.0.1:8900\nOrigin: http://127.0.0.1:8900" << qint64(0) << 8900 << 403;
    QTest::newRow("a foreign page with a text body") << QByteArray("POST") << own + foreign + "Content-Type: text/plain"
        << qint64(5) << 8900 << 403;

    // Content-Type: none without a body; with one, JSON.
    QTest::newRow("JSON") << QByteArray("POST") << own + json << qint64(20) << 8900 << 0;
    QTest::newRow("JSON without a body") << QByteArray("POST") << own + json << qint64(0) << 8900 << 0;
    QTest::newRow("JSON with blanks and a charset") << QByteArray("POST") << own + "Content-Type: APPLICATION/json ;charset=utf-8"
        << qint64(20) << 8900 << 0;
    QTest::newRow("a type like JSON") << QByteArray("POST") << own + "Content-Type: application/json-seq" << qint64(20) << 8900 << 415;
    QTest::newRow("a parameter before JSON") << QByteArray("POST") << own + "Content-Type: charset=utf-8; application/json"
        << qint64(20) << 8900 << 415;
    QTest::newRow("a type without a body") << QByteArray("PUT") << own + "Content-Type: text/plain" << qint64(0) << 8900 << 415;
    QTest::newRow("a body without a type") << QByteArray("PUT") << own << qint64(1) << 8900 << 415;
}

void TestRequestPolicy::refusals()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, fields);
    QFETCH(qint64, bodyLength);
    QFETCH(int, port);
    QFETCH(int, status);

    const auto refusal = requestRefusal(requestWith(method, fields), bodyLength, quint16(port));
    QCOMPARE(refusal ? refusal->status : 0, status);
}

QTEST_GUILESS_MAIN(TestRequestPolicy)
#include "tst_requestpolicy.moc"
