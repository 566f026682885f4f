// The installer window's content: what it shows for each state, its enabling
// rules, Return as the start button's key, and the size it keeps.

#include "installer/core/installerstate.h"
#include "installer/window/contentview.h"
#include "installer/window/logview.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace Kovel::Installer;

namespace {

// A window over its own state, its buttons counting presses.
struct Window {
    InstallerState state;
    int starts = 0, dashboards = 0, connects = 0;
    ContentView view{state, ContentActions{[this] { ++starts; }, [this] { ++dashboards; }, [this] { ++connects; }, {}}};

    template <class T> T *get(const char *name)
    {
        T *w = view.findChild<T *>(QLatin1String(name));
        if (!w) qFatal("no widget %s", name);
        return w;
    }
    QPushButton *start() { return get<QPushButton>("start"); }
    QPushButton *dashboard() { return get<QPushButton>("dashboard"); }
    QPushButton *connect() { return get<QPushButton>("connect"); }
    QLineEdit *pairCode() { return get<QLineEdit>("pairCode"); }
    QLineEdit *aiPairCode() { return get<QLineEdit>("aiPairCode"); }
    bool shows(const char *name) { return get<QWidget>(name)->isVisibleTo(&view); }

    void show()
    {
        view.show();
        if (!QTest::qWaitForWindowExposed(&view)) qFatal("window not exposed");
    }
};

QString roleName(Role r) { return QStringLiteral("role-") + r.rawValue(); }

// A radio button reacts to clicks on its circle and label only.
void choose(QRadioButton *b) { QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2)); }

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT
private slots:
    void firstWindow();
    void choicesAndFieldsFollowTheState();
    void startRule_data();
    void startRule();
    void connectRule_data();
    void connectRule();
    void noteFollowsEngine();
    void returnPressesStart_data();
    void returnPressesStart();
    void returnInTheAiCodeField_data();
    void returnInTheAiCodeField();
    void dashboardOfferedAfterAFailure();
    void whileRunningAndAfter();
    void buttonsCallTheirOperations();
    void minimumSize();
    void nothingClippedAtMinimum_data();
    void nothingClippedAtMinimum();
};

void TestContentView::firstWindow()
{
    Window w;
    w.show();
    QVERIFY(w.get<QRadioButton>("role-all-in-one")->isChecked());
    QVERIFY(w.get<QRadioButton>("engine-ollama")->isChecked());
    QVERIFY(!w.get<QRadioButton>("engine-subscription")->isChecked());
    QVERIFY(w.shows("engineBlock"));
    QVERIFY(!w.shows("sensorBlock"));
    QVERIFY(!w.shows("subscriptionNote"));
    QCOMPARE(w.start()->text(), QStringLiteral("시작"));
    QVERIFY(w.start()->isEnabled());
    QVERIFY(!w.dashboard()->isVisibleTo(&w.view));
    QVERIFY(!w.connect()->isEnabled());
    auto *log = w.get<LogView>("log");
    QVERIFY(log->isEmpty());
    QCOMPARE(log->placeholderText(), QStringLiteral("역할을 고르고 [시작]을 누르세요."));
    QCOMPARE(w.get<QGroupBox>("progress")->title(), QStringLiteral("진행 상황"));

    // The radio buttons in role order, with their labels.
    const auto roles = Role::allCases();
    int lastY = -1;
    for (Role r : roles) {
        auto *b = w.get<QRadioButton>(qPrintable(roleName(r)));
        QCOMPARE(b->text(), r.label());
        QVERIFY(b->y() > lastY);
        lastY = b->y();
    }
}

