#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/panel/spinner.h"
#include "tests/support/fakebrain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include "textview/textview.h"
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <algorithm>

using namespace Kovel::Bar;
using namespace Kovel::Text;

namespace {

const QByteArray loopsPath = "/api/structured/open-loops";
const QByteArray chatPath = "/api/chat";
const QByteArray briefingPath = "/api/structured/briefing";
constexpr int deadlineMs = 5000;

FakeBrain::Reply delayed(const QByteArray &json, int ms)
{
    FakeBrain::Reply reply = FakeBrain::Reply::json(json);
    reply.delayMs = ms;
    return reply;
}

QByteArray loopsJson(int count, int untitled = -1)
{
    QJsonArray entries;
    for (int i = 0; i < count; ++i) {
        QJsonObject entry{{"id", QStringLiteral("L%1").arg(i + 1)}};
        if (i != untitled)
            entry.insert("title", QStringLiteral("미결 %1").arg(i + 1));
        entries.append(entry);
    }
    return QJsonDocument(QJsonObject{{"loops", entries}}).toJson(QJsonDocument::Compact);
}

QString messageOf(const FakeBrain::Request &request)
{
    return QJsonDocument::fromJson(request.body).object().value("message").toString();
}

// A panel on its own model, talking to a scripted brain; the dashboard opener
// and the quitter are recorded instead of run.
struct Fixture {
    explicit Fixture(const QString &server = QStringLiteral("%1"))
        : brain(QString(server).replace(QStringLiteral("%1"), fake.url()))
        , view(&brain)
    {
        view.setUrlOpener([this](const QUrl &url) { opened.append(url); });
        view.setQuitter([this] { ++quits; });
    }

    // Shows the panel and waits for the refresh it starts.
    bool open()
    {
        QSignalSpy ended(&brain, &Brain::refreshEnded);
        view.show();
        if (!QTest::qWaitForWindowExposed(&view))
            return false;
        return !ended.isEmpty() || ended.wait(deadlineMs);
    }

    // Opened and made the active window, so it takes keyboard focus.
    bool openActive()
    {
        if (!open())
            return false;
        view.activateWindow();
        return QTest::qWaitForWindowActive(&view);
    }

    // With an answer, a briefing and two loop rows on screen.
    bool openEverything()
    {
        fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(2)));
        fake.on("POST", chatPath, FakeBrain::Reply::json(R"({"response":"답"})"));
        fake.on("GET", briefingPath, FakeBrain::Reply::json(R"({"briefing":"오늘"})"));
        if (!openActive())
            return false;
        QSignalSpy asked(&brain, &Brain::askEnded);
        QSignalSpy briefed(&brain, &Brain::briefingEnded);
        brain.ask(QStringLiteral("질문"));
        brain.loadBriefing();
        if (!asked.wait(deadlineMs) || (briefed.isEmpty() && !briefed.wait(deadlineMs)))
            return false;
        return QTest::qWaitFor([this] { return rows().size() == 2 && shown("answerBox") && shown("briefingBox"); },
                               deadlineMs);
    }

    template<class T> T *child(const char *name) const
    {
        T *found = view.findChild<T *>(QLatin1String(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }
    QLineEdit *question() const { return child<QLineEdit>("question"); }
    QPushButton *askButton() const { return child<QPushButton>("askButton"); }
    QString text(const char *name) const { return child<QLabel>(name)->text(); }
    bool shown(const char *name) const { return child<QWidget>(name)->isVisible(); }

    // The loop rows on screen, top to bottom.
    QList<QWidget *> rows() const
    {
        QList<QWidget *> visible;
        for (QWidget *row : view.findChildren<QWidget *>(QStringLiteral("loopRow")))
            if (row->isVisible())
                visible.append(row);
        std::sort(visible.begin(), visible.end(), [](QWidget *a, QWidget *b) { return a->y() < b->y(); });
        return visible;
    }
    QStringList rowTitles() const
    {
        QStringList titles;
        for (QWidget *row : rows())
            titles.append(row->findChild<QAbstractButton *>(QStringLiteral("loopTitle"))->text());
        return titles;
    }

    QList<QByteArray> paths() const
    {
        QList<QByteArray> seen;
        for (const FakeBrain::Request &request : fake.requests())
            seen.append(request.method + ' ' + request.path);
        return seen;
    }

    // Empty when the column is laid out right: 12 px inset, exactly 10 px
    // between the rows on screen (hidden ones add neither height nor a gap),
    // the window as tall as its content.
    QString columnProblem() const
    {
        QList<QRect> shownRows;
        const QWidget *content = view.findChild<QWidget *>(QStringLiteral("column"));
        QLayout *column = content->layout();
        for (int i = 0; i < column->count(); ++i) {
            QLayoutItem *item = column->itemAt(i);
            if (item->widget() && !item->widget()->isVisible())
                continue;
            shownRows.append(item->geometry());
        }
        std::sort(shownRows.begin(), shownRows.end(), [](const QRect &a, const QRect &b) { return a.top() < b.top(); });
        if (view.width() != 380)
            return QStringLiteral("width %1").arg(view.width());
        if (shownRows.first().top() != 12)
            return QStringLiteral("top inset %1").arg(shownRows.first().top());
        for (int i = 1; i < shownRows.size(); ++i) {
            const int gap = shownRows[i].top() - shownRows[i - 1].bottom() - 1;
            if (gap != 10)
                return QStringLiteral("gap %1 before row %2").arg(gap).arg(i);
        }
        const int bottom = content->height() - 1 - shownRows.last().bottom();
        if (bottom != 12)
            return QStringLiteral("bottom inset %1").arg(bottom);
        const int screenHeight = view.screen()->availableGeometry().height();
        if (view.height() != std::min(content->height(), screenHeight))
            return QStringLiteral("window %1 for content %2").arg(view.height()).arg(content->height());
        return QString();
    }

    FakeBrain fake;
    Brain brain;
    BarView view;
    QList<QUrl> opened;
    int quits = 0;
};

}

