// The terminal stream: output, however it is cut, shows as a terminal shows
// it; a character cut in two by a read is read whole.

#include "textview/terminalstream.h"
#include "textview/textview.h"

#include <QTest>
#include <QTextBoundaryFinder>

using namespace Kovel::Text;

namespace {

const QString esc = QStringLiteral("\x1b");

// What a view shows once `pieces`, appended to its source one by one, are
// read each as it comes.
QString shownFor(const QStringList &pieces)
{
    QString source;
    TextView view;
    TerminalStream stream(view);
    stream.restart(&source);
    for (const QString &piece : pieces) {
        source += piece;
        stream.readTo(source.size());
    }
    return view.text();
}

} // namespace

class TestTerminalStream : public QObject
{
    Q_OBJECT
private slots:
    void showsWhatATerminalShows_data();
    void showsWhatATerminalShows();
    void cutAnywhereShowsTheSame_data();
    void cutAnywhereShowsTheSame();
    void readsACutCharacterWhole();
    void restartForgetsAHalfReadSequence();
};

void TestTerminalStream::showsWhatATerminalShows_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain lines") << QStringList{"설치 시작\n", "다운로드 ", "42%", "\n"} << QStringLiteral("설치 시작\n다운로드 42%\n");
    QTest::newRow("no line end") << QStringList{"a", "b"} << QStringLiteral("ab");
    QTest::newRow("blank lines") << QStringList{"\n\n", "x\n\n"} << QStringLiteral("\n\nx\n\n");
    QTest::newRow("crlf is one line end") << QStringList{"one\r\ntwo\r", "\n"} << QStringLiteral("one\ntwo\n");
    QTest::newRow("line and paragraph separators end lines") << QStringList{"a\u2028b\u2029c"} << QStringLiteral("a\nb\nc");
    QTest::newRow("return writes over the start") << QStringList{"abcdef\rxy"} << QStringLiteral("xycdef");
    QTest::newRow("progress rewrites one row") << QStringList{"\r 10%", "\r 20%", "\r100%\n"} << QStringLiteral("100%\n");
    QTest::newRow("over wide characters, one for one") << QStringList{"가나다\r라"} << QStringLiteral("라나다");
    QTest::newRow("over an emoji sequence, as one") << QStringList{"👩\u200D💻x\ry"} << QStringLiteral("yx");
    QTest::newRow("over a skin tone, as one") << QStringList{"✋🏽x\ry"} << QStringLiteral("yx");
    QTest::newRow("over a letter and its mark, as one") << QStringList{"ae\u0301b\rxy"} << QStringLiteral("xyb");
    QTest::newRow("a mark written over one character") << QStringList{"abc\rx\u0301"} << QStringLiteral("x\u0301bc");
    QTest::newRow("backspace steps back") << QStringList{"abc\b\bX"} << QStringLiteral("aXc");
    QTest::newRow("backspace stops at the start") << QStringList{"ab\b\b\b\bX"} << QStringLiteral("Xb");
    QTest::newRow("erase to the end") << QStringList{"abcdef\r" + esc + "[Kxy"} << QStringLiteral("xy");
    QTest::newRow("erase to the end, 0") << QStringList{"abcdef\b\b\b" + esc + "[0K"} << QStringLiteral("abc");
    QTest::newRow("erase the line, the cursor stays") << QStringList{"gh" + esc + "[2Kij"} << QStringLiteral("  ij");
    QTest::newRow("erase nothing at the end") << QStringList{"ab" + esc + "[K"} << QStringLiteral("ab");
    QTest::newRow("other erases are left out") << QStringList{"ab" + esc + "[1Kc"} << QStringLiteral("abc");
    QTest::newRow("colours are left out")
        << QStringList{esc + "[32mOK" + esc + "[0m 끝\n", "a" + esc + "[1;31mb" + esc + "[mc"} << QStringLiteral("OK 끝\nabc");
    QTest::newRow("cursor moves are left out") << QStringList{"a" + esc + "[2Ab" + esc + "[10;20Hc"} << QStringLiteral("abc");
    QTest::newRow("title ended by bell") << QStringList{esc + "]0;제목\x07" + "done"} << QStringLiteral("done");
    QTest::newRow("title ended by string terminator") << QStringList{esc + "]2;t" + esc + "\\done"} << QStringLiteral("done");
    QTest::newRow("title broken by a line end") << QStringList{esc + "]0;t\nnext"} << QStringLiteral("\nnext");
    QTest::newRow("character set selection") << QStringList{esc + "(Bab"} << QStringLiteral("ab");
    QTest::newRow("two-character escape") << QStringList{"a" + esc + "7b" + esc + "8c"} << QStringLiteral("abc");
    QTest::newRow("a broken sequence keeps its line end") << QStringList{"a" + esc + "[1\nb"} << QStringLiteral("a\nb");
    QTest::newRow("escape then line end") << QStringList{"a" + esc + "\nb"} << QStringLiteral("a\nb");
    QTest::newRow("long parameters are read and left out")
        << QStringList{"a" + esc + "[" + QString(100, u'1') + "mb"} << QStringLiteral("ab");
    QTest::newRow("a sequence across pieces") << QStringList{"a" + esc, "[3", "1mb"} << QStringLiteral("ab");
    QTest::newRow("a return across pieces") << QStringList{"one\r", "\ntwo\r", "x"} << QStringLiteral("one\nxwo");
}

