#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPlainTextEdit>
#include <QString>
#include <QTimer>

class InstallerState;

// The install log as the window shows it: read-only, selectable, monospaced.
// However fast a run writes, the window stays responsive: pieces added to the
// log are queued and inserted at the end in bounded slices, at most one batch
// per frame, and the view stays where the user left it. The shown text always
// ends up equal to the log (line breaks of any convention shown as one break).
class LogView : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit LogView(InstallerState &state, QWidget *parent = nullptr);

    // True while pieces wait to be shown.
    bool hasPending() const { return m_pendingChars > 0; }

    // Upper bound of characters inserted in one event-loop turn.
    static constexpr qsizetype sliceChars = 128 * 1024;

signals:
    // The queue has been drained: the view shows the whole log.
    void caughtUp();

private:
    void enqueue(const QString &piece);
    void restart(const QString &log);
    void flush();
    QString takeSlice(qsizetype max);
    void insertAtEnd(QString text);

    QList<QString> m_pending;
    qsizetype m_headOffset = 0;   // already inserted part of m_pending.first()
    qsizetype m_pendingChars = 0;
    bool m_lastWasCR = false;     // a "\r\n" split across slices is one break
    QTimer m_frame;
};
