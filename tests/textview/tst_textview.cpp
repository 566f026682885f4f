// The text view on its own: the caret steps over whole characters, the keys
// move and select as in any text, and rows fold between whole characters
// within the width.

#include "textview/textview.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QTest>
#include <QTextBoundaryFinder>

using namespace Kovel::Text;

namespace {

using Stops = QList<qsizetype>;

// A shown view of `text`, focused, in a font where every character of the
// Latin alphabet is as wide as any other.
struct Shown {
    explicit Shown(const QString &text)
    {
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setStyleHint(QFont::Monospace);
        view.setFont(fixed);
        view.resize(400, 200);
        view.show();
        view.setPlainText(text);
        view.setFocus();
    }
    qsizetype press(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::keyClick(&view, key, modifiers);
        return view.position();
    }
    TextView view;
};

// Where QTextBoundaryFinder puts the starts of characters in `text`.
bool isBoundary(const QString &text, qsizetype at)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(at);
    return finder.isAtBoundary();
}

} // namespace

class TestTextView : public QObject
{
    Q_OBJECT
private slots:
    void leftAndRightStepOverWholeCharacters_data();
    void leftAndRightStepOverWholeCharacters();
    void homeEndUpAndDown();
    void homeAndEndKeepToTheRow();
    void shiftSelectsAndCopyCopies();
    void rowsFoldBetweenWholeCharacters_data();
    void rowsFoldBetweenWholeCharacters();
    void aTextThatCannotFitGetsTheScrollBarFirst();
};

void TestTextView::leftAndRightStepOverWholeCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Stops>("stops");   // where the caret stops, from the start to the end

    QTest::newRow("latin") << QStringLiteral("ab") << Stops{0, 1, 2};
    QTest::newRow("skin tone on a first-plane base") << QStringLiteral("a✋🏽b") << Stops{0, 1, 4, 5};
    QTest::newRow("skin tone on a pointing finger") << QStringLiteral("☝🏻☝🏻") << Stops{0, 3, 6};
    QTest::newRow("hangul syllables") << QStringLiteral("한국") << Stops{0, 1, 2};
    QTest::newRow("hangul in jamo") << QStringLiteral("\u1100\u1161\u11A8x") << Stops{0, 3, 4};
    QTest::newRow("two leading jamo and a vowel") << QStringLiteral("\u1100\u1100\u1161") << Stops{0, 3};
    QTest::newRow("e and a combining acute") << QStringLiteral("e\u0301e\u0301") << Stops{0, 2, 4};
    QTest::newRow("flags") << QStringLiteral("🇰🇷🇯🇵") << Stops{0, 4, 8};
    QTest::newRow("joined family") << QStringLiteral("👨\u200D👩\u200D👧x") << Stops{0, 8, 9};
    QTest::newRow("thai sara am") << QStringLiteral("a\u0E01\u0E33b") << Stops{0, 1, 3, 4};
    QTest::newRow("halfwidth katakana voiced") << QStringLiteral("\uFF76\uFF9Ex") << Stops{0, 2, 3};
    QTest::newRow("arabic number sign before a digit") << QStringLiteral("\u0600\u0661x") << Stops{0, 2, 3};
    QTest::newRow("across a line end") << QStringLiteral("a\n✋🏽") << Stops{0, 1, 2, 5};
}

void TestTextView::leftAndRightStepOverWholeCharacters()
{
    QFETCH(QString, text);
    QFETCH(Stops, stops);
    Shown s(text);
    QCOMPARE(s.press(Qt::Key_Home, Qt::ControlModifier), 0);
    for (qsizetype k = 1; k < stops.size(); ++k)
        QCOMPARE(s.press(Qt::Key_Right), stops[k]);
    QCOMPARE(s.press(Qt::Key_Right), stops.last());   // the end holds
    for (qsizetype k = stops.size() - 2; k >= 0; --k)
        QCOMPARE(s.press(Qt::Key_Left), stops[k]);
    QCOMPARE(s.press(Qt::Key_Left), 0);   // so does the start
}

void TestTextView::homeEndUpAndDown()
{
    Shown s(QStringLiteral("first line\nsecond\n\nlast one"));
    for (int k = 0; k < 5; ++k)
        s.press(Qt::Key_Right);
    QCOMPARE(s.view.position(), 5);
    // Up and down keep to the column they started from, across a shorter line.
    QCOMPARE(s.press(Qt::Key_Down), 16);
    QCOMPARE(s.press(Qt::Key_Down), 18);
    QCOMPARE(s.press(Qt::Key_Down), 24);
    QCOMPARE(s.press(Qt::Key_Up), 18);
    QCOMPARE(s.press(Qt::Key_Up), 16);
    QCOMPARE(s.press(Qt::Key_Up), 5);
    QCOMPARE(s.press(Qt::Key_Up), 0);   // above the first row: its start
    QCOMPARE(s.press(Qt::Key_End), 10);
    QCOMPARE(s.press(Qt::Key_Home), 0);
    QCOMPARE(s.press(Qt::Key_End, Qt::ControlModifier), s.view.length());
    QCOMPARE(s.press(Qt::Key_Home), 19);
    QCOMPARE(s.press(Qt::Key_Down), s.view.length());   // below the last row: the end
    QCOMPARE(s.press(Qt::Key_Home, Qt::ControlModifier), 0);
    QVERIFY(!s.view.verticalScrollBar()->isVisible());
}

