// The log view: shows the log as a terminal would however it arrives, keeps
// the end in view only while the user is there, keeps the user's selection,
// starts over when a run begins.

#include "installer/core/installerstate.h"
#include "installer/window/logview.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace Kovel::Installer;

namespace {

QString lines(int from, int count)
{
    QString s;
    for (int i = from; i < from + count; ++i)
        s += QStringLiteral("줄 %1 — line ✓\n").arg(i);
    return s;
}

// The view's text once it has caught up with the log.
QString shownFor(const QStringList &pieces)
{
    InstallerState state;
    LogView view(state);
    for (const QString &p : pieces)
        state.appendToLog(p);
    if (!QTest::qWaitFor([&] { return !view.hasPending(); }, 20000))
        return QStringLiteral("(not caught up)");
    return view.text();
}

const QString esc = QStringLiteral("\x1b");

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT
private slots:
    void startsEmptyWithPlaceholder();
    void showsTheLogAsATerminalWould_data();
    void showsTheLogAsATerminalWould();
    void piecesSplitAnywhereShowTheSame();
    void copyingCopiesWhatIsShown();
    void aFloodIsShownInSlices();
    void aNewRunStartsOver();
    void followsTheEndUntilScrolledAway();
    void selectionSurvivesAppendsAndCopies();
    void keyboardAndMouseSelect();
    void aVeryLongLineIsFoldedAndCopiedWhole_data();
    void aVeryLongLineIsFoldedAndCopiedWhole();
    void aLineStillBeingWrittenIsShown();
    void accessibilitySeesTheLog();
};

void TestLogView::startsEmptyWithPlaceholder()
{
    InstallerState state;
    LogView view(state);
    view.resize(400, 300);
    view.show();
    QVERIFY(view.isReadOnly());
    QVERIFY(view.textInteractionFlags() & Qt::TextSelectableByMouse);
    QVERIFY(view.textInteractionFlags() & Qt::TextSelectableByKeyboard);
    QCOMPARE(view.margin(), 6);
    QCOMPARE(view.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    const QFontMetrics metrics(view.font());
    QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('W')));
    QCOMPARE(view.placeholderText(), QStringLiteral("역할을 고르고 [시작]을 누르세요."));
    QVERIFY(view.isEmpty());
    QCOMPARE(state.log(), QString());   // the placeholder is the view's, not the log's
    // Typing changes nothing: the view is read-only.
    view.setFocus();
    QTest::keyClicks(&view, QStringLiteral("ab"));
    QTest::keyClick(&view, Qt::Key_Return);
    QVERIFY(view.isEmpty());
    QCOMPARE(state.log(), QString());
}

