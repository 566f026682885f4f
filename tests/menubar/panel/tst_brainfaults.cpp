// Fault drills for the menu bar client: every operation of the panel against
// a brain that fails in one of the ways real servers and networks do. In each
// case the shown panel keeps ticking, ends in the state its operation
// specifies for that outcome, and shows exactly what its model holds.

#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/panel/looprow.h"
#include "tests/menubar/brain/scaledlimits.h"
#include "tests/support/fakebrain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include "textview/textview.h"
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace Kovel::Bar;
using namespace Kovel::Text;

namespace {

const QByteArray loopsPath = "/api/structured/open-loops";
const QByteArray chatPath = "/api/chat";
const QByteArray briefingPath = "/api/structured/briefing";
const QString unreachable = QStringLiteral("브레인에 연결할 수 없어요.");

// One second of idle limit lasts this long here: close 15 s → 300 ms,
// reads 90 s → 1.8 s, questions 120 s → 2.4 s.
constexpr int idleSecondMs = 20;
constexpr int deadlineMs = 30000;

enum class Op { Refresh, Ask, Briefing, Close };
enum class Fault {
    Refused, ResetMidBody, HeadersThenSilence, Trickle, Big, InvalidUtf8, DeepNesting,
    Endless, Oversized, TricklePastDeadline,
};

// Seconds of idle limit of each operation.
int limitSeconds(Op op)
{
    switch (op) {
    case Op::Refresh:
    case Op::Briefing: return 90;
    case Op::Ask: return 120;
    case Op::Close: return 15;
    }
    return 0;
}

QByteArray compact(const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

QByteArray loopsJson(int count, const QString &prefix)
{
    QJsonArray entries;
    for (int i = 0; i < count; ++i)
        entries.append(QJsonObject{{"id", QStringLiteral("%1-%2").arg(prefix).arg(i)},
                                   {"title", QStringLiteral("%1 미결 %2").arg(prefix).arg(i)}});
    return compact(QJsonObject{{"loops", entries}});
}

// About `bytes` of text in lines of mixed scripts.
QString bigText(qsizetype bytes)
{
    const QString line = QStringLiteral("긴 답변 줄 — a long answer line with ✓ and 🧠 to wrap: 0123456789\n");
    const qsizetype lineBytes = line.toUtf8().size();
    QString text;
    text.reserve(bytes / lineBytes * line.size() + line.size());
    for (qsizetype n = 0; n < bytes; n += lineBytes)
        text += line;
    return text;
}

// A JSON object with the given text field, its value nested `depth` arrays deep.
QByteArray deepJson(const char *key, int depth)
{
    QByteArray body = "{\"" + QByteArray(key) + "\":\"깊다\",\"deep\":";
    body += QByteArray(depth, '[');
    body += QByteArray(depth, ']');
    body += '}';
    return body;
}

const char *textKey(Op op) { return op == Op::Briefing ? "briefing" : "response"; }

// The body an operation would be glad to get, and what it shows from it.
QByteArray goodBody(Op op, const QString &text)
{
    if (op == Op::Refresh)
        return loopsJson(2, QStringLiteral("천천히"));
    return compact(QJsonObject{{textKey(op), text}});
}

} // namespace

class TestBrainFaults : public QObject
{
    Q_OBJECT

private slots:
    void everyOperationUnderEveryFault_data();
    void everyOperationUnderEveryFault();
    void closedPanelsLeaveNoRefreshOut();
};

void TestBrainFaults::everyOperationUnderEveryFault_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("fault");
    const QList<QPair<Op, const char *>> ops = {
        {Op::Refresh, "refresh"}, {Op::Ask, "ask"}, {Op::Briefing, "briefing"}, {Op::Close, "close"}};
    const QList<QPair<Fault, const char *>> faults = {
        {Fault::Refused, "connection refused"},
        {Fault::ResetMidBody, "reset mid-body"},
        {Fault::HeadersThenSilence, "headers then silence"},
        {Fault::Trickle, "trickle outlasting the limit"},
        {Fault::Big, "20 MB body"},
        {Fault::InvalidUtf8, "invalid UTF-8 body"},
        {Fault::DeepNesting, "JSON nested 10000 deep"},
        {Fault::Endless, "endless body"},
        {Fault::Oversized, "1 GiB announced and sent"},
        {Fault::TricklePastDeadline, "trickle past the deadline"},
    };
    for (const auto &op : ops)
        for (const auto &fault : faults)
            QTest::addRow("%s, %s", op.second, fault.second) << int(op.first) << int(fault.first);
}

