// The demo brain against the real client model, and what a careless or
// hostile client can send it.
#include "menubar/brain/brain.h"
#include "tests/demo/demobundle.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

using namespace Kovel::Bar;

using DemoBundle::RunningBrain;

namespace {
struct Reply {
    bool finished = false;
    int status = 0;
    QByteArray contentType;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    bool isJsonObject() const { return QJsonDocument::fromJson(body).isObject(); }
};

// One raw exchange, waited for with a deadline.
Reply exchange(const QString &url, const QByteArray &method, const std::optional<QByteArray> &body = std::nullopt)
{
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    if (body)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    QNetworkReply *reply = network.sendCustomRequest(request, method, body.value_or(QByteArray()));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    Reply out;
    out.finished = reply->isFinished() || finished.wait(10000);
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    out.body = reply->readAll();
    delete reply;
    return out;
}

const QRegularExpression urlSafe(QStringLiteral("^[A-Za-z0-9_-]{8,}$"));
}

class TestDemoBrain : public QObject
{
    Q_OBJECT

private slots:
    void loopsCloseAndBriefingThroughTheModel();
    void closingAnUnknownLoopIsAJsonError();
    void chatAnswersFromTheSampleNotes();
    void chatDoesNotHoldUpOtherRequests();
    void chatClientHangingUpDoesNotCrashIt();
    void chatRejectsBodiesThatAreNotAMessage_data();
    void chatRejectsBodiesThatAreNotAMessage();
    void oversizedBodyIsRefused();
    void pairingCodeWorksOnce();
    void wrongOrExpiredCodeIsRefused();
    void dashboardListsLoopsWithoutOutsideAssets();
    void unknownPathsAndMethodsGetJsonErrors();
    void repliesFollowTheData();
};

void TestDemoBrain::loopsCloseAndBriefingThroughTheModel()
{
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("10")});
    QVERIFY(server.port() != 0);
    Brain brain(server.url());

    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    brain.refreshLoops();
    QVERIFY(refreshed.wait(10000));
    // Enough for five rows and a remainder line.
    QCOMPARE(brain.loops().size(), 5);
    QVERIFY(brain.loopTotal() > 5);
    const qint64 total = brain.loopTotal();
    for (const Loop &loop : brain.loops()) {
        QVERIFY(!loop.title.isEmpty());
        QVERIFY(loop.id != loop.title);   // the server gave a real id
    }

    const Loop first = brain.loops().first();
    const Loop second = brain.loops().at(1);
    QSignalSpy closed(&brain, &Brain::closeEnded);
    brain.closeLoop(first);
    QVERIFY(closed.wait(10000));

    // The server dropped it too: a fresh refresh no longer lists it.
    brain.refreshLoops();
    QVERIFY(refreshed.wait(10000));
    QCOMPARE(brain.loopTotal(), total - 1);
    QCOMPARE(brain.loops().first(), second);
    QVERIFY(!brain.loops().contains(first));

    QSignalSpy briefed(&brain, &Brain::briefingEnded);
    brain.loadBriefing();
    QVERIFY(briefed.wait(10000));
    QVERIFY(!brain.briefingBusy());
    // Composed from the open loops as they are now.
    QVERIFY2(brain.briefing().contains(second.title), qPrintable(brain.briefing()));
    QVERIFY(!brain.briefing().contains(first.title));
    QVERIFY(brain.briefing().contains(QStringLiteral("%1건").arg(total - 1)));
}

void TestDemoBrain::closingAnUnknownLoopIsAJsonError()
{
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const Reply reply = exchange(server.url() + QStringLiteral("/api/structured/open-loops/no-such-loop/close"), "POST");
    QVERIFY(reply.finished);
    QCOMPARE(reply.status, 404);
    QVERIFY(reply.json().value(QStringLiteral("error")).isString());

    // Closing the same loop twice: the second time it is unknown.
    const QString path = server.url() + QStringLiteral("/api/structured/open-loops/loop-02/close");
    QCOMPARE(exchange(path, "POST").status, 200);
    QCOMPARE(exchange(path, "POST").status, 404);
}

