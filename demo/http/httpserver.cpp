#include "demo/http/httpserver.h"

#include <QTcpSocket>
#include <utility>

namespace Kovel::Demo {

HttpServer::HttpServer(const Limits &limits, Handler handler, QObject *parent)
    : QTcpServer(parent), m_limits(limits), m_handler(std::move(handler))
{
    m_sweep.setInterval(qBound(20, m_limits.idleTimeoutMs / 4, 1000));
    connect(&m_sweep, &QTimer::timeout, this, &HttpServer::sweep);
    // Out of file descriptors, QTcpServer stops accepting for good: try again shortly.
    connect(this, &QTcpServer::acceptError, this, [this] {
        QTimer::singleShot(100, this, [this] { resumeAccepting(); });
    });
}

quint16 HttpServer::listenLocal(quint16 port)
{
    if (!listen(QHostAddress::LocalHost, port))
        return 0;
    return serverPort();
}

void HttpServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (m_connections.size() >= m_limits.maxConnections && !makeRoom()) {
        socket->write(statusLine(503) + "Content-Length: 0\r\nConnection: close\r\n\r\n");
        socket->flush();
        socket->abort();
        delete socket;
        return;
    }
    m_connections.append(new HttpConnection(this, socket));
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
