// The log view: shows exactly the log however it arrives, never moves by
// itself, keeps the user's selection, starts over when a run begins.

#include "installer/window/installerstate.h"
#include "installer/window/logview.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// The text the view is to show for a log: every line break one break.
QString shown(QString log)
{
    log.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    log.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return log;
}

QString lines(int from, int count)
{
    QString s;
    for (int i = from; i < from + count; ++i)
        s += QStringLiteral("줄 %1 — line ✓\n").arg(i);
    return s;
}

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT
private slots:
    void startsEmptyWithPlaceholder();
    void showsExactlyTheLog_data();
    void showsExactlyTheLog();
    void aFloodIsShownInSlices();
    void aNewRunStartsOver();
    void staysWhereTheUserLeftIt();
    void selectionSurvivesAppendsAndCopies();
    void aVeryLongLineIsFoldedAndCopiedWhole_data();
    void aVeryLongLineIsFoldedAndCopiedWhole();
    void aLineStillBeingWrittenIsShown();
};

void TestLogView::startsEmptyWithPlaceholder()
{
    InstallerState state;
    LogView view(state);
    QVERIFY(view.isReadOnly());
    QVERIFY(view.textInteractionFlags() & Qt::TextSelectableByMouse);
    QVERIFY(view.textInteractionFlags() & Qt::TextSelectableByKeyboard);
    QVERIFY(!view.document()->isUndoRedoEnabled());
    QCOMPARE(view.document()->documentMargin(), 6.0);
    const QFontMetrics metrics(view.font());
    QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('W')));
    QCOMPARE(view.placeholderText(), QStringLiteral("역할을 고르고 [시작]을 누르세요."));
    QVERIFY(view.document()->isEmpty());
    QCOMPARE(state.log(), QString());   // the placeholder is the view's, not the log's
}

void TestLogView::showsExactlyTheLog_data()
{
    QTest::addColumn<QStringList>("pieces");

    QTest::newRow("lines and half-lines") << QStringList{"설치 시작\n", "다운로드 ", "42%", "\n완료\n"};
    QTest::newRow("no trailing newline") << QStringList{"a", "b", "c"};
    QTest::newRow("emoji and combining marks")
        << QStringList{"🧠 메뉴바 앱 설치\n", "⚠️ 경고\n", "👩‍💻 e\u0301\n", "🔗"};
    QTest::newRow("crlf split across pieces") << QStringList{"one\r", "\ntwo\r\n", "three\r", "four\n"};
    QTest::newRow("blank lines kept") << QStringList{"\n\n", "x\n\n\n", "\n"};

    QStringList many;
    for (int i = 0; i < 2000; ++i) many << QStringLiteral("조각 %1 🧩 ").arg(i) << (i % 7 ? QString() : QStringLiteral("\n"));
    many.removeAll(QString());
    QTest::newRow("two thousand pieces") << many;

    // One piece larger than a slice, with a surrogate pair across every
    // possible slice edge nearby.
    QString big = lines(0, 4000);
    QString pairs;
    for (int i = 0; i < 64; ++i) pairs += QStringLiteral("😀a");
    big.insert(LogView::sliceChars - 70, pairs);
    big.insert(16 * 1024 - 3, pairs);
    QTest::newRow("piece larger than a slice") << QStringList{big, "끝\n"};
}

void TestLogView::showsExactlyTheLog()
{
    QFETCH(QStringList, pieces);
    InstallerState state;
    LogView view(state);
    view.resize(400, 300);
    view.show();
    for (const QString &p : pieces) state.appendToLog(p);
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.toPlainText(), shown(state.log()));
}

void TestLogView::aFloodIsShownInSlices()
{
    InstallerState state;
    LogView view(state);
    const QString flood = lines(0, 40000);   // well over one slice
    QVERIFY(flood.size() > 4 * LogView::sliceChars);
    QSignalSpy caughtUp(&view, &LogView::caughtUp);
    state.appendToLog(flood);
    // Nothing is inserted inside the call that added the text ...
    QVERIFY(view.document()->isEmpty());
    // ... and one event-loop turn never takes it all in.
    QTRY_VERIFY(!view.document()->isEmpty());
    QVERIFY(view.hasPending());
    QVERIFY(caughtUp.wait(20000));
    QCOMPARE(view.toPlainText(), flood);
}

