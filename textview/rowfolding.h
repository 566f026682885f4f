#pragma once

#include "textview/fontmeasures.h"
#include "textview/linestore.h"

#include <QHash>
#include <QList>
#include <QStringView>
#include <deque>
#include <limits>

namespace Kovel::Text {

enum class Wrap { Anywhere, AtSpaceOrAnywhere };

// The lines of a LineStore folded into rows no wider than a width, between
// whole characters (graphemes.h) and, with Wrap::AtSpaceOrAnywhere, after
// the row's last space where it has one. Rows are found by adding up the
// advances FontMeasures keeps, never by laying text out, so folding costs
// little more than reading the text.
//
// Invariants:
// - Every line knows its first row (the rows before it). The lines before
//   the first one not yet folded are folded at width(); the lines from there
//   on count one row each until foldSome() reaches them, and the rows after
//   them move then.
// - The last line's row starts are always kept, at least {0}. While it is
//   folded only in part (isFolding()), only its first characters are, and
//   the rest counts as one row. A row start, once found, is final: it
//   depends only on the text before it, except the start of the row a part
//   ended in, from which the next part folds again.
// - Other lines of keptWrapChars characters or more keep their row starts;
//   shorter ones are folded again whenever asked, which costs less than
//   keeping them.
// - A row starts at a cluster boundary; it is no wider than the width unless
//   one cluster alone is wider.
// - While isStale(), the rows kept are of an earlier width, font or text;
//   refold() makes them current.
class RowFolding
{
public:
    // A line with more characters keeps its row starts.
    static constexpr qsizetype keptWrapChars = 2048;
    // A last line longer than this is folded in parts of this many characters.
    static constexpr qsizetype lastFoldChars = 256 * 1024;
    // The longest part of a row not yet folded that is handed out to paint it.
    static constexpr qsizetype unfoldedRowChars = 4096;

    RowFolding(const LineStore &lines, const FontMeasures &measures);

    void setWrap(Wrap wrap) { m_wrap = wrap; }
    // The width rows are folded at.
    qreal width() const { return m_width; }
    // The width, the font, the wrap or the whole text changed: until refold(),
    // rows asked for are folded at `width` as they are asked for.
    void invalidate(qreal width)
    {
        m_width = width;
        m_stale = true;
    }
    bool isStale() const { return m_stale; }

    // The store was cleared or given a new text: each line one row.
    void reset();
    // Folds all lines again at `width`: the last line at once, or, if it is
    // long and `inParts`, as far as the screens from `topOffset` on need and
    // the rest over later turns; the other lines in foldSome().
    void refold(qreal width, qsizetype topOffset, bool inParts);
    // Folds what is not folded yet for about `budgetNs`: the lines first,
    // then the rest of the last line. False once all is folded.
    bool foldSome(qint64 budgetNs);
    bool isFolding() const { return m_unfolded < m_lines.count() - 1 || m_lastFolded >= 0; }

    // The last line changed from `from` on: its rows from the one before the
    // change are folded again.
    void lastChanged(qsizetype from);
    // A new line comes after the last: call before LineStore::newLine() ...
    void endLast();
    // ... and after it.
    void lineAdded();

    // Whether the lines need more than `rows` rows at `width`; folds only as
    // far as it takes to tell.
    bool exceeds(qsizetype rows, qreal width) const;

    qsizetype rowCount() const { return m_firstRows.back() + m_lastStarts.size(); }
    qsizetype firstRow(qsizetype line) const { return m_firstRows[size_t(line)]; }
    qsizetype lineOfRow(qsizetype row) const;
    qsizetype rowOfOffset(qsizetype offset) const;
    // The shown offset where `row` begins, and its length without the break.
    qsizetype rowStartOffset(qsizetype row, qsizetype *rowLength = nullptr) const;
    // The text of `row` as it is painted, and the shown offset it begins at.
    QStringView rowView(qsizetype row, qsizetype *rowOffset) const;

private:
    qsizetype wrapFrom(QStringView s, qsizetype from, QList<qsizetype> *starts, qreal width,
                       qsizetype rowLimit = std::numeric_limits<qsizetype>::max()) const;
    QList<qsizetype> rowStarts(qsizetype line) const;
    void foldLast(qsizetype until);
    void finishLast();

    const LineStore &m_lines;
    const FontMeasures &m_measures;
    Wrap m_wrap = Wrap::Anywhere;
    qreal m_width = 1;
    bool m_stale = true;
    std::deque<qsizetype> m_firstRows{0};       // per line; grows without moving
    QList<qsizetype> m_lastStarts{0};           // row starts of the last line
    qsizetype m_lastFolded = -1;                // the last line is folded this far; -1 all of it
    QHash<qsizetype, QList<qsizetype>> m_wraps; // row starts of long lines
    qsizetype m_unfolded = 0;                   // lines before it are folded at m_width
};

} // namespace Kovel::Text
