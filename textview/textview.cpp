#include "textview/textview.h"

#include "textview/graphemes.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace Kovel::Text {

namespace {

// The screen follows the text at most this often.
constexpr int frameMs = 16;
// A line with more characters keeps its row starts; shorter ones fold again
// whenever they are painted, which costs less than keeping them.
constexpr qsizetype keptWrapChars = 2048;
// Folding all lines again (a new width, a new text) takes the first of these
// at once (the first screens), and the second on each following turn until
// it is done.
constexpr qint64 firstFoldNs = 2'000'000;
constexpr qint64 laterFoldNs = 4'000'000;
// A last line longer than this, not followed at its end, is folded over
// several turns too: first the rows the screen shows, then the rest.
constexpr qsizetype lastFoldChars = 256 * 1024;
// The longest part of a row not yet folded that is laid out to paint it.
constexpr qsizetype unfoldedRowChars = 4096;

bool isBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

class AccessibleTextView : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit AccessibleTextView(TextView *view) : QAccessibleWidget(view, QAccessible::EditableText) {}
    TextView *view() const { return static_cast<TextView *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.selectableText = true;
        s.multiLine = true;
        return s;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return view()->text();
        if (t == QAccessible::Name && view()->accessibleName().isEmpty() && view()->isEmpty())
            return view()->placeholderText();
        return QAccessibleWidget::text(t);
    }

    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && view()->selectionStart() != view()->selectionEnd()) {
            *start = int(view()->selectionStart());
            *end = int(view()->selectionEnd());
        }
    }
    int selectionCount() const override { return view()->selectionStart() != view()->selectionEnd() ? 1 : 0; }
    void addSelection(int start, int end) override { view()->setSelection(start, end); }
    void removeSelection(int) override { view()->setSelection(view()->position(), view()->position()); }
    void setSelection(int, int start, int end) override { view()->setSelection(start, end); }
    int cursorPosition() const override { return int(view()->position()); }
    void setCursorPosition(int position) override { view()->setSelection(position, position); }
    QString text(int start, int end) const override { return view()->textRange(start, end); }
    int characterCount() const override { return int(view()->length()); }
    QRect characterRect(int offset) const override
    {
        const QRect r = view()->characterRect(offset);
        return QRect(view()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return int(view()->offsetAt(view()->viewport()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int start, int) override { view()->setSelection(start, start); }
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = offset;
        *end = offset + 1;
        return QString();
    }
};

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (object && object->isWidgetType() && qobject_cast<TextView *>(object) && className.size())
        return new AccessibleTextView(static_cast<TextView *>(object));
    return nullptr;
}

} // namespace

TextView::TextView(QWidget *parent) : QAbstractScrollArea(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);

    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &TextView::refreshNow);
    m_fold.setSingleShot(true);
    connect(&m_fold, &QTimer::timeout, this, [this] {
        foldSome(rowStartOffset(verticalScrollBar()->value()), laterFoldNs);
    });
    m_lastRefresh.start();
    clearLines();
    measureFont();
}

TextView::~TextView() = default;

// ---- the shown text

void TextView::clearLines()
{
    m_lines.assign(1, Line{});
    m_fold.stop();
    m_unfolded = 0;
    m_lastStarts = {0};
    m_lastFolded = -1;
    m_wraps.clear();
    m_own.clear();
    m_anchor = m_position = 0;
    m_atEnd = true;
    m_wantedX = -1;
    verticalScrollBar()->setValue(0);
    refreshNow();
}

void TextView::setPlainText(const QString &text)
{
    m_text = text;
    setSource(&m_text);
    clearLines();
    const QChar *chars = m_text.constData();
    const qsizetype size = m_text.size();
    qsizetype i = 0;
    while (i < size) {
        qsizetype j = i;
        while (j < size && !isBreak(chars[j]))
            ++j;
        // Folded all together below, the first screens at once.
        Line &l = m_lines.back();
        l.from = i;
        l.length = quint32(j - i);
        if (j == size)
            break;
        i = j + (chars[j] == u'\r' && j + 1 < size && chars[j + 1] == u'\n' ? 2 : 1);
        newLine();
    }
    m_width = -1;
    relayout();
    refreshNow();
}

