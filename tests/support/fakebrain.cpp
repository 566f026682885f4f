#include "tests/support/fakebrain.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

QByteArray FakeBrain::Request::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

bool FakeBrain::Request::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

FakeBrain::FakeBrain(QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this))
{
    m_otherwise = [](const Request &) {
        return Reply::json(R"({"error":"not found"})", 404);
    };
    connect(m_server, &QTcpServer::newConnection, this, &FakeBrain::onNewConnection);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("FakeBrain: cannot listen on 127.0.0.1");
}

FakeBrain::~FakeBrain() = default;

quint16 FakeBrain::port() const { return m_server->serverPort(); }

QString FakeBrain::url() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }

void FakeBrain::on(const QByteArray &method, const QByteArray &path, const Reply &reply)
{
    on(method, path, Handler([reply](const Request &) { return reply; }));
}

void FakeBrain::on(const QByteArray &method, const QByteArray &path, Handler handler)
{
    const QByteArray key = method + ' ' + path;
    for (auto &route : m_routes) {
        if (route.first == key) {
            route.second = std::move(handler);
            return;
        }
    }
    m_routes.append({key, std::move(handler)});
}

void FakeBrain::otherwise(Handler handler) { m_otherwise = std::move(handler); }

bool FakeBrain::waitForRequests(int n, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_requests.size() < n && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return m_requests.size() >= n;
}

void FakeBrain::shutDown()
{
    m_server->close();
    const auto sockets = m_buffers.keys();
    for (QTcpSocket *s : sockets)
        s->abort();
}

int FakeBrain::heldOpen() const
{
    int open = 0;
    for (const QPointer<QTcpSocket> &s : m_held)
        if (s && s->state() == QAbstractSocket::ConnectedState)
            ++open;
    return open;
}

void FakeBrain::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void FakeBrain::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    // A keep-alive connection may carry several requests one after another.
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        Request request;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        qsizetype length = 0;
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const int colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed();
            const QByteArray value = line.mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("content-length", Qt::CaseInsensitive) == 0)
                length = value.toLongLong();
        }
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        m_requests.append(request);
        emit requestReceived(request);
        respond(socket, request);
        if (!m_buffers.contains(socket))
            return;
    }
}

void FakeBrain::respond(QTcpSocket *socket, const Request &request)
{
    const QByteArray key = request.method + ' ' + request.path;
    Handler handler = m_otherwise;
    for (const auto &route : m_routes)
        if (route.first == key)
            handler = route.second;
    const Reply reply = handler(request);
    QPointer<QTcpSocket> guarded(socket);
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, this, [this, guarded, reply] { send(guarded, reply); });
    else
        send(guarded, reply);
}

static QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 409: return "Conflict";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

void FakeBrain::send(QPointer<QTcpSocket> socket, const Reply &reply)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (reply.mode == Mode::Drop) {
        socket->abort();
        return;
    }
    if (reply.mode == Mode::Hold) {
        m_held.append(socket);
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    head += "Content-Type: " + reply.contentType + "\r\n";
    if (reply.mode != Mode::Endless)
        head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    else if (reply.announcedLength >= 0)
        head += "Content-Length: " + QByteArray::number(reply.announcedLength) + "\r\n";
    else
        head += "Transfer-Encoding: chunked\r\n";
    for (const auto &h : reply.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "Connection: keep-alive\r\n\r\n";

    switch (reply.mode) {
    case Mode::Normal:
        socket->write(head + reply.body);
        break;
    case Mode::HeadersThenSilence:
        socket->write(head);
        break;
    case Mode::ResetMidBody:
        socket->write(head + reply.body.left(reply.body.size() / 2));
        socket->flush();
        socket->abort();
        break;
    case Mode::Trickle: {
        socket->write(head);
        auto *timer = new QTimer(socket.data());
        auto offset = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket.data(), [socket, timer, offset, reply] {
            if (!socket || *offset >= reply.body.size()) {
                timer->stop();
                timer->deleteLater();
                return;
            }
            socket->write(reply.body.mid(*offset, reply.trickleBytes));
            *offset += reply.trickleBytes;
        });
        timer->start(reply.trickleIntervalMs);
        break;
    }
    case Mode::Endless:
        stream(socket, reply, head);
        break;
    case Mode::Drop:
    case Mode::Hold:
        break;
    }
}

// Writes the body's opening, then more whenever the client has taken what
// was written, so the client's reading sets the pace and this side's memory
// stays small. Ends when the client goes.
void FakeBrain::stream(QPointer<QTcpSocket> socket, const Reply &reply, const QByteArray &head)
{
    const bool chunked = reply.announcedLength < 0;
    const QByteArray slice(256 * 1024, 'a');
    const QByteArray piece = chunked ? QByteArray::number(slice.size(), 16) + "\r\n" + slice + "\r\n" : slice;
    QByteArray opening = reply.body;
    if (chunked && !opening.isEmpty())
        opening = QByteArray::number(opening.size(), 16) + "\r\n" + opening + "\r\n";
    socket->write(head + opening);
    ++m_endless;
    auto more = [this, socket, piece, slice] {
        while (socket && socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 2 * piece.size()) {
            socket->write(piece);
            m_endlessBytes += slice.size();
        }
    };
    connect(socket.data(), &QTcpSocket::bytesWritten, this, more);
    connect(socket.data(), &QTcpSocket::disconnected, this, [this] { --m_endless; });
    more();
}
