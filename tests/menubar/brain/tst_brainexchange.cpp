// What goes over the wire: each operation's request, what counts as a reply,
// failures that must come at once, idle limits, and which texts make an address.

#include "menubar/brain/brain.h"
#include "tests/common/replystatuses.h"
#include "tests/menubar/brain/brainrecorder.h"
#include "tests/menubar/brain/scaledlimits.h"
#include "tests/support/fakebrain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

using namespace Kovel::Bar;

using Request = FakeBrain::Request;
using Reply = FakeBrain::Reply;

namespace {

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

} // namespace

class TestBrainExchange : public QObject
{
    Q_OBJECT

    // Headers Qt's HTTP stack writes by itself; the client may add only Content-Type.
    static bool isStandardHeader(const QByteArray &name)
    {
        static const QList<QByteArray> standard{"host", "connection", "accept-encoding",
                                                "accept-language", "user-agent", "content-length"};
        return standard.contains(name.toLower());
    }

private slots:
    void requestEachOperationSends_data()
    {
        QTest::addColumn<QString>("base");     // after the server's own address
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");  // as sent on the request line
        QTest::addColumn<QByteArray>("body");  // empty: no body and no Content-Type

        // A base ending in "/" (configured with two) is joined as text: the
        // path goes out with both slashes.
        for (const QString &base : {QString(), QStringLiteral("/"), QStringLiteral("/brain/")}) {
            const QByteArray prefix = base.toUtf8();
            const QByteArray name = base.isEmpty() ? QByteArray() : " under base " + prefix;
            QTest::newRow("refreshLoops" + name) << base << "refresh" << QByteArray("GET")
                                                 << prefix + "/api/structured/open-loops" << QByteArray();
            QTest::newRow("loadBriefing" + name) << base << "briefing" << QByteArray("GET")
                                                 << prefix + "/api/structured/briefing" << QByteArray();
            QTest::newRow("closeLoop" + name) << base << "close" << QByteArray("POST")
                                              << prefix + "/api/structured/open-loops/L-7/close" << QByteArray();
            QTest::newRow("ask" + name) << base << "ask" << QByteArray("POST") << prefix + "/api/chat"
                                        << QByteArray("{\"message\":\"어제 뭐 했지? \\\"따옴표\\\" a/b\"}");
        }
    }
    void requestEachOperationSends()
    {
        QFETCH(QString, base);
        QFETCH(QString, operation);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);

        FakeBrain fake;
        Brain brain(fake.url() + base);
        if (operation == "refresh")
            brain.refreshLoops();
        else if (operation == "briefing")
            brain.loadBriefing();
        else if (operation == "close")
            brain.closeLoop(Loop{"L-7", "제목"});
        else
            brain.ask(QString::fromUtf8("어제 뭐 했지? \"따옴표\" a/b"), QString("label"));
        QVERIFY(fake.waitForRequests(1));
        const Request r = fake.requests().first();