QStringView TextView::lineText(qsizetype line) const
{
    const Line &l = m_lines[size_t(line)];
    const QString &from = l.owned ? m_own : *m_source;
    return QStringView(from).sliced(l.from, l.length);
}

bool TextView::extendLast(qsizetype sourceFrom, qsizetype count)
{
    Line &l = m_lines.back();
    if (count <= 0)
        return true;
    if (l.owned || (l.length > 0 && l.from + l.length != sourceFrom))
        return false;
    const qsizetype at = l.length;
    if (l.length == 0)
        l.from = sourceFrom;
    l.length += quint32(count);
    rewrapLast(at);
    return true;
}

void TextView::replaceInLast(qsizetype at, qsizetype remove, QStringView insert)
{
    Line &l = m_lines.back();
    if (!l.owned) {
        // The earlier lines' own texts are done with; the last one's goes at the end.
        const QString copy = lineText(qsizetype(m_lines.size()) - 1).toString();
        l.from = m_own.size();
        m_own.append(copy);
        l.owned = 1;
    }
    at = std::min<qsizetype>(at, l.length);
    remove = std::min<qsizetype>(remove, l.length - at);
    m_own.replace(l.from + at, remove, insert.data(), insert.size());
    l.length = quint32(l.length - remove + insert.size());
    rewrapLast(at);
}

void TextView::newLine()
{
    finishLastFold();
    const qsizetype last = qsizetype(m_lines.size()) - 1;
    const Line &l = m_lines.back();
    if (m_lastStarts.size() > 1 && l.length >= keptWrapChars)
        m_wraps.insert(last, m_lastStarts);
    Line next;
    next.offset = l.offset + l.length + 1;
    next.row = l.row + m_lastStarts.size();
    next.from = l.owned ? 0 : l.from + l.length;
    m_lines.push_back(next);
    m_lastStarts.resize(1);
    m_lastStarts[0] = 0;
}

qsizetype TextView::length() const
{
    const Line &l = m_lines.back();
    return l.offset + l.length;
}

QString TextView::text() const
{
    return textRange(0, length());
}

QString TextView::textRange(qsizetype from, qsizetype to) const
{
    from = std::clamp<qsizetype>(from, 0, length());
    to = std::clamp<qsizetype>(to, from, length());
    QString out;
    out.reserve(to - from);
    for (qsizetype i = lineOfOffset(from); i < qsizetype(m_lines.size()); ++i) {
        const Line &l = m_lines[size_t(i)];
        if (l.offset >= to)
            break;
        const qsizetype a = std::max(from, l.offset) - l.offset;
        const qsizetype b = std::min<qsizetype>(to - l.offset, l.length);
        if (b > a)
            out.append(lineText(i).sliced(a, b - a));
        if (l.offset + l.length < to && i + 1 < qsizetype(m_lines.size()))
            out.append(u'\n');
    }
    return out;
}

qsizetype TextView::lineOfOffset(qsizetype offset) const
{
    auto it = std::upper_bound(m_lines.cbegin(), m_lines.cend(), offset,
                               [](qsizetype o, const Line &l) { return o < l.offset; });
    return std::max<qsizetype>(0, (it - m_lines.cbegin()) - 1);
}

qsizetype TextView::lineOfRow(qsizetype row) const
{
    auto it = std::upper_bound(m_lines.cbegin(), m_lines.cend(), row,
                               [](qsizetype r, const Line &l) { return r < l.row; });
    return std::max<qsizetype>(0, (it - m_lines.cbegin()) - 1);
}

// ---- folding into rows

void TextView::measureFont()
{
    const QFontMetricsF metrics(font());
    m_painted.clear();
    m_advances.assign(0x10000, -1.f);
    m_clusters.clear();
    m_wide.clear();
    m_tab = 8 * metrics.horizontalAdvance(QLatin1Char(' '));
    // Rows are as tall as the tallest script the text is likely to hold, so
    // Hangul and emoji from fallback fonts never reach into the next row.
    QTextLayout sample(QStringLiteral("Ag가😀✓"), font());
    sample.beginLayout();
    QTextLine line = sample.createLine();
    sample.endLayout();
    m_ascent = std::max(metrics.ascent(), line.ascent());
    const qreal descent = std::max(metrics.descent(), line.descent());
    m_rowHeight = std::max(1, int(std::ceil(m_ascent + descent + std::max<qreal>(0, metrics.leading()))));
}

