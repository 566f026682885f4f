#include "textview/graphemes.h"

#include <QTest>
#include <QTextBoundaryFinder>

using namespace Kovel::Text;

// Cutting a subject to its first N characters must count what the user sees
// as one character, never split one; stepping through text, forwards or
// back, finds the characters QTextBoundaryFinder finds.
class TestGraphemes : public QObject
{
    Q_OBJECT
private slots:
    void leading_data();
    void leading();
    void stepsAsTheBoundaryFinderDoes_data();
    void stepsAsTheBoundaryFinderDoes();
    void signsBesideThaiOrIndicStayWhole_data();
    void signsBesideThaiOrIndicStayWhole();
};

using Stops = QList<qsizetype>;

// Where clusterEnd stops, stepping from the start of `text` to its end.
static Stops forwardStops(const QString &text)
{
    Stops stops{0};
    while (stops.last() < text.size())
        stops << clusterEnd(text, stops.last());
    return stops;
}

// Where clusterStart stops, stepping from the end of `text` to its start.
static Stops backwardStops(const QString &text)
{
    Stops stops{text.size()};
    while (stops.first() > 0)
        stops.prepend(clusterStart(text, stops.first()));
    return stops;
}

static QString times(const QString &unit, int n)
{
    return unit.repeated(n);
}

void TestGraphemes::leading_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");

    const QString latin = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123");
    QTest::newRow("latin 30 -> 24") << latin << 24 << latin.left(24);
    QTest::newRow("shorter than the cut") << QStringLiteral("어제 뭐 했지?") << 24 << QStringLiteral("어제 뭐 했지?");
    QTest::newRow("exactly the cut") << times(QStringLiteral("가"), 24) << 24 << times(QStringLiteral("가"), 24);
    QTest::newRow("empty") << QString() << 24 << QString();
    QTest::newRow("count 0") << QStringLiteral("abc") << 0 << QString();
    QTest::newRow("hangul syllables") << times(QStringLiteral("한"), 30) << 24 << times(QStringLiteral("한"), 24);
    // A syllable spelled as conjoining jamo (choseong, jungseong, jongseong).
    const QString jamo = QStringLiteral("\u1100\u1161\u11A8");
    QTest::newRow("conjoining jamo") << times(jamo, 30) << 24 << times(jamo, 24);
    const QString thumb = QStringLiteral("👍🏽");
    QTest::newRow("emoji with skin tone") << times(thumb, 30) << 24 << times(thumb, 24);
    const QString family = QStringLiteral("👨\u200D👩\u200D👧\u200D👦");
    QTest::newRow("zwj family") << times(family, 30) << 24 << times(family, 24);
    const QString rainbow = QStringLiteral("🏳️\u200D🌈");
    QTest::newRow("zwj flag with variation selector") << times(rainbow, 41) << 40 << times(rainbow, 40);
    // Regional indicators pair up: a cut between the two halves of a flag is wrong.
    const QString flags = QStringLiteral("🇰🇷🇯🇵");
    QTest::newRow("flags") << times(flags, 15) << 25 << times(flags, 12) + QStringLiteral("🇰🇷");
    const QString accented = QStringLiteral("e\u0301");
    QTest::newRow("combining acute") << times(accented, 30) << 24 << times(accented, 24);
    QTest::newRow("stacked combining marks") << times(QStringLiteral("a\u0308\u0323"), 5) << 3
                                             << times(QStringLiteral("a\u0308\u0323"), 3);
    QTest::newRow("mixed") << QStringLiteral("AUTH-3491 뭐였지? 👍🏽🇰🇷é") << 16
                           << QStringLiteral("AUTH-3491 뭐였지? 👍🏽");
    QTest::newRow("crlf is one") << QStringLiteral("a\r\nb") << 2 << QStringLiteral("a\r\n");
}

void TestGraphemes::leading()
{
    QFETCH(QString, text);
    QFETCH(int, count);
    QFETCH(QString, expected);
    QCOMPARE(leadingGraphemes(text, count), expected);
}