void TestLogView::showsTheLogAsATerminalWould_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("shown");

    QTest::newRow("lines and half-lines") << QStringList{"설치 시작\n", "다운로드 ", "42%", "\n완료\n"}
                                          << QStringLiteral("설치 시작\n다운로드 42%\n완료\n");
    QTest::newRow("no trailing newline") << QStringList{"a", "b", "c"} << QStringLiteral("abc");
    QTest::newRow("emoji and combining marks") << QStringList{"🧠 메뉴바 앱 설치\n", "⚠️ 경고\n", "👩‍💻 e\u0301\n", "🔗"}
                                               << QStringLiteral("🧠 메뉴바 앱 설치\n⚠️ 경고\n👩‍💻 e\u0301\n🔗");
    QTest::newRow("crlf split across pieces") << QStringList{"one\r", "\ntwo\r\n", "three\r", "four\n"}
                                              << QStringLiteral("one\ntwo\nfoure\n");
    QTest::newRow("blank lines kept") << QStringList{"\n\n", "x\n\n\n", "\n"} << QStringLiteral("\n\nx\n\n\n\n");
    QTest::newRow("a progress bar stays one row")
        << QStringList{"받는 중\n", "\r 10%", "\r 20%", "\r100%", "\n끝\n"} << QStringLiteral("받는 중\n100%\n끝\n");
    QTest::newRow("a shorter text writes over the start only") << QStringList{"abcdef\rxy\n"} << QStringLiteral("xycdef\n");
    QTest::newRow("over wide characters, character for character")
        << QStringList{"가나다\r라\n", "👩‍💻x\ry\n"} << QStringLiteral("라나다\nyx\n");
    QTest::newRow("over a letter and its mark, as one") << QStringList{"ae\u0301b\rxy\n", "x\u0301yz\rab\n"}
                                                        << QStringLiteral("xyb\nabz\n");
    QTest::newRow("return then erase the line") << QStringList{"abcdef\r" + esc + "[Kxy\n", "gh" + esc + "[2Kij\n"}
                                                << QStringLiteral("xy\n  ij\n");
    QTest::newRow("colours are not shown")
        << QStringList{esc + "[32mOK" + esc + "[0m 끝\n", "a" + esc + "[1;31mb" + esc + "[mc\n"}
        << QStringLiteral("OK 끝\nabc\n");
    QTest::newRow("a sequence split across pieces") << QStringList{"a" + esc, "[3", "1mb\n"} << QStringLiteral("ab\n");
    QTest::newRow("a title sequence") << QStringList{esc + "]0;제목\x07" + "done\n"} << QStringLiteral("done\n");
    QTest::newRow("a broken sequence keeps its line end") << QStringList{"a" + esc + "[1\nb\n"} << QStringLiteral("a\nb\n");

    QStringList many;
    QString manyShown;
    for (int i = 0; i < 2000; ++i) {
        many << QStringLiteral("조각 %1 🧩 ").arg(i);
        manyShown += many.last();
        if (i % 7 == 0) {
            many << QStringLiteral("\n");
            manyShown += u'\n';
        }
    }
    QTest::newRow("two thousand pieces") << many << manyShown;

    // One piece larger than a slice, with a surrogate pair across every
    // possible slice edge nearby.
    QString big = lines(0, 4000);
    QString pairs;
    for (int i = 0; i < 64; ++i)
        pairs += QStringLiteral("😀a");
    big.insert(LogView::sliceChars - 70, pairs);
    big.insert(16 * 1024 - 3, pairs);
    QTest::newRow("piece larger than a slice") << QStringList{big, "끝\n"} << big + QStringLiteral("끝\n");
}

void TestLogView::showsTheLogAsATerminalWould()
{
    QFETCH(QStringList, pieces);
    QFETCH(QString, shown);
    InstallerState state;
    LogView view(state);
    view.resize(400, 300);
    view.show();
    for (const QString &p : pieces)
        state.appendToLog(p);
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.text(), shown);
    QCOMPARE(state.log(), pieces.join(QString()));   // the log keeps every character
}

// However the output is cut into pieces, the same text is shown: the state
// of a return, a sequence or a half-written line carries across pieces.
void TestLogView::piecesSplitAnywhereShowTheSame()
{
    const QString output = QStringLiteral("설치\r\n") + esc + QStringLiteral("[1m굵게") + esc
        + QStringLiteral("[0m 끝\n 0%\r 50%\r100%\r\n") + esc + QStringLiteral("]0;t\x07가나\r다") + esc
        + QStringLiteral("[K\n👩‍💻 e\u0301");
    const QString whole = shownFor({output});
    QCOMPARE(whole, QStringLiteral("설치\n굵게 끝\n100%\n다\n👩‍💻 e\u0301"));
    for (qsizetype at = 1; at < output.size(); ++at)
        QCOMPARE(shownFor({output.left(at), output.mid(at)}), whole);
}

void TestLogView::copyingCopiesWhatIsShown()
{
    InstallerState state;
    LogView view(state);
    view.resize(400, 300);
    view.show();
    const QString log = QStringLiteral("받는 중 0%\r받는 중 100%\r\n") + esc + QStringLiteral("[31m실패") + esc + QStringLiteral("[0m\n");
    state.appendToLog(log);
    QTRY_VERIFY(!view.hasPending());
    view.selectAll();
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("받는 중 100%\n실패\n"));
    QCOMPARE(state.log(), log);
}