        QCOMPARE(r.method, method);
        QCOMPARE(r.path, path);
        QCOMPARE(r.body, body);
        if (body.isEmpty()) {
            QVERIFY2(!r.hasHeader("Content-Type"), r.header("Content-Type").constData());
        } else {
            QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
            const QJsonObject sent = QJsonDocument::fromJson(r.body).object();
            QCOMPARE(sent.keys(), QStringList{"message"});
        }
        QStringList seen;
        for (const auto &h : r.headers) {
            seen << QString::fromLatin1(h.first + ": " + h.second);
            if (h.first.compare("Content-Type", Qt::CaseInsensitive) != 0)
                QVERIFY2(isStandardHeader(h.first), h.first.constData());
            QVERIFY2(h.first.compare("Cookie", Qt::CaseInsensitive) != 0, "no credentials");
            QVERIFY2(h.first.compare("Authorization", Qt::CaseInsensitive) != 0, "no credentials");
        }
        qInfo().noquote() << r.method << r.path << "headers:" << seen.join(" | ");
    }

    // Only the body counts: Qt turns many statuses into "errors", none of
    // which may hide a body that arrived whole. A 3xx that names where to go
    // leads there; one that names nowhere is the reply.
    void everyStatusWithABodyIsAReply_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("located");
        for (const ReplyStatuses::Row &row : ReplyStatuses::rows())
            QTest::newRow(row.name.constData()) << row.status << row.located;
        for (int status : {299, 300, 405, 410, 418, 422, 429, 501, 504, 599})
            QTest::newRow(QByteArray::number(status).constData()) << status << false;
    }
    void everyStatusWithABodyIsAReply()
    {
        QFETCH(int, status);
        QFETCH(bool, located);
        FakeBrain fake;
        const QByteArray text = "상태 " + QByteArray::number(status);
        const QByteArray there = "옮겨 온 곳";
        ReplyStatuses::script(fake, "GET", "/api/structured/briefing", status, located,
                              "{\"briefing\":\"" + text + "\"}", "{\"briefing\":\"" + there + "\",\"response\":\"" + there + "\"}");
        ReplyStatuses::script(fake, "POST", "/api/chat", status, located,
                              "{\"message\":\"" + text + "\"}", "{\"briefing\":\"" + there + "\",\"response\":\"" + there + "\"}");
        Brain brain(fake.url());
        QSignalSpy briefed(&brain, &Brain::briefingEnded);
        QSignalSpy asked(&brain, &Brain::askEnded);
        brain.loadBriefing();
        brain.ask("q");
        QVERIFY(briefed.wait(5000));
        QVERIFY(asked.count() == 1 || asked.wait(5000));
        switch (ReplyStatuses::counted(status, located)) {
        case ReplyStatuses::Counted::Here:
            QCOMPARE(brain.briefing(), QString::fromUtf8(text));
            QCOMPARE(brain.answer(), QString::fromUtf8(text));
            break;
        case ReplyStatuses::Counted::There:
            QCOMPARE(brain.briefing(), QString::fromUtf8(there));
            QCOMPARE(brain.answer(), QString::fromUtf8(there));
            break;
        case ReplyStatuses::Counted::Nothing:
            QCOMPARE(brain.briefing(), QString("브레인에 연결할 수 없어요 — ") + fake.url());
            QCOMPARE(brain.answer(), QString("브레인에 연결할 수 없어요."));
            break;
        }
    }

    // Qt follows redirects on its own; the body at the end of the chain counts.
    void redirectsAreFollowed()
    {
        FakeBrain fake;
        Reply moved = Reply::json("{}", 302);
        moved.headers = {{"Location", "/elsewhere"}};
        fake.on("GET", "/api/structured/briefing", moved);
        fake.on("GET", "/elsewhere", Reply::json("{\"briefing\":\"옮겨 왔어요\"}"));
        Brain brain(fake.url());
        QSignalSpy ended(&brain, &Brain::briefingEnded);
        brain.loadBriefing();
        QVERIFY(ended.wait(5000));
        QCOMPARE(brain.briefing(), QString("옮겨 왔어요"));
    }

    // Redirects are followed as browsers do: 307 and 308 repeat the request,
    // body and all; the others fetch the target with a GET. A chain that
    // never ends is a transport failure.
    void redirects_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("location");
        QTest::addColumn<QByteArray>("methodThere");  // empty: never gets there
        QTest::newRow("301") << 301 << QByteArray("/there") << QByteArray("GET");
        QTest::newRow("302") << 302 << QByteArray("/there") << QByteArray("GET");
        QTest::newRow("303") << 303 << QByteArray("/there") << QByteArray("GET");
        QTest::newRow("307") << 307 << QByteArray("/there") << QByteArray("POST");
        QTest::newRow("308") << 308 << QByteArray("/there") << QByteArray("POST");
        QTest::newRow("302, absolute address") << 302 << QByteArray("%1/there") << QByteArray("GET");
        QTest::newRow("302 to itself, for ever") << 302 << QByteArray("/api/chat") << QByteArray();
    }
    void redirects()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, location);
        QFETCH(QByteArray, methodThere);
        FakeBrain fake;
        Reply moved = Reply::json(q("{'response':'옮겼어요'}"), status);
        moved.headers = {{"Location", location.replace("%1", fake.url().toUtf8())}};
        fake.on("POST", "/api/chat", moved);
        fake.on("GET", "/api/chat", moved);
        fake.on("GET", "/there", Reply::json(q("{'response':'GET으로 왔어요'}")));
        // Answers with the body it got.
        fake.on("POST", "/there", [](const Request &r) {
            return Reply::json(QJsonDocument(QJsonObject{{"response", QString::fromUtf8(r.body)}}).toJson(QJsonDocument::Compact));
        });
        Brain brain(fake.url());
        QSignalSpy asked(&brain, &Brain::askEnded);
        brain.ask("질문");
        QVERIFY(asked.wait(10000));
        if (methodThere.isEmpty()) {
            QCOMPARE(brain.answer(), QString("브레인에 연결할 수 없어요."));
            return;
        }
        const Request there = fake.requests().last();
        QCOMPARE(there.path, QByteArray("/there"));
        QCOMPARE(there.method, methodThere);
        if (methodThere == "POST") {
            QCOMPARE(there.header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(brain.answer(), QString("{\"message\":\"질문\"}"));
        } else {
            QVERIFY(there.body.isEmpty());
            QVERIFY(!there.hasHeader("Content-Type"));
            QCOMPARE(brain.answer(), QString("GET으로 왔어요"));
        }
    }

    // The owner's network manager carries every request of the Brain it gave
    // it to.
    void requestsGoOutOnTheGivenNetwork()
    {
        FakeBrain fake;
        fake.on("GET", "/api/structured/open-loops", Reply::json("{\"loops\":[]}"));
        CountingNetwork network;
        Brain brain(fake.url(), &network);
        QSignalSpy refreshed(&brain, &Brain::refreshEnded);
        QSignalSpy asked(&brain, &Brain::askEnded);
        brain.refreshLoops();
        brain.ask("q");
        QVERIFY(refreshed.wait(5000));
        QVERIFY(asked.count() == 1 || asked.wait(5000));
        QCOMPARE(network.requests, 2);
        QCOMPARE(fake.requests().size(), 2);
    }

    // Exchanges keep no state: a cookie the server sets never comes back.
    void cookiesAreNotKept()
    {
        FakeBrain fake;
        Reply withCookie = Reply::json("{\"loops\":[]}");
        withCookie.headers = {{"Set-Cookie", "session=abc; Path=/"}};
        fake.on("GET", "/api/structured/open-loops", withCookie);
        Brain brain(fake.url());
        QSignalSpy ended(&brain, &Brain::refreshEnded);
        brain.refreshLoops();
        QVERIFY(ended.wait(5000));
        brain.refreshLoops();
        QVERIFY(ended.wait(5000));
        QCOMPARE(fake.requests().size(), 2);
        QVERIFY(!fake.requests().at(1).hasHeader("Cookie"));
    }

    // A refused connection ends every operation at once, long before any idle
    // limit (90 s, 120 s, 15 s) could.
    void serverDownFailsAtOnce()
    {
        FakeBrain fake;
        const QString url = fake.url();
        fake.shutDown();
        Brain brain(url);
        brain.setLoops({Loop{"a", "A"}});
        brain.setLoopTotal(3);
        QSignalSpy refreshed(&brain, &Brain::refreshEnded);
        QSignalSpy briefed(&brain, &Brain::briefingEnded);
        QSignalSpy asked(&brain, &Brain::askEnded);
        QSignalSpy closed(&brain, &Brain::closeEnded);
        brain.refreshLoops();
        brain.loadBriefing();
        brain.ask("q");
        brain.closeLoop(Loop{"a", "A"});
        QTRY_VERIFY_WITH_TIMEOUT(refreshed.count() == 1 && briefed.count() == 1 && asked.count() == 1
                                 && closed.count() == 1, 5000);
        QCOMPARE(brain.briefing(), QString("브레인에 연결할 수 없어요 — ") + url);
        QCOMPARE(brain.answer(), QString("브레인에 연결할 수 없어요."));
        QVERIFY(brain.loops().isEmpty());   // a failed close still closes locally
        QCOMPARE(brain.loopTotal(), 2);
        QCOMPARE(brain.asking(), false);
        QCOMPARE(brain.briefingBusy(), false);
    }

    // The limits are idle limits: a reply that keeps trickling lives on past
    // the limit, while one that goes silent fails. One "second" is shortened
    // to 20 ms here, so the 90 s read limit is 1.8 s of silence.
    void idleLimitRestartsWithEveryByte_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QString>("expected");
        const QString unreachable = "브레인에 연결할 수 없어요 — ";
        QTest::newRow("trickle outlives the limit") << int(FakeBrain::Mode::Trickle) << 0 << "느리게";
        QTest::newRow("silent after the headers") << int(FakeBrain::Mode::HeadersThenSilence) << 0 << unreachable;
        QTest::newRow("silent from the start") << int(FakeBrain::Mode::Normal) << 60000 << unreachable;
    }
    void idleLimitRestartsWithEveryByte()
    {
        QFETCH(int, mode);
        QFETCH(int, delayMs);
        QFETCH(QString, expected);
        FakeBrain fake;
        // 33 bytes, one every 150 ms: about 5 s in all, nearly three limits long.
        Reply reply = Reply::json("{\"briefing\":\"느리게\",\"pad\":\"......\"}");
        reply.mode = FakeBrain::Mode(mode);
        reply.delayMs = delayMs;
        reply.trickleBytes = 1;
        reply.trickleIntervalMs = 150;
        fake.on("GET", "/api/structured/briefing", reply);
        Brain brain(fake.url(), nullptr, scaledLimits(20));
        QSignalSpy ended(&brain, &Brain::briefingEnded);
        brain.loadBriefing();
        QVERIFY(ended.wait(20000));
        if (expected.endsWith(' '))
            expected += fake.url();
        QCOMPARE(brain.briefing(), expected);
    }

    // The question's limit (120 s) is longer than a read's (90 s): a server
    // that thinks for 105 "seconds" answers the question but not the briefing.
    void questionsWaitLongerThanReads()
    {
        FakeBrain fake;
        Reply slow = Reply::json("{\"response\":\"생각 끝\",\"briefing\":\"생각 끝\"}");
        slow.delayMs = 105 * 40;
        fake.on("GET", "/api/structured/briefing", slow);
        fake.on("POST", "/api/chat", slow);
        Brain brain(fake.url(), nullptr, scaledLimits(40));
        QSignalSpy briefed(&brain, &Brain::briefingEnded);
        QSignalSpy asked(&brain, &Brain::askEnded);
        brain.loadBriefing();
        brain.ask("q");
        QTRY_VERIFY_WITH_TIMEOUT(briefed.count() == 1 && asked.count() == 1, 20000);
        QCOMPARE(brain.answer(), QString("생각 끝"));
        QCOMPARE(brain.briefing(), QString("브레인에 연결할 수 없어요 — ") + fake.url());
    }

    // Which loop ids make a close address. Sent ids go in as they are; only
    // the address class encodes what HTTP requires (non-ASCII as UTF-8 %XX).
    // Ids that the strict parser refuses, or whose "?" or "#" would move the
    // rest of the path into a query or fragment, make no request.
    void closeAddressFromTheId_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("wirePath");  // empty: no request

        QTest::newRow("plain") << "abc-1" << QByteArray("/api/structured/open-loops/abc-1/close");
        QTest::newRow("hangul") << "미결" << QByteArray("/api/structured/open-loops/%EB%AF%B8%EA%B2%B0/close");
        QTest::newRow("slash") << "a/b" << QByteArray("/api/structured/open-loops/a/b/close");
        QTest::newRow("already encoded") << "a%2Fb" << QByteArray("/api/structured/open-loops/a%2Fb/close");
        QTest::newRow("empty") << "" << QByteArray("/api/structured/open-loops//close");
        QTest::newRow("dot dot") << ".." << QByteArray();
        QTest::newRow("encoded dot dot") << "%2E%2E" << QByteArray();
        QTest::newRow("dot") << "." << QByteArray();
        QTest::newRow("dots inside a segment") << "a..b" << QByteArray("/api/structured/open-loops/a..b/close");
        QTest::newRow("space") << "a b" << QByteArray();
        QTest::newRow("question mark") << "a?b" << QByteArray();
        QTest::newRow("hash") << "a#b" << QByteArray();
        QTest::newRow("bad percent") << "a%zz" << QByteArray();
        QTest::newRow("newline") << "a\nb" << QByteArray();
    }
    void closeAddressFromTheId()
    {
        QFETCH(QString, id);
        QFETCH(QByteArray, wirePath);
        FakeBrain fake;
        fake.on("GET", "/api/structured/open-loops", Reply::json("{\"loops\":[]}"));
        Brain brain(fake.url());
        const Loop loop{id, "제목"};
        brain.setLoops({loop, Loop{"other", "다른 것"}});
        brain.setLoopTotal(2);
        BrainRecorder recorder(&brain);
        QSignalSpy closed(&brain, &Brain::closeEnded);
        brain.closeLoop(loop);
        if (wirePath.isEmpty()) {
            // Ends on the spot, untouched; a later request is the first the server sees.
            QCOMPARE(closed.count(), 1);
            QVERIFY(recorder.events.isEmpty());
            QCOMPARE(brain.loops().size(), 2);
            QCOMPARE(brain.loopTotal(), 2);
            QSignalSpy refreshed(&brain, &Brain::refreshEnded);
            brain.refreshLoops();
            QVERIFY(refreshed.wait(5000));
            QCOMPARE(fake.requests().size(), 1);
            QCOMPARE(fake.requests().first().method, QByteArray("GET"));
        } else {
            QVERIFY(closed.wait(5000));
            QCOMPARE(fake.requests().size(), 1);
            QCOMPARE(fake.requests().first().path, wirePath);
            QCOMPARE(brain.loops(), QList<Loop>{Loop("other", "다른 것")});
            QCOMPARE(brain.loopTotal(), 1);
        }
        QCOMPARE(closed.first().first().value<Loop>(), loop);
    }

    // Base addresses that make no request, and ones that cannot be served.
    void baseAddresses_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("noRequest");
        QTest::newRow("white space") << " http://127.0.0.1:1 " << true;
        QTest::newRow("bad port") << "http://127.0.0.1:99999" << true;
        QTest::newRow("query in base") << "http://127.0.0.1:1/?x=" << true;
        // These parse, but no web server is there: the request fails.
        QTest::newRow("empty (a lone slash configured)") << "" << false;
        QTest::newRow("no scheme") << "localhost:1" << false;
        QTest::newRow("empty host") << "http://" << false;
        QTest::newRow("local file") << "file:///etc" << false;
    }
    void baseAddresses()
    {
        QFETCH(QString, server);
        QFETCH(bool, noRequest);
        Brain brain(server);
        QSignalSpy asked(&brain, &Brain::askEnded);
        QSignalSpy briefed(&brain, &Brain::briefingEnded);
        brain.ask("q");
        brain.loadBriefing();
        if (noRequest) {
            QCOMPARE(asked.count(), 1);
            QCOMPARE(brain.answer(), QString());
        } else {
            QVERIFY(asked.count() == 1 || asked.wait(5000));
            QCOMPARE(brain.answer(), QString("브레인에 연결할 수 없어요."));
        }
        QVERIFY(briefed.count() == 1 || briefed.wait(5000));
        QCOMPARE(brain.briefing(), QString("브레인에 연결할 수 없어요 — ") + server);
    }
};

QTEST_GUILESS_MAIN(TestBrainExchange)
#include "tst_brainexchange.moc"