void TestContentView::choicesAndFieldsFollowTheState()
{
    Window w;
    w.show();
    choose(w.get<QRadioButton>("role-sensor"));
    QCOMPARE(w.state.role(), Role::sensor);
    QVERIFY(w.shows("sensorBlock"));
    QVERIFY(!w.shows("engineBlock"));

    QTest::keyClicks(w.get<QLineEdit>("serverURL"), QStringLiteral(" my.brain:8900 "));
    QCOMPARE(w.state.serverURL(), QStringLiteral(" my.brain:8900 "));
    // A write by an operation (the normalised address) shows in the field.
    w.state.setServerURL(QStringLiteral("http://내서버:8900"));
    QCOMPARE(w.get<QLineEdit>("serverURL")->text(), QStringLiteral("http://내서버:8900"));

    QTest::keyClicks(w.aiPairCode(), QStringLiteral("AB12"));
    QCOMPARE(w.state.aiPairCode(), QStringLiteral("AB12"));

    w.state.setRole(Role::server);
    QVERIFY(w.get<QRadioButton>("role-server")->isChecked());
    QVERIFY(w.shows("engineBlock"));
    choose(w.get<QRadioButton>("role-all-in-one"));
    QCOMPARE(w.state.role(), Role::allInOne);
}

void TestContentView::startRule_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("all-in-one needs no code") << "all-in-one" << "" << true;
    QTest::newRow("server needs no code") << "server" << "" << true;
    QTest::newRow("sensor without code") << "sensor" << "" << false;
    QTest::newRow("sensor, one blank counts") << "sensor" << " " << true;
    QTest::newRow("sensor with code") << "sensor" << "123456" << true;
}

void TestContentView::startRule()
{
    QFETCH(QString, role);
    QFETCH(QString, typed);
    QFETCH(bool, enabled);
    Window w;
    w.show();
    choose(w.get<QRadioButton>(qPrintable("role-" + role)));
    QTest::keyClicks(w.pairCode(), typed);
    QCOMPARE(w.state.pairCode(), typed);
    QCOMPARE(w.start()->isEnabled(), enabled);

    // Emptying the field again goes back to the rule's start.
    w.pairCode()->selectAll();
    QTest::keyClick(w.pairCode(), Qt::Key_Backspace);
    QCOMPARE(w.start()->isEnabled(), role != QLatin1String("sensor"));
}

void TestContentView::connectRule_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("one blank counts") << " " << true;
    QTest::newRow("code") << "XY-42" << true;
}

void TestContentView::connectRule()
{
    QFETCH(QString, typed);
    QFETCH(bool, enabled);
    Window w;
    w.show();
    QTest::keyClicks(w.aiPairCode(), typed);
    QCOMPARE(w.connect()->isEnabled(), enabled);
    w.state.setRunning(true);
    QVERIFY(!w.connect()->isEnabled());
}

void TestContentView::noteFollowsEngine()
{
    Window w;
    w.show();
    auto *note = w.get<QLabel>("subscriptionNote");
    QCOMPARE(note->text(), QStringLiteral("요약·질문답변은 내 구독 AI(Claude Code 또는 Codex 로그인)로, 화면 기록·검색은 이 맥에만 "
                                          "저장돼요. 밖으로 나가는 호출은 전부 감사 로그에 남습니다."));
    choose(w.get<QRadioButton>("engine-subscription"));
    QCOMPARE(w.state.engine(), Engine::subscription);
    QVERIFY(w.shows("subscriptionNote"));
    choose(w.get<QRadioButton>("engine-ollama"));
    QCOMPARE(w.state.engine(), Engine::ollama);
    QVERIFY(!w.shows("subscriptionNote"));
    // The note stays with the engine block when the sensor block replaces it.
    w.state.setEngine(Engine::subscription);
    w.state.setRole(Role::sensor);
    QVERIFY(!w.shows("subscriptionNote"));
    w.state.setRole(Role::server);
    QVERIFY(w.shows("subscriptionNote"));
}

void TestContentView::returnPressesStart_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("sensorWithoutCode");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("starts");

    for (const char *focus : {"pairCode", "serverURL", "role-sensor", "log"}) {
        QTest::addRow("%s, enabled", focus) << focus << false << false << 1;
        QTest::addRow("%s, no code", focus) << focus << true << false << 0;
    }
    QTest::newRow("start, enabled") << "start" << false << false << 1;
    QTest::newRow("running") << "log" << false << true << 0;
}

// In the AI code field, and on its button, Return is the connect button's:
// it never starts the setup, whether or not connecting is possible.
void TestContentView::returnInTheAiCodeField_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("connects");
    QTest::newRow("aiPairCode, code typed") << "aiPairCode" << "AB12" << false << 1;
    QTest::newRow("aiPairCode, no code") << "aiPairCode" << "" << false << 0;
    QTest::newRow("connect, code typed") << "connect" << "AB12" << false << 1;
    QTest::newRow("aiPairCode, running") << "aiPairCode" << "AB12" << true << 0;
}

