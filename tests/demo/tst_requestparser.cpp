// Request heads read on their own: what each says, and which are refused.
#include "demo/http/requestparser.h"

#include <QTest>
#include <limits>

using namespace Kovel::Demo;

namespace {
const QByteArray host = "Host: 127.0.0.1:8900\r\n";

QByteArray fields(int count)
{
    QByteArray out = host;
    for (int i = 1; i < count; ++i)
        out += "X-Field-" + QByteArray::number(i) + ": " + QByteArray::number(i) + "\r\n";
    return out;
}
}

class TestRequestParser : public QObject
{
    Q_OBJECT

private slots:
    void headsThatRead_data();
    void headsThatRead();
    void headsThatAreRefused_data();
    void headsThatAreRefused();
    void fieldsKeepTheirOrderUnderLowerCaseNames();
};

void TestRequestParser::headsThatRead_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<qint64>("bodyLength");
    QTest::addColumn<bool>("keepAlive");
    QTest::addColumn<bool>("expectContinue");

    const QByteArray post = "POST /api/chat HTTP/1.1\r\n" + host;
    const qint64 tooLong = std::numeric_limits<qint64>::max();
    QTest::newRow("query left out of the path") << "GET /api/structured/open-loops?all=1 HTTP/1.1\r\n" + host
        << QByteArray("GET") << QByteArray("/api/structured/open-loops") << qint64(0) << true << false;
    QTest::newRow("path kept as sent") << "POST /api/structured/open-loops/loop%2001/close HTTP/1.1\r\n" + host
        << QByteArray("POST") << QByteArray("/api/structured/open-loops/loop%2001/close") << qint64(0) << true << false;
    QTest::newRow("HEAD") << "HEAD / HTTP/1.1\r\n" + host << QByteArray("HEAD") << QByteArray("/") << qint64(0) << true << false;
    QTest::newRow("any token as method") << "PROPFIND / HTTP/1.1\r\n" + host
        << QByteArray("PROPFIND") << QByteArray("/") << qint64(0) << true << false;
    QTest::newRow("length") << post + "Content-Length: 20\r\n" << QByteArray("POST") << QByteArray("/api/chat") << qint64(20) << true << false;
    QTest::newRow("length with blanks") << post + "Content-Length: \t 20 \t\r\n" << QByteArray("POST") << QByteArray("/api/chat") << qint64(20) << true << false;
    QTest::newRow("length with leading zeros") << post + "Content-Length: 0020\r\n" << QByteArray("POST") << QByteArray("/api/chat") << qint64(20) << true << false;
    QTest::newRow("lengths that agree in a list") << post + "Content-Length: 20, ,20\r\n" << QByteArray("POST") << QByteArray("/api/chat") << qint64(20) << true << false;
    QTest::newRow("18 digits") << post + "Content-Length: 999999999999999999\r\n"
        << QByteArray("POST") << QByteArray("/api/chat") << qint64(999999999999999999) << true << false;
    QTest::newRow("19 digits") << post + "Content-Length: 1000000000000000000\r\n"
        << QByteArray("POST") << QByteArray("/api/chat") << tooLong << true << false;
    QTest::newRow("too long twice") << post + "Content-Length: 99999999999999999999, 100000000000000000000\r\n"
        << QByteArray("POST") << QByteArray("/api/chat") << tooLong << true << false;
    QTest::newRow("HTTP/1.0") << "GET / HTTP/1.0\r\n" + host << QByteArray("GET") << QByteArray("/") << qint64(0) << false << false;
    QTest::newRow("HTTP/1.0, keep-alive in capitals") << "GET / HTTP/1.0\r\n" + host + "Connection: Keep-Alive\r\n"
        << QByteArray("GET") << QByteArray("/") << qint64(0) << true << false;
    QTest::newRow("HTTP/1.0, keep-alive and close") << "GET / HTTP/1.0\r\n" + host + "Connection: keep-alive\r\nConnection: close\r\n"
        << QByteArray("GET") << QByteArray("/") << qint64(0) << false << false;
    QTest::newRow("HTTP/1.1, close in a later field") << "GET / HTTP/1.1\r\n" + host + "Connection: keep-alive\r\nConnection: upgrade, CLOSE\r\n"
        << QByteArray("GET") << QByteArray("/") << qint64(0) << false << false;
    QTest::newRow("HTTP/1.1, close as part of a token") << "GET / HTTP/1.1\r\n" + host + "Connection: closed\r\n"
        << QByteArray("GET") << QByteArray("/") << qint64(0) << true << false;
    QTest::newRow("expect continue") << post + "Content-Length: 20\r\nExpect: 100-Continue\r\n"
        << QByteArray("POST") << QByteArray("/api/chat") << qint64(20) << true << true;
    QTest::newRow("another expectation") << post + "Content-Length: 20\r\nExpect: 100-continue, x\r\n"
        << QByteArray("POST") << QByteArray("/api/chat") << qint64(20) << true << false;
    QTest::newRow("tab and UTF-8 in a value") << "GET / HTTP/1.1\r\n" + host + "X-Name: 진수의\tMac\r\n"
        << QByteArray("GET") << QByteArray("/") << qint64(0) << true << false;
    QTest::newRow("100 fields") << "GET / HTTP/1.1\r\n" + fields(100) << QByteArray("GET") << QByteArray("/") << qint64(0) << true << false;
}

