// The open-loop list: which reply shapes change it, how a close shrinks it,
// and the order in which observers hear about it.

#include "menubar/brain/brain.h"
#include "tests/brain/brainrecorder.h"
#include "tests/support/fakebrain.h"

#include <QSignalSpy>
#include <QtTest>

using Reply = FakeBrain::Reply;

namespace {

QStringList describe(const QList<Loop> &loops)
{
    QStringList out;
    for (const Loop &l : loops)
        out << l.id + ':' + l.title;
    return out;
}

QByteArray entries(int n)
{
    QByteArrayList parts;
    for (int i = 1; i <= n; ++i)
        parts << "{\"id\":\"" + QByteArray::number(i) + "\",\"title\":\"t" + QByteArray::number(i) + "\"}";
    return '[' + parts.join(',') + ']';
}

QByteArray nested(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

const QList<Loop> before{Loop{"old", "옛 미결"}};
constexpr qint64 totalBefore = 7;

} // namespace

class TestBrainLoops : public QObject
{
    Q_OBJECT

private slots:
    void refreshReplyShapes_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<qint64>("total");         // -1: list and count unchanged
        QTest::addColumn<QStringList>("loops");

        const qint64 unchanged = -1;
        QTest::newRow("loops") << Reply::json(q("{'loops':[{'id':'1','title':'메일 답장'},{'id':'2','title':'B'}]}"))
                               << qint64(2) << QStringList{"1:메일 답장", "2:B"};
        QTest::newRow("open_loops when loops is missing") << Reply::json(q("{'open_loops':[{'id':'x','title':'X'}]}"))
                                                         << qint64(1) << QStringList{"x:X"};
        QTest::newRow("empty loops wins over open_loops") << Reply::json(q("{'loops':[],'open_loops':[{'id':'x','title':'X'}]}"))
                                                         << qint64(0) << QStringList{};
        QTest::newRow("loops wins when both usable") << Reply::json(q("{'open_loops':[{'id':'x','title':'X'}],'loops':[{'id':'l','title':'L'}]}"))
                                                    << qint64(1) << QStringList{"l:L"};
        QTest::newRow("text loops falls through") << Reply::json(q("{'loops':'many','open_loops':[{'id':'x','title':'X'}]}"))
                                                 << qint64(1) << QStringList{"x:X"};
        QTest::newRow("null loops falls through") << Reply::json(q("{'loops':null,'open_loops':[{'id':'x','title':'X'}]}"))
                                                 << qint64(1) << QStringList{"x:X"};
        QTest::newRow("loops holding a number falls through") << Reply::json(q("{'loops':[{'id':'1','title':'A'},3],'open_loops':[{'id':'x','title':'X'}]}"))
                                                             << qint64(1) << QStringList{"x:X"};
        QTest::newRow("loops holding a number, no open_loops") << Reply::json(q("{'loops':[{'id':'1','title':'A'},3]}"))
                                                              << unchanged << QStringList{};
        QTest::newRow("object instead of a list") << Reply::json(q("{'loops':{'id':'1','title':'A'}}"))
                                                 << unchanged << QStringList{};
        QTest::newRow("neither key") << Reply::json(q("{'items':[{'id':'1','title':'A'}]}")) << unchanged << QStringList{};
        QTest::newRow("eight entries, second without title")
            << Reply::json(q("{'loops':[{'id':'1','title':'t1'},{'id':'2'},{'id':'3','title':'t3'},{'id':'4','title':'t4'},"
                             "{'id':'5','title':'t5'},{'id':'6','title':'t6'},{'id':'7','title':'t7'},{'id':'8','title':'t8'}]}"))
            << qint64(8) << QStringList{"1:t1", "3:t3", "4:t4", "5:t5"};
        QTest::newRow("more than five") << Reply::json("{\"loops\":" + entries(12) + '}')
                                       << qint64(12) << QStringList{"1:t1", "2:t2", "3:t3", "4:t4", "5:t5"};
        QTest::newRow("numeric id gives the title") << Reply::json(q("{'loops':[{'id':42,'title':'마흔둘'}]}"))
                                                   << qint64(1) << QStringList{"마흔둘:마흔둘"};
        QTest::newRow("missing or null id gives the title") << Reply::json(q("{'loops':[{'title':'A'},{'id':null,'title':'B'}]}"))
                                                           << qint64(2) << QStringList{"A:A", "B:B"};
        QTest::newRow("empty id is an id") << Reply::json(q("{'loops':[{'id':'','title':'A'}]}"))
                                          << qint64(1) << QStringList{":A"};
        QTest::newRow("number, null, object or bool title skipped")
            << Reply::json(q("{'loops':[{'id':'1','title':1},{'id':'2','title':null},{'id':'3','title':{}},{'id':'4','title':true},{'id':'5','title':'ok'}]}"))
            << qint64(5) << QStringList{"5:ok"};
        QTest::newRow("empty title kept") << Reply::json(q("{'loops':[{'id':'1','title':''}]}")) << qint64(1) << QStringList{"1:"};
        QTest::newRow("count in the reply is not read") << Reply::json(q("{'total':99,'count':99,'loops':[{'id':'1','title':'A'}]}"))
                                                       << qint64(1) << QStringList{"1:A"};
        QTest::newRow("error status with a usable body") << Reply::json(q("{'loops':[{'id':'1','title':'A'}]}"), 500)
                                                        << qint64(1) << QStringList{"1:A"};
        QTest::newRow("array at the top") << Reply::json(q("[{'id':'1','title':'A'}]")) << unchanged << QStringList{};
        QTest::newRow("plain text") << Reply::text("loops: none") << unchanged << QStringList{};
        QTest::newRow("empty body") << Reply::json("") << unchanged << QStringList{};
        QTest::newRow("truncated JSON") << Reply::json(q("{'loops':[{'id':'1','title':'A'}")) << unchanged << QStringList{};
        QTest::newRow("not UTF-8") << Reply::json("{\"loops\":[{\"id\":\"1\",\"title\":\"\xc3\x28\"}]}") << unchanged << QStringList{};
        QTest::newRow("nested 10000 deep") << Reply::json("{\"loops\":[],\"x\":" + nested(10000) + '}') << unchanged << QStringList{};
        QTest::newRow("100000 entries") << Reply::json("{\"loops\":" + entries(100000) + '}')
                                       << qint64(100000) << QStringList{"1:t1", "2:t2", "3:t3", "4:t4", "5:t5"};
        Reply reset = Reply::json("{\"loops\":" + entries(3) + '}');
        reset.mode = FakeBrain::Mode::ResetMidBody;
        QTest::newRow("connection reset mid-body") << reset << unchanged << QStringList{};
        QTest::newRow("connection dropped") << Reply::drop() << unchanged << QStringList{};
    }
    void refreshReplyShapes()
    {
        QFETCH(Reply, reply);
        QFETCH(qint64, total);
        QFETCH(QStringList, loops);
        FakeBrain fake;
        fake.on("GET", "/api/structured/open-loops", reply);
        Brain brain(fake.url());
        brain.setLoops(before);
        brain.setLoopTotal(totalBefore);
        BrainRecorder recorder(&brain);
        QSignalSpy ended(&brain, &Brain::refreshEnded);
        brain.refreshLoops();
        QVERIFY(ended.wait(10000));
        if (total < 0) {
            QCOMPARE(brain.loops(), before);
            QCOMPARE(brain.loopTotal(), totalBefore);
            QVERIFY(recorder.events.isEmpty());
        } else {
            QCOMPARE(brain.loopTotal(), total);
            QCOMPARE(describe(brain.loops()), loops);
            // The count first, then the list; each followed by changed().
            QCOMPARE(recorder.fields(), (QStringList{"loopTotal", "loops"}));
            QVERIFY(recorder.changedInStep());
        }
    }