class TestBarView : public QObject
{
    Q_OBJECT
private slots:
    void firstDisplayWithServerDown();
    void refreshesEachTimeItOpens();
    void questionRoundTrip();
    void sentAsTyped_data();
    void sentAsTyped();
    void questionOutcome_data();
    void questionOutcome();
    void emptyFieldSendsNothing();
    void returnRefusedWhileAsking();
    void subjectsCut_data();
    void subjectsCut();
    void unbreakableSubjectsStayInside_data();
    void unbreakableSubjectsStayInside();
    void loopTitleAsksAboutIt();
    void loopRows_data();
    void loopRows();
    void longTitleStaysOnOneLine();
    void cutTitleTooltipShownLiterally_data();
    void cutTitleTooltipShownLiterally();
    void lineBreaksInTitlesShownAsSpaces_data();
    void lineBreaksInTitlesShownAsSpaces();
    void closeRemovesRowWithoutRefresh();
    void briefingBox_data();
    void briefingBox();
    void dashboardAddress_data();
    void dashboardAddress();
    void quitsAtOnce();
    void tallPanelScrollsWithinTheScreen();
    void serverTextShownLiterally_data();
    void serverTextShownLiterally();
    void dimmedTextFollowsPalette();
    void focusStaysInTheQuestion_data();
    void focusStaysInTheQuestion();
    void tabFollowsVisualOrder();
    void readOnlyTextsShowNoCaret_data();
    void readOnlyTextsShowNoCaret();
    void escapeClosesThePanel();
    void everyControlHasAName();
    void spinnerTurnsOnlyOnScreen();
};

void TestBarView::firstDisplayWithServerDown()
{
    Fixture f;
    f.fake.shutDown();
    QVERIFY(f.open());

    QCOMPARE(f.text("title"), QStringLiteral("📦 KOVEL"));
    QCOMPARE(f.child<QPushButton>("dashboardButton")->text(), QStringLiteral("대시보드 열기"));
    QCOMPARE(f.question()->placeholderText(), QStringLiteral("어제 뭐 했지? / AUTH-3491 뭐였지? …"));
    QCOMPARE(f.askButton()->text(), QStringLiteral("질문"));
    QVERIFY(!f.askButton()->isEnabled());
    QCOMPARE(f.text("loopsHeader"), QStringLiteral("⏳ 미결 0건"));
    QCOMPARE(f.child<QPushButton>("briefingButton")->text(), QStringLiteral("🌅 오늘 브리핑"));
    QVERIFY(f.child<QPushButton>("briefingButton")->isEnabled());
    QCOMPARE(f.text("footerNote"), QStringLiteral("매일 아침 8시 브리핑은 텔레그램·폰으로 자동 발송돼요"));
    QCOMPARE(f.child<QPushButton>("quitButton")->text(), QStringLiteral("종료"));

    QVERIFY(f.rows().isEmpty());
    QVERIFY(!f.shown("remainder"));
    QVERIFY(!f.shown("progressBox"));
    QVERIFY(!f.shown("answerBox"));
    QVERIFY(!f.shown("briefingBox"));
    QTRY_COMPARE(f.columnProblem(), QString());

    // Typing anything, spaces included, enables the button.
    f.question()->setText(QStringLiteral(" "));
    QVERIFY(f.askButton()->isEnabled());
}

void TestBarView::refreshesEachTimeItOpens()
{
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(2)));
    QVERIFY(f.open());
    QCOMPARE(f.paths(), QList<QByteArray>{"GET " + loopsPath});
    QCOMPARE(f.rowTitles(), (QStringList{"· 미결 1", "· 미결 2"}));

    f.view.hide();
    QVERIFY(f.open());
    QCOMPARE(f.paths(), (QList<QByteArray>{"GET " + loopsPath, "GET " + loopsPath}));
}

void TestBarView::questionRoundTrip()
{
    Fixture f;
    f.fake.on("POST", chatPath, delayed(R"({"response":"어제는 회의 세 건과 AUTH-3491 리뷰를 했어요."})", 200));
    QVERIFY(f.open());
    const QString question = QStringLiteral("어제 뭐 했지?");
    f.question()->setText(question);
    QVERIFY(f.askButton()->isEnabled());

    QSignalSpy ended(&f.brain, &Brain::askEnded);
    QTest::mouseClick(f.askButton(), Qt::LeftButton);
    QCOMPARE(f.askButton()->text(), QStringLiteral("찾는 중"));
    QVERIFY(!f.askButton()->isEnabled());
    QVERIFY(f.shown("progressBox"));
    QVERIFY(!f.shown("answerBox"));
    QCOMPARE(f.text("progressText"), QStringLiteral("'어제 뭐 했지?' — 기억을 뒤지는 중… 10~30초"));
    QVERIFY(f.question()->isEnabled() && !f.question()->isReadOnly());
    QTRY_COMPARE(f.columnProblem(), QString());

    QVERIFY(ended.wait(deadlineMs));
    QVERIFY(!f.shown("progressBox"));
    QVERIFY(f.shown("answerBox"));
    QCOMPARE(f.text("answerSubject"), QStringLiteral("💬 어제 뭐 했지?"));
    QCOMPARE(f.child<TextView>("answerText")->toPlainText(),
             QStringLiteral("어제는 회의 세 건과 AUTH-3491 리뷰를 했어요."));
    QCOMPARE(f.askButton()->text(), QStringLiteral("질문"));
    QVERIFY(f.askButton()->isEnabled());
    // The question stays in the field after it was sent.
    QCOMPARE(f.question()->text(), question);
    QCOMPARE(f.view.q(), question);
    QCOMPARE(messageOf(f.fake.requests().last()), question);
    QTRY_COMPARE(f.columnProblem(), QString());
}