qreal TextView::advance(QStringView s, qsizetype i, qsizetype end, qreal x) const
{
    const char16_t c = s[i].unicode();
    if (end == i + 1) {
        if (c == u'\t')
            return m_tab - std::fmod(x, m_tab);
        float &a = m_advances[c];
        if (a < 0)
            a = float(QFontMetricsF(font()).horizontalAdvance(QChar(c)));
        return a;
    }
    const QString cluster = s.sliced(i, end - i).toString();
    auto it = m_clusters.constFind(cluster);
    if (it != m_clusters.cend())
        return *it;
    const qreal a = QFontMetricsF(font()).horizontalAdvance(cluster);
    m_clusters.insert(cluster, a);
    return a;
}

qreal TextView::available() const
{
    return std::max<qreal>(1, viewport()->width() - 2 * m_margin);
}

// Folds `s` from `from`, the start of a row, to its end; appends the starts of
// the rows after that one to `starts` and returns how many rows it made.
qsizetype TextView::wrapFrom(QStringView s, qsizetype from, QList<qsizetype> *starts) const
{
    const qreal width = m_width > 0 ? m_width : available();
    const qsizetype n = s.size();
    const char16_t *chars = reinterpret_cast<const char16_t *>(s.data());
    const float *advances = m_advances.data();
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
            end = i + 1;
            w = advances[c];
        } else if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(chars[i + 1])
                   && surelyBreaksAt(s, i + 2, QChar::surrogateToUcs4(c, chars[i + 1]))) {
            // A character outside the first plane on its own, most likely an emoji.
            end = i + 2;
            const char32_t u = QChar::surrogateToUcs4(c, chars[i + 1]);
            auto it = m_wide.constFind(u);
            if (it == m_wide.cend())
                it = m_wide.insert(u, QFontMetricsF(font()).horizontalAdvance(s.sliced(i, 2).toString()));
            w = *it;
        } else {
            end = clusterEnd(s, i);
            w = advance(s, i, end, x);
        }
        if (x + w > width && i > rowStart) {
            if (m_wrap == Wrap::AtSpaceOrAnywhere && spaceEnd > rowStart && spaceEnd <= i) {
                rowStart = spaceEnd;
                x -= xAtSpaceEnd;
            } else {
                rowStart = i;
                x = 0;
                if (c == u'\t')
                    w = advance(s, i, end, 0);
            }
            spaceEnd = -1;
            ++rows;
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

QList<qsizetype> TextView::rowStarts(qsizetype line) const
{
    if (line == qsizetype(m_lines.size()) - 1)
        return m_lastStarts;
    auto it = m_wraps.constFind(line);
    if (it != m_wraps.cend())
        return *it;
    QList<qsizetype> starts{0};
    const Line &l = m_lines[size_t(line)];
    if (m_lines[size_t(line) + 1].row - l.row > 1)
        wrapFrom(lineText(line), 0, &starts);
    return starts;
}

// The last line changed from `from` on: its rows from the one before the
// change are folded again.
void TextView::rewrapLast(qsizetype from)
{
    finishLastFold();
    auto it = std::upper_bound(m_lastStarts.begin(), m_lastStarts.end(), from);
    qsizetype k = std::max<qsizetype>(0, (it - m_lastStarts.begin()) - 2);
    m_lastStarts.resize(k + 1);
    wrapFrom(lineText(qsizetype(m_lines.size()) - 1), m_lastStarts[k], &m_lastStarts);
}

void TextView::relayout()
{
    const qreal width = available();
    if (width == m_width)
        return;
    // The top row's first character stays on top.
    const qsizetype topOffset = rowStartOffset(verticalScrollBar()->value());
    m_width = width;
    m_wraps.clear();
    m_unfolded = 0;
    const qsizetype last = qsizetype(m_lines.size()) - 1;
    m_lastStarts.resize(1);
    m_lastFolded = -1;
    if (lineText(last).size() > lastFoldChars && !(m_follow && m_atEnd)) {
        // Rows far enough to fill the screens from the top, the rest later.
        m_lastFolded = 0;
        foldLast(std::max<qsizetype>(lastFoldChars, topOffset - m_lines[size_t(last)].offset + lastFoldChars));
    } else {
        wrapFrom(lineText(last), 0, &m_lastStarts);
    }
    foldSome(topOffset, firstFoldNs);
}

// Folds the last line on to `until` characters; its rows beyond count as one
// row meanwhile. Row starts depend only on what comes before them, so the
// rows found are final except the one the fold stopped in, which is folded
// again from its start the next time.
void TextView::foldLast(qsizetype until)
{
    const QStringView text = lineText(qsizetype(m_lines.size()) - 1);
    if (until >= text.size()) {
        wrapFrom(text, m_lastStarts.back(), &m_lastStarts);
        m_lastFolded = -1;
        return;
    }
    wrapFrom(text.first(until), m_lastStarts.back(), &m_lastStarts);
    m_lastFolded = until;
}

void TextView::finishLastFold()
{
    if (m_lastFolded >= 0)
        foldLast(lineText(qsizetype(m_lines.size()) - 1).size());
}

// Folds lines from the first not yet folded on, for about `budgetNs`; the
// rest count one row each meanwhile and are folded on the following turns,
// so no text is too long to show at once. `topOffset` stays on top.
void TextView::foldSome(qsizetype topOffset, qint64 budgetNs)
{
    QElapsedTimer spent;
    spent.start();
    const qsizetype last = qsizetype(m_lines.size()) - 1;
    qsizetype i = std::min(m_unfolded, last);
    qsizetype row = m_lines[size_t(i)].row;
    if (i == 0)
        row = 0;
    while (i < last) {
        Line &l = m_lines[size_t(i)];
        l.row = row;
        const QStringView text = lineText(i);
        if (l.length >= keptWrapChars) {
            QList<qsizetype> starts{0};
            row += wrapFrom(text, 0, &starts);
            if (starts.size() > 1)
                m_wraps.insert(i, starts);
        } else {
            row += l.length ? wrapFrom(text, 0, nullptr) : 1;
        }
        ++i;
        if ((i & 63) == 0 && spent.nsecsElapsed() > budgetNs)
            break;
    }
    m_unfolded = i;
    for (qsizetype j = i; j <= last; ++j)
        m_lines[size_t(j)].row = row + (j - i);
    // The last line's rest, a part a turn, once the lines before it are done.
    while (m_lastFolded >= 0 && i == last && spent.nsecsElapsed() < budgetNs)
        foldLast(m_lastFolded + lastFoldChars);
    updateRange();
    if (!(m_follow && m_atEnd))
        verticalScrollBar()->setValue(int(rowOfOffset(topOffset)));
    viewport()->update();
    if (m_unfolded < last || m_lastFolded >= 0)
        m_fold.start(0);
}

qsizetype TextView::rowOfOffset(qsizetype offset) const
{
    const qsizetype line = lineOfOffset(offset);
    const QList<qsizetype> starts = rowStarts(line);
    const qsizetype col = offset - m_lines[size_t(line)].offset;
    auto it = std::upper_bound(starts.cbegin(), starts.cend(), col);
    return m_lines[size_t(line)].row + std::max<qsizetype>(0, (it - starts.cbegin()) - 1);
}

// The shown offset where `row` begins, and its length without the break.
qsizetype TextView::rowStartOffset(qsizetype row, qsizetype *rowLength) const
{
    row = std::clamp<qsizetype>(row, 0, rowCount() - 1);
    const qsizetype line = lineOfRow(row);
    const Line &l = m_lines[size_t(line)];
    const QList<qsizetype> starts = rowStarts(line);
    const qsizetype k = std::min<qsizetype>(row - l.row, starts.size() - 1);
    if (rowLength)
        *rowLength = (k + 1 < starts.size() ? starts[k + 1] : qsizetype(l.length)) - starts[k];
    return l.offset + starts[k];
}

// The text of `row` as it is laid out, and the shown offset it starts at.
QStringView TextView::rowView(qsizetype row, qsizetype *rowOffset) const
{
    qsizetype length = 0;
    const qsizetype offset = rowStartOffset(row, &length);
    const qsizetype line = lineOfRow(row);
    // The rest of a last line still being folded is one row meanwhile: only
    // its start is laid out.
    if (m_lastFolded >= 0 && row == rowCount() - 1)
        length = std::min(length, unfoldedRowChars);
    *rowOffset = offset;
    return lineText(line).sliced(offset - m_lines[size_t(line)].offset, length);
}

void TextView::layoutRow(QTextLayout &layout, qsizetype row, qsizetype *rowOffset) const
{
    qsizetype offset = 0;
    layout.setText(rowView(row, &offset).toString());
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(m_tab);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine l = layout.createLine();
    if (l.isValid())
        l.setLineWidth(1e6);
    layout.endLayout();
    *rowOffset = offset;
}

// ---- scrolling and painting

int TextView::visibleRows() const
{
    return std::max(1, (viewport()->height() - 2 * m_margin) / m_rowHeight);
}

void TextView::updateRange()
{
    QScrollBar *bar = verticalScrollBar();
    const qsizetype maximum = std::max<qsizetype>(0, rowCount() - visibleRows());
    const bool follow = m_follow && m_atEnd;
    bar->setPageStep(visibleRows());
    bar->setRange(0, int(std::min<qsizetype>(maximum, INT_MAX)));
    if (follow)
        bar->setValue(bar->maximum());
    m_atEnd = bar->value() >= bar->maximum();
}

void TextView::textChanged()
{
    m_refreshDue = true;
    if (m_refresh.isActive())
        return;
    const qint64 since = m_lastRefresh.elapsed();
    m_refresh.start(since >= frameMs ? 0 : int(frameMs - since));
}

void TextView::refreshNow()
{
    m_refresh.stop();
    m_refreshDue = false;
    m_lastRefresh.restart();
    if (m_width != available() && isVisible())
        relayout();
    m_anchor = std::min(m_anchor, length());
    m_position = std::min(m_position, length());
    updateRange();
    viewport()->update();
    refreshed();
}

void TextView::scrollContentsBy(int, int)
{
    m_atEnd = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
    viewport()->update();
}

void TextView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
    updateRange();
}