void TestLogView::aFloodIsShownInSlices()
{
    InstallerState state;
    LogView view(state);
    const QString flood = lines(0, 80000);   // well over one slice
    QVERIFY(flood.size() > 4 * LogView::sliceChars);
    QSignalSpy caughtUp(&view, &LogView::caughtUp);
    state.appendToLog(flood);
    // Nothing is taken in inside the call that added the text ...
    QVERIFY(view.isEmpty());
    // ... and one event-loop turn never takes it all in.
    QTRY_VERIFY(!view.isEmpty());
    QVERIFY(view.hasPending());
    QVERIFY(caughtUp.wait(20000));
    QCOMPARE(view.text(), flood);
}

void TestLogView::aNewRunStartsOver()
{
    InstallerState state;
    LogView view(state);
    state.appendToLog(lines(0, 100) + QStringLiteral("반쯤\r"));
    QTRY_VERIFY(!view.hasPending());
    QVERIFY(!view.isEmpty());

    // Reset while a flood is still queued: nothing of the old run comes back,
    // nor its half-read return.
    state.appendToLog(lines(100, 30000));
    state.setLog(QString());
    QVERIFY(view.isEmpty());
    QVERIFY(!view.hasPending());
    state.appendToLog(QStringLiteral("새 실행\n"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.text(), QStringLiteral("새 실행\n"));
    QCOMPARE(view.margin(), 6);

    // A log replaced by text is shown from that text.
    state.setLog(QStringLiteral("처음부터\n"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.text(), QStringLiteral("처음부터\n"));
}

void TestLogView::followsTheEndUntilScrolledAway()
{
    InstallerState state;
    LogView view(state);
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QScrollBar *bar = view.verticalScrollBar();
    const auto endInView = [&] {
        const QRect last = view.characterRect(view.length());
        return bar->value() == bar->maximum() && view.viewport()->rect().contains(last);
    };

    // At the end (an empty log is), new output keeps the end in view.
    state.appendToLog(lines(0, 500));
    QTRY_VERIFY(!view.hasPending());
    QVERIFY(bar->maximum() > 100);
    QVERIFY(endInView());

    // Scrolled away, it stays where the user left it.
    bar->setValue(120);
    state.appendToLog(lines(500, 500));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(bar->value(), 120);
    QVERIFY(bar->maximum() > 900);

    // Back at the end, it follows again.
    bar->setValue(bar->maximum());
    const int bottom = bar->value();
    state.appendToLog(lines(1000, 500) + QStringLiteral("⚠️ 설치가 완료되지 못했어요"));
    QTRY_VERIFY(!view.hasPending());
    QVERIFY(bar->value() > bottom);
    QVERIFY(endInView());
}

void TestLogView::selectionSurvivesAppendsAndCopies()
{
    InstallerState state;
    LogView view(state);
    view.resize(400, 200);
    view.show();
    state.appendToLog(QStringLiteral("첫 줄\n둘째 줄"));
    QTRY_VERIFY(!view.hasPending());

    // A selection reaching the very end of the text, where new text goes.
    view.setSelection(2, view.length());
    const QString selected = view.selectedText();
    QCOMPARE(selected, QStringLiteral("줄\n둘째 줄"));

    state.appendToLog(QStringLiteral(" 계속\n"));
    state.appendToLog(lines(0, 3000));
    // Copy while the run is still writing.
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), selected);
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.selectedText(), selected);
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), selected);
}

void TestLogView::keyboardAndMouseSelect()
{
    InstallerState state;
    LogView view(state);
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    state.appendToLog(QStringLiteral("abcd\nefgh\n👩‍💻z\n"));
    QTRY_VERIFY(!view.hasPending());
    view.setFocus();

    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(view.selectedText(), QStringLiteral("ab"));
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(view.selectedText(), QStringLiteral("abcd\nef"));
    QTest::keyClick(&view, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(view.selectedText(), QStringLiteral("abcd\nefgh"));
    // A joined emoji is one step.
    QTest::keyClick(&view, Qt::Key_Down);
    QTest::keyClick(&view, Qt::Key_Home);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(view.selectedText(), QStringLiteral("👩‍💻"));
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view.selectedText(), state.log());
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), state.log());

    // Dragging from the first character to the middle of the second line.
    const QPoint from = view.characterRect(0).topLeft() + QPoint(1, 2);
    const QPoint to = view.characterRect(7).topLeft() + QPoint(1, 2);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(view.viewport(), to);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, to);
    QCOMPARE(view.selectedText(), QStringLiteral("abcd\nef"));
}