    void closeLoop_data()
    {
        QTest::addColumn<QList<Loop>>("loops");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<Loop>("closing");
        QTest::addColumn<QString>("server");   // "ok", "error", "drop", "down"
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<qint64>("totalAfter");

        const Loop a{"a", "A"}, b{"b", "B"}, c{"c", "C"};
        QTest::newRow("closed") << QList<Loop>{a, b, c} << qint64(7) << b << "ok" << QStringList{"a:A", "c:C"} << qint64(6);
        QTest::newRow("error reply still closes") << QList<Loop>{a, b} << qint64(2) << a << "error" << QStringList{"b:B"} << qint64(1);
        QTest::newRow("dropped connection still closes") << QList<Loop>{a, b} << qint64(2) << a << "drop" << QStringList{"b:B"} << qint64(1);
        QTest::newRow("server down still closes") << QList<Loop>{a, b} << qint64(2) << a << "down" << QStringList{"b:B"} << qint64(1);
        QTest::newRow("not in the list: count still drops") << QList<Loop>{a, b} << qint64(9) << c << "ok" << QStringList{"a:A", "b:B"} << qint64(8);
        QTest::newRow("duplicates all go, count drops by one") << QList<Loop>{a, b, a} << qint64(3) << a << "ok" << QStringList{"b:B"} << qint64(2);
        QTest::newRow("same id, other title stays") << QList<Loop>{a, Loop{"a", "다른 제목"}} << qint64(2) << a << "ok"
                                                   << QStringList{"a:다른 제목"} << qint64(1);
        QTest::newRow("count never below zero") << QList<Loop>{a} << qint64(0) << a << "ok" << QStringList{} << qint64(0);
    }
    void closeLoop()
    {
        QFETCH(QList<Loop>, loops);
        QFETCH(qint64, total);
        QFETCH(Loop, closing);
        QFETCH(QString, server);
        QFETCH(QStringList, after);
        QFETCH(qint64, totalAfter);
        FakeBrain fake;
        const QByteArray path = "/api/structured/open-loops/" + closing.id.toUtf8() + "/close";
        if (server == "ok")
            fake.on("POST", path, Reply::json("{}"));
        else if (server == "error")
            fake.on("POST", path, Reply::text("nope", 500));
        else if (server == "drop")
            fake.on("POST", path, Reply::drop());
        const QString url = fake.url();
        if (server == "down")
            fake.shutDown();
        Brain brain(url);
        brain.setLoops(loops);
        brain.setLoopTotal(total);
        BrainRecorder recorder(&brain);
        QSignalSpy ended(&brain, &Brain::closeEnded);
        brain.closeLoop(closing);
        QVERIFY(ended.wait(5000));
        QCOMPARE(describe(brain.loops()), after);
        QCOMPARE(brain.loopTotal(), totalAfter);
        // One change of the list, then the count.
        QCOMPARE(recorder.fields(), (QStringList{"loops", "loopTotal"}));
        QVERIFY(recorder.changedInStep());
    }

