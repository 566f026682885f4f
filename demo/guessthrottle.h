#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QHostAddress>

namespace Kovel::Demo {

// Slows down wrong pairing codes: after each wrong guess a client must wait
// before its next one is even looked at, twice as long each time up to a
// limit. Only the timing is kept here; the server holds the answers.
class GuessThrottle
{
public:
    explicit GuessThrottle(qint64 firstDelayMs = 250, qint64 maxDelayMs = 10000)
        : m_firstDelayMs(firstDelayMs), m_maxDelayMs(maxDelayMs) {}

    // 0 when this client may guess now, else how long until it may.
    qint64 waitMs(const QHostAddress &client) const;
    // Records a wrong guess; returns how long the client now has to wait.
    qint64 wrongGuess(const QHostAddress &client);
    void rightGuess(const QHostAddress &client);

private:
    struct Record {
        int wrong = 0;
        QDeadlineTimer nextGuess;
        QDeadlineTimer forget;   // a client quiet this long starts afresh
    };
    static QByteArray key(const QHostAddress &client);

    qint64 m_firstDelayMs;
    qint64 m_maxDelayMs;
    QHash<QByteArray, Record> m_clients;
};

} // namespace Kovel::Demo