void TestDemoBrain::chatAnswersFromTheSampleNotes()
{
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("10")});
    QVERIFY(server.port() != 0);
    Brain brain(server.url());
    QSignalSpy asked(&brain, &Brain::askEnded);

    brain.ask(QStringLiteral("예산안 회신 언제까지였지?"));
    QVERIFY(asked.wait(10000));
    QVERIFY(!brain.asking());
    // The matching note is quoted.
    QVERIFY2(brain.answer().contains(QStringLiteral("「")) && brain.answer().contains(QStringLiteral("금요일")),
             qPrintable(brain.answer()));

    brain.ask(QStringLiteral("zxqv"));
    QVERIFY(asked.wait(10000));
    QVERIFY(!brain.answer().isEmpty());
    QVERIFY(!brain.answer().contains(QStringLiteral("「")));

    // A loop explained: its title finds the notes behind it.
    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    brain.refreshLoops();
    QVERIFY(refreshed.wait(10000));
    QVERIFY(!brain.loops().isEmpty());
    for (const Loop &loop : brain.loops()) {
        brain.explainLoop(loop);
        QCOMPARE(brain.askedAbout(), loop.title);
        QVERIFY(asked.wait(10000));
        QVERIFY2(brain.answer().contains(QStringLiteral("「")), qPrintable(loop.title + QLatin1Char('\n') + brain.answer()));
    }
}

void TestDemoBrain::chatDoesNotHoldUpOtherRequests()
{
    // Long enough that a blocked server would be plain to see, short enough for a test.
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("3000")});
    QVERIFY(server.port() != 0);
    Brain brain(server.url());
    QSignalSpy asked(&brain, &Brain::askEnded);
    QSignalSpy refreshed(&brain, &Brain::refreshEnded);

    brain.ask(QStringLiteral("치과"));
    brain.refreshLoops();
    QVERIFY(refreshed.wait(10000));
    QCOMPARE(asked.count(), 0);       // the loops came back while the answer was still pending
    QVERIFY(brain.loopTotal() > 0);
    QVERIFY(asked.wait(10000));
    QVERIFY(brain.answer().contains(QStringLiteral("치과")));
}

void TestDemoBrain::chatClientHangingUpDoesNotCrashIt()
{
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("100")});
    QVERIFY(server.port() != 0);

    const QByteArray body = R"({"message":"예산"})";
    for (int i = 0; i < 5; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(socket.waitForConnected(5000));
        socket.write("POST /api/chat HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: "
                     + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QVERIFY(socket.waitForBytesWritten(5000));
        socket.abort();
    }
    // Asked after the hang-ups, so its answer comes after theirs were due.
    Brain brain(server.url());
    QSignalSpy asked(&brain, &Brain::askEnded);
    brain.ask(QStringLiteral("예산"));
    QVERIFY(asked.wait(10000));
    QVERIFY(brain.answer().contains(QStringLiteral("예산")));
    QVERIFY(server.running());
}

void TestDemoBrain::chatRejectsBodiesThatAreNotAMessage_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not JSON") << QByteArray("message=hi");
    QTest::newRow("truncated") << QByteArray(R"({"message":"hi")");
    QTest::newRow("array") << QByteArray(R"(["hi"])");
    QTest::newRow("string") << QByteArray(R"("hi")");
    QTest::newRow("no message") << QByteArray(R"({"question":"hi"})");
    QTest::newRow("message is a number") << QByteArray(R"({"message":5})");
    QTest::newRow("message is null") << QByteArray(R"({"message":null})");
    QTest::newRow("message is an array") << QByteArray(R"({"message":["hi"]})");
    QTest::newRow("invalid UTF-8") << QByteArray("{\"message\":\"\xff\xfe\"}");
}

void TestDemoBrain::chatRejectsBodiesThatAreNotAMessage()
{
    QFETCH(QByteArray, body);
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("10")});
    QVERIFY(server.port() != 0);
    const Reply reply = exchange(server.url() + QStringLiteral("/api/chat"), "POST", body);
    QVERIFY(reply.finished);
    QCOMPARE(reply.status, 400);
    QVERIFY(reply.contentType.startsWith("application/json"));
    QVERIFY(reply.json().value(QStringLiteral("error")).isString());
    QVERIFY(server.running());
}

