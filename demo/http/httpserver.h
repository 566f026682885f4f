#pragma once

#include "demo/http/httpconnection.h"
#include "demo/http/httpmessages.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>

namespace Kovel::Demo {

// An HTTP/1.1 server on the loopback addresses with bounds on everything a
// client controls: request size, time to send a request or to be idle, and
// open connections. Requests whose Host is not this server as the loopback
// address or "localhost", and state-changing requests from a foreign Origin
// or with a body that is not JSON, are refused before their body is read.
class HttpServer : public QObject
{
    Q_OBJECT
public:
    struct Limits {
        qint64 maxBodyBytes = 64 * 1024;
        int maxHeaderBytes = 16 * 1024;
        // Time a connection may sit idle, and time a request may take to arrive whole.
        int idleTimeoutMs = 10000;
        int maxConnections = 256;
    };
    // The handler answers through connection->reply(), now or later; the
    // connection may be gone by then (hold it in a QPointer).
    using Handler = std::function<void(const HttpRequest &request, HttpConnection *connection)>;

    HttpServer(const Limits &limits, Handler handler, QObject *parent = nullptr);
    ~HttpServer() override;

    // Listens on 127.0.0.1 and on ::1 with the same port, or on 127.0.0.1
    // alone where ::1 cannot be had; port 0 picks a free one. Returns the
    // port, or 0 when 127.0.0.1 cannot be listened on.
    quint16 listenLocal(quint16 port);
    quint16 port() const { return m_port; }
    bool listensOnIPv6() const { return m_listeners.size() > 1; }
    qsizetype openConnections() const { return m_connections.size(); }

private:
    friend class HttpConnection;
    class Listener;
    void take(qintptr descriptor);
    void forget(HttpConnection *connection);
    bool makeRoom();
    void sweep();
    void closeListeners();

    Limits m_limits;
    Handler m_handler;
    QList<Listener *> m_listeners;
    quint16 m_port = 0;
    QList<HttpConnection *> m_connections;
    QTimer m_sweep;
    qint64 m_activity = 0;   // a counter, so the least recently active is known without clocks
};

} // namespace Kovel::Demo