void TestBarView::sentAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("two spaces") << QStringLiteral("  ");
    QTest::newRow("surrounding spaces") << QStringLiteral("  어제 뭐 했지?  ");
    QTest::newRow("tab") << QStringLiteral("\t");
}

void TestBarView::sentAsTyped()
{
    QFETCH(QString, typed);
    Fixture f;
    f.fake.on("POST", chatPath, FakeBrain::Reply::json(R"({"response":"네"})"));
    QVERIFY(f.open());
    f.question()->setText(typed);
    QVERIFY(f.askButton()->isEnabled());

    QSignalSpy ended(&f.brain, &Brain::askEnded);
    QTest::keyClick(f.question(), Qt::Key_Return);
    QVERIFY(ended.wait(deadlineMs));
    QCOMPARE(f.fake.requests().last().path, chatPath);
    QCOMPARE(messageOf(f.fake.requests().last()), typed);
    QCOMPARE(f.brain.askedAbout(), typed);
}

void TestBarView::questionOutcome_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown"); // empty: no status box at all

    QTest::newRow("empty answer") << true << QByteArray(R"({"response":""})") << QString();
    QTest::newRow("server down") << false << QByteArray() << QStringLiteral("브레인에 연결할 수 없어요.");
    QTest::newRow("unreadable reply") << true << QByteArray(R"({"status":"ok"})")
                                      << QStringLiteral("(응답 형식을 읽지 못했어요)");
}

void TestBarView::questionOutcome()
{
    QFETCH(bool, serverUp);
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    Fixture f;
    f.fake.on("POST", chatPath, FakeBrain::Reply::json(reply));
    if (!serverUp)
        f.fake.shutDown();
    QVERIFY(f.open());
    f.question()->setText(QStringLiteral("질문"));
    QSignalSpy ended(&f.brain, &Brain::askEnded);
    f.view.submit();
    QVERIFY(ended.wait(deadlineMs));
    QVERIFY(!f.shown("progressBox"));
    QCOMPARE(f.shown("answerBox"), !shown.isEmpty());
    if (!shown.isEmpty())
        QCOMPARE(f.child<TextView>("answerText")->toPlainText(), shown);
    QTRY_COMPARE(f.columnProblem(), QString());
}

void TestBarView::emptyFieldSendsNothing()
{
    Fixture f;
    QVERIFY(f.open());
    QTest::keyClick(f.question(), Qt::Key_Return);
    QTest::mouseClick(f.askButton(), Qt::LeftButton);
    // A question would have set asking at once.
    QVERIFY(!f.brain.asking());
    QVERIFY(!f.shown("progressBox"));
}

void TestBarView::returnRefusedWhileAsking()
{
    Fixture f;
    f.fake.on("POST", chatPath, delayed(R"({"response":"첫 답"})", 400));
    QVERIFY(f.open());
    f.question()->setText(QStringLiteral("첫 질문"));
    QSignalSpy ended(&f.brain, &Brain::askEnded);
    QTest::keyClick(f.question(), Qt::Key_Return);
    QVERIFY(f.brain.asking());

    // Still editable while the question is out, but nothing more is sent.
    QTest::keyClicks(f.question(), "x");
    QCOMPARE(f.question()->text(), QStringLiteral("첫 질문x"));
    QTest::keyClick(f.question(), Qt::Key_Return);
    QTest::mouseClick(f.askButton(), Qt::LeftButton);
    QCOMPARE(f.askButton()->text(), QStringLiteral("찾는 중"));
    QVERIFY(!f.askButton()->isEnabled());
    QCOMPARE(f.brain.askedAbout(), QStringLiteral("첫 질문"));

    QVERIFY(ended.wait(deadlineMs));
    QCOMPARE(f.fake.requests().count(), 2); // the refresh and one question
    QCOMPARE(messageOf(f.fake.requests().last()), QStringLiteral("첫 질문"));
    QVERIFY(f.askButton()->isEnabled());
}

void TestBarView::subjectsCut_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("progressSubject");
    QTest::addColumn<QString>("answerSubject");

    const QString thirty = QStringLiteral("가나다라마바사아자차카타파하거너더러머버서어저처커터퍼허고노");
    QTest::newRow("30 hangul") << thirty << thirty.left(24) << thirty;
    const QString thumbs = QStringLiteral("👍🏽").repeated(45);
    QTest::newRow("45 toned emoji") << thumbs << QStringLiteral("👍🏽").repeated(24) << QStringLiteral("👍🏽").repeated(40);
    const QString flags = QStringLiteral("🇰🇷").repeated(41);
    QTest::newRow("41 flags") << flags << QStringLiteral("🇰🇷").repeated(24) << QStringLiteral("🇰🇷").repeated(40);
    QTest::newRow("short") << QStringLiteral("뭐였지?") << QStringLiteral("뭐였지?") << QStringLiteral("뭐였지?");
}