void TestGraphemes::stepsAsTheBoundaryFinderDoes_data()
{
    QTest::addColumn<QString>("text");

    QStringList all;
    const auto row = [&all](const char *name, const QString &text) {
        QTest::newRow(name) << text;
        all << text;
    };
    row("plain latin", QStringLiteral("Hello, world! 0123 ~"));
    row("hangul syllables", QStringLiteral("어제 뭐 했지? 한국어"));
    row("flags", QStringLiteral("🇰🇷🇯🇵🇺🇸"));
    row("an odd regional indicator", QStringLiteral("🇰🇷🇯x🇺🇸🇯"));
    row("zwj family", QStringLiteral("👨\u200D👩\u200D👧\u200D👦x"));
    row("zwj couple with heart", QStringLiteral("👩\u200D❤\uFE0F\u200D👨"));
    row("zwj flag with variation selector", QStringLiteral("🏳\uFE0F\u200D🌈"));
    row("combining marks", QStringLiteral("e\u0301a\u0308\u0323o\u0302"));
    row("cr lf", QStringLiteral("a\r\nb\rc\nd\r\r\n"));
    row("skin tone on a first-plane base", QStringLiteral("✋🏽✋🏽x✋🏽"));
    row("skin tone on a pointing finger", QStringLiteral("☝🏻☝🏿"));
    row("skin tone on an emoji", QStringLiteral("👍🏽👍"));
    row("thai sara am", QStringLiteral("\u0E01\u0E33 \u0E19\u0E49\u0E33 a\u0E33"));
    row("leading jamo, leading jamo, vowel", QStringLiteral("\u1100\u1100\u1161"));
    row("hangul in jamo", QStringLiteral("\u1100\u1161\u11A8\u1100\u1161"));
    row("leading jamo and a syllable", QStringLiteral("\u1100한\u1100가"));
    row("syllable and a vowel jamo", QStringLiteral("가\u1161\u1161나"));
    row("syllable and a trailing jamo", QStringLiteral("가\u11A8각\u11A8\u11A8"));
    row("halfwidth katakana voiced marks", QStringLiteral("\uFF76\uFF9E\uFF8A\uFF9Fx"));
    row("arabic prepended signs", QStringLiteral("\u0600\u0661\u0601\u0662\u0602\u0663\u0603\u0664\u0604\u0665\u0605\u0666"));
    row("arabic end of ayah", QStringLiteral("\u06DD\u0661\u0662"));
    row("syriac abbreviation mark", QStringLiteral("\u070F\u0710\u0711"));
    row("arabic pound and piastre marks", QStringLiteral("\u0890\u0661\u0891\u0662"));
    row("arabic disputed end of ayah", QStringLiteral("\u08E2\u0661"));
    row("malayalam dot reph", QStringLiteral("\u0D4E\u0D15\u0D3E"));
    row("devanagari conjunct", QStringLiteral("क्षत्रिय नमस्ते"));
    row("variation selector and keycap", QStringLiteral("⚠\uFE0F 1\uFE0F\u20E3"));
    row("tag sequence", QStringLiteral("🏴\U000E0067\U000E0062\U000E0073\U000E0063\U000E0074\U000E007F!"));
    row("tabs and controls", QStringLiteral("a\tb\x01c\u200Bd"));
    QString lone = QStringLiteral("a?b?");
    lone[1] = QChar(0xD800);
    lone[3] = QChar(0xDC00);
    row("lone surrogates", lone);
    // A letter between them keeps each row's signs out of the run of Thai or
    // Indic text before it (see below).
    QTest::newRow("all of them together") << all.join(u'x');
}

void TestGraphemes::stepsAsTheBoundaryFinderDoes()
{
    QFETCH(QString, text);
    Stops expected;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = 0; at >= 0; at = finder.toNextBoundary())
        expected << at;
    QCOMPARE(forwardStops(text), expected);
    QCOMPARE(backwardStops(text), expected);

    // Whatever the shortcuts call certain is certain.
    const auto isBoundary = [&expected](qsizetype at) { return expected.contains(at); };
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (isLoneUnit(QStringView(text).utf16(), text.size(), i) && isBoundary(i))
            QVERIFY2(isBoundary(i + 1), qPrintable(QString::number(i)));
        const qsizetype next = text.at(i).isHighSurrogate() && text.at(i + 1).isLowSurrogate() ? i + 2 : i + 1;
        const char32_t here = next == i + 2 ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
        if (surelyBreaksAt(text, next, here))
            QVERIFY2(isBoundary(next), qPrintable(QString::number(next)));
    }
}

void TestGraphemes::signsBesideThaiOrIndicStayWhole_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Stops>("stops");
    QTest::newRow("emoji before thai") << QStringLiteral("✋🏽\u0E01") << Stops{0, 3, 4};
    QTest::newRow("emoji after thai") << QStringLiteral("\u0E01✋🏽") << Stops{0, 1, 4};
    QTest::newRow("joined emoji before thai") << QStringLiteral("👨\u200D👩\u0E01") << Stops{0, 5, 6};
    QTest::newRow("cr lf before thai") << QStringLiteral("\r\n\u0E01") << Stops{0, 2, 3};
    QTest::newRow("variation selector after devanagari") << QStringLiteral("\u0915⚠\uFE0F") << Stops{0, 1, 3};
    QTest::newRow("flag after devanagari") << QStringLiteral("\u0915🇰🇷") << Stops{0, 1, 5};
}

// Qt reads signs, emoji and line ends that stand at the start of a text
// before Thai or Indic text, or after it, with that script's syllables and
// splits them, surrogate pairs too; here they stay whole.
void TestGraphemes::signsBesideThaiOrIndicStayWhole()
{
    QFETCH(QString, text);
    QFETCH(Stops, stops);
    QCOMPARE(forwardStops(text), stops);
    QCOMPARE(backwardStops(text), stops);
}

QTEST_APPLESS_MAIN(TestGraphemes)
#include "tst_graphemes.moc"