void TextView::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        measureFont();
        m_width = -1;
        relayout();
    }
}

QSize TextView::sizeHint() const
{
    return QSize(256, 192);
}

void TextView::paintEvent(QPaintEvent *event)
{
    QPainter p(viewport());
    if (m_width != available())
        relayout();
    const QPalette &pal = palette();
    if (isEmpty()) {
        if (!m_placeholder.isEmpty()) {
            p.setPen(pal.color(QPalette::PlaceholderText));
            p.setFont(font());
            const QRect r = viewport()->rect().adjusted(m_margin, m_margin, -m_margin, -m_margin);
            p.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere, m_placeholder);
        }
        if (hasFocus())
            p.fillRect(QRect(m_margin, m_margin, 1, m_rowHeight), pal.color(QPalette::Text));
        return;
    }
    p.setPen(pal.color(QPalette::Text));
    const qsizetype top = verticalScrollBar()->value();
    const qsizetype first = top + std::max(0, (event->rect().top() - m_margin) / m_rowHeight);
    const qsizetype last = std::min(rowCount() - 1, top + (event->rect().bottom() - m_margin) / m_rowHeight);
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    // Rows scrolled out of sight are laid out again if they come back.
    m_painted.removeIf([top, bottom = top + visibleRows()](const auto &entry) {
        return entry.key() < top || entry.key() > bottom;
    });
    for (qsizetype row = first; row <= last; ++row) {
        qsizetype offset = 0;
        const QTextLayout &layout = paintedRow(row, &offset);
        const qreal y = m_margin + (row - top) * m_rowHeight;
        QList<QTextLayout::FormatRange> selections;
        const qsizetype rowEnd = offset + layout.text().size();
        if (selStart < rowEnd + 1 && selEnd > offset && selStart != selEnd) {
            QTextLayout::FormatRange range;
            range.start = int(std::max(selStart, offset) - offset);
            range.length = int(std::min(selEnd, rowEnd) - offset) - range.start;
            range.format.setBackground(pal.brush(QPalette::Highlight));
            range.format.setForeground(pal.brush(QPalette::HighlightedText));
            if (range.length > 0)
                selections.append(range);
        }
        const QTextLine line = layout.lineAt(0);
        // The layout's own line is placed so every row shares one baseline.
        layout.draw(&p, QPointF(m_margin, y + m_ascent - line.ascent()), selections);
        // A selected line break shows as a little room after the row's end.
        if (selStart <= rowEnd && selEnd > rowEnd && rowEnd < length()) {
            const qreal x = m_margin + line.naturalTextWidth();
            p.fillRect(QRectF(x, y, m_rowHeight / 3.0, m_rowHeight), pal.brush(QPalette::Highlight));
        }
        // The caret, steady: a view that cannot be edited need not blink.
        if (m_showsCaret && hasFocus() && m_position >= offset && m_position <= rowEnd) {
            const Line &l = m_lines[size_t(lineOfRow(row))];
            if (m_position < rowEnd || rowEnd == l.offset + qsizetype(l.length)) {
                const qreal x = m_margin + line.cursorToX(int(m_position - offset));
                p.fillRect(QRectF(x, y, 1, m_rowHeight), pal.color(QPalette::Text));
            }
        }
    }
}