void TestBarView::subjectsCut()
{
    QFETCH(QString, question);
    QFETCH(QString, progressSubject);
    QFETCH(QString, answerSubject);
    Fixture f;
    f.fake.on("POST", chatPath, delayed(R"({"response":"답"})", 100));
    QVERIFY(f.open());
    f.question()->setText(question);
    QSignalSpy ended(&f.brain, &Brain::askEnded);
    f.view.submit();
    QCOMPARE(f.text("progressText"), "'" + progressSubject + QStringLiteral("' — 기억을 뒤지는 중… 10~30초"));
    QVERIFY(ended.wait(deadlineMs));
    QCOMPARE(f.text("answerSubject"), QStringLiteral("💬 ") + answerSubject);
}

void TestBarView::unbreakableSubjectsStayInside_data()
{
    QTest::addColumn<QString>("question");
    const QString hangul = QStringLiteral("가나다라마바사아자차카타파하거너더러머버서어저처커터퍼허고노도로모보소오조초");
    QTest::newRow("30 hangul, no space") << hangul.left(30);
    QTest::newRow("40 hangul, no space") << hangul.left(40);
    QTest::newRow("40 W") << QString(40, QLatin1Char('W'));
    QTest::newRow("40 W after a word") << QStringLiteral("질문 ") + QString(40, QLatin1Char('W'));
}

// Text that cannot break at a word boundary is broken anywhere (or cut off):
// the panel keeps its width and every control stays on it.
void TestBarView::unbreakableSubjectsStayInside()
{
    QFETCH(QString, question);
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(5)));
    f.fake.on("POST", chatPath, delayed(R"({"response":"답"})", 300));
    QVERIFY(f.open());
    f.question()->setText(question);
    QSignalSpy ended(&f.brain, &Brain::askEnded);

    auto problem = [&f]() -> QString {
        if (f.view.width() != 380)
            return QStringLiteral("panel width %1").arg(f.view.width());
        const auto *scroll = f.child<QScrollArea>("panelScroll");
        const QWidget *content = f.child<QWidget>("column");
        if (content->width() > scroll->viewport()->width())
            return QStringLiteral("column %1 wider than its view %2").arg(content->width()).arg(scroll->viewport()->width());
        for (QAbstractButton *button : f.view.findChildren<QAbstractButton *>()) {
            if (!button->isVisible())
                continue;
            const QRect onPanel(button->mapTo(&f.view, QPoint(0, 0)), button->size());
            if (onPanel.left() < 0 || onPanel.right() >= f.view.width())
                return button->objectName() + QStringLiteral(" at x %1..%2").arg(onPanel.left()).arg(onPanel.right());
        }
        return QString();
    };
    f.view.submit();
    QVERIFY(f.shown("progressBox"));
    QTRY_COMPARE(problem(), QString());
    QTRY_COMPARE(f.columnProblem(), QString());
    QVERIFY(ended.wait(deadlineMs));
    QVERIFY(f.shown("answerBox"));
    QTRY_COMPARE(problem(), QString());
    QTRY_COMPARE(f.columnProblem(), QString());
}

void TestBarView::loopTitleAsksAboutIt()
{
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(R"({"loops":[{"id":"a1","title":"AUTH-3491 리뷰 답장"}]})"));
    f.fake.on("POST", chatPath, delayed(R"({"response":"리뷰 코멘트에 답해야 해요"})", 100));
    QVERIFY(f.open());
    QCOMPARE(f.rows().size(), 1);
    QWidget *row = f.rows().first();
    auto *title = row->findChild<QAbstractButton *>(QStringLiteral("loopTitle"));
    auto *tick = row->findChild<QAbstractButton *>(QStringLiteral("loopTick"));
    QCOMPARE(title->text(), QStringLiteral("· AUTH-3491 리뷰 답장"));
    QCOMPARE(tick->toolTip(), QStringLiteral("끝냄 처리"));
    QVERIFY(!tick->icon().isNull());

    // A click in the empty part of the stretched title still counts.
    QSignalSpy ended(&f.brain, &Brain::askEnded);
    QVERIFY(title->width() > 200);
    QTest::mouseClick(title, Qt::LeftButton, {}, QPoint(title->width() - 5, title->height() / 2));
    QCOMPARE(f.text("progressText"), QStringLiteral("'AUTH-3491 리뷰 답장' — 기억을 뒤지는 중… 10~30초"));
    QVERIFY(ended.wait(deadlineMs));
    QCOMPARE(f.text("answerSubject"), QStringLiteral("💬 AUTH-3491 리뷰 답장"));
    QVERIFY(messageOf(f.fake.requests().last()).startsWith(QStringLiteral("'AUTH-3491 리뷰 답장' — ")));
    // Loop buttons are never disabled, not even while a question is out.
    QVERIFY(title->isEnabled() && tick->isEnabled());
}

void TestBarView::loopRows_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("remainder"); // empty: no remainder line

    const QStringList five{"· 미결 1", "· 미결 2", "· 미결 3", "· 미결 4", "· 미결 5"};
    QTest::newRow("5 of 12") << loopsJson(12) << five << QStringLiteral("⏳ 미결 12건")
                             << QStringLiteral("외 7건 — 대시보드에서 전체 보기");
    QTest::newRow("5 of 5") << loopsJson(5) << five << QStringLiteral("⏳ 미결 5건") << QString();
    QTest::newRow("3 of 3") << loopsJson(3) << five.mid(0, 3) << QStringLiteral("⏳ 미결 3건") << QString();
    QTest::newRow("none") << loopsJson(0) << QStringList() << QStringLiteral("⏳ 미결 0건") << QString();
    QTest::newRow("untitled second of 8")
        << loopsJson(8, 1) << QStringList{"· 미결 1", "· 미결 3", "· 미결 4", "· 미결 5"}
        << QStringLiteral("⏳ 미결 8건") << QStringLiteral("외 4건 — 대시보드에서 전체 보기");
    QTest::newRow("no digit grouping") << loopsJson(1234) << five << QStringLiteral("⏳ 미결 1234건")
                                       << QStringLiteral("외 1229건 — 대시보드에서 전체 보기");
}

