// Race drills for the menu bar client: replies that arrive after the panel
// has moved on, many requests out at once, and a server that answers them in
// the reverse of the order they were sent. Nothing crashes, and each reply
// is applied when it arrives, by the rules of its own operation.

#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/panel/looprow.h"
#include "tests/support/fakebrain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include "textview/textview.h"
#include <QPointer>
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
constexpr int deadlineMs = 20000;

QByteArray compact(const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

QList<Loop> makeLoops(int from, int count)
{
    QList<Loop> loops;
    for (int i = from; i < from + count; ++i)
        loops.append(Loop{QStringLiteral("L%1").arg(i), QStringLiteral("미결 %1").arg(i)});
    return loops;
}

QByteArray loopsJson(const QList<Loop> &loops, int total = -1)
{
    QJsonArray entries;
    for (const Loop &l : loops)
        entries.append(QJsonObject{{"id", l.id}, {"title", l.title}});
    for (int i = loops.size(); i < total; ++i)
        entries.append(QJsonObject{{"id", QStringLiteral("X%1").arg(i)}, {"title", QStringLiteral("더 %1").arg(i)}});
    return compact(QJsonObject{{"loops", entries}});
}

FakeBrain::Reply after(int ms, const QByteArray &json)
{
    FakeBrain::Reply r = FakeBrain::Reply::json(json);
    r.delayMs = ms;
    return r;
}

QByteArray closePath(const Loop &l) { return "/api/structured/open-loops/" + l.id.toUtf8() + "/close"; }

// Counts the ticks of a 5 ms timer: a frozen window would stop it.
struct Ticker {
    Ticker()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
        timer.start(5);
    }
    bool keepsTicking()
    {
        const int at = ticks;
        return QTest::qWaitFor([&] { return ticks > at + 2; }, deadlineMs);
    }
    QTimer timer;
    int ticks = 0;
};

QList<Loop> shownRows(const QWidget &view)
{
    QList<Loop> loops;
    for (LoopRow *r : view.findChildren<LoopRow *>())
        if (!r->isHidden())
            loops.append(r->loop());
    return loops;
}

bool openAndRefresh(BarView &view, Brain &brain)
{
    QSignalSpy ended(&brain, &Brain::refreshEnded);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return false;
    return !ended.isEmpty() || ended.wait(deadlineMs);
}

} // namespace

class TestPanelRaces : public QObject
{
    Q_OBJECT

private slots:
    void answerAfterThePanelIsGone_data();
    void answerAfterThePanelIsGone();
    void answerWhileThePanelIsHidden();
    void closeOfALoopTheListNoLongerHolds();
    void rowsRebuiltWhileTheirClosesAreOut();
    void manyClosesInFlight_data();
    void manyClosesInFlight();
    void repliesInReverseOrder();
    void rowsShownAfterChangesWhileHidden_data();
    void rowsShownAfterChangesWhileHidden();
};

// The question is out when its panel goes: with the model (its requests go
// with it) or without it (the model lives on and takes the answer).
void TestPanelRaces::answerAfterThePanelIsGone_data()
{
    QTest::addColumn<bool>("modelGoesToo");
    QTest::newRow("panel and model destroyed") << true;
    QTest::newRow("panel destroyed, model kept") << false;
}

void TestPanelRaces::answerAfterThePanelIsGone()
{
    QFETCH(bool, modelGoesToo);
    FakeBrain fake;
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(makeLoops(1, 2))));
    fake.on("POST", chatPath, after(300, compact(QJsonObject{{"response", "늦은 답"}})));
    fake.on("GET", briefingPath, after(300, compact(QJsonObject{{"briefing", "늦은 브리핑"}})));

    auto kept = std::make_unique<Brain>(fake.url());
    QPointer<Brain> brain = modelGoesToo ? new Brain(fake.url()) : kept.get();
    auto *panel = new BarView(brain.data());
    if (modelGoesToo)
        brain->setParent(panel);
    QVERIFY(openAndRefresh(*panel, *brain));
    panel->findChild<QLineEdit *>(QStringLiteral("question"))->setText(QStringLiteral("어제?"));
    panel->submit();
    brain->loadBriefing();
    QVERIFY(brain->asking());
    QVERIFY(fake.waitForRequests(3, deadlineMs));

    Ticker ticker;
    delete panel;
    QCOMPARE(brain.isNull(), modelGoesToo);
    // A later question, answered after both: once it is back, the server
    // has sent (or given up on) the earlier replies.
    fake.on("POST", chatPath, after(600, compact(QJsonObject{{"response", "마지막"}})));
    Brain witness(fake.url());
    QSignalSpy witnessed(&witness, &Brain::askEnded);
    witness.ask(QStringLiteral("끝?"));
    QVERIFY(witnessed.wait(deadlineMs));
    QCOMPARE(witness.answer(), QStringLiteral("마지막"));
    QVERIFY(ticker.keepsTicking());
    if (!modelGoesToo) {
        QTRY_COMPARE_WITH_TIMEOUT(kept->answer(), QStringLiteral("늦은 답"), deadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(kept->briefing(), QStringLiteral("늦은 브리핑"), deadlineMs);
        QVERIFY(!kept->asking());
        QVERIFY(!kept->briefingBusy());
    }
}

