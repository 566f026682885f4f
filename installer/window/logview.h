#pragma once

#include <QString>
#include <QTimer>

#include "textview/textview.h"

namespace Kovel::Installer {

class InstallerState;

// The install log as the window shows it: read-only, selectable, monospaced,
// drawn from the log itself. It shows the log as a terminal would: "\r"
// returns to the start of the line and what follows writes over it ("\r\n"
// is one line end), a line can be erased (ESC [ K), and other escape
// sequences (colours and the like) are not shown. The log keeps every
// character; copying copies what is shown.
//
// However fast a run writes, the window stays responsive: text added to the
// log is taken in at most sliceChars per event-loop turn. While the view is at
// its end it keeps the end in view; scrolled away, it stays where the user
// left it until they come back to the end.
class LogView : public Text::TextView
{
    Q_OBJECT
public:
    explicit LogView(InstallerState &state, QWidget *parent = nullptr);

    // True while text of the log waits to be shown.
    bool hasPending() const;
    // The shown text as copying all of it gives it.
    QString shownText() const { return text(); }

    // Upper bound of characters taken in one event-loop turn.
    static constexpr qsizetype sliceChars = 256 * 1024;

signals:
    // The view shows the whole log.
    void caughtUp();

protected:
    void refreshed() override;

private:
    void schedule();
    void restart();
    void flush();
    void take(qsizetype until);
    void write(qsizetype from, qsizetype to);
    bool escape(char16_t c);
    void control(QStringView parameters, char16_t final);

    enum class Escape { None, Start, Csi, Osc, OscEscape, Intermediate };

    InstallerState &m_state;
    qsizetype m_taken = 0;     // characters of the log already taken in
    qsizetype m_column = 0;    // where the next character goes in the last line
    bool m_return = false;     // a "\r" waits to see whether "\n" follows
    Escape m_escape = Escape::None;
    QString m_parameters;      // of the control sequence being read
    QTimer m_frame;
};

} // namespace Kovel::Installer