void TestBarView::loopRows()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, titles);
    QFETCH(QString, header);
    QFETCH(QString, remainder);
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(reply));
    QVERIFY(f.open());
    QCOMPARE(f.rowTitles(), titles);
    QCOMPARE(f.text("loopsHeader"), header);
    QCOMPARE(f.shown("remainder"), !remainder.isEmpty());
    if (!remainder.isEmpty())
        QCOMPARE(f.text("remainder"), remainder);
    QTRY_COMPARE(f.columnProblem(), QString());
}

void TestBarView::longTitleStaysOnOneLine()
{
    Fixture f;
    const QString longTitle = QStringLiteral("아주 긴 미결 제목 ").repeated(12);
    f.fake.on("GET", loopsPath,
              FakeBrain::Reply::json(QJsonDocument(QJsonObject{{"loops", QJsonArray{
                  QJsonObject{{"id", "s"}, {"title", "짧은 제목"}},
                  QJsonObject{{"id", "l"}, {"title", longTitle}}}}}).toJson()));
    QVERIFY(f.open());
    QTRY_COMPARE(f.columnProblem(), QString());
    const QList<QWidget *> rows = f.rows();
    QCOMPARE(rows.size(), 2);
    auto title = [](QWidget *row) { return row->findChild<QAbstractButton *>(QStringLiteral("loopTitle")); };
    QCOMPARE(rows[1]->height(), rows[0]->height());
    QCOMPARE(title(rows[1])->text(), QStringLiteral("· ") + longTitle);
    // Its tick stays inside the panel, and the cut-off title is there in full as a tooltip.
    QVERIFY(rows[1]->geometry().right() <= f.view.width() - 12);
    auto *tick = rows[1]->findChild<QAbstractButton *>(QStringLiteral("loopTick"));
    QVERIFY(tick->geometry().right() < rows[1]->width());
    QCOMPARE(title(rows[1])->toolTip(), QStringLiteral("· ") + longTitle);
    QVERIFY(title(rows[0])->toolTip().isEmpty());
}

void TestBarView::cutTitleTooltipShownLiterally_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("bold tag") << QStringLiteral("<b>굵게</b> 아주 긴 미결 제목 ").repeated(8);
    QTest::newRow("entity") << QStringLiteral("a &lt; b 아주 긴 미결 제목 ").repeated(8);
    QTest::newRow("plain") << QStringLiteral("아주 긴 미결 제목 ").repeated(12);
}

// The full title of a cut-off row, as a tooltip, reads as it was sent.
void TestBarView::cutTitleTooltipShownLiterally()
{
    QFETCH(QString, title);
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(QJsonDocument(QJsonObject{{"loops", QJsonArray{
        QJsonObject{{"id", "x"}, {"title", title}}}}}).toJson()));
    QVERIFY(f.open());
    QTRY_COMPARE(f.columnProblem(), QString());
    const QString tip = f.rows().first()->findChild<QAbstractButton *>(QStringLiteral("loopTitle"))->toolTip();
    QTextDocument shown;
    if (Qt::mightBeRichText(tip))
        shown.setHtml(tip);
    else
        shown.setPlainText(tip);
    QCOMPARE(shown.toPlainText(), QStringLiteral("· ") + title);
}

void TestBarView::lineBreaksInTitlesShownAsSpaces_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shown");
    QTest::newRow("line separator") << QStringLiteral("회의\u2028메모") << QStringLiteral("회의 메모");
    QTest::newRow("paragraph separator") << QStringLiteral("회의\u2029메모") << QStringLiteral("회의 메모");
    QTest::newRow("newline and tab") << QStringLiteral("a\nb\tc\r\nd") << QStringLiteral("a b c  d");
    QTest::newRow("C0 and C1 controls") << QStringLiteral("a\u0001b\u0085c\u007fd") << QStringLiteral("a b c d");
    QTest::newRow("joined emoji kept") << QStringLiteral("👩\u200d💻 리뷰") << QStringLiteral("👩\u200d💻 리뷰");
}

// A row is one line: whatever would break it shows as a space, on screen and
// to a screen reader; the loop itself (its close, its question) is untouched.
void TestBarView::lineBreaksInTitlesShownAsSpaces()
{
    QFETCH(QString, title);
    QFETCH(QString, shown);
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(QJsonDocument(QJsonObject{{"loops", QJsonArray{
        QJsonObject{{"id", "plain"}, {"title", "한 줄"}}, QJsonObject{{"id", "x"}, {"title", title}}}}}).toJson()));
    QVERIFY(f.open());
    const QList<QWidget *> rows = f.rows();
    QCOMPARE(rows.size(), 2);
    auto *button = rows[1]->findChild<QAbstractButton *>(QStringLiteral("loopTitle"));
    QCOMPARE(button->text(), QStringLiteral("· ") + shown);
    QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), shown);
    QTRY_COMPARE(f.columnProblem(), QString());
    QCOMPARE(rows[1]->height(), rows[0]->height());
    QCOMPARE(f.brain.loops().at(1).title, title);
}