// A panel hidden (the popup closed) while its question is out shows the
// answer when it is opened again.
void TestPanelRaces::answerWhileThePanelIsHidden()
{
    FakeBrain fake;
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(makeLoops(1, 2))));
    fake.on("POST", chatPath, after(200, compact(QJsonObject{{"response", "숨어 있던 답"}})));
    Brain brain(fake.url());
    BarView view(&brain);
    QVERIFY(openAndRefresh(view, brain));
    view.findChild<QLineEdit *>(QStringLiteral("question"))->setText(QStringLiteral("뭐였지?"));
    view.submit();
    QSignalSpy answered(&brain, &Brain::askEnded);
    view.hide();
    Ticker ticker;
    QVERIFY(answered.wait(deadlineMs));
    QVERIFY(ticker.keepsTicking());
    QVERIFY(openAndRefresh(view, brain));
    QCOMPARE(view.findChild<TextView *>(QStringLiteral("answerText"))->toPlainText(),
             QStringLiteral("숨어 있던 답"));
    QVERIFY(view.findChild<QWidget *>(QStringLiteral("answerBox"))->isVisible());
    QVERIFY(!view.findChild<QWidget *>(QStringLiteral("progressBox"))->isVisible());
}

// A refresh replaces the list while a close is out; the close then finds its
// loop gone, removes nothing, and still lowers the new count by one.
void TestPanelRaces::closeOfALoopTheListNoLongerHolds()
{
    FakeBrain fake;
    const QList<Loop> first = makeLoops(1, 3);
    const QList<Loop> second = makeLoops(2, 5);   // L1 is gone, L2..L6 listed
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(first)));
    fake.on("POST", closePath(first[0]), after(400, "{}"));
    Brain brain(fake.url());
    BarView view(&brain);
    QVERIFY(openAndRefresh(view, brain));
    QTRY_COMPARE(shownRows(view), first);

    QSignalSpy closed(&brain, &Brain::closeEnded);
    brain.closeLoop(first[0]);
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(second, 9)));
    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    brain.refreshLoops();
    QVERIFY(refreshed.wait(deadlineMs));
    QVERIFY(closed.isEmpty());
    QCOMPARE(brain.loops(), second);
    QCOMPARE(brain.loopTotal(), 9);

    Ticker ticker;
    QVERIFY(closed.wait(deadlineMs));
    QCOMPARE(brain.loops(), second);
    QCOMPARE(brain.loopTotal(), 8);
    QTRY_COMPARE(shownRows(view), second);
    QVERIFY(ticker.keepsTicking());
}

// Ticks clicked on every row, then the rows are rebuilt by a refresh before
// any close comes back: each close still lands, on the model, by equality.
void TestPanelRaces::rowsRebuiltWhileTheirClosesAreOut()
{
    FakeBrain fake;
    const QList<Loop> loops = makeLoops(1, 5);
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(loops, 7)));
    for (int i = 0; i < loops.size(); ++i)
        fake.on("POST", closePath(loops[i]), after(300 + 50 * i, "{}"));
    Brain brain(fake.url());
    BarView view(&brain);
    QVERIFY(openAndRefresh(view, brain));
    QTRY_COMPARE(shownRows(view), loops);

    QSignalSpy closed(&brain, &Brain::closeEnded);
    for (LoopRow *row : view.findChildren<LoopRow *>())
        if (!row->isHidden())
            QTest::mouseClick(row->tickButton(), Qt::LeftButton);
    // The same list again: new rows for the same loops.
    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    brain.setLoops({});
    brain.refreshLoops();
    QVERIFY(refreshed.wait(deadlineMs));
    QCOMPARE(brain.loops(), loops);

    Ticker ticker;
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 5, deadlineMs);
    QVERIFY(brain.loops().isEmpty());
    QCOMPARE(brain.loopTotal(), 2);
    QTRY_VERIFY(shownRows(view).isEmpty());
    QVERIFY(ticker.keepsTicking());
}

