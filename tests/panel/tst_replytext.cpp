// The panel's reply text: shown exactly as given, huge replies in a few
// blocks, very long paragraphs folded and copied whole.

#include "menubar/panel/replytext.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

namespace {

QString repeatedTo(const QString &unit, qsizetype atLeast)
{
    QString text;
    while (text.size() <= atLeast)
        text += unit;
    return text;
}

} // namespace

class TestReplyText : public QObject
{
    Q_OBJECT
private slots:
    void shownAsGiven_data();
    void shownAsGiven();
    void aHugeReplyTakesFewBlocks();
    void aVeryLongParagraphIsFoldedAndCopiedWhole_data();
    void aVeryLongParagraphIsFoldedAndCopiedWhole();
    void theSameReplyLeavesTheViewAlone();
};

void TestReplyText::shownAsGiven_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("short lines") << QStringLiteral("어제는\n회의 세 건 🧠\n") << QStringLiteral("어제는\n회의 세 건 🧠\n");
    QTest::newRow("empty") << QString() << QString();
    const QString lines = repeatedTo(QStringLiteral("긴 답변 줄 — a long answer line with ✓ and 🧠\n"), ReplyText::groupChars);
    QTest::newRow("huge, in lines") << lines << lines;
    const QString mixed = repeatedTo(QStringLiteral("줄 하나\r\n줄 둘\r줄 셋\n\n"), ReplyText::groupChars);
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
}

void TestReplyText::aHugeReplyTakesFewBlocks()
{
    ReplyText view;
    const QString line = QStringLiteral("긴 답변 줄 — a long answer line\n");
    const QString text = repeatedTo(line, 4 * ReplyText::groupChars);
    view.setReply(text);
    const int lines = int(text.count(u'\n'));
    QVERIFY(view.document()->blockCount() < lines / 10);
    for (QTextBlock b = view.document()->firstBlock(); b.isValid(); b = b.next())
        QVERIFY(b.length() - 1 <= ReplyText::blockChars + line.size());

    // A reply no longer than groupChars keeps a block per line.
    view.setReply(text.left(ReplyText::groupChars));
    QCOMPARE(view.document()->blockCount(), int(text.left(ReplyText::groupChars).count(u'\n')) + 1);
}

void TestReplyText::aVeryLongParagraphIsFoldedAndCopiedWhole_data()
{
    QTest::addColumn<QString>("unit");
    QTest::newRow("prose") << QStringLiteral("어제는 회의 세 건과 AUTH-3491 리뷰를 했어요 — and a sentence. ");
    QTest::newRow("no spaces") << QStringLiteral("가나다라마바사아자차카타파하");
    QTest::newRow("joined emoji") << QStringLiteral("👩\u200D👩\u200D👧");
}

void TestReplyText::aVeryLongParagraphIsFoldedAndCopiedWhole()
{
    QFETCH(QString, unit);
    ReplyText view;
    view.resize(356, 190);
    view.show();
    const QString paragraph = repeatedTo(unit, ReplyText::groupChars);
    const QString text = QStringLiteral("처음\n") + paragraph + QStringLiteral("\n끝");
    view.setReply(text);
    QCOMPARE(view.shownText(), text);
    QVERIFY(view.document()->blockCount() > 10);
    for (QTextBlock b = view.document()->firstBlock(); b.isValid(); b = b.next()) {
        for (const QString &row : b.text().split(QChar::LineSeparator)) {
            QVERIFY(row.size() <= ReplyText::foldChars);
            // Folded between whole characters: no row begins inside an emoji sequence.
            QVERIFY(!row.startsWith(QChar(0x200D)) && !row.at(0).isLowSurrogate());
        }
    }

    view.selectAll();
    view.copy();
    QCOMPARE(QApplication::clipboard()->text(), text);
    QTextCursor part = view.textCursor();
    part.setPosition(10 + ReplyText::foldChars / 2);
    part.setPosition(10 + 3 * ReplyText::foldChars, QTextCursor::KeepAnchor);
    view.setTextCursor(part);
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
    view.verticalScrollBar()->setValue(40);
    view.setReply(QString(text));
    QCOMPARE(view.verticalScrollBar()->value(), 40);
    view.setReply(text + QStringLiteral("더\n"));
    QCOMPARE(view.verticalScrollBar()->value(), 0);
}

QTEST_MAIN(TestReplyText)
#include "tst_replytext.moc"
