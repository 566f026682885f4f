// The exchange both programs talk to the brain through: which replies count,
// the limits its caller sets, and the caller's network manager, on which it
// keeps nothing between exchanges.

#include "common/boundedexchange.h"
#include "tests/common/replystatuses.h"
#include "tests/support/fakebrain.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <optional>

using namespace Kovel;

using Failure = Http::Result::Failure;
using Reply = FakeBrain::Reply;

Q_DECLARE_METATYPE(Failure)

namespace {

constexpr int waitMs = 10000;
// Far beyond anything a row waits for: only the limit a row sets may end it.
constexpr Http::Limits roomy{waitMs, waitMs, 1024 * 1024};

// Counts the requests made on it.
class CountingNetwork : public QNetworkAccessManager
{
public:
    int requests = 0;

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override
    {
        ++requests;
        return QNetworkAccessManager::createRequest(op, request, data);
    }
};

// One exchange, sent and waited for.
struct Exchange {
    QObject owner;
    std::optional<Http::Result> result;

    void send(QNetworkAccessManager &network, const QString &url, const QByteArray &method,
              const std::optional<QByteArray> &body, const Http::Limits &limits)
    {
        Http::send(network, &owner, QUrl(url), method, body, limits, [this](Http::Result r) { result = std::move(r); });
    }
    bool wait() { return QTest::qWaitFor([this] { return result.has_value(); }, 3 * waitMs); }
};

} // namespace

