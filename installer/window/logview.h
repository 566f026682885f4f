#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>

#include "textview/foldedtextedit.h"

class InstallerState;
class QTextCursor;

// The install log as the window shows it: read-only, selectable, monospaced.
// However fast a run writes, the window stays responsive: text added to the
// log is inserted at the end in bounded slices, a few milliseconds' worth per
// event-loop turn, and the view stays where the user left it. The shown text
// always ends up equal to the log (line breaks of any convention shown as one
// break), except that a line longer than longLineChars is shown folded into
// rows of foldChars characters; copying gives such a line unfolded.
class LogView : public FoldedTextEdit
{
    Q_OBJECT
public:
    explicit LogView(InstallerState &state, QWidget *parent = nullptr);

    // True while text of the log waits to be shown.
    bool hasPending() const;

    // Upper bound of characters inserted in one event-loop turn.
    static constexpr qsizetype sliceChars = 128 * 1024;
    // A row is laid out as a whole whenever it is shown or the text near it
    // changes, at about 150 ns per character here. A line that is
    // longer than longLineChars in the log, most likely output that never
    // ends its line, is shown in rows of foldChars from then on.
    static constexpr qsizetype longLineChars = sliceChars;
    static constexpr qsizetype foldChars = 4096;

signals:
    // The view shows the whole log.
    void caughtUp();

private:
    void schedule();
    void restart();
    void startLine();
    void flush();
    qsizetype insertNext(QTextCursor &at, qsizetype max);
    bool lineIsLong(qsizetype from);
    bool holdRow();

    enum class Line { Unknown, Short, Long };

    InstallerState &m_state;
    qsizetype m_shown = 0;        // characters of the log already in the document
    qsizetype m_lineChars = 0;    // characters of the log's last line already shown
    qsizetype m_rowChars = 0;     // characters in the document's last row
    Line m_line = Line::Unknown;  // whether the log's last line is too long for one row
    qsizetype m_lineScanned = 0;  // up to where the log holds no end of that line
    QElapsedTimer m_held;         // since when a row of that line waits for more of it
    bool m_heldLong = false;      // it waited long enough: shown unfolded from here
    bool m_holding = false;       // this turn stopped at such a row
    bool m_lastWasCR = false;     // a "\r\n" split across inserts is one break
    QTimer m_frame;
};