void TestBarView::closeRemovesRowWithoutRefresh()
{
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(2)));
    f.fake.on("POST", loopsPath + "/L1/close", delayed(R"({"ok":true})", 100));
    f.fake.on("GET", briefingPath, FakeBrain::Reply::json(R"({"briefing":"b"})"));
    QVERIFY(f.open());
    f.fake.clearRequests();

    QSignalSpy closed(&f.brain, &Brain::closeEnded);
    QTest::mouseClick(f.rows().first()->findChild<QAbstractButton *>(QStringLiteral("loopTick")), Qt::LeftButton);
    // The row stays while the request is out.
    QCOMPARE(f.rows().size(), 2);
    QVERIFY(closed.wait(deadlineMs));
    QCOMPARE(f.rowTitles(), QStringList{"· 미결 2"});
    QCOMPARE(f.text("loopsHeader"), QStringLiteral("⏳ 미결 1건"));
    QTRY_COMPARE(f.columnProblem(), QString());

    // Any refresh started by the close would reach the server before this.
    QSignalSpy briefed(&f.brain, &Brain::briefingEnded);
    QTest::mouseClick(f.child<QPushButton>("briefingButton"), Qt::LeftButton);
    QVERIFY(briefed.wait(deadlineMs));
    QCOMPARE(f.paths(), (QList<QByteArray>{"POST " + loopsPath + "/L1/close", "GET " + briefingPath}));
}

void TestBarView::briefingBox_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shownAfter"); // empty: box gone

    QTest::newRow("briefing") << QByteArray(R"({"briefing":"09:00 디자인 리뷰\n미결 3건"})")
                              << QStringLiteral("09:00 디자인 리뷰\n미결 3건");
    QTest::newRow("empty briefing") << QByteArray(R"({"briefing":""})") << QString();
    QTest::newRow("no briefing") << QByteArray(R"({"briefing":null})")
                                 << QStringLiteral("오늘은 브리핑할 게 없어요 — 놓친 것도 급한 것도 없다는 뜻!");
}

void TestBarView::briefingBox()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, shownAfter);
    Fixture f;
    f.fake.on("GET", briefingPath, delayed(reply, 150));
    QVERIFY(f.open());
    auto *button = f.child<QPushButton>("briefingButton");
    QVERIFY(!f.shown("briefingBox"));

    QSignalSpy ended(&f.brain, &Brain::briefingEnded);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral("만드는 중…"));
    QVERIFY(!button->isEnabled());
    QVERIFY(f.shown("briefingBox"));
    QCOMPARE(f.text("briefingTitle"), QStringLiteral("🌅 오늘 브리핑"));
    QCOMPARE(f.child<TextView>("briefingText")->toPlainText(),
             QStringLiteral("브리핑을 만드는 중… (일정·미결·어제 맥락을 종합해요)"));
    QTRY_COMPARE(f.columnProblem(), QString());

    QVERIFY(ended.wait(deadlineMs));
    QCOMPARE(button->text(), QStringLiteral("🌅 오늘 브리핑"));
    QVERIFY(button->isEnabled());
    QCOMPARE(f.shown("briefingBox"), !shownAfter.isEmpty());
    if (!shownAfter.isEmpty())
        QCOMPARE(f.child<TextView>("briefingText")->toPlainText(), shownAfter);
    QTRY_COMPARE(f.columnProblem(), QString());
}

void TestBarView::dashboardAddress_data()
{
    QTest::addColumn<QString>("server");   // %1: the fake brain's address
    QTest::addColumn<QString>("expected"); // empty: nothing opened

    QTest::newRow("base") << QStringLiteral("%1") << QStringLiteral("%1/");
    QTest::newRow("trailing slash kept") << QStringLiteral("%1/") << QStringLiteral("%1//");
    QTest::newRow("with a path") << QStringLiteral("%1/kovel") << QStringLiteral("%1/kovel/");
    QTest::newRow("space: no address") << QStringLiteral("http://127.0.0.1:8900 x") << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("not the web") << QStringLiteral("file:///etc") << QString();
}

void TestBarView::dashboardAddress()
{
    QFETCH(QString, server);
    QFETCH(QString, expected);
    Fixture f(server);
    QTest::mouseClick(f.child<QPushButton>("dashboardButton"), Qt::LeftButton);
    if (expected.isEmpty()) {
        QVERIFY(f.opened.isEmpty());
        return;
    }
    QCOMPARE(f.opened.size(), 1);
    QCOMPARE(f.opened.first().toString(), expected.replace(QStringLiteral("%1"), f.fake.url()));
    QVERIFY(f.fake.requests().isEmpty());
}

void TestBarView::quitsAtOnce()
{
    Fixture f;
    f.fake.on("POST", chatPath, delayed(R"({"response":"늦은 답"})", 3000));
    QVERIFY(f.open());
    f.question()->setText(QStringLiteral("오래 걸리는 질문"));
    f.view.submit();
    QVERIFY(f.brain.asking());
    QTest::mouseClick(f.child<QPushButton>("quitButton"), Qt::LeftButton);
    QCOMPARE(f.quits, 1);
}

void TestBarView::serverTextShownLiterally_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("answer");
    QTest::newRow("bold tag") << QStringLiteral("<b>굵게</b>") << QStringLiteral("<b>x</b>");
    QTest::newRow("entity and link") << QStringLiteral("a &amp; b") << QStringLiteral("<a href=\"x\">링크</a> &lt;");
    QTest::newRow("markdown") << QStringLiteral("**별**") << QStringLiteral("# 제목\n*기울임*");
}

