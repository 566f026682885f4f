#include "textview/textview.h"

#include "textview/accessibletextview.h"
#include "textview/graphemes.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>

namespace Kovel::Text {

namespace {

// The screen follows the text at most this often.
constexpr int frameMs = 16;
// Folding all lines again (a new width, a new text) takes the first of these
// at once (the first screens), and the second on each following turn until
// it is done.
constexpr qint64 firstFoldNs = 2'000'000;
constexpr qint64 laterFoldNs = 4'000'000;

} // namespace

TextView::TextView(QWidget *parent) : QAbstractScrollArea(parent), m_measures(font())
{
    installAccessibleTextView();
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    m_refresh.setSingleShot(true);
    connect(&m_refresh, &QTimer::timeout, this, &TextView::refreshNow);
    m_fold.setSingleShot(true);
    connect(&m_fold, &QTimer::timeout, this, [this] {
        foldSome(m_rows.rowStartOffset(verticalScrollBar()->value()), laterFoldNs);
    });
    m_lastRefresh.start();
    refoldLater();
    clearLines(&m_text);
}

TextView::~TextView() = default;

// ---- the shown text

void TextView::clearLines(const QString *source)
{
    m_lines.clear(source);
    m_fold.stop();
    m_rows.reset();
    m_anchor = m_position = 0;
    m_atEnd = true;
    m_wantedX = -1;
    verticalScrollBar()->setValue(0);
    refreshNow();
}

void TextView::setPlainText(const QString &text)
{
    m_text = text;
    clearLines(&m_text);
    // Folded all together below, the first screens at once.
    m_lines.setText(&m_text);
    m_rows.reset();
    refoldLater();
    showScrollBarFirst();
    relayout();
    refreshNow();
}

bool TextView::extendLast(qsizetype sourceFrom, qsizetype count)
{
    const qsizetype at = lastLength();
    if (!m_lines.extendLast(sourceFrom, count))
        return false;
    if (count > 0)
        m_rows.lastChanged(at);
    return true;
}

void TextView::replaceInLast(qsizetype at, qsizetype remove, QStringView insert)
{
    at = std::min(at, lastLength());
    m_lines.replaceInLast(at, remove, insert);
    m_rows.lastChanged(at);
}

void TextView::newLine()
{
    m_rows.endLast();
    m_lines.newLine();
    m_rows.lineAdded();
}

// ---- folding into rows

qreal TextView::available() const
{
    return std::max<qreal>(1, viewport()->width() - 2 * m_margin);
}

// A text that cannot fit beside a hidden scroll bar would be folded at the
// full width, then all again, narrower, once the bar comes up: the bar comes
// up first, and its coming folds the text at the width it keeps.
void TextView::showScrollBarFirst()
{
    QScrollBar *bar = verticalScrollBar();
    if (verticalScrollBarPolicy() != Qt::ScrollBarAsNeeded || bar->isVisible() || !isVisible()
        || !m_rows.exceeds(visibleRows(), available()))
        return;
    bar->setRange(0, 1);
    // The scroll area shows a bar with a range and resizes the viewport on a
    // layout request, at once.
    QEvent request(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(this, &request);
}

void TextView::relayout()
{
    const qreal width = available();
    if (width == m_rows.width() && !m_rows.isStale())
        return;
    // The top row's first character stays on top.
    const qsizetype topOffset = m_rows.rowStartOffset(verticalScrollBar()->value());
    m_rows.refold(width, topOffset, !(m_follow && m_atEnd));
    foldSome(topOffset, firstFoldNs);
}

// Folds lines from the first not yet folded on, for about `budgetNs`; the
// rest count one row each meanwhile and are folded on the following turns,
// so no text is too long to show at once. `topOffset` stays on top.
void TextView::foldSome(qsizetype topOffset, qint64 budgetNs)
{
    const bool more = m_rows.foldSome(budgetNs);
    updateRange();
    if (!(m_follow && m_atEnd))
        verticalScrollBar()->setValue(int(m_rows.rowOfOffset(topOffset)));
    viewport()->update();
    if (more)
        m_fold.start(0);
}

void TextView::layoutRow(QTextLayout &layout, qsizetype row, qsizetype *rowOffset) const
{
    qsizetype offset = 0;
    layout.setText(m_rows.rowView(row, &offset).toString());
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(m_measures.tabStop());
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
    return std::max(1, (viewport()->height() - 2 * m_margin) / m_measures.rowHeight());
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
    if (isVisible())
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
        m_measures.setFont(font());
        m_painted.clear();
        refoldLater();
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
            p.fillRect(QRect(m_margin, m_margin, 1, m_measures.rowHeight()), pal.color(QPalette::Text));
        return;
    }
    p.setPen(pal.color(QPalette::Text));
    const qsizetype top = verticalScrollBar()->value();
    const qsizetype first = top + std::max(0, (event->rect().top() - m_margin) / m_measures.rowHeight());
    const qsizetype last = std::min(rowCount() - 1, top + (event->rect().bottom() - m_margin) / m_measures.rowHeight());
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    // Rows scrolled out of sight are laid out again if they come back.
    m_painted.removeIf([top, bottom = top + visibleRows()](const auto &entry) {
        return entry.key() < top || entry.key() > bottom;
    });
    for (qsizetype row = first; row <= last; ++row) {
        qsizetype offset = 0;
        const QTextLayout &layout = paintedRow(row, &offset);
        const qreal y = m_margin + (row - top) * m_measures.rowHeight();
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
        layout.draw(&p, QPointF(m_margin, y + m_measures.ascent() - line.ascent()), selections);
        // A selected line break shows as a little room after the row's end.
        if (selStart <= rowEnd && selEnd > rowEnd && rowEnd < length()) {
            const qreal x = m_margin + line.naturalTextWidth();
            p.fillRect(QRectF(x, y, m_measures.rowHeight() / 3.0, m_measures.rowHeight()), pal.brush(QPalette::Highlight));
        }
        // The caret, steady: a view that cannot be edited need not blink.
        if (m_showsCaret && hasFocus() && m_position >= offset && m_position <= rowEnd) {
            const LineStore::Line &l = m_lines.line(m_rows.lineOfRow(row));
            if (m_position < rowEnd || rowEnd == l.offset + qsizetype(l.length)) {
                const qreal x = m_margin + line.cursorToX(int(m_position - offset));
                p.fillRect(QRectF(x, y, 1, m_measures.rowHeight()), pal.color(QPalette::Text));
            }
        }
    }
}

// The row laid out for painting, from the last paint if its text is the same.
const QTextLayout &TextView::paintedRow(qsizetype row, qsizetype *rowOffset)
{
    qsizetype offset = 0;
    const QStringView text = m_rows.rowView(row, &offset);
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
    const qsizetype row = m_rows.rowOfOffset(offset);
    QTextLayout layout;
    qsizetype start = 0;
    layoutRow(layout, row, &start);
    const QTextLine line = layout.lineAt(0);
    const qreal x = line.cursorToX(int(offset - start));
    const qreal x2 = line.cursorToX(int(clusterEnd(layout.text(), offset - start)));
    const int y = int(m_margin + (row - verticalScrollBar()->value()) * m_measures.rowHeight());
    return QRect(int(m_margin + x), y, std::max(1, int(x2 - x)), m_measures.rowHeight());
}

qsizetype TextView::offsetAt(const QPoint &point) const
{
    if (isEmpty())
        return 0;
    const qsizetype rowOnScreen = point.y() < m_margin ? -1 : (point.y() - m_margin) / m_measures.rowHeight();
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
    refoldLater();
    relayout();
}

void TextView::setWrap(Wrap wrap)
{
    m_rows.setWrap(wrap);
    refoldLater();
    relayout();
}

void TextView::ensureVisible(qsizetype offset)
{
    QScrollBar *bar = verticalScrollBar();
    const qsizetype row = m_rows.rowOfOffset(offset);
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
    const qsizetype line = m_lines.lineOfOffset(offset);
    const LineStore::Line &l = m_lines.line(line);
    const qsizetype col = offset - l.offset;
    if (col >= qsizetype(l.length))
        return std::min(offset + 1, length());
    return l.offset + clusterEnd(m_lines.text(line), col);
}

qsizetype TextView::previousCluster(qsizetype offset) const
{
    const qsizetype line = m_lines.lineOfOffset(offset);
    const LineStore::Line &l = m_lines.line(line);
    const qsizetype col = offset - l.offset;
    if (col == 0)
        return std::max<qsizetype>(0, offset - 1);
    return l.offset + clusterStart(m_lines.text(line), col);
}

qsizetype TextView::rowMove(qsizetype offset, qsizetype rows) const
{
    const qsizetype row = m_rows.rowOfOffset(offset);
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
        to = ctrl ? 0 : m_rows.rowStartOffset(m_rows.rowOfOffset(m_position));
        break;
    case Qt::Key_End:
        if (ctrl) {
            to = length();
        } else {
            qsizetype rowLength = 0;
            to = m_rows.rowStartOffset(m_rows.rowOfOffset(m_position), &rowLength) + rowLength;
        }
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    if (vertical && m_wantedX < 0) {
        QTextLayout layout;
        qsizetype start = 0;
        layoutRow(layout, m_rows.rowOfOffset(m_position), &start);
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
    const qsizetype line = m_lines.lineOfOffset(at);
    const QString text = m_lines.text(line).toString();
    const qsizetype lineOffset = m_lines.line(line).offset;
    const qsizetype col = at - lineOffset;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(col);
    qsizetype start = finder.isAtBoundary() && finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem
        ? col : std::max<qsizetype>(0, finder.toPreviousBoundary());
    finder.setPosition(col);
    qsizetype end = finder.toNextBoundary();
    if (end < 0)
        end = text.size();
    setSelection(lineOffset + start, lineOffset + end);
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
