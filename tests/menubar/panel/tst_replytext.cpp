// The panel's reply text: shown exactly as given, folded at spaces into rows
// as wide as the box, very long paragraphs copied whole.

#include "menubar/panel/replytext.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QTest>
#include <QWidget>
#include <QTextBoundaryFinder>

using namespace Kovel::Bar;

namespace {

QString repeatedTo(const QString &unit, qsizetype atLeast)
{
    QString text;
    while (text.size() <= atLeast)
        text += unit;
    return text;
}

constexpr qsizetype huge = 256 * 1024;

} // namespace

class TestReplyText : public QObject
{
    Q_OBJECT
private slots:
    void shownAsGiven_data();
    void shownAsGiven();
    void rowsFoldAtSpacesWithinTheWidth_data();
    void rowsFoldAtSpacesWithinTheWidth();
    void aVeryLongParagraphIsCopiedWhole();
    void theSameReplyLeavesTheViewAlone();
    void givenWhileHiddenShownOnceShown_data();
    void givenWhileHiddenShownOnceShown();
    void aVeryLongReplyFitsBesideItsScrollBar();
    void aLongParagraphFoldsOverTurns_data();
    void aLongParagraphFoldsOverTurns();
};

void TestReplyText::shownAsGiven_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("short lines") << QStringLiteral("어제는\n회의 세 건 🧠\n") << QStringLiteral("어제는\n회의 세 건 🧠\n");
    QTest::newRow("empty") << QString() << QString();
    const QString lines = repeatedTo(QStringLiteral("긴 답변 줄 — a long answer line with ✓ and 🧠\n"), huge);
    QTest::newRow("huge, in lines") << lines << lines;
    const QString mixed = repeatedTo(QStringLiteral("줄 하나\r\n줄 둘\r줄 셋\n\n"), huge);
    QString mixedShown = mixed;
    mixedShown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTest::newRow("huge, breaks of every kind") << mixed << mixedShown;
}

void TestReplyText::shownAsGiven()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    ReplyText view;
    view.resize(356, 190);
    view.show();
    view.setReply(text);
    QCOMPARE(view.reply(), text);
    QCOMPARE(view.toPlainText(), shown);
    QCOMPARE(view.shownText(), shown);
    QVERIFY(view.isReadOnly());
}

void TestReplyText::rowsFoldAtSpacesWithinTheWidth_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<bool>("spaces");
    QTest::newRow("prose") << QStringLiteral("어제는 회의 세 건과 AUTH-3491 리뷰를 했어요 — and a sentence. ") << true;
    QTest::newRow("no spaces") << QStringLiteral("가나다라마바사아자차카타파하") << false;
    QTest::newRow("joined emoji") << QStringLiteral("👩\u200D👩\u200D👧") << false;
    QTest::newRow("flags and skin tones") << QStringLiteral("🇰🇷👍🏽") << false;
}

void TestReplyText::rowsFoldAtSpacesWithinTheWidth()
{
    QFETCH(QString, unit);
    QFETCH(bool, spaces);
    ReplyText view;
    view.setFont(QFont(view.font().family(), 12));
    view.resize(356, 190);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QString paragraph = repeatedTo(unit, 20000);
    view.setReply(paragraph);
    QVERIFY(view.rowCount() > 10);
    const QFontMetricsF metrics(view.font());
    const qreal width = view.viewport()->width() - 2 * view.margin();
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, paragraph);
    qsizetype chars = 0;
    for (qsizetype r = 0; r < view.rowCount(); ++r) {
        const QString row = view.rowText(r);
        QVERIFY2(metrics.horizontalAdvance(row.trimmed()) <= width + 1, qPrintable(row));
        // Folded between whole characters, and at a space where there is one.
        graphemes.setPosition(chars);
        QVERIFY2(graphemes.isAtBoundary(), qPrintable(row));
        if (spaces && r + 1 < view.rowCount())
            QVERIFY2(row.endsWith(u' '), qPrintable(row));
        chars += row.size();
    }
    QCOMPARE(chars, paragraph.size());
}

void TestReplyText::aVeryLongParagraphIsCopiedWhole()
{
    ReplyText view;
    view.resize(356, 190);
    view.show();
    const QString paragraph = repeatedTo(QStringLiteral("어제는 회의 세 건과 AUTH-3491 리뷰를 했어요. "), huge);
    const QString text = QStringLiteral("처음\n") + paragraph + QStringLiteral("\n끝");
    view.setReply(text);
    QCOMPARE(view.shownText(), text);
    view.selectAll();
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), text);
    view.setSelection(10, 10 + 20000);
    view.copy();
    QVERIFY(!QApplication::clipboard()->text().contains(u'\n'));
    QVERIFY(paragraph.contains(QApplication::clipboard()->text()));
}

void TestReplyText::theSameReplyLeavesTheViewAlone()
{
    ReplyText view;
    view.resize(356, 190);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QString text = repeatedTo(QStringLiteral("답변 줄\n"), 4000);
    view.setReply(text);
    QCOMPARE(view.verticalScrollBar()->value(), 0);   // a reply is shown from its top
    view.verticalScrollBar()->setValue(40);
    view.setReply(QString(text));
    QCOMPARE(view.verticalScrollBar()->value(), 40);
    view.setReply(text + QStringLiteral("더\n"));
    QCOMPARE(view.verticalScrollBar()->value(), 0);
}