void TestBarView::serverTextShownLiterally()
{
    QFETCH(QString, question);
    QFETCH(QString, answer);
    Fixture f;
    f.fake.on("POST", chatPath, FakeBrain::Reply::json(QJsonDocument(QJsonObject{{"response", answer}}).toJson()));
    f.fake.on("GET", briefingPath, FakeBrain::Reply::json(QJsonDocument(QJsonObject{{"briefing", answer}}).toJson()));
    QVERIFY(f.open());
    f.question()->setText(question);
    QSignalSpy asked(&f.brain, &Brain::askEnded);
    f.view.submit();
    QCOMPARE(f.child<QLabel>("progressText")->textFormat(), Qt::PlainText);
    QVERIFY(asked.wait(deadlineMs));
    QSignalSpy briefed(&f.brain, &Brain::briefingEnded);
    QTest::mouseClick(f.child<QPushButton>("briefingButton"), Qt::LeftButton);
    QVERIFY(briefed.wait(deadlineMs));

    auto *answerSubject = f.child<QLabel>("answerSubject");
    QCOMPARE(answerSubject->textFormat(), Qt::PlainText);
    QCOMPARE(answerSubject->text(), QStringLiteral("💬 ") + question);
    QCOMPARE(f.child<TextView>("answerText")->toPlainText(), answer);
    QCOMPARE(f.child<TextView>("briefingText")->toPlainText(), answer);
    // Selectable, but not editable.
    auto *answerText = f.child<TextView>("answerText");
    QVERIFY(answerText->isReadOnly());
    QVERIFY(answerText->textInteractionFlags() & Qt::TextSelectableByMouse);
}

void TestBarView::dimmedTextFollowsPalette()
{
    Fixture f;
    QVERIFY(f.open());
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    QApplication::setPalette(dark);
    // The switch reaches widgets through the event queue.
    auto hint = [&f] { return f.child<QLabel>("footerNote")->palette().color(QPalette::WindowText); };
    QTRY_COMPARE(hint().rgb(), QColor(Qt::white).rgb());
    QVERIFY(qAbs(hint().alphaF() - 0.4) < 0.01);
    const QColor title = f.child<QLabel>("progressText")->palette().color(QPalette::WindowText);
    QCOMPARE(title.rgb(), QColor(Qt::white).rgb());
    QVERIFY(qAbs(title.alphaF() - 0.6) < 0.01);
    QApplication::setPalette(before);
}

void TestBarView::focusStaysInTheQuestion_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("click 질문") << QStringLiteral("ask");
    QTest::newRow("click ✓") << QStringLiteral("tick");
    QTest::newRow("click a loop title") << QStringLiteral("title");
    QTest::newRow("click the briefing button") << QStringLiteral("briefing");
    QTest::newRow("click the dashboard button") << QStringLiteral("dashboard");
    QTest::newRow("Tab to 질문, then Space") << QStringLiteral("tab ask");
}

// Buttons take focus by Tab only: after any click the typing goes on in the
// question field, and a space typed there is a space, not a button press.
void TestBarView::focusStaysInTheQuestion()
{
    QFETCH(QString, action);
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(2)));
    f.fake.on("POST", loopsPath + "/L1/close", delayed("{}", 200));
    f.fake.on("POST", chatPath, delayed(R"({"response":"답"})", 200));
    f.fake.on("GET", briefingPath, delayed(R"({"briefing":"b"})", 200));
    QVERIFY(f.openActive());
    QCOMPARE(QApplication::focusWidget(), f.question());
    QTest::keyClicks(f.question(), "abc");

    QWidget *row = f.rows().first();
    if (action == QLatin1String("ask"))
        QTest::mouseClick(f.askButton(), Qt::LeftButton);
    else if (action == QLatin1String("tick"))
        QTest::mouseClick(row->findChild<QAbstractButton *>(QStringLiteral("loopTick")), Qt::LeftButton);
    else if (action == QLatin1String("title"))
        QTest::mouseClick(row->findChild<QAbstractButton *>(QStringLiteral("loopTitle")), Qt::LeftButton);
    else if (action == QLatin1String("briefing"))
        QTest::mouseClick(f.child<QPushButton>("briefingButton"), Qt::LeftButton);
    else if (action == QLatin1String("dashboard"))
        QTest::mouseClick(f.child<QPushButton>("dashboardButton"), Qt::LeftButton);
    else {
        QTest::keyClick(f.question(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f.askButton());
        QTest::keyClick(f.askButton(), Qt::Key_Space);
        QVERIFY(f.brain.asking());
    }
    QCOMPARE(QApplication::focusWidget(), f.question());
    const int requests = f.fake.requests().size();
    QTest::keyClicks(QApplication::focusWidget(), " d");
    QCOMPARE(f.question()->text(), QStringLiteral("abc d"));
    QCOMPARE(f.fake.requests().size(), requests);
}

// Tab visits every control once, top to bottom and, on one line, left to right.
void TestBarView::tabFollowsVisualOrder()
{
    Fixture f;
    QVERIFY(f.openEverything());
    f.question()->setText(QStringLiteral("다음 질문"));
    QList<QWidget *> chain;
    QWidget *start = f.question();
    start->setFocus(Qt::TabFocusReason);
    for (QWidget *at = start; chain.size() < 40;) {
        chain.append(at);
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
        QVERIFY(at);
        if (at == start)
            break;
    }
    // The chain, rotated to start at the panel's first control.
    auto topLeft = [&f](QWidget *w) { return QRect(w->mapTo(&f.view, QPoint(0, 0)), w->size()); };
    const auto first = std::min_element(chain.begin(), chain.end(), [&](QWidget *a, QWidget *b) {
        return topLeft(a).top() < topLeft(b).top();
    });
    std::rotate(chain.begin(), first, chain.end());
    QStringList names;
    for (QWidget *w : chain)
        names.append(w->objectName());
    for (int i = 1; i < chain.size(); ++i) {
        const QRect before = topLeft(chain[i - 1]);
        const QRect next = topLeft(chain[i]);
        const bool sameLine = next.top() <= before.bottom() && before.top() <= next.bottom();
        const bool below = next.top() > before.center().y();
        QVERIFY2((sameLine && next.left() > before.left()) || (!sameLine && below),
                 qPrintable(names.join(QStringLiteral(" → "))));
    }
    // Every control on the panel is in it.
    QSet<QWidget *> focusable;
    for (QWidget *w : f.view.findChildren<QWidget *>())
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
            focusable.insert(w);
    QCOMPARE(QSet<QWidget *>(chain.begin(), chain.end()), focusable);
    QCOMPARE(names, (QStringList{"dashboardButton", "question", "askButton", "answerText", "briefingButton",
                                 "loopTitle", "loopTick", "loopTitle", "loopTick", "briefingText", "quitButton"}));
}

