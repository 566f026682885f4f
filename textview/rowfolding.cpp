#include "textview/rowfolding.h"

#include "textview/graphemes.h"

#include <QElapsedTimer>
#include <algorithm>

namespace Kovel::Text {

RowFolding::RowFolding(const LineStore &lines, const FontMeasures &measures) : m_lines(lines), m_measures(measures)
{
    reset();
}

void RowFolding::reset()
{
    const qsizetype count = m_lines.count();
    m_firstRows.resize(size_t(count));
    for (qsizetype k = 0; k < count; ++k)
        m_firstRows[size_t(k)] = k;
    m_lastStarts = {0};
    m_lastFolded = -1;
    m_wraps.clear();
    m_unfolded = 0;
}

// Folds `s` from `from`, the start of a row, to its end at `width`; appends
// the starts of the rows after that one to `starts` and returns how many
// rows it made, or stops once they are more than `rowLimit`.
qsizetype RowFolding::wrapFrom(QStringView s, qsizetype from, QList<qsizetype> *starts, qreal width,
                               qsizetype rowLimit) const
{
    const qsizetype n = s.size();
    const char16_t *chars = reinterpret_cast<const char16_t *>(s.data());
    const float *advances = m_measures.unitAdvances();
    const bool atSpaces = m_wrap == Wrap::AtSpaceOrAnywhere;
    qsizetype rows = 1;
    qsizetype rowStart = from;
    qreal x = 0;
    qsizetype spaceEnd = -1;   // after the row's last space, for wrapping at spaces
    qreal xAtSpaceEnd = 0;
    qsizetype i = from;
    while (i < n) {
        // Characters of one unit each, measured already, that fit the row, as
        // most of any text is: with no call here, nothing leaves the registers.
        while (i < n) {
            const char16_t c = chars[i];
            if (c < 0x20 || c >= 0xd800 || advances[c] < 0 || x + advances[c] > width || !isLoneUnit(chars, n, i))
                break;
            x += advances[c];
            ++i;
            if (c == u' ') {
                spaceEnd = i;
                xAtSpaceEnd = x;
            }
        }
        if (i == n)
            break;
        const char16_t c = chars[i];
        qsizetype end;
        qreal w;
        if (c >= 0x20 && c < 0xd800 && advances[c] >= 0 && isLoneUnit(chars, n, i)) {
            // What stopped the loop above by not fitting the row: placed here
            // as cheaply, since rows are short and end often.
            end = i + 1;
            w = advances[c];
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(chars[i + 1])
                   && surelyBreaksAt(s, i + 2, QChar::surrogateToUcs4(c, chars[i + 1]))) {
            // A character outside the first plane on its own, most likely an emoji.
            end = i + 2;
            w = m_measures.wideAdvance(QChar::surrogateToUcs4(c, chars[i + 1]));
        } else {
            end = clusterEnd(s, i);
            w = m_measures.advance(s, i, end, x);
        }
        if (x + w > width && i > rowStart) {
            if (atSpaces && spaceEnd > rowStart && spaceEnd <= i) {
                rowStart = spaceEnd;
                x -= xAtSpaceEnd;
            } else {
                rowStart = i;
                x = 0;
                if (c == u'\t')
                    w = m_measures.advance(s, i, end, 0);
            }
            spaceEnd = -1;
            if (++rows > rowLimit)
                return rows;
            if (starts)
                starts->append(rowStart);
            continue;   // the cluster is placed again, on the new row
        }
        x += w;
        if (c == u' ' || c == u'\t') {
            spaceEnd = end;
            xAtSpaceEnd = x;
        }
        i = end;
    }
    return rows;
}

QList<qsizetype> RowFolding::rowStarts(qsizetype line) const
{
    if (line == m_lines.count() - 1)
        return m_lastStarts;
    auto it = m_wraps.constFind(line);
    if (it != m_wraps.cend())
        return *it;
    QList<qsizetype> starts{0};
    if (firstRow(line + 1) - firstRow(line) > 1)
        wrapFrom(m_lines.text(line), 0, &starts, m_width);
    return starts;
}

void RowFolding::lastChanged(qsizetype from)
{
    finishLast();
    auto it = std::upper_bound(m_lastStarts.begin(), m_lastStarts.end(), from);
    const qsizetype k = std::max<qsizetype>(0, (it - m_lastStarts.begin()) - 2);
    m_lastStarts.resize(k + 1);
    wrapFrom(m_lines.text(m_lines.count() - 1), m_lastStarts[k], &m_lastStarts, m_width);
}

void RowFolding::endLast()
{
    finishLast();
    const LineStore::Line &l = m_lines.last();
    if (m_lastStarts.size() > 1 && l.length >= keptWrapChars)
        m_wraps.insert(m_lines.count() - 1, m_lastStarts);
}

void RowFolding::lineAdded()
{
    m_firstRows.push_back(m_firstRows.back() + m_lastStarts.size());
    m_lastStarts.resize(1);
    m_lastStarts[0] = 0;
}

void RowFolding::refold(qreal width, qsizetype topOffset, bool inParts)
{
    m_width = width;
    m_stale = false;
    m_wraps.clear();
    m_unfolded = 0;
    const qsizetype last = m_lines.count() - 1;
    m_lastStarts.resize(1);
    m_lastFolded = -1;
    if (m_lines.text(last).size() > lastFoldChars && inParts) {
        // Rows far enough to fill the screens from the top, the rest later.
        m_lastFolded = 0;
        foldLast(std::max<qsizetype>(lastFoldChars, topOffset - m_lines.last().offset + lastFoldChars));
    } else {
        wrapFrom(m_lines.text(last), 0, &m_lastStarts, m_width);
    }
}

// Folds the last line on to `until` characters; its rows beyond count as one
// row meanwhile. The row the fold stopped in is folded again from its start
// the next time.
void RowFolding::foldLast(qsizetype until)
{
    const QStringView text = m_lines.text(m_lines.count() - 1);
    if (until >= text.size()) {
        wrapFrom(text, m_lastStarts.back(), &m_lastStarts, m_width);
        m_lastFolded = -1;
        return;
    }
    wrapFrom(text.first(until), m_lastStarts.back(), &m_lastStarts, m_width);
    m_lastFolded = until;
}

void RowFolding::finishLast()
{
    if (m_lastFolded >= 0)
        foldLast(m_lines.text(m_lines.count() - 1).size());
}

bool RowFolding::foldSome(qint64 budgetNs)
{
    QElapsedTimer spent;
    spent.start();
    const qsizetype last = m_lines.count() - 1;
    qsizetype i = std::min(m_unfolded, last);
    qsizetype row = m_firstRows[size_t(i)];
    while (i < last) {
        m_firstRows[size_t(i)] = row;
        const LineStore::Line &l = m_lines.line(i);
        const QStringView text = m_lines.text(i);
        if (l.length >= keptWrapChars) {
            QList<qsizetype> starts{0};
            row += wrapFrom(text, 0, &starts, m_width);
            if (starts.size() > 1)
                m_wraps.insert(i, starts);
        } else {
            row += l.length ? wrapFrom(text, 0, nullptr, m_width) : 1;
        }
        ++i;
        if ((i & 63) == 0 && spent.nsecsElapsed() > budgetNs)
            break;
    }
    m_unfolded = i;
    for (qsizetype j = i; j <= last; ++j)
        m_firstRows[size_t(j)] = row + (j - i);
    // The last line's rest, a part a turn, once the lines before it are done.
    while (m_lastFolded >= 0 && i == last && spent.nsecsElapsed() < budgetNs)
        foldLast(m_lastFolded + lastFoldChars);
    return isFolding();
}

bool RowFolding::exceeds(qsizetype rows, qreal width) const
{
    qsizetype seen = 0;
    for (qsizetype k = 0; k < m_lines.count() && seen <= rows; ++k) {
        const QStringView text = m_lines.text(k);
        seen += text.isEmpty() ? 1 : wrapFrom(text, 0, nullptr, width, rows - seen);
    }
    return seen > rows;
}

qsizetype RowFolding::lineOfRow(qsizetype row) const
{
    auto it = std::upper_bound(m_firstRows.cbegin(), m_firstRows.cend(), row);
    return std::max<qsizetype>(0, (it - m_firstRows.cbegin()) - 1);
}

qsizetype RowFolding::rowOfOffset(qsizetype offset) const
{
    const qsizetype line = m_lines.lineOfOffset(offset);
    const QList<qsizetype> starts = rowStarts(line);
    const qsizetype col = offset - m_lines.line(line).offset;
    auto it = std::upper_bound(starts.cbegin(), starts.cend(), col);
    return firstRow(line) + std::max<qsizetype>(0, (it - starts.cbegin()) - 1);
}

qsizetype RowFolding::rowStartOffset(qsizetype row, qsizetype *rowLength) const
{
    row = std::clamp<qsizetype>(row, 0, rowCount() - 1);
    const qsizetype line = lineOfRow(row);
    const LineStore::Line &l = m_lines.line(line);
    const QList<qsizetype> starts = rowStarts(line);
    const qsizetype k = std::min<qsizetype>(row - firstRow(line), starts.size() - 1);
    if (rowLength)
        *rowLength = (k + 1 < starts.size() ? starts[k + 1] : qsizetype(l.length)) - starts[k];
    return l.offset + starts[k];
}

QStringView RowFolding::rowView(qsizetype row, qsizetype *rowOffset) const
{
    qsizetype length = 0;
    const qsizetype offset = rowStartOffset(row, &length);
    const qsizetype line = lineOfRow(row);
    // The rest of a last line still being folded is one row meanwhile: only
    // its start is handed out.
    if (m_lastFolded >= 0 && row == rowCount() - 1)
        length = std::min(length, unfoldedRowChars);
    *rowOffset = offset;
    return m_lines.text(line).sliced(offset - m_lines.line(line).offset, length);
}

} // namespace Kovel::Text
