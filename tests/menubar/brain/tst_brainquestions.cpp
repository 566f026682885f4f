// The briefing and the questions: which reply text is shown, the fixed
// messages for everything else, and the order observers hear it in.

#include "menubar/brain/brain.h"
#include "tests/menubar/brain/brainrecorder.h"
#include "tests/support/fakebrain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using namespace Kovel::Bar;

using Reply = FakeBrain::Reply;

namespace {

const QString progress = QStringLiteral("브리핑을 만드는 중… (일정·미결·어제 맥락을 종합해요)");
const QString emptyDay = QStringLiteral("오늘은 브리핑할 게 없어요 — 놓친 것도 급한 것도 없다는 뜻!");
const QString briefingUnreachable = QStringLiteral("브레인에 연결할 수 없어요 — ");
const QString answerUnreachable = QStringLiteral("브레인에 연결할 수 없어요.");
const QString unreadable = QStringLiteral("(응답 형식을 읽지 못했어요)");

QByteArray nested(int depth) { return QByteArray(depth, '[') + QByteArray(depth, ']'); }

Reply withMode(Reply reply, FakeBrain::Mode mode)
{
    reply.mode = mode;
    return reply;
}

// Bodies no operation can use, each with the row name it is tested under.
QList<QPair<const char *, Reply>> unusableBodies()
{
    return {
        {"array at the top", Reply::json(q("[{'briefing':'x','response':'x'}]"))},
        {"string at the top", Reply::json(q("'x'"))},
        {"plain text", Reply::text("서버 오류")},
        {"empty body", Reply::json("")},
        {"truncated JSON", Reply::json(q("{'briefing':'ab','response':'ab"))},
        {"not UTF-8", Reply::json("{\"briefing\":\"\xff\xfe\",\"response\":\"\xff\xfe\"}")},
        {"nested 10000 deep", Reply::json("{\"briefing\":" + nested(10000) + ",\"response\":\"x\"}")},
        {"8 MB of garbage", Reply::text(QByteArray(8 << 20, '\x01'))},
        {"connection dropped", Reply::drop()},
        {"reset mid-body", withMode(Reply::json(q("{'briefing':'x','response':'x'}")), FakeBrain::Mode::ResetMidBody)},
    };
}

} // namespace

