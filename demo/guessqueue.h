#pragma once

#include "demo/http/httpconnection.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>

namespace Kovel::Demo {

// Pairing codes waiting to be looked at. They are looked at one at a time,
// in the order they came, each once the wait that the guess before it
// earned is over: a right code waits its turn behind a guesser's rather than
// being turned away, and guessing many at once is no quicker than one after
// the other. Only guesses whose turn comes soon enough are taken.
class GuessQueue : public QObject
{
    Q_OBJECT
public:
    struct Guess {
        QPointer<HttpConnection> connection;
        QHostAddress client;
        QString code;
        QString name;
    };
    // Looks at a guess and answers it, now or later; returns how long the next
    // guess has to wait (0 after a right code).
    using Look = std::function<qint64(const Guess &guess)>;

    // longestWaitMs: the most one guess can earn; longestTurnMs: how long a
    // guess may wait for its turn; maxWaiting: how many may wait at once.
    GuessQueue(qint64 longestWaitMs, qint64 longestTurnMs, qsizetype maxWaiting, Look look, QObject *parent = nullptr);

    // Takes a guess: looks at it now when nothing is ahead of it, or later in
    // its turn. Returns 0 when taken; otherwise the guess is not looked at,
    // and this is how long until one would be.
    qint64 offer(Guess guess);

private:
    void lookInTurn();
    void look(const Guess &guess);
    void scheduleNext();

    qint64 m_longestWaitMs;
    qint64 m_longestTurnMs;
    qsizetype m_maxWaiting;
    Look m_look;
    QList<Guess> m_waiting;           // oldest first
    QDeadlineTimer m_nextLook;        // no guess is looked at before this
    QTimer m_turn;
    bool m_looking = false;           // a guess is being answered: one offered meanwhile queues
};

} // namespace Kovel::Demo
