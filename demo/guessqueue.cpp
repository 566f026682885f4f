#include "demo/guessqueue.h"

#include <utility>

namespace Kovel::Demo {

GuessQueue::GuessQueue(qint64 longestWaitMs, qint64 longestTurnMs, qsizetype maxWaiting, Look look, QObject *parent)
    : QObject(parent),
      m_longestWaitMs(longestWaitMs),
      m_longestTurnMs(longestTurnMs),
      m_maxWaiting(maxWaiting),
      m_look(std::move(look))
{
    m_turn.setSingleShot(true);
    m_turn.setTimerType(Qt::PreciseTimer);
    connect(&m_turn, &QTimer::timeout, this, &GuessQueue::lookInTurn);
}

qint64 GuessQueue::offer(Guess guess)
{
    // Every guess ahead may be wrong and earn the longest wait.
    const qint64 turnMs = qMax<qint64>(0, m_nextLook.remainingTime()) + m_waiting.size() * m_longestWaitMs;
    if (turnMs == 0 && !m_looking) {
        look(guess);
        return 0;
    }
    if (turnMs > m_longestTurnMs || m_waiting.size() >= m_maxWaiting)
        return qMax<qint64>(1, turnMs);
    m_waiting.append(std::move(guess));
    // While one is being answered, the next turn is set once that is done.
    if (!m_looking && !m_turn.isActive())
        scheduleNext();
    return 0;
}

void GuessQueue::look(const Guess &guess)
{
    m_looking = true;
    m_nextLook = QDeadlineTimer(m_look(guess), Qt::PreciseTimer);
    m_looking = false;
    scheduleNext();
}

void GuessQueue::scheduleNext()
{
    if (m_waiting.isEmpty())
        m_turn.stop();
    else
        m_turn.start(int(qMax<qint64>(0, m_nextLook.remainingTime())));
}

void GuessQueue::lookInTurn()
{
    if (!m_nextLook.hasExpired())
        return scheduleNext();
    while (!m_waiting.isEmpty()) {
        const Guess guess = m_waiting.takeFirst();
        // Gone before its turn: nobody to answer, nothing looked at.
        if (guess.connection)
            return look(guess);
    }
}

} // namespace Kovel::Demo