void TestDemoBrain::oversizedBodyIsRefused()
{
    RunningBrain server({QStringLiteral("--chat-delay-ms"), QStringLiteral("10")});
    QVERIFY(server.port() != 0);
    const QByteArray huge = "{\"message\":\"" + QByteArray(2 * 1024 * 1024, 'a') + "\"}";
    const Reply refused = exchange(server.url() + QStringLiteral("/api/chat"), "POST", huge);
    QVERIFY(refused.finished);
    QCOMPARE(refused.status, 413);
    QVERIFY(refused.json().value(QStringLiteral("error")).isString());

    // A body just under the limit is still read, and the server goes on.
    const QByteArray large = "{\"message\":\"" + QByteArray(60 * 1024, 'a') + "\"}";
    const Reply accepted = exchange(server.url() + QStringLiteral("/api/chat"), "POST", large);
    QCOMPARE(accepted.status, 200);
    QVERIFY(accepted.json().value(QStringLiteral("response")).isString());
}

void TestDemoBrain::pairingCodeWorksOnce()
{
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const Reply issued = exchange(server.url() + QStringLiteral("/api/devices/pair-code"), "POST");
    QCOMPARE(issued.status, 200);
    const QString code = issued.json().value(QStringLiteral("code")).toString();
    QCOMPARE(code.size(), 6);

    const QByteArray request = QJsonDocument(QJsonObject{{QStringLiteral("code"), code},
                                                         {QStringLiteral("name"), QStringLiteral("테스트 Mac")},
                                                         {QStringLiteral("device_type"), QStringLiteral("mac")}})
                                   .toJson(QJsonDocument::Compact);
    const Reply paired = exchange(server.url() + QStringLiteral("/api/devices/pair"), "POST", request);
    QCOMPARE(paired.status, 200);
    const QJsonObject credentials = paired.json();
    QVERIFY(credentials.value(QStringLiteral("device_id")).isString());
    QVERIFY(credentials.value(QStringLiteral("api_key")).isString());
    QVERIFY(urlSafe.match(credentials.value(QStringLiteral("device_id")).toString()).hasMatch());
    QVERIFY(urlSafe.match(credentials.value(QStringLiteral("api_key")).toString()).hasMatch());

    const Reply reused = exchange(server.url() + QStringLiteral("/api/devices/pair"), "POST", request);
    QCOMPARE(reused.status, 401);
    QVERIFY(reused.json().value(QStringLiteral("error")).isString());
    QVERIFY(!reused.json().contains(QStringLiteral("api_key")));

    // Two devices paired with two codes get different credentials.
    const QString second = exchange(server.url() + QStringLiteral("/api/devices/pair-code"), "POST")
                               .json().value(QStringLiteral("code")).toString();
    QVERIFY(second != code);
    const Reply other = exchange(server.url() + QStringLiteral("/api/devices/pair"), "POST",
                                 QJsonDocument(QJsonObject{{QStringLiteral("code"), second}}).toJson());
    QCOMPARE(other.status, 200);
    QVERIFY(other.json().value(QStringLiteral("api_key")) != credentials.value(QStringLiteral("api_key")));
    QVERIFY(other.json().value(QStringLiteral("device_id")) != credentials.value(QStringLiteral("device_id")));
}

void TestDemoBrain::wrongOrExpiredCodeIsRefused()
{
    {
        RunningBrain server;
        QVERIFY(server.port() != 0);
        exchange(server.url() + QStringLiteral("/api/devices/pair-code"), "POST");
        for (const QByteArray &body : {QByteArray(R"({"code":"AAAAAA"})"), QByteArray(R"({"code":""})")}) {
            const Reply wrong = exchange(server.url() + QStringLiteral("/api/devices/pair"), "POST", body);
            QCOMPARE(wrong.status, 401);
            QVERIFY(wrong.json().value(QStringLiteral("error")).isString());
        }
        const Reply notText = exchange(server.url() + QStringLiteral("/api/devices/pair"), "POST", R"({"code":123456})");
        QCOMPARE(notText.status, 400);
        QVERIFY(notText.isJsonObject());
    }
    {
        // Codes that expire at once.
        RunningBrain server({QStringLiteral("--pair-code-ttl-ms"), QStringLiteral("0")});
        QVERIFY(server.port() != 0);
        const QString code = exchange(server.url() + QStringLiteral("/api/devices/pair-code"), "POST")
                                 .json().value(QStringLiteral("code")).toString();
        QCOMPARE(code.size(), 6);
        const Reply expired = exchange(server.url() + QStringLiteral("/api/devices/pair"), "POST",
                                       QJsonDocument(QJsonObject{{QStringLiteral("code"), code}}).toJson());
        QCOMPARE(expired.status, 401);
        QVERIFY(expired.json().value(QStringLiteral("error")).isString());
    }
}