void TestLogView::aNewRunStartsOver()
{
    InstallerState state;
    LogView view(state);
    state.appendToLog(lines(0, 100));
    QTRY_VERIFY(!view.hasPending());
    QVERIFY(!view.document()->isEmpty());

    // Reset while a flood is still queued: nothing of the old run comes back.
    state.appendToLog(lines(100, 30000));
    state.setLog(QString());
    QVERIFY(view.document()->isEmpty());
    QVERIFY(!view.hasPending());
    state.appendToLog(QStringLiteral("새 실행\n"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.toPlainText(), QStringLiteral("새 실행\n"));
    QVERIFY(!view.document()->isUndoRedoEnabled());
    QCOMPARE(view.document()->documentMargin(), 6.0);

    // A log replaced by text is shown from that text.
    state.setLog(QStringLiteral("처음부터\n"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.toPlainText(), QStringLiteral("처음부터\n"));
}

void TestLogView::staysWhereTheUserLeftIt()
{
    InstallerState state;
    LogView view(state);
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QScrollBar *bar = view.verticalScrollBar();

    state.appendToLog(lines(0, 500));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(bar->value(), 0);   // at the top it stays at the top
    QVERIFY(bar->maximum() > 100);

    bar->setValue(120);
    state.appendToLog(lines(500, 500));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(bar->value(), 120);

    // At the bottom it does not follow the new text either.
    bar->setValue(bar->maximum());
    const int bottom = bar->value();
    state.appendToLog(lines(1000, 500));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(bar->value(), bottom);
    QVERIFY(bar->maximum() > bottom);
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
    QTextCursor c = view.textCursor();
    c.setPosition(2);
    c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    view.setTextCursor(c);
    const QString selected = view.textCursor().selectedText();
    QCOMPARE(selected, QStringLiteral("줄\u2029둘째 줄"));

    state.appendToLog(QStringLiteral(" 계속\n"));
    state.appendToLog(lines(0, 3000));
    // Copy while the run is still writing.
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("줄\n둘째 줄"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.textCursor().selectedText(), selected);
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("줄\n둘째 줄"));
}

void TestLogView::aVeryLongLineIsFoldedAndCopiedWhole_data()
{
    QTest::addColumn<QString>("unit");
    QTest::newRow("ascii") << QStringLiteral("x");
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
    QString line;
    while (line.size() <= LogView::longLineChars)
        line += unit;
    state.appendToLog(QStringLiteral("앞\n") + line + QStringLiteral("\n뒤\n"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.shownText(), state.log());

    // Rows of at most foldChars, each made of whole characters.
    const QTextDocument *document = view.document();
    QCOMPARE(document->firstBlock().text(), QStringLiteral("앞"));
    QVERIFY(document->blockCount() > 4);
    qsizetype rows = 0;
    for (QTextBlock b = document->firstBlock().next(); b.next().next().isValid(); b = b.next()) {
        QVERIFY(b.length() - 1 <= LogView::foldChars);
        QVERIFY2(b.text().startsWith(unit) && b.text().endsWith(unit), qPrintable(QString::number(b.blockNumber())));
        rows += b.length() - 1;
    }
    QCOMPARE(rows, line.size());

    // Copied, the line is one line again, in whole or in part.
    view.selectAll();
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), state.log());
    QTextCursor part = view.textCursor();
    part.setPosition(2 + LogView::foldChars - 10);
    part.setPosition(2 + 3 * LogView::foldChars, QTextCursor::KeepAnchor);
    view.setTextCursor(part);
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

    // Its end not yet written: shown as it is after a moment, in one row.
    const QString begun(LogView::foldChars + 900, QLatin1Char('a'));
    state.appendToLog(begun);
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.toPlainText(), begun);

    // Once it is known to be that long, the rest comes in folded rows.
    state.appendToLog(QString(LogView::longLineChars, QLatin1Char('b')) + QStringLiteral("\n끝\n"));
    QTRY_VERIFY(!view.hasPending());
    QCOMPARE(view.shownText(), state.log());
    QCOMPARE(view.document()->firstBlock().text(), begun);
    QVERIFY(view.document()->blockCount() > 3);
}

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
