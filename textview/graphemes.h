#pragma once

#include <QChar>
#include <QString>
#include <QStringView>
#include <atomic>

namespace Kovel::Text {

// User-perceived characters (grapheme clusters) as QTextBoundaryFinder
// finds them: a Hangul syllable, in one character or in jamo, an emoji with
// its modifiers, a flag, a base with its marks each count as one. Whatever
// cuts, folds or steps through text for the user asks here, so no cut splits
// what the user sees as one character.
//
// The full rules cost a QTextBoundaryFinder over a window of text; most
// neighbours need none of it. Whether a character may hold to the one before
// or after it is asked of QTextBoundaryFinder once per character and kept,
// so plain text is stepped through at the cost of two table lookups a
// character.
//
// Invariants:
// - surelyBreaks(a, b) is true only where QTextBoundaryFinder puts a boundary
//   between a and b whatever stands around them; false means "ask the full
//   rules", never "no boundary".
// - From a boundary, clusterEnd() finds the next boundary QTextBoundaryFinder
//   finds in the text from there, read after a letter, for clusters up to 32
//   UTF-16 units long (a longer one is cut there). Read so, the emoji, signs
//   and line ends Qt would take into a run of Thai or Indic text beside them,
//   and split, stay whole; elsewhere it is what QTextBoundaryFinder finds in
//   the whole text.
// - clusterStart() steps back to where clusterEnd() would have stepped from,
//   looking back at most 256 units for a place certain to be a boundary.

// The first `count` clusters of `text`.
QString leadingGraphemes(const QString &text, int count);

// The end of the cluster that starts at `i` in `s`.
qsizetype clusterEnd(QStringView s, qsizetype i);

// The start of the cluster that ends at `i` in `s`.
qsizetype clusterStart(QStringView s, qsizetype i);

// How a character may hold together with its neighbours, for the characters
// of the first two planes (beyond them, surelyBreaks never answers). A
// character is asked about the first time the full rules meet it; until
// then it is certain of nothing.
class GraphemeTraits
{
public:
    enum : quint8 {
        // Never holds to what follows: not Prepend, CR, a Hangul leading jamo,
        // a regional indicator, nor anything that extends (a joiner or a
        // virama reaches forward too).
        FreeAfter = 1,
        // Never holds to what precedes: not Extend, ZWJ, SpacingMark, a Hangul
        // vowel or trailing jamo, nor a regional indicator.
        FreeBefore = 2,
        Known = 4,
    };
    static constexpr char32_t covered = 0x20000;

    static quint8 of(char32_t c)
    {
        // Relaxed: a character asked about twice at once gets the same answer twice.
        return s_table[c].load(std::memory_order_relaxed);
    }
    // Asks the full rules about `c` unless they were asked already; false if
    // nothing new was learnt.
    static bool learn(char32_t c);

private:
    static std::atomic<quint8> s_table[covered];
};

// Whether a cluster boundary certainly lies between the characters `a` and
// `b` (code points; a lone surrogate stands for itself).
inline bool surelyBreaks(char32_t a, char32_t b)
{
    // Below U+0300 nothing holds together but CR LF.
    if (a < 0x300 && b < 0x300)
        return a != u'\r' || b != u'\n';
    if (a >= GraphemeTraits::covered || b >= GraphemeTraits::covered)
        return false;
    return GraphemeTraits::of(a) & (GraphemeTraits::of(b) >> 1) & GraphemeTraits::FreeAfter;
}

// Whether a cluster boundary certainly lies at `at` in `s`, right after the
// character `before`: at the end, or before a character that never holds
// to it.
inline bool surelyBreaksAt(QStringView s, qsizetype at, char32_t before)
{
    if (at >= s.size())
        return true;
    const char16_t unit = s[at].unicode();
    if (before < 0x300 && unit < 0x300)
        return before != u'\r' || unit != u'\n';
    char32_t next = unit;
    if (QChar::isHighSurrogate(unit) && at + 1 < s.size() && s[at + 1].isLowSurrogate())
        next = QChar::surrogateToUcs4(unit, s[at + 1].unicode());
    return surelyBreaks(before, next);
}

// Whether the UTF-16 unit at `i` of `s` (`n` units) is a whole cluster for
// certain: what steps through text unit by unit asks this first.
inline bool isLoneUnit(const char16_t *s, qsizetype n, qsizetype i)
{
    if (i + 1 >= n)
        return true;
    const char16_t c = s[i];
    const char16_t next = s[i + 1];
    // From U+000E to U+02FF nothing holds together (CR LF lies below).
    if (char16_t(c - 0x0e) < 0x2f2 && next < 0x300)
        return true;
    return surelyBreaksAt(QStringView(s, n), i + 1, c);
}

} // namespace Kovel::Text
