#include "demo/http/httpserver.h"

#include "demo/http/tcpstream.h"

#include <QTcpServer>
#include <utility>

namespace Kovel::Demo {

namespace {
// Connections waiting to be accepted: enough that a burst of them is not
// dropped, to be retried by the client a second later.
const int listenBacklog = 1024;
// Tries at a free port that is free on both loopback addresses.
const int portTries = 16;
}

// A listening socket that hands each accepted descriptor to the server.
class HttpServer::Listener : public QTcpServer
{
public:
    explicit Listener(HttpServer *server) : QTcpServer(server), m_server(server)
    {
        setListenBacklogSize(listenBacklog);
        // Out of file descriptors, QTcpServer stops accepting for good: try again shortly.
        connect(this, &QTcpServer::acceptError, this, [this] {
            QTimer::singleShot(100, this, [this] { resumeAccepting(); });
        });
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_server->take(descriptor); }

private:
    HttpServer *m_server;
};

HttpServer::HttpServer(const Limits &limits, Handler handler, QObject *parent)
    : QObject(parent), m_limits(limits), m_handler(std::move(handler))
{
    m_sweep.setInterval(qBound(20, m_limits.idleTimeoutMs / 4, 1000));
    connect(&m_sweep, &QTimer::timeout, this, &HttpServer::sweep);
}

HttpServer::~HttpServer()
{
    closeListeners();
}

quint16 HttpServer::listenLocal(quint16 port)
{
    closeListeners();
    for (int attempt = 0; attempt < (port == 0 ? portTries : 1); ++attempt) {
        auto *v4 = new Listener(this);
        if (!v4->listen(QHostAddress::LocalHost, port)) {
            delete v4;
            return 0;
        }
        m_listeners.append(v4);
        m_port = v4->serverPort();
        auto *v6 = new Listener(this);
        if (v6->listen(QHostAddress::LocalHostIPv6, m_port)) {
            m_listeners.append(v6);
            return m_port;
        }
        const bool taken = v6->serverError() == QAbstractSocket::AddressInUseError;
        delete v6;
        // A port picked for us that someone else has on ::1: pick another.
        if (port == 0 && taken && attempt + 1 < portTries) {
            closeListeners();
            continue;
        }
        break;
    }
    return m_port;
}

void HttpServer::closeListeners()
{
    qDeleteAll(m_listeners);
    m_listeners.clear();
    m_port = 0;
}

void HttpServer::take(qintptr descriptor)
{
    if (m_connections.size() >= m_limits.maxConnections && !makeRoom()) {
        // Every connection is being answered: say so and let this one go.
        TcpStream(descriptor).write(statusLine(503) + "Content-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    m_connections.append(new HttpConnection(this, descriptor));
    if (!m_sweep.isActive())
        m_sweep.start();
}

// At the bound: drops the connection that costs least to lose, one idle
// between requests first, then one being closed, then the slowest sender.
// A connection whose request is being answered is never dropped.
bool HttpServer::makeRoom()
{
    HttpConnection *victim = nullptr;
    auto rank = [](HttpConnection::State state) {
        switch (state) {
        case HttpConnection::State::Waiting: return 0;
        case HttpConnection::State::Draining: return 1;
        case HttpConnection::State::Head:
        case HttpConnection::State::Body: return 2;
        case HttpConnection::State::Serving: return 3;
        }
        return 3;
    };
    for (HttpConnection *c : std::as_const(m_connections)) {
        if (rank(c->m_state) == 3)
            continue;
        if (!victim || rank(c->m_state) < rank(victim->m_state)
            || (rank(c->m_state) == rank(victim->m_state) && c->m_activeAt < victim->m_activeAt))
            victim = c;
    }
    if (!victim)
        return false;
    victim->closeNow();
    return true;
}

void HttpServer::forget(HttpConnection *connection)
{
    m_connections.removeOne(connection);
    if (m_connections.isEmpty())
        m_sweep.stop();
}

void HttpServer::sweep()
{
    const QList<HttpConnection *> all = m_connections;
    for (HttpConnection *c : all)
        if (!c->m_gone && c->m_deadline.hasExpired())
            c->expire();
}

} // namespace Kovel::Demo