void TestReplyText::givenWhileHiddenShownOnceShown_data()
{
    QTest::addColumn<QStringList>("replies");
    const QString small = QStringLiteral("짧은 답\n둘째 줄");
    const QString lines = repeatedTo(QStringLiteral("긴 답변 줄 — a long answer line with ✓ and 🧠\n"), 3 * huge);
    const QString paragraph = repeatedTo(QStringLiteral("어제는 회의 세 건과 AUTH-3491 리뷰를 했어요. "), 3 * huge);
    QTest::newRow("short") << QStringList{small};
    QTest::newRow("very long, in lines") << QStringList{lines};
    QTest::newRow("very long, one paragraph") << QStringList{paragraph};
    QTest::newRow("very long, then another") << QStringList{lines, paragraph};
    QTest::newRow("very long, then short") << QStringList{lines, small};
    QTest::newRow("short, then very long") << QStringList{small, lines};
}

// Whatever it was given while hidden, the view shows the last reply whole
// once it is shown, from its top.
void TestReplyText::givenWhileHiddenShownOnceShown()
{
    QFETCH(QStringList, replies);
    QWidget box;
    box.resize(380, 220);
    auto *view = new ReplyText(&box);
    view->setGeometry(12, 12, 356, 190);
    view->hide();
    box.show();
    for (const QString &reply : replies)
        view->setReply(reply);
    QCOMPARE(view->reply(), replies.last());
    view->show();
    QCOMPARE(view->shownText(), replies.last());
    QCOMPARE(view->verticalScrollBar()->value(), 0);
    QCOMPARE(view->rowText(0), replies.last().left(view->rowText(0).size()));
}

// A reply too long for the box is folded to the width left beside the scroll
// bar, once: the bar is up before the reply is folded, so its coming folds
// nothing again. A short reply after it has no scroll bar.
void TestReplyText::aVeryLongReplyFitsBesideItsScrollBar()
{
    ReplyText view;
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view.resize(356, 190);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QString paragraph = repeatedTo(QStringLiteral("어제는 회의 세 건과 AUTH-3491 리뷰를 했어요 — and a sentence. "), 3 * huge);
    view.setReply(paragraph);
    QVERIFY(view.verticalScrollBar()->isVisible());
    const int foldedAt = view.viewport()->width();
    QStringList firstRows;
    for (qsizetype r = 0; r < 20; ++r)
        firstRows << view.rowText(r);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(view.viewport()->width(), foldedAt);
    for (qsizetype r = 0; r < 20; ++r)
        QCOMPARE(view.rowText(r), firstRows.at(r));
    QVERIFY(view.verticalScrollBar()->isVisible());
    QCOMPARE(view.verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    const QFontMetricsF metrics(view.font());
    const qreal width = view.viewport()->width() - 2 * view.margin();
    for (qsizetype r = 0; r < 50; ++r) {
        const QString row = view.rowText(r);
        QVERIFY2(metrics.horizontalAdvance(row.trimmed()) <= width + 1, qPrintable(row));
    }
    QCOMPARE(view.shownText(), paragraph);

    view.setReply(QStringLiteral("짧은 답"));
    QCoreApplication::sendPostedEvents();
    QVERIFY(!view.verticalScrollBar()->isVisible());
}

QTEST_MAIN(TestReplyText)
#include "tst_replytext.moc"

void TestReplyText::aLongParagraphFoldsOverTurns_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("the paragraph alone") << QString();
    QTest::newRow("after a short line") << QStringLiteral("요약:\n");
}

// A paragraph far longer than one turn folds: shown whole at once, the rows
// on screen final from the start, every row within the width at the end,
// and nothing lost or doubled; scrolled to its end meanwhile, it paints.
void TestReplyText::aLongParagraphFoldsOverTurns()
{
    QFETCH(QString, before);
    ReplyText view;
    view.resize(356, 190);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QString paragraph = repeatedTo(QStringLiteral("어제는 회의 세 건과 AUTH-3491 리뷰를 했어요 — a sentence. "), 4 * huge);
    const QString text = before + paragraph;
    view.setReply(text);
    QCOMPARE(view.shownText(), text);
    const qsizetype firstRow = before.isEmpty() ? 0 : 1;
    QStringList onScreen;
    for (qsizetype r = firstRow; r < firstRow + 12; ++r)
        onScreen << view.rowText(r);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    view.viewport()->repaint();
    view.verticalScrollBar()->setValue(0);

    QTRY_VERIFY_WITH_TIMEOUT(!view.isFolding(), 20000);
    const QFontMetricsF metrics(view.font());
    const qreal width = view.viewport()->width() - 2 * view.margin();
    QString joined;
    QString row = view.rowText(firstRow);
    for (qsizetype r = firstRow; r < view.rowCount(); ++r) {
        const QString next = r + 1 < view.rowCount() ? view.rowText(r + 1) : QString();
        if (r < firstRow + 12)
            QCOMPARE(row, onScreen.at(r - firstRow));
        QVERIFY2(metrics.horizontalAdvance(row.trimmed()) <= width + 1, qPrintable(row));
        // Each row as full as it can be: the next row's first word did not fit.
        if (!next.isEmpty()) {
            const QString word = next.left(next.indexOf(u' ') + 1).trimmed();
            QVERIFY2(metrics.horizontalAdvance(row + word) > width - 2, qPrintable(QString::number(r) + u' ' + row));
        }
        joined += row;
        row = next;
    }
    QCOMPARE(joined.size(), paragraph.size());
    QVERIFY(joined == paragraph);
}
