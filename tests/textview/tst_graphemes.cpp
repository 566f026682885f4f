#include "textview/graphemes.h"

#include <QTest>

using namespace Kovel::Text;

// Cutting a subject to its first N characters must count what the user sees
// as one character, never split one.
class TestGraphemes : public QObject
{
    Q_OBJECT
private slots:
    void leading_data();
    void leading();
};

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

QTEST_APPLESS_MAIN(TestGraphemes)
#include "tst_graphemes.moc"
