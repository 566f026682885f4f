#include "textview/graphemes.h"

#include <QTextBoundaryFinder>
#include <algorithm>

namespace Kovel::Text {

namespace {

// The longest cluster looked at, in UTF-16 units; a longer one is cut.
constexpr qsizetype clusterWindow = 32;
// How far back clusterStart looks for a certain boundary to step from: a
// run of flags longer than this may be paired from the wrong half.
constexpr qsizetype lookBehind = 8 * clusterWindow;

// The scripts whose cluster boundaries Qt tailors by syllable.
bool bySyllables(QChar::Script script)
{
    switch (script) {
    case QChar::Script_Devanagari:
    case QChar::Script_Bengali:
    case QChar::Script_Gurmukhi:
    case QChar::Script_Gujarati:
    case QChar::Script_Oriya:
    case QChar::Script_Tamil:
    case QChar::Script_Telugu:
    case QChar::Script_Kannada:
    case QChar::Script_Malayalam:
    case QChar::Script_Sinhala:
    case QChar::Script_Thai:
    case QChar::Script_Tibetan:
    case QChar::Script_Myanmar:
    case QChar::Script_Khmer:
        return true;
    default:
        return false;
    }
}

// Whether QTextBoundaryFinder puts no boundary at `at` in `text`.
bool holdsAt(const QString &text, qsizetype at)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(at);
    return !finder.isAtBoundary();
}

// The character at `i` of `s` and where the next one begins.
char32_t codePointAt(QStringView s, qsizetype i, qsizetype *next)
{
    const char16_t c = s[i].unicode();
    if (QChar::isHighSurrogate(c) && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
        *next = i + 2;
        return QChar::surrogateToUcs4(c, s[i + 1].unicode());
    }
    *next = i + 1;
    return c;
}

// Where the character that ends at `i` of `s` begins.
qsizetype characterBefore(QStringView s, qsizetype i)
{
    return i >= 2 && s[i - 1].isLowSurrogate() && s[i - 2].isHighSurrogate() ? i - 2 : i - 1;
}

} // namespace

std::atomic<quint8> GraphemeTraits::s_table[GraphemeTraits::covered];

bool GraphemeTraits::learn(char32_t c)
{
    if (c >= covered || (of(c) & Known))
        return false;
    quint8 traits = Known;
    // A lone half of a surrogate pair stays certain of nothing, and so does a
    // character of a script whose clusters QTextBoundaryFinder finds by its
    // syllables rather than by pairs: only the full rules know.
    if (!QChar::isSurrogate(c) && !bySyllables(QChar::script(c))) {
        const QString one = QString::fromUcs4(&c, 1);
        const qsizetype n = one.size();
        const bool regional = c >= 0x1f1e6 && c <= 0x1f1ff;
        // After a letter it would extend; after a vowel jamo it would be a
        // vowel or trailing jamo.
        const bool holdsBefore = regional || holdsAt(QChar(u'a') + one, 1) || holdsAt(QChar(0x1161) + one, 1);
        // Before a letter it would be Prepend; before a leading jamo, a
        // leading jamo.
        const bool holdsAfter = regional || c == u'\r' || holdsBefore || holdsAt(one + QChar(u'a'), n)
            || holdsAt(one + QChar(0x1100), n);
        if (!holdsBefore)
            traits |= FreeBefore;
        if (!holdsAfter)
            traits |= FreeAfter;
    }
    s_table[c].store(traits, std::memory_order_relaxed);
    return true;
}

QString leadingGraphemes(const QString &text, int count)
{
    qsizetype end = 0;
    for (int seen = 0; seen < count && end < text.size(); ++seen)
        end = clusterEnd(text, end);
    return text.left(end);
}

qsizetype clusterEnd(QStringView s, qsizetype i)
{
    const qsizetype n = s.size();
    if (i >= n)
        return n;
    qsizetype next = 0;
    const char32_t c = codePointAt(s, i, &next);
    if (surelyBreaksAt(s, next, c))
        return next;
    if (next < n) {
        qsizetype after = 0;
        const bool learnt = GraphemeTraits::learn(c);
        if ((GraphemeTraits::learn(codePointAt(s, next, &after)) || learnt) && surelyBreaksAt(s, next, c))
            return next;
    }
    // From a boundary, the window alone tells where the cluster ends. It is
    // read after a letter: at the start of a text, Qt lets a run of Thai or
    // Indic text take in the emoji, marks and signs before it and then splits
    // them, surrogate pairs too; after a letter, they keep to themselves.
    QString window;
    window.reserve(1 + std::min(clusterWindow, n - i));
    window.append(u'a');
    window.append(s.sliced(i, std::min(clusterWindow, n - i)));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    finder.setPosition(1);
    const qsizetype end = finder.toNextBoundary();
    return end > 1 ? i + end - 1 : next;
}

qsizetype clusterStart(QStringView s, qsizetype i)
{
    i = std::min(i, s.size());
    if (i <= 0)
        return 0;
    // Back to a certain boundary, then forward cluster by cluster: flags
    // pair up from the start of their run, never from the middle.
    const qsizetype limit = std::max<qsizetype>(0, i - lookBehind);
    qsizetype from = characterBefore(s, i);
    while (from > limit) {
        const qsizetype before = characterBefore(s, from);
        qsizetype end = 0;
        const char32_t a = codePointAt(s, before, &end);
        const char32_t b = codePointAt(s, from, &end);
        GraphemeTraits::learn(a);
        GraphemeTraits::learn(b);
        if (surelyBreaks(a, b))
            break;
        from = before;
    }
    for (qsizetype end = clusterEnd(s, from); end < i; end = clusterEnd(s, from))
        from = end;
    return from;
}

} // namespace Kovel::Text