void TestRequestParser::headsThatRead()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(qint64, bodyLength);
    QFETCH(bool, keepAlive);
    QFETCH(bool, expectContinue);

    const RequestHead read = parseRequestHead(head);
    QVERIFY2(!read.refusal, read.refusal ? read.refusal->body.constData() : "");
    QCOMPARE(read.request.method, method);
    QCOMPARE(read.request.path, path);
    QCOMPARE(read.bodyLength, bodyLength);
    QCOMPARE(read.http10, head.contains(" HTTP/1.0\r\n"));
    QCOMPARE(read.keepAlive, keepAlive);
    QCOMPARE(read.expectContinue, expectContinue);
}

void TestRequestParser::headsThatAreRefused_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status");

    const QByteArray post = "POST /api/chat HTTP/1.1\r\n" + host;
    QTest::newRow("no target") << "GET HTTP/1.1\r\n" + host << 400;
    QTest::newRow("blank before the method") << " GET / HTTP/1.1\r\n" + host << 400;
    QTest::newRow("method not a token") << "GET(1) / HTTP/1.1\r\n" + host << 400;
    QTest::newRow("absolute target") << "GET http://127.0.0.1:8900/ HTTP/1.1\r\n" + host << 400;
    QTest::newRow("blank in the target") << "GET /a b HTTP/1.1\r\n" + host << 400;
    QTest::newRow("control character in the target") << "GET /a\x01 HTTP/1.1\r\n" + host << 400;
    QTest::newRow("non-ASCII target") << "GET /미결 HTTP/1.1\r\n" + host << 400;
    QTest::newRow("version in lower case") << "GET / http/1.1\r\n" + host << 400;
    QTest::newRow("HTTP/1.2") << "GET / HTTP/1.2\r\n" + host << 505;
    QTest::newRow("HTTP/0.9") << "GET / HTTP/0.9\r\n" + host << 505;
    QTest::newRow("empty field name") << post + ": x\r\n" << 400;
    QTest::newRow("field without a colon") << post + "X-A\r\n" << 400;
    QTest::newRow("bare line feed in a value") << post + "X-A: a\nb\r\n" << 400;
    QTest::newRow("control character in a value") << post + "X-A: a\x01\r\n" << 400;
    QTest::newRow("DEL in a value") << post + "X-A: a\x7f\r\n" << 400;
    QTest::newRow("101 fields") << "GET / HTTP/1.1\r\n" + fields(101) << 400;
    QTest::newRow("empty length") << post + "Content-Length: \r\n" << 400;
    QTest::newRow("a comma for a length") << post + "Content-Length: ,\r\n" << 400;
    QTest::newRow("only commas and blanks for a length") << post + "Content-Length: , \t,,\r\n" << 400;
    QTest::newRow("a comma for a length beside a length") << post + "Content-Length: 20\r\nContent-Length: ,\r\n" << 400;
    QTest::newRow("length with a sign") << post + "Content-Length: +20\r\n" << 400;
    QTest::newRow("length in hex") << post + "Content-Length: 0x14\r\n" << 400;
    QTest::newRow("lengths that disagree over two fields") << post + "Content-Length: 20\r\nContent-Length: 020, 21\r\n" << 400;
    QTest::newRow("any transfer coding") << post + "Transfer-Encoding: identity\r\n" << 501;
    QTest::newRow("no Host, with a length") << QByteArray("POST /api/chat HTTP/1.1\r\nContent-Length: 20\r\n") << 400;
}

void TestRequestParser::headsThatAreRefused()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    const RequestHead read = parseRequestHead(head);
    QVERIFY(read.refusal);
    QCOMPARE(read.refusal->status, status);
}

void TestRequestParser::fieldsKeepTheirOrderUnderLowerCaseNames()
{
    const RequestHead read = parseRequestHead("POST /api/chat HTTP/1.1\r\nHOST: 127.0.0.1:8900\r\n"
                                              "X-Two: \t a b \t\r\nx-two: second\r\nX-Empty:\r\n");
    QVERIFY(!read.refusal);
    const QList<std::pair<QByteArray, QByteArray>> expected{
        {"host", "127.0.0.1:8900"}, {"x-two", "a b"}, {"x-two", "second"}, {"x-empty", ""}};
    QCOMPARE(read.request.headers, expected);
    QCOMPARE(read.request.header("x-two"), QByteArray("a b"));
    QVERIFY(read.request.header("origin").isNull());
    QVERIFY(read.request.body.isEmpty());
}

QTEST_GUILESS_MAIN(TestRequestParser)
#include "tst_requestparser.moc"