    // The loop stays listed while its close is out and leaves when it ends.
    void loopLeavesOnlyWhenTheCloseEnds()
    {
        FakeBrain fake;
        Reply slow = Reply::json("{}");
        slow.delayMs = 200;
        fake.on("POST", "/api/structured/open-loops/a/close", slow);
        Brain brain(fake.url());
        const Loop a{"a", "A"};
        brain.setLoops({a});
        brain.setLoopTotal(1);
        QSignalSpy ended(&brain, &Brain::closeEnded);
        brain.closeLoop(a);
        QVERIFY(fake.waitForRequests(1));
        QCOMPARE(brain.loops(), QList<Loop>{a});
        QCOMPARE(ended.count(), 0);
        QVERIFY(ended.wait(5000));
        QVERIFY(brain.loops().isEmpty());
    }

    // Overlapping operations each apply their change when their own request
    // ends: a close that ends after a refresh edits the new list and count.
    void closeEndingAfterARefreshEditsTheNewList()
    {
        FakeBrain fake;
        Reply slowClose = Reply::json("{}");
        slowClose.delayMs = 300;
        fake.on("POST", "/api/structured/open-loops/b/close", slowClose);
        fake.on("GET", "/api/structured/open-loops",
                Reply::json(q("{'loops':[{'id':'b','title':'B'},{'id':'n','title':'새것'}],'x':0}")));
        Brain brain(fake.url());
        brain.setLoops({Loop{"b", "B"}});
        brain.setLoopTotal(1);
        QSignalSpy closed(&brain, &Brain::closeEnded);
        QSignalSpy refreshed(&brain, &Brain::refreshEnded);
        brain.closeLoop(Loop{"b", "B"});
        brain.refreshLoops();
        QVERIFY(refreshed.wait(5000));
        QCOMPARE(closed.count(), 0);
        QCOMPARE(brain.loopTotal(), 2);
        QVERIFY(closed.wait(5000));
        QCOMPARE(describe(brain.loops()), QStringList{"n:새것"});
        QCOMPARE(brain.loopTotal(), 1);
    }

    // Setters notify on every assignment, the same value included.
    void everyAssignmentNotifies()
    {
        Brain brain(QStringLiteral("http://127.0.0.1:1"));
        BrainRecorder recorder(&brain);
        brain.setLoopTotal(0);
        brain.setLoops({});
        brain.setAsking(false);
        brain.setBriefingBusy(false);
        brain.setBriefing(QString());
        brain.setAnswer(QString());
        brain.setAskedAbout(QString());
        QCOMPARE(recorder.fields(), (QStringList{"loopTotal", "loops", "asking", "briefingBusy", "briefing", "answer", "askedAbout"}));
        QVERIFY(recorder.changedInStep());
    }
};

QTEST_GUILESS_MAIN(TestBrainLoops)
#include "tst_brainloops.moc"