// On a line folded into rows, Home and End go to the ends of the row the
// caret is in, not of the line.
void TestTextView::homeAndEndKeepToTheRow()
{
    Shown s(QString(300, u'x'));
    const qsizetype first = s.view.rowText(0).size();
    const qsizetype second = s.view.rowText(1).size();
    QVERIFY(s.view.rowCount() > 2);
    QCOMPARE(s.press(Qt::Key_Down), first);
    QCOMPARE(s.press(Qt::Key_Right), first + 1);
    QCOMPARE(s.press(Qt::Key_End), first + second);
    QCOMPARE(s.press(Qt::Key_Left), first + second - 1);
    QCOMPARE(s.press(Qt::Key_Home), first);
    QCOMPARE(s.press(Qt::Key_Right), first + 1);
    QCOMPARE(s.press(Qt::Key_Up), 1);
}

void TestTextView::shiftSelectsAndCopyCopies()
{
    Shown s(QStringLiteral("한 줄 ✋🏽\n둘째 줄"));
    s.press(Qt::Key_Right, Qt::ShiftModifier);
    s.press(Qt::Key_Right, Qt::ShiftModifier);
    s.press(Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(s.view.selectedText(), QStringLiteral("한 줄"));
    s.press(Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(s.view.selectedText(), QStringLiteral("한 줄 ✋🏽"));
    s.press(Qt::Key_Left, Qt::ShiftModifier);
    QCOMPARE(s.view.selectedText(), QStringLiteral("한 줄 "));
    s.press(Qt::Key_Down, Qt::ShiftModifier);
    QVERIFY(s.view.selectedText().startsWith(QStringLiteral("한 줄 ✋🏽\n둘")));
    QCOMPARE(s.view.anchor(), 0);
    s.press(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), s.view.selectedText());

    // A move without shift leaves no selection; select all takes everything.
    s.press(Qt::Key_Right);
    QCOMPARE(s.view.selectedText(), QString());
    s.press(Qt::Key_A, Qt::ControlModifier);
    s.press(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), s.view.text());
}

void TestTextView::rowsFoldBetweenWholeCharacters_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("width");

    QTest::newRow("skin tone on a first-plane base") << QStringLiteral("✋🏽") << 200 << 233;
    QTest::newRow("skin tone on a pointing finger") << QStringLiteral("☝🏻") << 200 << 233;
    QTest::newRow("thai sara am") << QStringLiteral("\u0E01\u0E33") << 300 << 233;
    QTest::newRow("hangul in jamo") << QStringLiteral("\u1100\u1161\u11A8") << 300 << 233;
    QTest::newRow("two leading jamo and a vowel") << QStringLiteral("\u1100\u1100\u1161") << 300 << 233;
    QTest::newRow("leading jamo and a syllable") << QStringLiteral("\u1100가") << 300 << 233;
    QTest::newRow("syllable and a vowel jamo") << QStringLiteral("가\u1161") << 300 << 233;
    QTest::newRow("syllable and a trailing jamo") << QStringLiteral("가\u11A8") << 300 << 233;
    QTest::newRow("halfwidth katakana voiced") << QStringLiteral("\uFF76\uFF9E") << 300 << 233;
    QTest::newRow("arabic number sign before a digit") << QStringLiteral("\u0600\u0661") << 300 << 233;
    QTest::newRow("flags") << QStringLiteral("🇰🇷") << 200 << 233;
    QTest::newRow("e and a combining acute") << QStringLiteral("e\u0301") << 300 << 233;
    QTest::newRow("latin") << QStringLiteral("abc") << 300 << 233;
    QTest::newRow("hangul syllables") << QStringLiteral("한") << 300 << 233;
    QTest::newRow("joined family") << QStringLiteral("👨\u200D👩\u200D👧") << 100 << 233;
}

// However many characters a row takes, each row begins where a character
// begins, is no wider than the view, and the rows hold the text whole.
void TestTextView::rowsFoldBetweenWholeCharacters()
{
    QFETCH(QString, unit);
    QFETCH(int, count);
    QFETCH(int, width);
    const QString text = unit.repeated(count);
    TextView view;
    view.resize(width, 300);
    view.show();
    view.setPlainText(text);
    QCoreApplication::sendPostedEvents();   // a scroll bar it needs is up
    QVERIFY(view.rowCount() > 2);
    const QFontMetricsF metrics(view.font());
    const qreal room = view.viewport()->width() - 2 * view.margin();
    qsizetype at = 0;
    for (qsizetype r = 0; r < view.rowCount(); ++r) {
        const QString row = view.rowText(r);
        QVERIFY2(isBoundary(text, at), qPrintable(QStringLiteral("row %1 begins inside a character").arg(r)));
        QVERIFY2(metrics.horizontalAdvance(row) <= room + 1, qPrintable(QStringLiteral("row %1 is too wide").arg(r)));
        at += row.size();
    }
    QCOMPARE(at, text.size());
}

// A text too long for the view is folded once, beside the scroll bar it
// needs: the bar is there as soon as the text is, and its coming changes no
// row.
void TestTextView::aTextThatCannotFitGetsTheScrollBarFirst()
{
    TextView view;
    view.resize(356, 190);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    QVERIFY(!view.verticalScrollBar()->isVisible());
    view.setPlainText(QStringLiteral("어제는 회의 세 건과 AUTH-3491 리뷰를 했어요. ").repeated(2000));
    QVERIFY(view.verticalScrollBar()->isVisible());
    const int width = view.viewport()->width();
    QStringList rows;
    for (qsizetype r = 0; r < 20; ++r)
        rows << view.rowText(r);

    QCoreApplication::processEvents();
    QVERIFY(view.verticalScrollBar()->isVisible());
    QCOMPARE(view.viewport()->width(), width);
    for (qsizetype r = 0; r < 20; ++r)
        QCOMPARE(view.rowText(r), rows.at(r));

    // A text that fits needs no bar.
    view.setPlainText(QStringLiteral("짧은 글"));
    QTRY_VERIFY(!view.verticalScrollBar()->isVisible());
}

QTEST_MAIN(TestTextView)
#include "tst_textview.moc"