void TestPanelRaces::manyClosesInFlight_data()
{
    QTest::addColumn<int>("closes");
    QTest::addColumn<bool>("someDropped");
    QTest::newRow("5 shown, all answered") << 5 << false;
    QTest::newRow("200 at once, every third dropped") << 200 << true;
}

// Many closes out at once, answered in a scattered order, some with no
// answer at all: every one lowers the count once, none goes below 0.
void TestPanelRaces::manyClosesInFlight()
{
    QFETCH(int, closes);
    QFETCH(bool, someDropped);
    FakeBrain fake;
    const QList<Loop> shown = makeLoops(1, 5);
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(shown, 150)));
    fake.otherwise([someDropped](const FakeBrain::Request &r) {
        const int n = r.path.split('/').value(4).mid(1).toInt();
        if (someDropped && n % 3 == 0)
            return FakeBrain::Reply::drop();
        return after(20 + (n * 37) % 300, "{}");
    });
    Brain brain(fake.url());
    BarView view(&brain);
    QVERIFY(openAndRefresh(view, brain));

    QSignalSpy closed(&brain, &Brain::closeEnded);
    const QList<Loop> toClose = makeLoops(1, closes);
    for (const Loop &l : toClose)
        brain.closeLoop(l);
    Ticker ticker;
    QTRY_COMPARE_WITH_TIMEOUT(closed.size(), closes, deadlineMs);
    QVERIFY(brain.loops().isEmpty());
    QCOMPARE(brain.loopTotal(), std::max<qint64>(0, 150 - closes));
    QTRY_VERIFY(shownRows(view).isEmpty());
    QVERIFY(ticker.keepsTicking());
}

// Every kind of request out at once, answered last-sent-first: each reply is
// applied when it arrives, so the refresh sent first has the last word.
void TestPanelRaces::repliesInReverseOrder()
{
    FakeBrain fake;
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(makeLoops(1, 5), 6)));
    Brain brain(fake.url());
    BarView view(&brain);
    QVERIFY(openAndRefresh(view, brain));

    // Sent in this order; the n-th of N answered after (N - n) steps.
    constexpr int step = 150;
    const QList<Loop> oldList = makeLoops(10, 2);
    const QList<Loop> newList = makeLoops(20, 3);
    int refreshes = 0;
    fake.on("GET", loopsPath, [&](const FakeBrain::Request &) {
        return ++refreshes == 1 ? after(5 * step, loopsJson(oldList)) : after(4 * step, loopsJson(newList));
    });
    fake.on("GET", briefingPath, after(3 * step, compact(QJsonObject{{"briefing", "오늘 브리핑"}})));
    fake.on("POST", chatPath, after(2 * step, compact(QJsonObject{{"answer", "답"}})));
    fake.on("POST", closePath(Loop{"L1", "미결 1"}), after(1 * step, "{}"));

    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    QSignalSpy closed(&brain, &Brain::closeEnded);
    QSignalSpy briefed(&brain, &Brain::briefingEnded);
    QSignalSpy answered(&brain, &Brain::askEnded);
    brain.refreshLoops();
    brain.refreshLoops();
    brain.loadBriefing();
    view.findChild<QLineEdit *>(QStringLiteral("question"))->setText(QStringLiteral("뭐?"));
    view.submit();
    brain.closeLoop(Loop{"L1", "미결 1"});
    Ticker ticker;

    // The close, answered first, works on the list from before.
    QVERIFY(closed.wait(deadlineMs));
    QVERIFY(refreshed.isEmpty());
    QCOMPARE(brain.loops(), makeLoops(2, 4));
    QCOMPARE(brain.loopTotal(), 5);
    QVERIFY(answered.wait(deadlineMs));
    QCOMPARE(brain.answer(), QStringLiteral("답"));
    QVERIFY(briefed.wait(deadlineMs));
    QCOMPARE(brain.briefing(), QStringLiteral("오늘 브리핑"));
    QTRY_COMPARE_WITH_TIMEOUT(refreshed.size(), 1, deadlineMs);
    QCOMPARE(brain.loops(), newList);
    QTRY_COMPARE_WITH_TIMEOUT(refreshed.size(), 2, deadlineMs);
    QCOMPARE(brain.loops(), oldList);
    QCOMPARE(brain.loopTotal(), 2);

    QTRY_COMPARE(shownRows(view), oldList);
    QCOMPARE(view.findChild<TextView *>(QStringLiteral("answerText"))->toPlainText(), QStringLiteral("답"));
    QCOMPARE(view.findChild<TextView *>(QStringLiteral("briefingText"))->toPlainText(), QStringLiteral("오늘 브리핑"));
    QVERIFY(ticker.keepsTicking());
}

