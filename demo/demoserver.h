#pragma once

#include "demo/guessqueue.h"
#include "demo/guessthrottle.h"
#include "demo/http/httpserver.h"
#include "demo/loopstore.h"
#include "demo/pairingcodes.h"

#include <optional>

namespace Kovel::Demo {

// The demo brain's HTTP side: every exchange the two programs use, answered
// from the sample data in memory. Unknown paths and wrong methods get JSON errors.
class DemoServer : public QObject
{
    Q_OBJECT
public:
    struct Options {
        int chatDelayMs = 1500;
        // Questions thinking at once, in all; each connection has one at most,
        // as it is answered in order. At most a quarter of the connections.
        int maxHeldChats = 64;
        qint64 pairCodeLifetimeMs = 5 * 60 * 1000;
        qint64 guessWaitMs = 250;   // after a first wrong code; doubles with each
        HttpServer::Limits limits;
    };

    explicit DemoServer(const Options &options, QObject *parent = nullptr);

    // Listens on 127.0.0.1, and on ::1 where it can; port 0 picks a free one.
    // Returns the port, or 0.
    quint16 listenLocal(quint16 port) { return m_http.listenLocal(port); }
    bool listensOnIPv6() const { return m_http.listensOnIPv6(); }

private:
    void handle(const HttpRequest &request, HttpConnection *connection);
    void answerChat(const HttpRequest &request, HttpConnection *connection);
    void pair(const HttpRequest &request, HttpConnection *connection);
    qint64 lookAtGuess(const GuessQueue::Guess &guess);
    // The replies that only change with the data, built once until it does.
    const HttpReply &loopsReply();
    const HttpReply &briefingReply();
    const HttpReply &dashboardReply();
    void loopsChanged();

    Options m_options;
    LoopStore m_loops;
    PairingCodes m_codes;
    GuessThrottle m_throttle;
    GuessQueue m_guesses;
    int m_maxHeldChats;
    int m_heldChats = 0;
    HttpServer m_http;
    std::optional<HttpReply> m_loopsReply;
    std::optional<HttpReply> m_briefingReply;
    std::optional<HttpReply> m_dashboardReply;
};

} // namespace Kovel::Demo