void TestLogView::aVeryLongLineIsFoldedAndCopiedWhole_data()
{
    QTest::addColumn<QString>("unit");
    QTest::newRow("ascii") << QStringLiteral("x");
    QTest::newRow("hangul") << QStringLiteral("한");
    QTest::newRow("emoji") << QStringLiteral("😀");
    QTest::newRow("combining mark") << QStringLiteral("e\u0301");
    QTest::newRow("joined emoji") << QStringLiteral("👩\u200D👩\u200D👧");
}

void TestLogView::aVeryLongLineIsFoldedAndCopiedWhole()
{
    QFETCH(QString, unit);
    InstallerState state;
    LogView view(state);
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QString line;
    while (line.size() <= 2 * LogView::sliceChars)
        line += unit;
    state.appendToLog(QStringLiteral("앞\n") + line + QStringLiteral("\n뒤\n"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.text(), state.log());

    // Rows as wide as the view at most, each made of whole characters.
    QCOMPARE(view.rowText(0), QStringLiteral("앞"));
    const qsizetype rows = view.rowCount() - 3;   // "앞", the line, "뒤" and the empty last line
    QVERIFY(rows > 4);
    const QFontMetricsF metrics(view.font());
    const qreal width = view.viewport()->width() - 2 * view.margin();
    qsizetype chars = 0;
    for (qsizetype r = 1; r <= rows; r += std::max<qsizetype>(1, rows / 50)) {
        const QString row = view.rowText(r);
        QVERIFY2(row.startsWith(unit) && row.endsWith(unit), qPrintable(QString::number(r)));
        QVERIFY(metrics.horizontalAdvance(row) <= width + 1);
    }
    for (qsizetype r = 1; r <= rows; ++r)
        chars += view.rowText(r).size();
    QCOMPARE(chars, line.size());
    QCOMPARE(view.rowText(rows + 1), QStringLiteral("뒤"));

    // Copied, the line is one line again, in whole or in part.
    view.selectAll();
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), state.log());
    view.setSelection(2 + 10 * unit.size(), 2 + 20000 * unit.size());
    view.copy();
    QVERIFY(!QApplication::clipboard()->text().contains(QLatin1Char('\n')));
    QVERIFY(line.contains(QApplication::clipboard()->text()));
}

void TestLogView::aLineStillBeingWrittenIsShown()
{
    InstallerState state;
    LogView view(state);
    view.resize(400, 300);
    view.show();

    // Its end not yet written: shown as it is.
    const QString begun(5000, QLatin1Char('a'));
    state.appendToLog(begun);
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.text(), begun);
    const qsizetype rowsBegun = view.rowCount();
    QVERIFY(rowsBegun > 1);

    // The rest comes in the same rows and more.
    state.appendToLog(QString(LogView::sliceChars, QLatin1Char('b')) + QStringLiteral("\n끝\n"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.text(), state.log());
    QVERIFY(view.rowCount() > rowsBegun + 3);
    QCOMPARE(view.rowText(0), QString(view.rowText(0).size(), QLatin1Char('a')));
}

void TestLogView::accessibilitySeesTheLog()
{
    InstallerState state;
    LogView view(state);
    view.resize(400, 300);
    view.show();
    state.appendToLog(QStringLiteral("첫 줄\r\n둘째 🧠\n"));
    QTRY_VERIFY(!view.hasPending());
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&view);
    QVERIFY(a);
    QVERIFY(a->state().readOnly);
    QAccessibleTextInterface *text = a->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), int(view.length()));
    QCOMPARE(text->text(0, text->characterCount()), QStringLiteral("첫 줄\n둘째 🧠\n"));
    QCOMPARE(a->text(QAccessible::Value), view.text());
    text->setSelection(0, 2, 4);
    QCOMPARE(view.selectedText(), QStringLiteral("줄\n"));
}

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
