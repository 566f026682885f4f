#include "demo/guessthrottle.h"

namespace Kovel::Demo {

namespace {
const qsizetype maxClients = 256;
const int forgetAfterMaxDelays = 6;
}

// Every loopback address is one client: any local program can pick any
// source address in 127.0.0.0/8, which must not buy it a fresh start.
QByteArray GuessThrottle::key(const QHostAddress &client)
{
    if (client.isLoopback())
        return QByteArrayLiteral("loopback");
    return client.toString().toLatin1();
}

qint64 GuessThrottle::waitMs(const QHostAddress &client) const
{
    const auto it = m_clients.constFind(key(client));
    if (it == m_clients.constEnd())
        return 0;
    return qMax<qint64>(0, it->nextGuess.remainingTime());
}

qint64 GuessThrottle::wrongGuess(const QHostAddress &client)
{
    const QByteArray k = key(client);
    auto it = m_clients.find(k);
    if (it != m_clients.end() && it->forget.hasExpired())
        it->wrong = 0;
    if (it == m_clients.end()) {
        if (m_clients.size() >= maxClients) {
            // Drop the client that is forgotten soonest.
            auto oldest = m_clients.begin();
            for (auto c = m_clients.begin(); c != m_clients.end(); ++c)
                if (c->forget < oldest->forget)
                    oldest = c;
            m_clients.erase(oldest);
        }
        it = m_clients.insert(k, Record{});
    }
    const int doublings = qMin(it->wrong, 30);
    ++it->wrong;
    const qint64 delay = qMin(m_maxDelayMs, m_firstDelayMs << doublings);
    it->nextGuess = QDeadlineTimer(delay, Qt::PreciseTimer);
    it->forget = QDeadlineTimer(m_maxDelayMs * forgetAfterMaxDelays);
    return delay;
}

void GuessThrottle::rightGuess(const QHostAddress &client)
{
    m_clients.remove(key(client));
}

} // namespace Kovel::Demo