void TestBarView::readOnlyTextsShowNoCaret_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("answer") << QStringLiteral("answerText");
    QTest::newRow("briefing") << QStringLiteral("briefingText");
}

// A read-only text with focus looks as it does without: no caret (and so no
// caret blinking the idle panel awake twice a second).
void TestBarView::readOnlyTextsShowNoCaret()
{
    QFETCH(QString, name);
    Fixture f;
    QVERIFY(f.openEverything());
    auto *text = f.view.findChild<TextView *>(name);
    QVERIFY(text);
    f.question()->setFocus();
    const QImage unfocused = text->viewport()->grab().toImage();
    text->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), text);
    const QImage focused = text->viewport()->grab().toImage();
    QCOMPARE(focused, unfocused);
    // Still selectable and copied whole.
    QTest::keyClick(text, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(text->selectedText(), text->toPlainText());
}

void TestBarView::escapeClosesThePanel()
{
    Fixture f;
    QVERIFY(f.openActive());
    QTest::keyClick(f.question(), Qt::Key_Escape);
    QTRY_VERIFY(!f.view.isVisible());
}

// A screen reader finds a name on every control; a tick names its loop.
void TestBarView::everyControlHasAName()
{
    Fixture f;
    QVERIFY(f.openEverything());
    for (QWidget *w : f.view.findChildren<QWidget *>()) {
        if (!w->isVisible() || !(w->focusPolicy() & Qt::TabFocus))
            continue;
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
        QVERIFY(a);
        QVERIFY2(!a->text(QAccessible::Name).trimmed().isEmpty(), qPrintable(w->objectName()));
    }
    auto name = [](QWidget *w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    const QList<QWidget *> rows = f.rows();
    QCOMPARE(name(rows[1]->findChild<QAbstractButton *>(QStringLiteral("loopTick"))), QStringLiteral("끝냄 처리: 미결 2"));
    QCOMPARE(name(rows[1]->findChild<QAbstractButton *>(QStringLiteral("loopTitle"))), QStringLiteral("미결 2"));
    QVERIFY(!name(f.question()).isEmpty());
}

// The progress box's spinner turns while the panel shows it, and not while
// the panel is closed with the question still out.
void TestBarView::spinnerTurnsOnlyOnScreen()
{
    Fixture f;
    f.fake.on("POST", chatPath, delayed(R"({"response":"답"})", 400));
    QVERIFY(f.open());
    auto *spinner = f.view.findChild<Spinner *>();
    QVERIFY(spinner);
    QVERIFY(!spinner->isTurning());
    QSignalSpy ended(&f.brain, &Brain::askEnded);
    f.brain.ask(QStringLiteral("질문"));
    QTRY_VERIFY(spinner->isTurning());
    f.view.hide();
    QVERIFY(!spinner->isTurning());
    QVERIFY(f.open());
    QTRY_VERIFY(spinner->isTurning());
    QVERIFY(ended.wait(deadlineMs));
    QVERIFY(!spinner->isTurning());
}

QTEST_MAIN(TestBarView)
void TestBarView::tallPanelScrollsWithinTheScreen()
{
    // Five rows, an answer and a briefing are taller than a small screen: the
    // panel stops at the screen's height and the column scrolls, so the footer
    // can still be reached.
    Fixture f;
    f.fake.on("GET", loopsPath, FakeBrain::Reply::json(loopsJson(5)));
    f.fake.on("POST", chatPath, FakeBrain::Reply::json(QByteArray("{\"response\":\"답\"}")));
    f.fake.on("GET", briefingPath, FakeBrain::Reply::json(QByteArray("{\"briefing\":\"오늘\"}")));
    QVERIFY(f.open());
    QSignalSpy asked(&f.brain, &Brain::askEnded);
    QSignalSpy briefed(&f.brain, &Brain::briefingEnded);
    f.brain.ask(QStringLiteral("질문"));
    f.brain.loadBriefing();
    QVERIFY(asked.wait(deadlineMs));
    QVERIFY(!briefed.isEmpty() || briefed.wait(deadlineMs));

    const int screenHeight = f.view.screen()->availableGeometry().height();
    const QWidget *content = f.child<QWidget>("column");
    QTRY_VERIFY(content->height() > screenHeight);
    QTRY_COMPARE(f.view.height(), screenHeight);
    auto *scroll = f.child<QScrollArea>("panelScroll");
    QVERIFY(scroll->verticalScrollBar()->isVisible());
    scroll->ensureWidgetVisible(f.child<QPushButton>("quitButton"));
    QPushButton *quit = f.child<QPushButton>("quitButton");
    const QRect onPanel(quit->mapTo(&f.view, QPoint(0, 0)), quit->size());
    QVERIFY(f.view.rect().contains(onPanel));
    QTest::mouseClick(quit, Qt::LeftButton);
    QCOMPARE(f.quits, 1);
}

#include "tst_barview.moc"