void TestDemoBrain::dashboardListsLoopsWithoutOutsideAssets()
{
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const Reply loops = exchange(server.url() + QStringLiteral("/api/structured/open-loops"), "GET");
    const QJsonArray list = loops.json().value(QStringLiteral("loops")).toArray();
    QVERIFY(list.size() >= 10);

    const Reply page = exchange(server.url() + QStringLiteral("/"), "GET");
    QCOMPARE(page.status, 200);
    QVERIFY(page.contentType.startsWith("text/html"));
    const QString html = QString::fromUtf8(page.body);
    for (const auto &entry : list)
        QVERIFY(html.contains(entry.toObject().value(QStringLiteral("title")).toString()));
    QVERIFY(html.contains(QStringLiteral("<button")));
    QVERIFY(html.contains(QStringLiteral("/api/devices/pair-code")));
    QVERIFY2(!html.contains(QStringLiteral("://")), "the page loads nothing from elsewhere");
}

void TestDemoBrain::unknownPathsAndMethodsGetJsonErrors()
{
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const Reply missing = exchange(server.url() + QStringLiteral("/api/nothing-here"), "GET");
    QCOMPARE(missing.status, 404);
    QVERIFY(missing.json().value(QStringLiteral("error")).isString());

    const Reply getChat = exchange(server.url() + QStringLiteral("/api/chat"), "GET");
    QCOMPARE(getChat.status, 405);
    QVERIFY(getChat.json().value(QStringLiteral("error")).isString());

    const Reply deleteLoops = exchange(server.url() + QStringLiteral("/api/structured/open-loops"), "DELETE");
    QCOMPARE(deleteLoops.status, 405);
    // Nothing was removed.
    const Reply loops = exchange(server.url() + QStringLiteral("/api/structured/open-loops"), "GET");
    QCOMPARE(loops.json().value(QStringLiteral("loops")).toArray().size(), 12);
}

void TestDemoBrain::repliesFollowTheData()
{
    // Replies are kept ready between requests: each must change with what it shows.
    RunningBrain server;
    QVERIFY(server.port() != 0);
    const QString base = server.url();
    const Reply loops = exchange(base + QStringLiteral("/api/structured/open-loops"), "GET");
    QCOMPARE(exchange(base + QStringLiteral("/api/structured/open-loops"), "GET").body, loops.body);
    const QString title = loops.json().value(QStringLiteral("loops")).toArray().first()
                              .toObject().value(QStringLiteral("title")).toString();
    QVERIFY(QString::fromUtf8(exchange(base + QStringLiteral("/"), "GET").body).contains(title));
    QVERIFY(exchange(base + QStringLiteral("/api/structured/briefing"), "GET").body.contains(title.toUtf8()));

    QCOMPARE(exchange(base + QStringLiteral("/api/structured/open-loops/loop-01/close"), "POST").status, 200);
    const QJsonArray after = exchange(base + QStringLiteral("/api/structured/open-loops"), "GET")
                                 .json().value(QStringLiteral("loops")).toArray();
    QCOMPARE(after.size(), 11);
    QVERIFY(!after.first().toObject().value(QStringLiteral("title")).toString().contains(title));
    const QString page = QString::fromUtf8(exchange(base + QStringLiteral("/"), "GET").body);
    QVERIFY(!page.contains(title));
    QVERIFY(page.contains(QStringLiteral("열린 미결 11건")));
    QVERIFY(!exchange(base + QStringLiteral("/api/structured/briefing"), "GET").body.contains(title.toUtf8()));

    // Pairing changes the dashboard's device count.
    QVERIFY(page.contains(QStringLiteral("연결된 기기: 0대")));
    const QString code = exchange(base + QStringLiteral("/api/devices/pair-code"), "POST")
                             .json().value(QStringLiteral("code")).toString();
    QCOMPARE(exchange(base + QStringLiteral("/api/devices/pair"), "POST",
                      QJsonDocument(QJsonObject{{QStringLiteral("code"), code}}).toJson()).status, 200);
    QVERIFY(QString::fromUtf8(exchange(base + QStringLiteral("/"), "GET").body).contains(QStringLiteral("연결된 기기: 1대")));
}

QTEST_GUILESS_MAIN(TestDemoBrain)
#include "tst_demobrain.moc"
