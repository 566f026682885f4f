#include "textview/terminalstream.h"

#include "textview/graphemes.h"
#include "textview/textview.h"

#include <algorithm>

namespace Kovel::Text {

namespace {

// Characters that are not text to show: line ends, the return, backspace,
// the escape that begins a control sequence.
inline bool isControl(char16_t c)
{
    return c <= 0x1b ? (c == u'\n' || c == u'\r' || c == 0x1b || c == u'\b')
                     : (c == 0x2028 || c == 0x2029);
}

} // namespace

TerminalStream::TerminalStream(TextView &view) : m_view(view) {}

void TerminalStream::restart(const QString *source)
{
    m_source = source;
    m_read = 0;
    m_column = 0;
    m_return = false;
    m_escape = Escape::None;
    m_parameters.clear();
    m_view.clearLines(source);
}

void TerminalStream::readTo(qsizetype until)
{
    const QString &source = *m_source;
    until = std::min(until, source.size());
    // A surrogate pair is read whole.
    if (until > m_read && until < source.size() && source.at(until - 1).isHighSurrogate())
        ++until;
    const char16_t *s = reinterpret_cast<const char16_t *>(source.constData());
    qsizetype i = m_read;
    while (i < until) {
        const char16_t c = s[i];
        if (m_escape != Escape::None && escape(c)) {
            ++i;
            continue;
        }
        if (m_return) {
            m_return = false;
            if (c == u'\n') {
                m_view.newLine();
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
            m_view.newLine();
            m_column = 0;
            break;
        }
        ++i;
    }
    m_read = i;
}

// Characters [from, to) of the source, none of them a control, go where the
// terminal's cursor is: at the line's end they are the source itself,
// elsewhere they write over as many characters as they are.
void TerminalStream::write(qsizetype from, qsizetype to)
{
    if (m_column == m_view.lastLength() && m_view.extendLast(from, to - from)) {
        m_column += to - from;
        return;
    }
    const QStringView run = QStringView(*m_source).sliced(from, to - from);
    if (m_column > m_view.lastLength())
        m_view.replaceInLast(m_view.lastLength(), 0, QString(m_column - m_view.lastLength(), u' '));
    const QStringView line = m_view.lineText(m_view.lineCount() - 1);
    qsizetype k = m_column;
    qsizetype r = 0;
    // Characters that surely stand alone are written one over one, as a
    // progress bar rewrites its row many thousand times.
    const char16_t *runUnits = run.utf16();
    const char16_t *lineUnits = line.utf16();
    while (r < run.size() && k < line.size() && isLoneUnit(runUnits, run.size(), r)
           && isLoneUnit(lineUnits, line.size(), k)) {
        ++r;
        ++k;
    }
    for (; r < run.size() && k < line.size(); r = clusterEnd(run, r))
        k = clusterEnd(line, k);
    m_view.replaceInLast(m_column, k - m_column, run);
    m_column += run.size();
}

// One character of an escape sequence; false if it ends the sequence without
// belonging to it (a line end in a broken sequence is still a line end).
bool TerminalStream::escape(char16_t c)
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
void TerminalStream::control(QStringView parameters, char16_t final)
{
    if (final != u'K')
        return;
    const qsizetype length = m_view.lastLength();
    if (parameters.isEmpty() || parameters == u"0") {
        if (m_column < length)
            m_view.replaceInLast(m_column, length - m_column, {});
    } else if (parameters == u"2") {
        if (length > 0)
            m_view.replaceInLast(0, length, {});
    }
}

} // namespace Kovel::Text