// Whatever changed the list while the panel was closed, every loop the
// model holds has its row on screen at the next opening, and at the one
// after (the server then sends the same list again).
void TestPanelRaces::rowsShownAfterChangesWhileHidden_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("a refresh answered while hidden") << QStringLiteral("refresh");
    QTest::newRow("the opening's refresh cut off by closing") << QStringLiteral("late refresh");
    QTest::newRow("a close answered while hidden") << QStringLiteral("close");
    QTest::newRow("palette light to dark while hidden") << QStringLiteral("palette");
}

void TestPanelRaces::rowsShownAfterChangesWhileHidden()
{
    QFETCH(QString, change);
    FakeBrain fake;
    const QList<Loop> before = makeLoops(1, 2);
    const QList<Loop> after3 = makeLoops(1, 3);
    fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(before)));
    fake.on("POST", closePath(before[0]), after(300, "{}"));
    Brain brain(fake.url());
    BarView view(&brain);
    QVERIFY(openAndRefresh(view, brain));
    QCOMPARE(shownRows(view), before);
    const QPalette light = QApplication::palette();

    QSignalSpy refreshed(&brain, &Brain::refreshEnded);
    QSignalSpy closed(&brain, &Brain::closeEnded);
    QList<Loop> expected;
    if (change == QLatin1String("refresh")) {
        fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(after3)));
        view.hide();
        brain.refreshLoops();
        QVERIFY(refreshed.wait(deadlineMs));
        expected = after3;
    } else if (change == QLatin1String("late refresh")) {
        fake.on("GET", loopsPath, after(300, loopsJson(after3)));
        view.hide();
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.hide();
        // Closing cancels the opening's refresh, which then ends at once.
        QVERIFY(!refreshed.isEmpty() || refreshed.wait(deadlineMs));
        expected = after3;
    } else if (change == QLatin1String("close")) {
        QTest::mouseClick(view.findChildren<LoopRow *>().first()->tickButton(), Qt::LeftButton);
        view.hide();
        QVERIFY(closed.wait(deadlineMs));
        QCOMPARE(brain.loops(), before.mid(1));
        // The server has taken the close: it lists one loop fewer from now on.
        fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(before.mid(1))));
        expected = before.mid(1);
    } else {
        view.hide();
        QPalette dark = light;
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Window, QColor(30, 30, 30));
        QApplication::setPalette(dark);
        QTRY_COMPARE(view.palette().color(QPalette::WindowText).rgb(), QColor(Qt::white).rgb());
        expected = before;
    }

    for (int opening = 0; opening < 2; ++opening) {
        QVERIFY(openAndRefresh(view, brain));
        // The late refresh's list may land either way; the rows follow the model.
        if (change == QLatin1String("late refresh"))
            expected = brain.loops();
        QCOMPARE(brain.loops(), expected);
        QTRY_COMPARE(shownRows(view), expected);
        int onScreen = 0;
        for (LoopRow *row : view.findChildren<LoopRow *>())
            onScreen += row->isVisible() ? 1 : 0;
        QCOMPARE(onScreen, expected.size());
        view.hide();
    }
    QApplication::setPalette(light);
}

QTEST_MAIN(TestPanelRaces)
#include "tst_panelraces.moc"
