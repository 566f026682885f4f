#pragma once

#include <QTimer>

#include "textview/terminalstream.h"
#include "textview/textview.h"

namespace Kovel::Installer {

class InstallerState;

// The install log as the window shows it: read-only, selectable, monospaced,
// drawn from the log itself and read as a terminal shows it (TerminalStream).
// The log keeps every character; copying copies what is shown.
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

    InstallerState &m_state;
    Text::TerminalStream m_stream{*this};
    QTimer m_frame;
};

} // namespace Kovel::Installer