void TestTerminalStream::showsWhatATerminalShows()
{
    QFETCH(QStringList, pieces);
    QFETCH(QString, shown);
    QCOMPARE(shownFor(pieces), shown);
}

void TestTerminalStream::cutAnywhereShowsTheSame_data()
{
    QTest::addColumn<QString>("output");
    QTest::newRow("everything at once")
        << QStringLiteral("설치\r\n") + esc + QStringLiteral("[1m굵게") + esc + QStringLiteral("[0m 끝\n 0%\r 50%\r100%\r\n")
               + esc + QStringLiteral("]0;t\x07가나\r다") + esc + QStringLiteral("[K\n👩‍💻 e\u0301✋🏽\b\bx")
               + esc + QStringLiteral("[2Ky");
    QTest::newRow("surrogate pairs everywhere") << QStringLiteral("😀a😀\r😀😀\n🇰🇷🇯🇵\r🇺🇸");
}

// However the output is cut into two reads between characters, the same
// text is shown: a return, a sequence or a half-written line carries across.
void TestTerminalStream::cutAnywhereShowsTheSame()
{
    QFETCH(QString, output);
    const QString whole = shownFor({output});
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, output);
    for (qsizetype at = characters.toNextBoundary(); at > 0 && at < output.size(); at = characters.toNextBoundary())
        QCOMPARE(shownFor({output.left(at), output.mid(at)}), whole);
}

void TestTerminalStream::readsACutCharacterWhole()
{
    const QString source = QStringLiteral("a😀b");
    TextView view;
    TerminalStream stream(view);
    stream.restart(&source);
    stream.readTo(2);   // between the halves of 😀
    QCOMPARE(stream.read(), 3);
    QCOMPARE(view.text(), QStringLiteral("a😀"));
    stream.readTo(100);
    QCOMPARE(stream.read(), source.size());
    QCOMPARE(view.text(), source);
}

void TestTerminalStream::restartForgetsAHalfReadSequence()
{
    QString source = QStringLiteral("old\r") + esc + QStringLiteral("[3");
    TextView view;
    TerminalStream stream(view);
    stream.restart(&source);
    stream.readTo(source.size());
    QCOMPARE(view.text(), QStringLiteral("old"));

    QString next = QStringLiteral("\nnew");
    stream.restart(&next);
    QVERIFY(view.isEmpty());
    stream.readTo(next.size());
    QCOMPARE(view.text(), QStringLiteral("\nnew"));
}

QTEST_MAIN(TestTerminalStream)
#include "tst_terminalstream.moc"
