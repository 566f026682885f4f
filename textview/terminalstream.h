#pragma once

#include <QString>
#include <QStringView>

namespace Kovel::Text {

class TextView;

// Output read as a terminal shows it, into a TextView's lines: "\r" returns
// to the start of the line and what follows writes over it ("\r\n" is one
// line end), "\b" steps back a character, ESC [ K erases the line from the
// cursor on and ESC [ 2 K all of it; other escape sequences (CSI, OSC, those
// with intermediates) are read and left out. Where nothing is written over,
// the view's lines stay ranges of the source, so output of any size is shown
// without a copy.
//
// Invariants:
// - Everything before read() is shown; nothing after it is.
// - A return, an escape sequence or a surrogate pair cut by the end of a read
//   carries over to the next one, so output cut anywhere shows the same.
// - The cursor may stand past the end of the last line (after the line was
//   erased); what is written there is preceded by spaces up to it.
class TerminalStream
{
public:
    explicit TerminalStream(TextView &view);

    // Starts over: the view empties and `source`, from its start, is what is
    // read. The source must outlive the view's lines and only grow.
    void restart(const QString *source);
    // Reads the source on to `until`.
    void readTo(qsizetype until);
    // How far the source is read.
    qsizetype read() const { return m_read; }

private:
    void write(qsizetype from, qsizetype to);
    bool escape(char16_t c);
    void control(QStringView parameters, char16_t final);

    enum class Escape { None, Start, Csi, Osc, OscEscape, Intermediate };

    TextView &m_view;
    const QString *m_source = nullptr;
    qsizetype m_read = 0;
    qsizetype m_column = 0;    // where the next character goes in the last line
    bool m_return = false;     // a "\r" waits to see whether "\n" follows
    Escape m_escape = Escape::None;
    QString m_parameters;      // of the control sequence being read
};

} // namespace Kovel::Text
