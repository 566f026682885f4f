#include "installer/window/logview.h"

#include "installer/core/installerstate.h"
#include "installer/window/windowstyles.h"
#include "textview/graphemes.h"

#include <QScrollBar>

namespace Kovel::Installer {

namespace {

// Characters that are not text to show: line ends, the return, backspace,
// the escape that begins a control sequence.
inline bool isControl(char16_t c)
{
    return c <= 0x1b ? (c == u'\n' || c == u'\r' || c == 0x1b || c == u'\b')
                     : (c == 0x2028 || c == 0x2029);
}

} // namespace

LogView::LogView(InstallerState &state, QWidget *parent) : Text::TextView(parent), m_state(state)
{
    setFont(WindowStyles::monospacedCaption());
    setMargin(6);
    setFollowsEnd(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setPlaceholderText(QStringLiteral("역할을 고르고 [시작]을 누르세요."));

    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &LogView::flush);

    // The log itself is the queue: what is not taken in yet is its tail.
    connect(&state, &InstallerState::logAppended, this, &LogView::schedule);
    connect(&state, &InstallerState::logChanged, this, &LogView::restart);
    restart();
}

bool LogView::hasPending() const
{
    return m_state.log().size() > m_taken || refreshPending();
}

void LogView::schedule()
{
    if (m_state.log().size() > m_taken && !m_frame.isActive())
        m_frame.start(0);
}

void LogView::restart()
{
    m_frame.stop();
    m_taken = 0;
    m_column = 0;
    m_return = false;
    m_escape = Escape::None;
    m_parameters.clear();
    // The log may have been replaced by a new text: its lines point there.
    clearLines(&m_state.log());
    schedule();
}

void LogView::flush()
{
    const QString &log = m_state.log();
    qsizetype until = std::min(log.size(), m_taken + sliceChars);
    // A surrogate pair is taken whole.
    if (until < log.size() && log.at(until - 1).isHighSurrogate())
        ++until;
    take(until);
    textChanged();
    if (log.size() > m_taken)
        m_frame.start(0);   // the rest at the next turn, after input and painting
}

void LogView::refreshed()
{
    if (!hasPending())
        emit caughtUp();
}

void LogView::take(qsizetype until)
{
    const QString &log = m_state.log();
    const char16_t *s = reinterpret_cast<const char16_t *>(log.constData());
    qsizetype i = m_taken;
    while (i < until) {
        const char16_t c = s[i];
        if (m_escape != Escape::None && escape(c)) {
            ++i;
            continue;
        }
        if (m_return) {
            m_return = false;
            if (c == u'\n') {
                newLine();
                m_column = 0;
                ++i;
                continue;
            }
            m_column = 0;
        }
        qsizetype j = i;
        while (j < until && !isControl(s[j]))
            ++j;
        if (j > i) {
            write(i, j);
            i = j;
            continue;
        }
        switch (c) {
        case u'\r':
            m_return = true;
            break;
        case 0x1b:
            m_escape = Escape::Start;
            break;
        case u'\b':
            m_column = std::max<qsizetype>(0, m_column - 1);
            break;
        default:   // a line end
            newLine();
            m_column = 0;
            break;
        }
        ++i;
    }
    m_taken = i;
}

// Characters [from, to) of the log, none of them a control, go where the
// terminal's cursor is: at the line's end they are the log itself, elsewhere
// they write over as many characters as they are.
void LogView::write(qsizetype from, qsizetype to)
{
    if (m_column == lastLength() && extendLast(from, to - from)) {
        m_column += to - from;
        return;
    }
    const QStringView run = QStringView(m_state.log()).sliced(from, to - from);
    if (m_column > lastLength())
        replaceInLast(lastLength(), 0, QString(m_column - lastLength(), u' '));
    const QStringView line = lineText(lineCount() - 1);
    qsizetype k = m_column;
    qsizetype r = 0;
    // Characters that surely stand alone are written one over one, as a
    // progress bar rewrites its row many thousand times.
    const char16_t *runUnits = run.utf16();
    const char16_t *lineUnits = line.utf16();
    while (r < run.size() && k < line.size() && Text::isLoneUnit(runUnits, run.size(), r)
           && Text::isLoneUnit(lineUnits, line.size(), k)) {
        ++r;
        ++k;
    }
    for (; r < run.size() && k < line.size(); r = Text::clusterEnd(run, r))
        k = Text::clusterEnd(line, k);
    replaceInLast(m_column, k - m_column, run);
    m_column += run.size();
}

// One character of an escape sequence; false if it ends the sequence without
// belonging to it (a line end in a broken sequence is still a line end).
bool LogView::escape(char16_t c)
{
    switch (m_escape) {
    case Escape::Start:
        if (c == u'[') {
            m_escape = Escape::Csi;
            m_parameters.clear();
        } else if (c == u']') {
            m_escape = Escape::Osc;
        } else if (c >= 0x20 && c <= 0x2f) {
            m_escape = Escape::Intermediate;
        } else {
            m_escape = Escape::None;
            return c >= 0x20;
        }
        return true;
    case Escape::Csi:
        if (c >= 0x40 && c <= 0x7e) {
            m_escape = Escape::None;
            control(m_parameters, c);
            return true;
        }
        if (c < 0x20 || c > 0x3f) {
            m_escape = Escape::None;
            return false;
        }
        if (m_parameters.size() < 32)
            m_parameters.append(QChar(c));
        return true;
    case Escape::Osc:
        if (c == 0x07) {
            m_escape = Escape::None;
        } else if (c == 0x1b) {
            m_escape = Escape::OscEscape;
        } else if (c == u'\n' || c == u'\r') {
            m_escape = Escape::None;
            return false;
        }
        return true;
    case Escape::OscEscape:
        m_escape = Escape::None;
        return c == u'\\';
    case Escape::Intermediate:
        if (c < 0x20 || c > 0x2f)
            m_escape = Escape::None;
        return c >= 0x20;
    case Escape::None:
        break;
    }
    return false;
}

// A control sequence: only erasing in the line changes what is shown;
// colours, styles and cursor moves are left out.
void LogView::control(QStringView parameters, char16_t final)
{
    if (final != u'K')
        return;
    const qsizetype length = lastLength();
    if (parameters.isEmpty() || parameters == u"0") {
        if (m_column < length)
            replaceInLast(m_column, length - m_column, {});
    } else if (parameters == u"2") {
        if (length > 0)
            replaceInLast(0, length, {});
    }
}

} // namespace Kovel::Installer