class TestBrainQuestions : public QObject
{
    Q_OBJECT

private slots:
    void briefingReplies_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("expected");   // empty-day / unreachable messages spelled out below
        QTest::newRow("text") << Reply::json(q("{'briefing':'오늘 회의 두 개'}")) << "오늘 회의 두 개";
        QTest::newRow("empty string is shown as it is") << Reply::json(q("{'briefing':''}")) << "";
        QTest::newRow("null") << Reply::json(q("{'briefing':null}")) << emptyDay;
        QTest::newRow("missing") << Reply::json(q("{'summary':'x'}")) << emptyDay;
        QTest::newRow("number") << Reply::json(q("{'briefing':3}")) << emptyDay;
        QTest::newRow("array of texts") << Reply::json(q("{'briefing':['a','b']}")) << emptyDay;
        QTest::newRow("500 with an object") << Reply::json(q("{'error':'boom'}"), 500) << emptyDay;
        QTest::newRow("500 with a briefing") << Reply::json(q("{'briefing':'그래도 있음'}"), 500) << "그래도 있음";
        QTest::newRow("nested 200 deep") << Reply::json("{\"briefing\":" + nested(200) + '}') << emptyDay;
        const QByteArray big(8 << 20, 'b');
        QTest::newRow("8 MB briefing") << Reply::json("{\"briefing\":\"" + big + "\"}") << QString::fromLatin1(big);
        for (const auto &[name, reply] : unusableBodies())
            QTest::newRow(name) << reply << briefingUnreachable;
    }
    void briefingReplies()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, expected);
        FakeBrain fake;
        fake.on("GET", "/api/structured/briefing", reply);
        Brain brain(fake.url());
        QSignalSpy ended(&brain, &Brain::briefingEnded);
        brain.loadBriefing();
        QCOMPARE(brain.briefing(), progress);
        QCOMPARE(brain.briefingBusy(), true);
        QVERIFY(ended.wait(10000));
        if (expected == briefingUnreachable)
            expected += fake.url();
        QVERIFY2(brain.briefing() == expected, qPrintable(brain.briefing().left(80)));
        QCOMPARE(brain.briefingBusy(), false);
    }

    void briefingNotifications()
    {
        FakeBrain fake;
        fake.on("GET", "/api/structured/briefing", Reply::json(q("{'briefing':'B'}")));
        Brain brain(fake.url());
        BrainRecorder recorder(&brain);
        QSignalSpy ended(&brain, &Brain::briefingEnded);
        brain.loadBriefing();
        QVERIFY(ended.wait(5000));
        QCOMPARE(recorder.events, (QStringList{"briefingBusy=true", "briefing=" + progress, "briefing=B", "briefingBusy=false"}));
        QVERIFY(recorder.changedInStep());
    }

    // An address that is no URL makes no request; the message names it.
    void briefingWithoutAnAddress()
    {
        Brain brain(QStringLiteral("http://127.0.0.1:1 "));
        BrainRecorder recorder(&brain);
        QSignalSpy ended(&brain, &Brain::briefingEnded);
        brain.loadBriefing();
        QCOMPARE(ended.count(), 1);
        QCOMPARE(recorder.events, (QStringList{"briefingBusy=true", "briefing=" + progress,
                                               "briefing=" + briefingUnreachable + "http://127.0.0.1:1 ", "briefingBusy=false"}));
    }

    void answerReplies_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("expected");
        QTest::newRow("response") << Reply::json(q("{'response':'어제는 회의 세 개'}")) << "어제는 회의 세 개";
        QTest::newRow("response wins over answer") << Reply::json(q("{'answer':'A','response':'R'}")) << "R";
        QTest::newRow("answer when response is a number") << Reply::json(q("{'response':5,'answer':'A'}")) << "A";
        QTest::newRow("empty response stops the search") << Reply::json(q("{'response':'','answer':'A'}")) << "";
        QTest::newRow("message last") << Reply::json(q("{'response':null,'answer':['A'],'message':'M'}")) << "M";
        QTest::newRow("none of the three a string") << Reply::json(q("{'response':1,'answer':{},'message':false}")) << unreadable;
        QTest::newRow("empty object") << Reply::json("{}") << unreadable;
        QTest::newRow("500 with a message") << Reply::json(q("{'message':'내부 오류'}"), 500) << "내부 오류";
        for (const auto &[name, reply] : unusableBodies())
            QTest::newRow(name) << reply << answerUnreachable;
    }
    void answerReplies()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, expected);
        FakeBrain fake;
        fake.on("POST", "/api/chat", reply);
        Brain brain(fake.url());
        BrainRecorder recorder(&brain);
        QSignalSpy ended(&brain, &Brain::askEnded);
        brain.ask("어제 뭐 했지?");
        QVERIFY(ended.wait(10000));
        QCOMPARE(brain.answer(), expected);
        QCOMPARE(brain.asking(), false);
        QCOMPARE(recorder.events, (QStringList{"asking=true", "answer=", "askedAbout=어제 뭐 했지?",
                                               "answer=" + expected, "asking=false"}));
        QVERIFY(recorder.changedInStep());
    }

    // While the question is out: asking, no answer, the subject shown.
    void stateWhileAQuestionIsOut()
    {
        FakeBrain fake;
        Reply slow = Reply::json(q("{'response':'끝'}"));
        slow.delayMs = 200;
        fake.on("POST", "/api/chat", slow);
        Brain brain(fake.url());
        brain.setAnswer("지난 답");
        QSignalSpy ended(&brain, &Brain::askEnded);
        brain.ask("질문", QString("주제"));
        QVERIFY(fake.waitForRequests(1));
        QCOMPARE(brain.asking(), true);
        QCOMPARE(brain.answer(), QString());
        QCOMPARE(brain.askedAbout(), QString("주제"));
        QCOMPARE(ended.count(), 0);
        QVERIFY(ended.wait(5000));
        QCOMPARE(brain.answer(), QString("끝"));
    }

    void subjectOfAQuestion_data()
    {
        QTest::addColumn<bool>("hasLabel");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("askedAbout");
        QTest::newRow("no label: the question") << false << QString() << "무엇을 했지?";
        QTest::newRow("a label") << true << "라벨" << "라벨";
        QTest::newRow("an empty label is a label") << true << "" << "";
    }
    void subjectOfAQuestion()
    {
        QFETCH(bool, hasLabel);
        QFETCH(QString, label);
        QFETCH(QString, askedAbout);
        FakeBrain fake;
        fake.on("POST", "/api/chat", Reply::json(q("{'response':'r'}")));
        Brain brain(fake.url());
        QSignalSpy ended(&brain, &Brain::askEnded);
        if (hasLabel)
            brain.ask("무엇을 했지?", label);
        else
            brain.ask("무엇을 했지?");
        QCOMPARE(brain.askedAbout(), askedAbout);
        QVERIFY(ended.wait(5000));
        QCOMPARE(QJsonDocument::fromJson(fake.requests().first().body).object().value("message").toString(),
                 QString("무엇을 했지?"));
    }

    // No request: only asking changes at the end, and the answer stays empty.
    void questionWithoutAnAddress()
    {
        Brain brain(QStringLiteral("http://bad host"));
        brain.setAnswer("지난 답");
        BrainRecorder recorder(&brain);
        QSignalSpy ended(&brain, &Brain::askEnded);
        brain.ask("q");
        QCOMPARE(ended.count(), 1);
        QCOMPARE(recorder.events, (QStringList{"asking=true", "answer=", "askedAbout=q", "asking=false"}));
        QCOMPARE(brain.answer(), QString());
    }

    void explainLoop()
    {
        FakeBrain fake;
        fake.on("POST", "/api/chat", Reply::json(q("{'response':'맥락은 이래요'}")));
        Brain brain(fake.url());
        QSignalSpy ended(&brain, &Brain::askEnded);
        // The id is not used: one that could never make a close address is fine here.
        brain.explainLoop(Loop{"x?#y", "보고서 '초안' 검토"});
        QCOMPARE(brain.askedAbout(), QString("보고서 '초안' 검토"));
        QVERIFY(ended.wait(5000));
        const QByteArray expected = "'보고서 '초안' 검토' — 이 미결이 무슨 맥락인지 관련 기록을 찾아 요약해주고, 다음 행동 하나를 제안해줘.";
        const QJsonObject sent = QJsonDocument::fromJson(fake.requests().first().body).object();
        QCOMPARE(sent.value("message").toString().toUtf8(), expected);
        QCOMPARE(fake.requests().first().path, QByteArray("/api/chat"));
        QCOMPARE(brain.answer(), QString("맥락은 이래요"));
    }

    // Two questions at once: the first to end clears asking, the last reply stays.
    void overlappingQuestions()
    {
        FakeBrain fake;
        fake.on("POST", "/api/chat", [](const FakeBrain::Request &r) {
            const bool slow = r.body.contains("slow");
            Reply reply = Reply::json(slow ? q("{'response':'slow answer'}") : q("{'response':'fast answer'}"));
            reply.delayMs = slow ? 300 : 0;
            return reply;
        });
        Brain brain(fake.url());
        QSignalSpy ended(&brain, &Brain::askEnded);
        brain.ask("slow");
        brain.ask("fast");
        QCOMPARE(brain.askedAbout(), QString("fast"));
        QVERIFY(ended.wait(5000));
        QCOMPARE(brain.answer(), QString("fast answer"));
        QCOMPARE(brain.asking(), false);
        QVERIFY(ended.wait(5000));
        QCOMPARE(brain.answer(), QString("slow answer"));
    }

    // A model that goes away abandons its requests; nothing is written later.
    void destroyingTheModelAbandonsItsRequests()
    {
        FakeBrain fake;
        fake.on("POST", "/api/chat", [](const FakeBrain::Request &) {
            Reply reply = Reply::json(q("{'response':'late'}"));
            reply.delayMs = 100;
            return reply;
        });
        Reply later = Reply::json(q("{'briefing':'after'}"));
        later.delayMs = 300;
        fake.on("GET", "/api/structured/briefing", later);
        auto *gone = new Brain(fake.url());
        gone->ask("q");
        gone->closeLoop(Loop{"a", "A"});
        QVERIFY(fake.waitForRequests(2));
        delete gone;
        // A second model's slower exchange outlasts the first one's reply time.
        Brain other(fake.url());
        QSignalSpy ended(&other, &Brain::briefingEnded);
        other.loadBriefing();
        QVERIFY(ended.wait(5000));
        QCOMPARE(other.briefing(), QString("after"));
    }
};

QTEST_GUILESS_MAIN(TestBrainQuestions)
#include "tst_brainquestions.moc"
