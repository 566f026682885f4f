#include "textview/linestore.h"

#include <algorithm>

namespace Kovel::Text {

namespace {

bool isBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

} // namespace

void LineStore::clear(const QString *source)
{
    m_source = source;
    m_lines.assign(1, Line{});
    m_own.clear();
}

void LineStore::setText(const QString *source)
{
    clear(source);
    const QChar *chars = source->constData();
    const qsizetype size = source->size();
    qsizetype i = 0;
    while (i < size) {
        qsizetype j = i;
        while (j < size && !isBreak(chars[j]))
            ++j;
        Line &l = m_lines.back();
        l.from = i;
        l.length = quint32(j - i);
        if (j == size)
            break;
        i = j + (chars[j] == u'\r' && j + 1 < size && chars[j + 1] == u'\n' ? 2 : 1);
        newLine();
    }
}

bool LineStore::extendLast(qsizetype sourceFrom, qsizetype count)
{
    Line &l = m_lines.back();
    if (count <= 0)
        return true;
    if (l.owned || (l.length > 0 && l.from + l.length != sourceFrom))
        return false;
    if (l.length == 0)
        l.from = sourceFrom;
    l.length += quint32(count);
    return true;
}

void LineStore::replaceInLast(qsizetype at, qsizetype remove, QStringView insert)
{
    Line &l = m_lines.back();
    if (!l.owned) {
        // The earlier lines' own texts are done with; the last one's goes at the end.
        const QString copy = text(count() - 1).toString();
        l.from = m_own.size();
        m_own.append(copy);
        l.owned = 1;
    }
    at = std::min<qsizetype>(at, l.length);
    remove = std::min<qsizetype>(remove, l.length - at);
    m_own.replace(l.from + at, remove, insert.data(), insert.size());
    l.length = quint32(l.length - remove + insert.size());
}

void LineStore::newLine()
{
    const Line &l = m_lines.back();
    Line next;
    next.offset = l.offset + l.length + 1;
    next.from = l.owned ? 0 : l.from + l.length;
    m_lines.push_back(next);
}

QStringView LineStore::text(qsizetype k) const
{
    const Line &l = line(k);
    const QString &from = l.owned ? m_own : *m_source;
    return QStringView(from).sliced(l.from, l.length);
}

QString LineStore::textRange(qsizetype from, qsizetype to) const
{
    from = std::clamp<qsizetype>(from, 0, length());
    to = std::clamp<qsizetype>(to, from, length());
    QString out;
    out.reserve(to - from);
    for (qsizetype i = lineOfOffset(from); i < count(); ++i) {
        const Line &l = line(i);
        if (l.offset >= to)
            break;
        const qsizetype a = std::max(from, l.offset) - l.offset;
        const qsizetype b = std::min<qsizetype>(to - l.offset, l.length);
        if (b > a)
            out.append(text(i).sliced(a, b - a));
        if (l.offset + l.length < to && i + 1 < count())
            out.append(u'\n');
    }
    return out;
}

qsizetype LineStore::lineOfOffset(qsizetype offset) const
{
    auto it = std::upper_bound(m_lines.cbegin(), m_lines.cend(), offset,
                               [](qsizetype o, const Line &l) { return o < l.offset; });
    return std::max<qsizetype>(0, (it - m_lines.cbegin()) - 1);
}

} // namespace Kovel::Text