void TestContentView::returnInTheAiCodeField()
{
    QFETCH(QString, focus);
    QFETCH(QString, code);
    QFETCH(bool, running);
    QFETCH(int, connects);
    Window w;
    w.state.setAiPairCode(code);
    w.show();
    QWidget *target = w.get<QWidget>(qPrintable(focus));
    target->setFocus();
    QVERIFY(target->hasFocus());
    w.state.setRunning(running);
    QWidget *receiver = QApplication::focusWidget() ? QApplication::focusWidget() : &w.view;
    QTest::keyClick(receiver, Qt::Key_Return);
    QTest::keyClick(receiver, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(w.connects, connects * 2);
    QCOMPARE(w.starts, 0);
    QCOMPARE(w.state.aiPairCode(), code);
}

void TestContentView::returnPressesStart()
{
    QFETCH(QString, focus);
    QFETCH(bool, sensorWithoutCode);
    QFETCH(bool, running);
    QFETCH(int, starts);

    Window w;
    w.state.setRole(Role::sensor);
    if (!sensorWithoutCode) w.state.setPairCode(QStringLiteral("123456"));
    w.show();
    QWidget *target = w.get<QWidget>(qPrintable(focus));
    target->setFocus();
    QVERIFY(target->hasFocus());
    w.state.setRunning(running);
    QWidget *receiver = QApplication::focusWidget() ? QApplication::focusWidget() : &w.view;
    QTest::keyClick(receiver, Qt::Key_Return);
    QTest::keyClick(receiver, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(w.starts, starts * 2);
    // Return in a field leaves its text alone.
    QCOMPARE(w.state.pairCode(), sensorWithoutCode ? QString() : QStringLiteral("123456"));
}

void TestContentView::whileRunningAndAfter()
{
    Window w;
    w.state.setAiPairCode(QStringLiteral("code"));
    w.state.setDone(true);
    w.show();
    QVERIFY(w.dashboard()->isVisibleTo(&w.view));

    // A run begins: done false, running true.
    w.state.setDone(false);
    w.state.setRunning(true);
    QCOMPARE(w.start()->text(), QStringLiteral("실행 중…"));
    QVERIFY(!w.start()->isEnabled());
    QVERIFY(!w.dashboard()->isVisibleTo(&w.view));
    QVERIFY(!w.connect()->isEnabled());
    for (const char *name : {"roleChoice", "engineBlock", "aiTools", "role-server", "engine-subscription", "aiPairCode"})
        QVERIFY2(!w.get<QWidget>(name)->isEnabled(), name);
    w.state.setRole(Role::sensor);
    QVERIFY(!w.get<QWidget>("sensorBlock")->isEnabled());
    QVERIFY(!w.pairCode()->isEnabled());
    // The log stays usable: it can be scrolled and copied from.
    QVERIFY(w.get<QWidget>("log")->isEnabled());

    // It ends well.
    w.state.setRole(Role::allInOne);
    w.state.setRunning(false);
    w.state.setDone(true);
    QCOMPARE(w.start()->text(), QStringLiteral("시작"));
    QVERIFY(w.start()->isEnabled());
    QVERIFY(w.connect()->isEnabled());
    QVERIFY(w.get<QWidget>("roleChoice")->isEnabled());
    QVERIFY(w.dashboard()->isVisibleTo(&w.view));
    QCOMPARE(w.dashboard()->text(), QStringLiteral("대시보드 열기"));
    QVERIFY(w.dashboard()->isEnabled());
    QTRY_VERIFY(w.dashboard()->x() > w.start()->x() + w.start()->width() - 1);
    QCOMPARE(w.dashboard()->y() + w.dashboard()->height() / 2, w.start()->y() + w.start()->height() / 2);

    // It ends badly: no dashboard button.
    w.state.setDone(false);
    QVERIFY(!w.dashboard()->isVisibleTo(&w.view));
}

// A failed run may offer the dashboard too (the brain may already run).
void TestContentView::dashboardOfferedAfterAFailure()
{
    Window w;
    w.show();
    w.state.setDashboardOffered(true);
    QVERIFY(!w.state.done());
    QVERIFY(w.dashboard()->isVisibleTo(&w.view));
    QTest::mouseClick(w.dashboard(), Qt::LeftButton);
    QCOMPARE(w.dashboards, 1);
    w.state.setRunning(true);
    QVERIFY(!w.dashboard()->isVisibleTo(&w.view));
}

void TestContentView::buttonsCallTheirOperations()
{
    Window w;
    w.state.setDone(true);
    w.state.setAiPairCode(QStringLiteral("c"));
    w.show();
    QTest::mouseClick(w.start(), Qt::LeftButton);
    QTest::mouseClick(w.dashboard(), Qt::LeftButton);
    QTest::mouseClick(w.connect(), Qt::LeftButton);
    QCOMPARE(w.starts, 1);
    QCOMPARE(w.dashboards, 1);
    QCOMPARE(w.connects, 1);

    // Disabled buttons call nothing.
    w.state.setRunning(true);
    QTest::mouseClick(w.start(), Qt::LeftButton);
    QTest::mouseClick(w.connect(), Qt::LeftButton);
    QCOMPARE(w.starts, 1);
    QCOMPARE(w.connects, 1);
}

void TestContentView::minimumSize()
{
    Window w;
    w.show();
    QCOMPARE(w.view.minimumWidth(), 560);
    QVERIFY(w.view.minimumHeight() >= 520);
    QCOMPARE(w.view.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    w.view.resize(300, 200);
    QCOMPARE(w.view.size(), w.view.minimumSize());
    w.view.resize(900, 800);
    QCOMPARE(w.view.size(), QSize(900, 800));
}

void TestContentView::nothingClippedAtMinimum_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<bool>("subscription");
    QTest::addColumn<bool>("done");
    QTest::newRow("first window") << "all-in-one" << false << false;
    QTest::newRow("subscription note, dashboard") << "server" << true << true;
    QTest::newRow("sensor block, dashboard") << "sensor" << false << true;
}

void TestContentView::nothingClippedAtMinimum()
{
    QFETCH(QString, role);
    QFETCH(bool, subscription);
    QFETCH(bool, done);
    Window w;
    w.state.setRole(*Role::fromRawValue(role));
    w.state.setEngine(subscription ? Engine::subscription : Engine::ollama);
    w.state.setDone(done);
    w.view.resize(560, 520);
    w.show();
    // The smallest the window can be; where the content does not fit in
    // 560 by 520 the minimum grows rather than anything being cut off.
    QCOMPARE(w.view.minimumWidth(), 560);
    QVERIFY(w.view.minimumHeight() >= 520);
    w.view.resize(w.view.minimumSize());
    QTRY_COMPARE(w.view.size(), w.view.minimumSize());

    // Every visible text and control gets at least the room it asks for and
    // lies inside the window's padding.
    const QRect inside = w.view.rect().adjusted(22, 22, -22, -22);
    const auto widgets = w.view.findChildren<QWidget *>();
    for (QWidget *c : widgets) {
        if (!c->isVisibleTo(&w.view) || !(qobject_cast<QLabel *>(c) || qobject_cast<QAbstractButton *>(c)
                                          || qobject_cast<QLineEdit *>(c)))
            continue;
        const QString what = c->objectName() + QLatin1Char(' ') + c->metaObject()->className() + QLatin1Char(' ')
                             + (qobject_cast<QLabel *>(c) ? qobject_cast<QLabel *>(c)->text() : QString());
        const QRect r(c->mapTo(&w.view, QPoint(0, 0)), c->size());
        QVERIFY2(inside.contains(r), qPrintable(what));
        const int needed = c->hasHeightForWidth() ? c->heightForWidth(c->width()) : c->minimumSizeHint().height();
        QVERIFY2(c->height() >= needed, qPrintable(what));
        if (!c->hasHeightForWidth())
            QVERIFY2(c->width() >= c->minimumSizeHint().width(), qPrintable(what));
    }
    // And the log keeps a line of room; it scrolls.
    auto *log = w.get<LogView>("log");
    QVERIFY(log->viewport()->height() >= QFontMetrics(log->font()).lineSpacing());
}

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
