#include "installer/window/logview.h"

#include "installer/window/installerstate.h"
#include "installer/window/textstyles.h"

#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace {

// One frame: pieces arriving within it are shown in one go.
constexpr int frameMs = 16;
// Work per event-loop turn; the rest waits for the next turn, after input,
// painting and the run's own reading. Checked after each insert.
constexpr qint64 budgetNs = 4'000'000;
// One insert: a few microseconds for each line it holds.
constexpr qsizetype insertChars = 16 * 1024;
// How far back a fold may move to keep a character (or an emoji sequence) whole.
constexpr qsizetype foldLookBack = 64;
// How long a row waits for the rest of its line before it is shown anyway.
constexpr qint64 holdMs = 100;

bool isBreak(QChar c)
{
    // What QTextCursor::insertText turns into a new block.
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar(0xfdd0) || c == QChar(0xfdd1);
}

// Where to fold a row that has reached its length: at `at` in `out`, or as
// little before it as keeps the character there whole, never at or before
// `rowStart`. `next` is the text that follows `at`.
qsizetype foldPoint(const QString &out, qsizetype rowStart, qsizetype at, QStringView next)
{
    const qsizetype from = std::max(rowStart, at - foldLookBack);
    QString window = QStringView(out).sliced(from, at - from).toString();
    window.append(next.first(std::min<qsizetype>(8, next.size())));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window);
    finder.setPosition(int(at - from));
    if (finder.isAtBoundary())
        return at;
    const qsizetype back = finder.toPreviousBoundary();
    return back > 0 ? from + back : at;
}

} // namespace

LogView::LogView(InstallerState &state, QWidget *parent) : FoldedTextEdit(parent), m_state(state)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);
    setFont(TextStyles::monospacedCaption());
    document()->setDocumentMargin(6);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setPlaceholderText(QStringLiteral("역할을 고르고 [시작]을 누르세요."));

    m_frame.setSingleShot(true);
    m_frame.setInterval(frameMs);
    connect(&m_frame, &QTimer::timeout, this, &LogView::flush);

    // The log itself is the queue: what is not shown yet is its tail.
    connect(&state, &InstallerState::logAppended, this, &LogView::schedule);
    connect(&state, &InstallerState::logChanged, this, &LogView::restart);
    restart();
}

bool LogView::hasPending() const
{
    return m_state.log().size() > m_shown;
}

void LogView::schedule()
{
    if (hasPending() && !m_frame.isActive())
        m_frame.start(frameMs);
}

void LogView::restart()
{
    m_frame.stop();
    m_shown = 0;
    startLine();
    m_holding = false;
    m_lastWasCR = false;
    clearFolds();
    clear();
    schedule();
}

// A new line of the log begins: none of it shown, its length not known.
void LogView::startLine()
{
    m_lineChars = 0;
    m_rowChars = 0;
    m_line = Line::Unknown;
    m_lineScanned = 0;
    m_held.invalidate();
    m_heldLong = false;
}

// Whether the log's last line, whose next character is at `from` in the log,
// is longer than longLineChars. Looks only at text it has not looked at yet.
bool LogView::lineIsLong(qsizetype from)
{
    if (m_line != Line::Unknown)
        return m_line == Line::Long;
    const QString &log = m_state.log();
    const qsizetype last = from + (longLineChars - m_lineChars);   // the line is long if this is no break
    const qsizetype stop = std::min(log.size(), last + 1);
    qsizetype j = std::max(m_lineScanned, from);
    for (; j < stop; ++j) {
        if (isBreak(log[j])) {
            m_line = Line::Short;
            return false;
        }
    }
    m_lineScanned = j;
    if (j <= last)
        return false;   // not known yet: the line goes on beyond what the log holds
    m_line = Line::Long;
    return true;
}

// Inserts up to `max` characters of the log with `at`, at the end of the
// document, and returns how many it took. Line breaks become one break each,
// and rows of a long line are folded.
qsizetype LogView::insertNext(QTextCursor &at, qsizetype max)
{
    const QString &log = m_state.log();
    const qsizetype begin = m_shown;
    const qsizetype end = std::min(log.size(), begin + max);
    const QStringView text = QStringView(log).sliced(begin, end - begin);

    QString out;
    out.reserve(text.size() + text.size() / foldChars + 1);
    const int base = document()->characterCount() - 1;
    qsizetype taken = text.size();
    qsizetype rowStart = 0;   // in `out`; the row may have begun in an earlier insert
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (isBreak(c)) {
            const bool crlf = m_lastWasCR && c == u'\n';
            m_lastWasCR = c == u'\r';
            if (crlf)
                continue;
            out.append(c == u'\r' ? QChar(u'\n') : c);
            startLine();
            rowStart = out.size();
            continue;
        }
        if (m_rowChars >= foldChars) {
            if (lineIsLong(begin + i)) {
                const qsizetype fold = foldPoint(out, rowStart, out.size(), text.sliced(i));
                out.insert(fold, QChar(u'\n'));
                addFold(base + int(fold));
                rowStart = fold + 1;
                m_rowChars = out.size() - rowStart;
            } else if (m_line == Line::Unknown && holdRow()) {
                taken = i;
                break;
            }
        }
        m_lastWasCR = false;
        out.append(c);
        ++m_rowChars;
        ++m_lineChars;
    }
    m_shown = begin + taken;
    if (!out.isEmpty())
        at.insertText(out);
    return taken;
}

// A row that has reached foldChars of a line whose end is not in the log yet
// waits a little for more of it, so a long line is folded from its start
// rather than first shown as one long row; a slow line is shown anyway.
bool LogView::holdRow()
{
    if (m_heldLong)
        return false;
    if (!m_held.isValid())
        m_held.start();
    if (m_held.elapsed() < holdMs) {
        m_holding = true;
        return true;
    }
    m_heldLong = true;
    return false;
}

void LogView::flush()
{
    QElapsedTimer spent;
    spent.start();

    // Inserting moves neither the view nor the user's selection.
    QScrollBar *v = verticalScrollBar();
    QScrollBar *h = horizontalScrollBar();
    const int vValue = v->value();
    const int hValue = h->value();
    const QTextCursor user = textCursor();
    const int anchor = user.anchor();
    const int position = user.position();

    // One edit for the whole turn: the document's layout and the scroll bars
    // follow once, at its end, instead of after every insert. The cursor
    // moves inside it too: outside an edit every move lays out its row.
    QTextCursor at(document());
    at.beginEditBlock();
    at.movePosition(QTextCursor::End);
    qsizetype inserted = 0;
    m_holding = false;
    while (hasPending() && !m_holding && inserted < sliceChars && spent.nsecsElapsed() < budgetNs) {
        // Never split a surrogate pair between two inserts.
        qsizetype n = std::min(insertChars, sliceChars - inserted);
        const QString &log = m_state.log();
        if (m_shown + n < log.size() && log.at(m_shown + n - 1).isHighSurrogate())
            n += n == 1 ? 1 : -1;
        inserted += insertNext(at, n);
    }
    at.endEditBlock();

    QTextCursor now = textCursor();
    if (now.anchor() != anchor || now.position() != position) {
        now.setPosition(anchor);
        now.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(now);
    }
    v->setValue(vValue);
    h->setValue(hValue);

    if (m_holding) {
        m_frame.start(frameMs);
    } else if (hasPending()) {
        // More is queued: carry on at the next turn, after input and painting.
        m_frame.start(0);
    } else {
        emit caughtUp();
    }
}
