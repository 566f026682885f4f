#include "installer/window/logview.h"

#include "installer/window/installerstate.h"
#include "installer/window/textstyles.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// One frame: pieces arriving within it are shown in one go.
constexpr int frameMs = 16;
// Work per event-loop turn; the rest waits for the next turn.
constexpr qint64 budgetMs = 8;
constexpr qsizetype insertChars = 16 * 1024;

} // namespace

LogView::LogView(InstallerState &state, QWidget *parent) : QPlainTextEdit(parent)
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

    connect(&state, &InstallerState::logAppended, this, &LogView::enqueue);
    connect(&state, &InstallerState::logChanged, this, &LogView::restart);
    restart(state.log());
}

void LogView::enqueue(const QString &piece)
{
    if (piece.isEmpty()) return;
    m_pending.append(piece);
    m_pendingChars += piece.size();
    if (!m_frame.isActive()) m_frame.start(frameMs);
}

void LogView::restart(const QString &log)
{
    m_frame.stop();
    m_pending.clear();
    m_headOffset = 0;
    m_pendingChars = 0;
    m_lastWasCR = false;
    clear();
    enqueue(log);
}

QString LogView::takeSlice(qsizetype max)
{
    QString out;
    out.reserve(qMin(max, m_pendingChars));
    while (!m_pending.isEmpty() && out.size() < max) {
        const QString &head = m_pending.first();
        qsizetype n = qMin(head.size() - m_headOffset, max - out.size());
        // Never split a surrogate pair between two inserts.
        if (m_headOffset + n < head.size() && head.at(m_headOffset + n - 1).isHighSurrogate())
            n += out.isEmpty() && n == 1 ? 1 : -1;
        out.append(QStringView(head).mid(m_headOffset, n));
        m_headOffset += n;
        if (m_headOffset < head.size()) break;   // the slice is full
        m_pending.removeFirst();
        m_headOffset = 0;
    }
    m_pendingChars -= out.size();
    return out;
}

void LogView::insertAtEnd(QString text)
{
    // A "\r\n" whose halves came in separate inserts is still one break.
    if (m_lastWasCR && text.startsWith(QLatin1Char('\n'))) text.remove(0, 1);
    if (text.isEmpty()) return;
    m_lastWasCR = text.endsWith(QLatin1Char('\r'));

    // Inserting moves neither the view nor the user's selection.
    QScrollBar *v = verticalScrollBar();
    QScrollBar *h = horizontalScrollBar();
    const int vValue = v->value();
    const int hValue = h->value();
    const QTextCursor user = textCursor();
    const int anchor = user.anchor();
    const int position = user.position();

    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);

    QTextCursor now = textCursor();
    if (now.anchor() != anchor || now.position() != position) {
        now.setPosition(anchor);
        now.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(now);
    }
    v->setValue(vValue);
    h->setValue(hValue);
}

void LogView::flush()
{
    QElapsedTimer spent;
    spent.start();
    qsizetype inserted = 0;
    while (m_pendingChars > 0 && inserted < sliceChars && spent.elapsed() < budgetMs) {
        QString text = takeSlice(qMin(insertChars, sliceChars - inserted));
        inserted += text.size();
        insertAtEnd(std::move(text));
    }
    if (m_pendingChars > 0) {
        // More is queued: carry on at the next turn, after input and painting.
        m_frame.start(0);
    } else {
        emit caughtUp();
    }
}