void TestBrainFaults::everyOperationUnderEveryFault()
{
    QFETCH(int, op);
    QFETCH(int, fault);
    const Op o = Op(op);
    const Fault f = Fault(fault);

    // A trickle past the deadline is drilled with a 5 ms second.
    const int secondMs = f == Fault::TricklePastDeadline ? 5 : idleSecondMs;
    FakeBrain fake;
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(3, QStringLiteral("처음"))));
    Brain brain(fake.url(), nullptr, scaledLimits(secondMs));
    BarView view(&brain);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    {
        QSignalSpy first(&brain, &Brain::refreshEnded);
        QVERIFY(first.wait(deadlineMs));
    }
    const QList<Loop> before = brain.loops();
    QCOMPARE(before.size(), 3);

    // What the server sends for the operation's request.
    const QString slowText = QStringLiteral("느리게 왔어요 ✓");
    const QString big = bigText(20 * 1024 * 1024);
    const int bigLoops = 20 * 1024 * 1024 / 60;
    FakeBrain::Reply reply;
    bool usable = false;        // a reply the operation can read
    QString expectedText;       // what ask/briefing show when usable
    switch (f) {
    case Fault::Refused:
        break;
    case Fault::ResetMidBody:
        reply = FakeBrain::Reply::json(goodBody(o, slowText) + QByteArray(4096, ' '));
        reply.mode = FakeBrain::Mode::ResetMidBody;
        break;
    case Fault::HeadersThenSilence:
        reply = FakeBrain::Reply::json(goodBody(o, slowText));
        reply.mode = FakeBrain::Mode::HeadersThenSilence;
        break;
    case Fault::Trickle: {
        // Keeps sending every 25 ms for one and a half idle limits.
        const int steps = limitSeconds(o) * secondMs * 3 / 2 / 25;
        QByteArray body = goodBody(o, slowText);
        const int bytesPerStep = 2;
        if (body.size() < steps * bytesPerStep)
            body += QByteArray(steps * bytesPerStep - body.size(), ' ');
        reply = FakeBrain::Reply::json(body);
        reply.mode = FakeBrain::Mode::Trickle;
        reply.trickleBytes = bytesPerStep;
        reply.trickleIntervalMs = 25;
        usable = true;
        expectedText = slowText;
        break;
    }
    case Fault::Big:
        if (o == Op::Refresh) {
            reply = FakeBrain::Reply::json(loopsJson(bigLoops, QStringLiteral("큰")));
        } else {
            reply = FakeBrain::Reply::json(compact(QJsonObject{{textKey(o), big}}));
            expectedText = big;
        }
        usable = true;
        break;
    case Fault::InvalidUtf8:
        reply = FakeBrain::Reply::json(QByteArray("{\"") + textKey(o) + "\":\"ab\xff\xfe\xc3(\",\"loops\":[]}");
        break;
    case Fault::DeepNesting:
        reply = FakeBrain::Reply::json(deepJson(textKey(o), 10000));
        break;
    case Fault::Endless:
    case Fault::Oversized:
        // A usable opening, then bytes for ever.
        reply = FakeBrain::Reply::json(QByteArray("{\"") + textKey(o) + "\":\"");
        reply.mode = FakeBrain::Mode::Endless;
        if (f == Fault::Oversized)
            reply.announcedLength = qint64(1) << 30;
        break;
    case Fault::TricklePastDeadline: {
        // Never silent for long, but slower than the whole exchange may take:
        // with a 5 ms second, 25 ms per step would need eight deadlines.
        const int steps = limitSeconds(o) * secondMs * BrainLimits{}.deadlineIdleLimits * 8 / 25;
        QByteArray body = goodBody(o, slowText);
        body += QByteArray(std::max<qsizetype>(0, steps - body.size()), ' ');
        reply = FakeBrain::Reply::json(body);
        reply.mode = FakeBrain::Mode::Trickle;
        reply.trickleBytes = 1;
        reply.trickleIntervalMs = 25;
        break;
    }
    }
    const QByteArray path = o == Op::Refresh ? loopsPath
        : o == Op::Ask ? chatPath
        : o == Op::Briefing ? briefingPath
        : "/api/structured/open-loops/" + before.first().id.toUtf8() + "/close";
    fake.on(o == Op::Refresh || o == Op::Briefing ? "GET" : "POST", path, reply);
    if (f == Fault::Refused)
        fake.shutDown();

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(5);

    std::unique_ptr<QSignalSpy> ended;
    switch (o) {
    case Op::Refresh:
        ended = std::make_unique<QSignalSpy>(&brain, &Brain::refreshEnded);
        brain.refreshLoops();
        break;
    case Op::Ask:
        ended = std::make_unique<QSignalSpy>(&brain, &Brain::askEnded);
        view.findChild<QLineEdit *>(QStringLiteral("question"))->setText(QStringLiteral("어제 뭐 했지?"));
        view.submit();
        QVERIFY(brain.asking());
        break;
    case Op::Briefing:
        ended = std::make_unique<QSignalSpy>(&brain, &Brain::briefingEnded);
        brain.loadBriefing();
        break;
    case Op::Close: {
        ended = std::make_unique<QSignalSpy>(&brain, &Brain::closeEnded);
        const QList<LoopRow *> rows = view.findChildren<LoopRow *>();
        LoopRow *row = nullptr;
        for (LoopRow *r : rows)
            if (!r->isHidden() && r->loop() == before.first())
                row = r;
        QVERIFY(row);
        QTest::mouseClick(row->tickButton(), Qt::LeftButton);
        break;
    }
    }
    QElapsedTimer waited;
    waited.start();
    QVERIFY(ended->wait(deadlineMs));
    if (f == Fault::Endless || f == Fault::Oversized) {
        // Given up while reading: the stream stops, and no more was taken
        // than the limit and what the sockets hold on the way.
        QTRY_COMPARE_WITH_TIMEOUT(fake.endlessOpen(), 0, deadlineMs);
        QVERIFY2(fake.endlessBytes() < BrainLimits{}.maxReplyBytes + 24 * 1024 * 1024,
                 QByteArray::number(fake.endlessBytes()).constData());
    }
    // The window lived through the wait (a wait too short for one tick
    // proves nothing either way), and lives on after it.
    if (waited.elapsed() > 100)
        QVERIFY(ticks > 0);
    const int ticksAtEnd = ticks;
    QTRY_VERIFY_WITH_TIMEOUT(ticks > ticksAtEnd + 2, deadlineMs);

    auto shownText = [&view](const char *name) {
        return view.findChild<TextView *>(QLatin1String(name))->toPlainText();
    };
    auto shownRows = [&view] {
        QList<Loop> loops;
        for (LoopRow *r : view.findChildren<LoopRow *>())
            if (!r->isHidden())
                loops.append(r->loop());
        return loops;
    };

    switch (o) {
    case Op::Refresh:
        if (!usable) {
            QCOMPARE(brain.loops(), before);
            QCOMPARE(brain.loopTotal(), 3);
        } else if (f == Fault::Big) {
            QCOMPARE(brain.loopTotal(), bigLoops);
            QCOMPARE(brain.loops().size(), 5);
            QCOMPARE(brain.loops().first().title, QStringLiteral("큰 미결 0"));
        } else {
            QCOMPARE(brain.loopTotal(), 2);
            QCOMPARE(brain.loops().first().title, QStringLiteral("천천히 미결 0"));
        }
        QTRY_COMPARE(shownRows().size(), brain.loops().size());
        for (const Loop &l : shownRows())
            QVERIFY(brain.loops().contains(l));
        break;
    case Op::Ask:
        QVERIFY(!brain.asking());
        QCOMPARE(brain.answer(), usable ? expectedText : unreachable);
        QCOMPARE(shownText("answerText"), brain.answer());
        QVERIFY(view.findChild<QWidget *>(QStringLiteral("answerBox"))->isVisible());
        QVERIFY(!view.findChild<QWidget *>(QStringLiteral("progressBox"))->isVisible());
        break;
    case Op::Briefing:
        QVERIFY(!brain.briefingBusy());
        QCOMPARE(brain.briefing(),
                 usable ? expectedText : QStringLiteral("브레인에 연결할 수 없어요 — ") + brain.server());
        QCOMPARE(shownText("briefingText"), brain.briefing());
        break;
    case Op::Close:
        // Closed locally whatever came back.
        QCOMPARE(brain.loops(), before.mid(1));
        QCOMPARE(brain.loopTotal(), 2);
        QTRY_COMPARE(shownRows().size(), 2);
        break;
    }
}

