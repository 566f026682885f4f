// The open-loop list: which reply shapes change it, how a close shrinks it,
// and the order in which observers hear about it.

#include "menubar/brain/brain.h"
#include "tests/menubar/brain/brainrecorder.h"
#include "tests/support/fakebrain.h"

#include <QFutureWatcherBase>
#include <QPointer>
#include <QSignalSpy>
#include <QThreadPool>
#include <QtTest>

using namespace Kovel::Bar;

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

    // Ticks on a loop whose close is still out are ignored: one request, the
    // count lowered once. Other loops close alongside, and once the close has
    // ended the loop may be closed again.
    void oneCloseAtATimePerLoop_data()
    {
        QTest::addColumn<QList<Loop>>("closes");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<qint64>("totalAfter");
        const Loop a{"a", "A"}, b{"b", "B"};
        QTest::newRow("same loop twice") << QList<Loop>{a, a} << 1 << QStringList{"b:B", "c:C"} << qint64(4);
        QTest::newRow("same loop three times") << QList<Loop>{a, a, a} << 1 << QStringList{"b:B", "c:C"} << qint64(4);
        QTest::newRow("two loops") << QList<Loop>{a, b} << 2 << QStringList{"c:C"} << qint64(3);
        QTest::newRow("two loops, each twice") << QList<Loop>{a, b, b, a} << 2 << QStringList{"c:C"} << qint64(3);
    }
    void oneCloseAtATimePerLoop()
    {
        QFETCH(QList<Loop>, closes);
        QFETCH(int, requests);
        QFETCH(QStringList, after);
        QFETCH(qint64, totalAfter);
        FakeBrain fake;
        Reply slow = Reply::json("{}");
        slow.delayMs = 150;
        fake.otherwise([slow](const FakeBrain::Request &) { return slow; });
        Brain brain(fake.url());
        brain.setLoops({Loop{"a", "A"}, Loop{"b", "B"}, Loop{"c", "C"}});
        brain.setLoopTotal(5);
        QSignalSpy ended(&brain, &Brain::closeEnded);
        for (const Loop &l : closes)
            brain.closeLoop(l);
        // Every call ends, the ignored ones at once.
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), closes.size(), 5000);
        QCOMPARE(fake.requests().size(), requests);
        QCOMPARE(describe(brain.loops()), after);
        QCOMPARE(brain.loopTotal(), totalAfter);

        // Ended: the next close of the same loop goes out again.
        brain.closeLoop(closes.first());
        QVERIFY(ended.wait(5000));
        QCOMPARE(fake.requests().size(), requests + 1);
        QCOMPARE(brain.loopTotal(), totalAfter - 1);
    }

    // A cancelled refresh ends at once and writes nothing, wherever it was:
    // on the network (its connection is given up, so it holds no slot), or
    // with its big reply being read off the main thread.
    void cancelledRefreshWritesNothing_data()
    {
        QTest::addColumn<bool>("bigReply");
        QTest::newRow("held by the server") << false;
        QTest::newRow("reply being read") << true;
    }
    void cancelledRefreshWritesNothing()
    {
        QFETCH(bool, bigReply);
        FakeBrain fake;
        Reply reply;
        if (bigReply) {
            // Some 8 MB: read on a worker.
            reply = Reply::json("{\"loops\":" + entries(150000) + '}');
        } else {
            reply.mode = FakeBrain::Mode::Hold;
        }
        fake.on("GET", "/api/structured/open-loops", reply);
        Brain brain(fake.url());
        brain.setLoops(before);
        brain.setLoopTotal(totalBefore);
        BrainRecorder recorder(&brain);
        QSignalSpy ended(&brain, &Brain::refreshEnded);

        // Cancels as soon as the reading starts: the worker's watcher joins
        // the model, and the cancel runs before anything it posts back.
        struct CancelWhenReading : QObject {
            Brain *brain;
            bool fired = false;
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::ChildAdded) {
                    QPointer<QObject> child = static_cast<QChildEvent *>(e)->child();
                    QTimer::singleShot(0, brain, [this, child] {
                        if (!fired && qobject_cast<QFutureWatcherBase *>(child.data())) {
                            fired = true;
                            brain->cancelRefresh();
                        }
                    });
                }
                return false;
            }
        } canceller;
        canceller.brain = &brain;
        if (bigReply)
            brain.installEventFilter(&canceller);

        brain.refreshLoops();
        QVERIFY(fake.waitForRequests(1));
        if (bigReply) {
            QTRY_VERIFY_WITH_TIMEOUT(canceller.fired, 10000);
            QCOMPARE(ended.count(), 1);
            // Whatever the worker made of the reply is dropped.
            QThreadPool::globalInstance()->waitForDone(10000);
            QCoreApplication::processEvents();
        } else {
            QTRY_COMPARE(fake.heldOpen(), 1);
            brain.cancelRefresh();
            QCOMPARE(ended.count(), 1);
            QTRY_COMPARE_WITH_TIMEOUT(fake.heldOpen(), 0, 5000);
        }
        QCOMPARE(ended.count(), 1);
        QVERIFY(recorder.events.isEmpty());
        QCOMPARE(brain.loops(), before);
        QCOMPARE(brain.loopTotal(), totalBefore);

        // Nothing left to cancel: a second cancel ends nothing.
        brain.cancelRefresh();
        QCOMPARE(ended.count(), 1);
    }

    // Cancelling refreshes touches nothing else that is out.
    void cancelLeavesOtherOperationsOut()
    {
        FakeBrain fake;
        Reply held;
        held.mode = FakeBrain::Mode::Hold;
        fake.on("GET", "/api/structured/open-loops", held);
        auto slow = [](const QByteArray &json) { Reply r = Reply::json(json); r.delayMs = 150; return r; };
        fake.on("POST", "/api/chat", slow(q("{'response':'답'}")));
        fake.on("GET", "/api/structured/briefing", slow(q("{'briefing':'브리핑'}")));
        fake.on("POST", "/api/structured/open-loops/a/close", slow("{}"));
        Brain brain(fake.url());
        brain.setLoops({Loop{"a", "A"}, Loop{"b", "B"}});
        brain.setLoopTotal(2);
        QSignalSpy refreshed(&brain, &Brain::refreshEnded);
        QSignalSpy asked(&brain, &Brain::askEnded);
        QSignalSpy briefed(&brain, &Brain::briefingEnded);
        QSignalSpy closed(&brain, &Brain::closeEnded);
        brain.refreshLoops();
        brain.ask("q");
        brain.loadBriefing();
        brain.closeLoop(Loop{"a", "A"});
        QVERIFY(fake.waitForRequests(4));
        brain.cancelRefresh();
        QCOMPARE(refreshed.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(asked.count() == 1 && briefed.count() == 1 && closed.count() == 1, 5000);
        QCOMPARE(brain.answer(), QStringLiteral("답"));
        QCOMPARE(brain.briefing(), QStringLiteral("브리핑"));
        QCOMPARE(describe(brain.loops()), QStringList{"b:B"});
        QCOMPARE(brain.loopTotal(), 1);
    }

    // A refresh with no usable reply changes nothing on screen, but says why
    // on the debug log; a usable one says nothing there.
    void unusableRefreshIsLogged_data()
    {
        QTest::addColumn<QString>("server");   // "down", or a reply body
        QTest::addColumn<QString>("reason");   // empty: nothing logged
        QTest::newRow("server down") << "down" << "no reply";
        QTest::newRow("not JSON") << "<html>" << "not a JSON object";
        QTest::newRow("a JSON array") << "[]" << "not a JSON object";
        QTest::newRow("no usable list") << "{\"loops\":3}" << "is a list of objects";
        QTest::newRow("usable") << "{\"loops\":[]}" << "";
    }
    void unusableRefreshIsLogged()
    {
        QFETCH(QString, server);
        QFETCH(QString, reason);
        FakeBrain fake;
        fake.on("GET", "/api/structured/open-loops", Reply::json(server.toUtf8()));
        const QString url = fake.url();
        if (server == "down")
            fake.shutDown();
        Brain brain(url);
        brain.setLoops(before);
        brain.setLoopTotal(totalBefore);
        if (reason.isEmpty())
            QTest::failOnWarning(QRegularExpression("."));
        else
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^open loops not refreshed from " + QRegularExpression::escape(url)
                                                                  + " - .*" + QRegularExpression::escape(reason)));
        QSignalSpy ended(&brain, &Brain::refreshEnded);
        brain.refreshLoops();
        QVERIFY(ended.wait(5000));
        if (!reason.isEmpty()) {
            QCOMPARE(brain.loops(), before);
            QCOMPARE(brain.loopTotal(), totalBefore);
        }
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