class TestBoundedExchange : public QObject
{
    Q_OBJECT

private slots:
    // Only the body counts, whatever the status; a 3xx that names where to
    // go leads there, one that names nowhere is the reply.
    void everyStatusIsAReply_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("located");
        for (const QByteArray &method : {QByteArray("GET"), QByteArray("POST")})
            for (const ReplyStatuses::Row &row : ReplyStatuses::rows())
                QTest::newRow(method + ' ' + row.name) << method << row.status << row.located;
    }
    void everyStatusIsAReply()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(bool, located);
        FakeBrain fake;
        const QByteArray here = "{\"from\":\"here " + QByteArray::number(status) + "\"}";
        const QByteArray there = "{\"from\":\"elsewhere\"}";
        ReplyStatuses::script(fake, method, "/api/x", status, located, here, there);
        QNetworkAccessManager network;
        Exchange exchange;
        exchange.send(network, fake.url() + "/api/x", method,
                      method == "POST" ? std::optional<QByteArray>("{\"message\":\"q\"}") : std::nullopt, roomy);
        QVERIFY(exchange.wait());
        QVERIFY2(!exchange.result->transportFailure(), qPrintable(exchange.result->error));
        switch (ReplyStatuses::counted(status, located)) {
        case ReplyStatuses::Counted::Here:
            QCOMPARE(exchange.result->body, here);
            QCOMPARE(fake.requests().size(), 1);
            break;
        case ReplyStatuses::Counted::There:
            QCOMPARE(exchange.result->body, there);
            QCOMPARE(fake.requests().size(), 2);
            QCOMPARE(fake.requests().last().path, ReplyStatuses::elsewhere);
            QCOMPARE(fake.requests().last().method, ReplyStatuses::methodThere(status, method));
            break;
        case ReplyStatuses::Counted::Nothing:
            QCOMPARE(exchange.result->body, QByteArray());
            break;
        }
    }

    // The limits are the caller's: an idle limit that restarts with every
    // byte, an overall deadline however busy the server keeps the exchange,
    // and a cap on the body, announced or not. Each row sets one tight limit.
    void limits_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("overallMs");
        QTest::addColumn<qint64>("maxBodyBytes");
        QTest::addColumn<Failure>("failure");

        const QByteArray body = "{\"from\":\"here\"}" + QByteArray(30, ' ');
        Reply trickle = Reply::json(body);
        trickle.mode = FakeBrain::Mode::Trickle;
        trickle.trickleBytes = 1;
        trickle.trickleIntervalMs = 30;
        Reply silent = Reply::json(body);
        silent.mode = FakeBrain::Mode::HeadersThenSilence;
        Reply endless = Reply::json("{\"from\":\"");
        endless.mode = FakeBrain::Mode::Endless;
        Reply announced = endless;
        announced.announcedLength = qint64(1) << 30;

        // About 1.4 s of trickle, a byte every 30 ms.
        QTest::newRow("trickle outlives the idle limit") << trickle << 1000 << waitMs << qint64(1024) << Failure::None;
        QTest::newRow("silent past the idle limit") << silent << 400 << waitMs << qint64(1024) << Failure::NoReply;
        QTest::newRow("trickle past the deadline") << trickle << 1000 << 500 << qint64(1024) << Failure::TooLong;
        QTest::newRow("body at the cap") << Reply::json(body) << waitMs << waitMs << qint64(body.size()) << Failure::None;
        QTest::newRow("body one byte past the cap") << Reply::json(body) << waitMs << waitMs << qint64(body.size() - 1)
                                                    << Failure::TooLarge;
        QTest::newRow("endless body") << endless << waitMs << waitMs << qint64(1024 * 1024) << Failure::TooLarge;
        QTest::newRow("announced past the cap") << announced << waitMs << waitMs << qint64(1024 * 1024) << Failure::TooLarge;
        QTest::newRow("connection dropped") << Reply::drop() << waitMs << waitMs << qint64(1024) << Failure::NoReply;
    }
    void limits()
    {
        QFETCH(Reply, reply);
        QFETCH(int, idleMs);
        QFETCH(int, overallMs);
        QFETCH(qint64, maxBodyBytes);
        QFETCH(Failure, failure);
        FakeBrain fake;
        fake.on("GET", "/api/x", reply);
        QNetworkAccessManager network;
        Exchange exchange;
        exchange.send(network, fake.url() + "/api/x", "GET", std::nullopt, Http::Limits{idleMs, overallMs, maxBodyBytes});
        QVERIFY(exchange.wait());
        QCOMPARE(exchange.result->failure, failure);
        if (failure == Failure::None)
            QCOMPARE(exchange.result->body, reply.body);
        else
            QVERIFY(exchange.result->body.isEmpty());
        // Given up, not read on.
        QTRY_COMPARE_WITH_TIMEOUT(fake.endlessOpen(), 0, waitMs);
    }

    // The requests go out on the caller's manager, and nothing is kept on it
    // between exchanges: a cookie the server sets is neither saved nor sent
    // back, and one the jar already holds is not sent either.
    void nothingKeptOnTheCallersNetwork()
    {
        FakeBrain fake;
        Reply withCookie = Reply::json("{}");
        withCookie.headers = {{"Set-Cookie", "session=abc; Path=/"}};
        fake.on("GET", "/api/x", withCookie);
        CountingNetwork network;
        const QUrl url(fake.url() + "/api/x");
        for (int round = 1; round <= 2; ++round) {
            Exchange exchange;
            exchange.send(network, url.toString(), "GET", std::nullopt, roomy);
            QVERIFY(exchange.wait());
            QVERIFY(!exchange.result->transportFailure());
            QVERIFY(network.cookieJar()->cookiesForUrl(url).isEmpty());
        }
        QCOMPARE(network.requests, 2);

        network.cookieJar()->setCookiesFromUrl({QNetworkCookie("held", "1")}, url);
        QCOMPARE(network.cookieJar()->cookiesForUrl(url).size(), 1);
        Exchange third;
        third.send(network, url.toString(), "GET", std::nullopt, roomy);
        QVERIFY(third.wait());
        QCOMPARE(fake.requests().size(), 3);
        for (const FakeBrain::Request &request : fake.requests())
            QVERIFY2(!request.hasHeader("Cookie"), request.header("Cookie").constData());
    }

    // Deleting the request in flight gives it up: it never calls back, and
    // the server sees the connection go.
    void deletedRequestNeverCallsBack()
    {
        FakeBrain fake;
        Reply held;
        held.mode = FakeBrain::Mode::Hold;
        fake.on("GET", "/api/x", held);
        QNetworkAccessManager network;
        bool called = false;
        QObject owner;
        QObject *request = Http::send(network, &owner, QUrl(fake.url() + "/api/x"), "GET", std::nullopt, roomy,
                                      [&called](Http::Result) { called = true; });
        QVERIFY(fake.waitForRequests(1));
        QTRY_COMPARE_WITH_TIMEOUT(fake.heldOpen(), 1, waitMs);
        delete request;
        QTRY_COMPARE_WITH_TIMEOUT(fake.heldOpen(), 0, waitMs);
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(TestBoundedExchange)
#include "tst_boundedexchange.moc"