// The row laid out for painting, from the last paint if its text is the same.
const QTextLayout &TextView::paintedRow(qsizetype row, qsizetype *rowOffset)
{
    qsizetype offset = 0;
    const QStringView text = rowView(row, &offset);
    PaintedRow &painted = m_painted[row];
    if (!painted.layout || painted.offset != offset || painted.layout->text() != text) {
        painted.layout = std::make_shared<QTextLayout>();
        layoutRow(*painted.layout, row, &painted.offset);
    }
    *rowOffset = painted.offset;
    return *painted.layout;
}

QString TextView::rowText(qsizetype row) const
{
    QTextLayout layout;
    qsizetype offset = 0;
    layoutRow(layout, row, &offset);
    return layout.text();
}

QRect TextView::characterRect(qsizetype offset) const
{
    const qsizetype row = rowOfOffset(offset);
    QTextLayout layout;
    qsizetype start = 0;
    layoutRow(layout, row, &start);
    const QTextLine line = layout.lineAt(0);
    const qreal x = line.cursorToX(int(offset - start));
    const qreal x2 = line.cursorToX(int(clusterEnd(layout.text(), offset - start)));
    const int y = int(m_margin + (row - verticalScrollBar()->value()) * m_rowHeight);
    return QRect(int(m_margin + x), y, std::max(1, int(x2 - x)), m_rowHeight);
}

