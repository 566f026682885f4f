#pragma once

#include "demo/loopstore.h"
#include "demo/pairingcodes.h"

#include <QAbstractHttpServer>
#include <QHostAddress>

class LimitedTcpServer;

// The demo brain's HTTP side: every exchange the two programs use, answered
// from the sample data in memory. Unknown paths and wrong methods get JSON errors.
class DemoServer : public QAbstractHttpServer
{
    Q_OBJECT
public:
    struct Options {
        int chatDelayMs = 1500;
        qint64 pairCodeLifetimeMs = 5 * 60 * 1000;
        qint64 maxRequestBytes = 64 * 1024;
    };

    explicit DemoServer(const Options &options, QObject *parent = nullptr);

    // Listens on 127.0.0.1 only; port 0 picks a free one. Returns the port, or 0.
    quint16 listenLocal(quint16 port);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    void route(const QHttpServerRequest &request, QHttpServerResponder &responder);
    void answerChat(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void pair(const QHttpServerRequest &request, QHttpServerResponder &responder);

    Options m_options;
    LoopStore m_loops;
    PairingCodes m_codes;
    LimitedTcpServer *m_listener = nullptr;
};
