#pragma once

#include <QString>
#include <QStringView>
#include <deque>

namespace Kovel::Text {

// The shown text as lines. A line is a range of a source text the store does
// not own (a reference line) or, once rewritten, a range of a text of the
// store's own, so text of any size is shown without a copy. Offsets are in
// the shown text: the lines joined by one break each.
//
// Invariants:
// - There is always at least one line; the last one may be empty.
// - Line k begins at offset(k - 1) + length(k - 1) + 1.
// - Only the last line changes: it grows by the source text right after it,
//   or it is rewritten in place, and from then on holds its own text, at the
//   end of the own text.
// - A reference line lies inside the source; the source outlives the lines
//   and only grows (a source replaced or cut is set again with clear()).
// - Lines are never moved once made (the index is a deque), so growing the
//   text never copies what is there.
class LineStore
{
public:
    struct Line {
        qsizetype from = 0;     // in the source, or in the own text when owned
        qsizetype offset = 0;   // shown characters before it, a break counting one
        quint32 length : 31 = 0;
        quint32 owned : 1 = 0;
    };

    // One empty line, to be made of `source`.
    void clear(const QString *source);
    // The lines of `source`, whose line breaks of any convention ("\n",
    // "\r\n", "\r", U+2028, U+2029) each end one line.
    void setText(const QString *source);

    // The last line grows by `count` characters of the source from
    // `sourceFrom`; false, and nothing changes, unless it is a reference line
    // ending there (or empty).
    bool extendLast(qsizetype sourceFrom, qsizetype count);
    // The last line's text from `at`, `remove` characters long, becomes
    // `insert`; the line then holds its own text.
    void replaceInLast(qsizetype at, qsizetype remove, QStringView insert);
    // A new, empty last line.
    void newLine();

    qsizetype count() const { return qsizetype(m_lines.size()); }
    const Line &line(qsizetype k) const { return m_lines[size_t(k)]; }
    const Line &last() const { return m_lines.back(); }
    QStringView text(qsizetype k) const;
    // Shown characters in all.
    qsizetype length() const { return last().offset + last().length; }
    bool isEmpty() const { return m_lines.size() == 1 && last().length == 0; }
    // The shown text from `from` to `to`, lines joined by "\n".
    QString textRange(qsizetype from, qsizetype to) const;
    // The line `offset` is in (a break counts to the line it ends).
    qsizetype lineOfOffset(qsizetype offset) const;

private:
    const QString *m_source = nullptr;
    QString m_own;
    std::deque<Line> m_lines{Line{}};
};

} // namespace Kovel::Text