// A brain that never answers the open loops, and the panel opened and closed
// six times: each closing gives up its opening's refresh, so the connections
// to the server are free and a question asked at the next opening goes out
// at once. Questions, closes and the briefing are not given up by closing.
void TestBrainFaults::closedPanelsLeaveNoRefreshOut()
{
    // The real limits: a held refresh would stay out 90 s.
    FakeBrain fake;
    FakeBrain::Reply held;
    held.mode = FakeBrain::Mode::Hold;
    fake.on("GET", loopsPath, held);
    FakeBrain::Reply slow = FakeBrain::Reply::json(compact(QJsonObject{{"briefing", "늦은 브리핑"}}));
    slow.delayMs = 300;
    fake.on("GET", briefingPath, slow);
    fake.on("POST", chatPath, FakeBrain::Reply::json(compact(QJsonObject{{"response", "바로 왔어요"}})));
    Brain brain(fake.url());
    brain.setLoops({Loop{"a", "A"}});
    brain.setLoopTotal(1);
    BarView view(&brain);
    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    QSignalSpy briefed(&brain, &Brain::briefingEnded);

    for (int opening = 1; opening <= 6; ++opening) {
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(fake.waitForRequests(opening == 1 ? 1 : opening + 1, deadlineMs));
        if (opening == 1) {
            // Started from an open panel, carried on after it closed.
            brain.loadBriefing();
            QVERIFY(fake.waitForRequests(2, deadlineMs));
        }
        view.hide();
        QCOMPARE(refreshed.count(), opening);
    }
    QTRY_COMPARE_WITH_TIMEOUT(fake.heldOpen(), 0, deadlineMs);
    // Nothing a cancelled refresh wrote.
    QCOMPARE(brain.loops(), (QList<Loop>{Loop{"a", "A"}}));
    QCOMPARE(brain.loopTotal(), 1);

    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.findChild<QLineEdit *>(QStringLiteral("question"))->setText(QStringLiteral("지금?"));
    view.submit();
    QVERIFY(QTest::qWaitFor([&] {
        const QList<FakeBrain::Request> seen = fake.requests();
        return std::any_of(seen.begin(), seen.end(), [](const FakeBrain::Request &r) { return r.path == chatPath; });
    }, 3000));
    QVERIFY(fake.heldOpen() < 6);
    QSignalSpy asked(&brain, &Brain::askEnded);
    QVERIFY(!brain.asking() || asked.wait(deadlineMs));
    QCOMPARE(brain.answer(), QStringLiteral("바로 왔어요"));
    QVERIFY(briefed.count() == 1 || briefed.wait(deadlineMs));
    QCOMPARE(brain.briefing(), QStringLiteral("늦은 브리핑"));
}

QTEST_MAIN(TestBrainFaults)
#include "tst_brainfaults.moc"