qsizetype TextView::offsetAt(const QPoint &point) const
{
    if (isEmpty())
        return 0;
    const qsizetype rowOnScreen = point.y() < m_margin ? -1 : (point.y() - m_margin) / m_rowHeight;
    const qsizetype row = verticalScrollBar()->value() + rowOnScreen;
    if (row < 0)
        return 0;
    if (row >= rowCount())
        return length();
    QTextLayout layout;
    qsizetype start = 0;
    layoutRow(layout, row, &start);
    return start + layout.lineAt(0).xToCursor(point.x() - m_margin);
}

// ---- selection

void TextView::setSelection(qsizetype anchor, qsizetype position)
{
    anchor = std::clamp<qsizetype>(anchor, 0, length());
    position = std::clamp<qsizetype>(position, 0, length());
    if (anchor == m_anchor && position == m_position)
        return;
    m_anchor = anchor;
    m_position = position;
    viewport()->update();
    emit selectionChanged();
    if (QAccessible::isActive()) {
        QAccessibleTextSelectionEvent e(this, int(selectionStart()), int(selectionEnd()));
        QAccessible::updateAccessibility(&e);
    }
}

void TextView::selectAll()
{
    setSelection(0, length());
}

void TextView::copy() const
{
    if (selectionStart() != selectionEnd())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TextView::setPlaceholderText(const QString &text)
{
    m_placeholder = text;
    viewport()->update();
}

void TextView::setMargin(int margin)
{
    m_margin = margin;
    m_width = -1;
    relayout();
}

void TextView::setWrap(Wrap wrap)
{
    m_wrap = wrap;
    m_width = -1;
    relayout();
}

void TextView::ensureVisible(qsizetype offset)
{
    QScrollBar *bar = verticalScrollBar();
    const qsizetype row = rowOfOffset(offset);
    if (row < bar->value())
        bar->setValue(int(row));
    else if (row >= bar->value() + visibleRows())
        bar->setValue(int(row - visibleRows() + 1));
}

void TextView::moveTo(qsizetype offset, bool keepAnchor)
{
    setSelection(keepAnchor ? m_anchor : offset, offset);
    ensureVisible(offset);
}

qsizetype TextView::nextCluster(qsizetype offset) const
{
    const qsizetype line = lineOfOffset(offset);
    const qsizetype col = offset - m_lines[size_t(line)].offset;
    if (col >= qsizetype(m_lines[size_t(line)].length))
        return std::min(offset + 1, length());
    return m_lines[size_t(line)].offset + clusterEnd(lineText(line), col);
}

qsizetype TextView::previousCluster(qsizetype offset) const
{
    const qsizetype line = lineOfOffset(offset);
    const qsizetype col = offset - m_lines[size_t(line)].offset;
    if (col == 0)
        return std::max<qsizetype>(0, offset - 1);
    return m_lines[size_t(line)].offset + clusterStart(lineText(line), col);
}

qsizetype TextView::rowMove(qsizetype offset, qsizetype rows) const
{
    const qsizetype row = rowOfOffset(offset);
    QTextLayout layout;
    qsizetype start = 0;
    layoutRow(layout, row, &start);
    const qreal x = m_wantedX >= 0 ? m_wantedX : layout.lineAt(0).cursorToX(int(offset - start));
    const qsizetype target = row + rows;
    if (target < 0)
        return 0;
    if (target >= rowCount())
        return length();
    layoutRow(layout, target, &start);
    return start + layout.lineAt(0).xToCursor(x);
}

void TextView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    const bool keep = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    qsizetype to = -1;
    bool vertical = false;
    switch (event->key()) {
    case Qt::Key_Left: to = previousCluster(m_position); break;
    case Qt::Key_Right: to = nextCluster(m_position); break;
    case Qt::Key_Up: to = rowMove(m_position, -1); vertical = true; break;
    case Qt::Key_Down: to = rowMove(m_position, 1); vertical = true; break;
    case Qt::Key_PageUp: to = rowMove(m_position, -visibleRows()); vertical = true; break;
    case Qt::Key_PageDown: to = rowMove(m_position, visibleRows()); vertical = true; break;
    case Qt::Key_Home:
        to = ctrl ? 0 : rowStartOffset(rowOfOffset(m_position));
        break;
    case Qt::Key_End:
        if (ctrl) {
            to = length();
        } else {
            qsizetype rowLength = 0;
            to = rowStartOffset(rowOfOffset(m_position), &rowLength) + rowLength;
        }
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (vertical && m_wantedX < 0) {
        QTextLayout layout;
        qsizetype start = 0;
        layoutRow(layout, rowOfOffset(m_position), &start);
        m_wantedX = layout.lineAt(0).cursorToX(int(m_position - start));
    } else if (!vertical) {
        m_wantedX = -1;
    }
    moveTo(to, keep);
    event->accept();
}

void TextView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_wantedX = -1;
    const qsizetype at = offsetAt(event->position().toPoint());
    setSelection(event->modifiers() & Qt::ShiftModifier ? m_anchor : at, at);
    m_dragging = true;
}

void TextView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const QPoint pos = event->position().toPoint();
    QScrollBar *bar = verticalScrollBar();
    if (pos.y() < 0)
        bar->setValue(bar->value() - 1);
    else if (pos.y() > viewport()->height())
        bar->setValue(bar->value() + 1);
    setSelection(m_anchor, offsetAt(pos));
}

void TextView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        QClipboard *clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection() && selectionStart() != selectionEnd())
            clipboard->setText(selectedText(), QClipboard::Selection);
    }
}

void TextView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    // The word under the pointer.
    const qsizetype at = offsetAt(event->position().toPoint());
    const qsizetype line = lineOfOffset(at);
    const QString text = lineText(line).toString();
    const qsizetype col = at - m_lines[size_t(line)].offset;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(col);
    qsizetype start = finder.isAtBoundary() && finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem
        ? col : std::max<qsizetype>(0, finder.toPreviousBoundary());
    finder.setPosition(col);
    qsizetype end = finder.toNextBoundary();
    if (end < 0)
        end = text.size();
    setSelection(m_lines[size_t(line)].offset + start, m_lines[size_t(line)].offset + end);
    m_dragging = false;
}

void TextView::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TextView::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

} // namespace Kovel::Text
