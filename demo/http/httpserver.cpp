#include "demo/http/httpserver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <cstring>
#include <limits>
#include <sys/socket.h>

namespace Kovel::Demo {

namespace {
// A refused body is read and thrown away up to this much, so the client
// reads the refusal instead of a reset; a client that keeps sending is cut off.
const qint64 drainLimit = 64 * 1024 * 1024;
const int maxDrainMs = 10000;
const int maxHeaderLines = 100;
// Replies not yet taken by a client that does not read: no further request
// of its is read until it takes them.
const qint64 writeBacklog = 256 * 1024;
const qint64 socketBufferBytes = 64 * 1024;

QByteArray statusLine(int status)
{
    const char *text = "Error";
    switch (status) {
    case 100: text = "Continue"; break;
    case 200: text = "OK"; break;
    case 400: text = "Bad Request"; break;
    case 401: text = "Unauthorized"; break;
    case 403: text = "Forbidden"; break;
    case 404: text = "Not Found"; break;
    case 405: text = "Method Not Allowed"; break;
    case 408: text = "Request Timeout"; break;
    case 413: text = "Content Too Large"; break;
    case 415: text = "Unsupported Media Type"; break;
    case 421: text = "Misdirected Request"; break;
    case 429: text = "Too Many Requests"; break;
    case 431: text = "Request Header Fields Too Large"; break;
    case 500: text = "Internal Server Error"; break;
    case 501: text = "Not Implemented"; break;
    case 503: text = "Service Unavailable"; break;
    case 505: text = "HTTP Version Not Supported"; break;
    case 507: text = "Insufficient Storage"; break;
    }
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + text + "\r\n";
}

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c && std::strchr("!#$%&'*+-.^_`|~", c);
}

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (!isTokenChar(c))
            return false;
    return true;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

// Comma-separated list items, each trimmed, empty ones skipped.
template<typename F>
void forEachItem(QByteArrayView list, F f)
{
    while (!list.isEmpty()) {
        const qsizetype comma = list.indexOf(',');
        const QByteArrayView item = trimmed(comma < 0 ? list : list.first(comma));
        if (!item.isEmpty())
            f(item);
        list = comma < 0 ? QByteArrayView() : list.sliced(comma + 1);
    }
}

bool equalsLower(QByteArrayView text, QByteArrayView lower)
{
    return text.compare(lower, Qt::CaseInsensitive) == 0;
}

const QString badRequest = QStringLiteral("요청 형식이 올바르지 않아요.");
}

QByteArray HttpRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers)
        if (key == name)
            return value;
    return {};
}

HttpReply HttpReply::json(const QByteArray &body, int status)
{
    return HttpReply{status, QByteArrayLiteral("Content-Type: application/json\r\n"), body};
}

HttpReply HttpReply::error(int status, const QString &message)
{
    return json(QJsonDocument(QJsonObject{{QStringLiteral("error"), message}}).toJson(QJsonDocument::Compact), status);
}

// ---------------------------------------------------------------------------

HttpConnection::HttpConnection(HttpServer *server, QTcpSocket *socket)
    : QObject(server), m_server(server), m_socket(socket)
{
    socket->setParent(this);
    socket->setReadBufferSize(socketBufferBytes);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_deadline.setRemainingTime(server->m_limits.idleTimeoutMs);
    m_activeAt = ++server->m_activity;
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::readSome);
    connect(socket, &QTcpSocket::bytesWritten, this, &HttpConnection::writtenOut);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::closeNow);
}

void HttpConnection::readSome()
{
    if (m_gone)
        return;
    if (m_state == State::Draining)
        return drain();
    m_activeAt = ++m_server->m_activity;
    const qint64 bufferLimit = m_server->m_limits.maxHeaderBytes + m_server->m_limits.maxBodyBytes + 4;
    auto ready = [this] {
        return !m_gone && m_state != State::Serving && m_state != State::Draining
            && m_socket->bytesToWrite() <= writeBacklog;
    };
    // What was read along with an earlier request comes first.
    if (!m_in.isEmpty() && ready())
        process();
    while (ready() && m_socket->bytesAvailable() > 0) {
        const qint64 room = bufferLimit - m_in.size();
        if (room <= 0)
            break;
        m_in.append(m_socket->read(room));
        process();
    }
    if (m_state == State::Draining)
        drain();
}

void HttpConnection::process()
{
    m_inProcess = true;
    const HttpServer::Limits &limits = m_server->m_limits;
    while (!m_gone) {
        if (m_state == State::Waiting) {
            // Empty lines before a request are allowed.
            qsizetype skip = 0;
            while (m_in.size() >= skip + 2 && m_in[skip] == '\r' && m_in[skip + 1] == '\n')
                skip += 2;
            m_in.remove(0, skip);
            if (m_in.isEmpty() || (m_in.size() == 1 && m_in[0] == '\r'))
                break;
            m_state = State::Head;
            m_deadline.setRemainingTime(limits.idleTimeoutMs);
        }
        if (m_state == State::Head) {
            const qsizetype end = m_in.indexOf("\r\n\r\n");
            if (end < 0 ? m_in.size() > limits.maxHeaderBytes : end + 4 > limits.maxHeaderBytes) {
                refuseAndClose(HttpReply::error(431, QStringLiteral("요청 헤더가 너무 커요.")));
                break;
            }
            if (end < 0)
                break;
            const bool ok = parseHead();
            m_in.remove(0, end + 4);
            if (!ok)
                break;
            m_state = State::Body;
        }
        if (m_state == State::Body) {
            const qint64 take = qMin<qint64>(m_bodyLeft, m_in.size());
            if (!m_refusal)
                m_request.body.append(m_in.constData(), take);
            m_in.remove(0, take);
            m_bodyLeft -= take;
            if (m_bodyLeft > 0)
                break;
            finishBody();
        }
        if (m_state != State::Waiting)
            break;
    }
    m_inProcess = false;
}

// Reads the request line and header fields at the start of m_in, up to the
// blank line. False when the request was refused and the connection is closing.
bool HttpConnection::parseHead()
{
    const HttpServer::Limits &limits = m_server->m_limits;
    const qsizetype end = m_in.indexOf("\r\n\r\n");
    QByteArrayView head = QByteArrayView(m_in).first(end + 2);

    m_request = HttpRequest{};
    m_request.peer = m_socket->peerAddress();
    m_refusal.reset();

    const qsizetype lineEnd = head.indexOf("\r\n");
    const QByteArrayView requestLine = head.first(lineEnd);
    head = head.sliced(lineEnd + 2);
    const qsizetype firstSpace = requestLine.indexOf(' ');
    const qsizetype lastSpace = requestLine.lastIndexOf(' ');
    if (firstSpace <= 0 || lastSpace == firstSpace) {
        refuseAndClose(HttpReply::error(400, badRequest));
        return false;
    }
    const QByteArrayView method = requestLine.first(firstSpace);
    const QByteArrayView target = requestLine.sliced(firstSpace + 1, lastSpace - firstSpace - 1);
    const QByteArrayView version = requestLine.sliced(lastSpace + 1);
    bool targetOk = target.startsWith('/');
    for (char c : target)
        targetOk = targetOk && c > 0x20 && c < 0x7f;
    if (!isToken(method) || !targetOk || !version.startsWith("HTTP/")) {
        refuseAndClose(HttpReply::error(400, badRequest));
        return false;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        refuseAndClose(HttpReply::error(505, QStringLiteral("HTTP/1.1로 보내 주세요.")));
        return false;
    }
    m_http10 = version == "HTTP/1.0";
    m_request.method = method.toByteArray();
    const qsizetype query = target.indexOf('?');
    m_request.path = (query < 0 ? target : target.first(query)).toByteArray();
    m_head = m_request.method == "HEAD";

    // Header fields: "name: value", no white space before the colon, no folded lines.
    int lines = 0;
    while (!head.isEmpty()) {
        const qsizetype eol = head.indexOf("\r\n");
        const QByteArrayView line = head.first(eol);
        head = head.sliced(eol + 2);
        const qsizetype colon = line.indexOf(':');
        bool ok = ++lines <= maxHeaderLines && colon > 0 && isToken(line.first(colon));
        const QByteArrayView value = ok ? trimmed(line.sliced(colon + 1)) : QByteArrayView();
        for (char c : value)
            ok = ok && (uchar(c) >= 0x20 || c == '\t') && c != 0x7f;
        if (!ok) {
            refuseAndClose(HttpReply::error(400, badRequest));
            return false;
        }
        m_request.headers.append({line.first(colon).toByteArray().toLower(), value.toByteArray()});
    }

    // Framing: one body length, known in advance. Two lengths that disagree,
    // or a length beside a transfer coding, could be read two ways.
    qint64 length = 0;
    bool haveLength = false, lengthOk = true, hugeLength = false, chunked = false;
    int hosts = 0;
    bool sawClose = false, sawKeepAlive = false, expectContinue = false;
    for (const auto &[name, value] : m_request.headers) {
        if (name == "content-length") {
            forEachItem(value, [&](QByteArrayView item) {
                bool digits = true;
                for (char c : item)
                    digits = digits && c >= '0' && c <= '9';
                if (!digits) {
                    lengthOk = false;
                    return;
                }
                const qint64 n = item.size() > 18 ? std::numeric_limits<qint64>::max() : item.toLongLong();
                hugeLength = hugeLength || item.size() > 18;
                if (haveLength && n != length)
                    lengthOk = false;
                length = n;
                haveLength = true;
            });
            if (value.isEmpty())
                lengthOk = false;
        } else if (name == "transfer-encoding") {
            chunked = true;
        } else if (name == "host") {
            ++hosts;
        } else if (name == "connection") {
            forEachItem(value, [&](QByteArrayView item) {
                sawClose = sawClose || equalsLower(item, "close");
                sawKeepAlive = sawKeepAlive || equalsLower(item, "keep-alive");
            });
        } else if (name == "expect") {
            expectContinue = equalsLower(value, "100-continue");
        }
    }
    m_keepAlive = m_http10 ? sawKeepAlive && !sawClose : !sawClose;
    if (!lengthOk || (chunked && haveLength) || hosts != 1) {
        refuseAndClose(HttpReply::error(400, badRequest));
        return false;
    }
    if (chunked) {
        refuseAndClose(HttpReply::error(501, QStringLiteral("본문은 Content-Length와 함께 보내 주세요.")));
        return false;
    }

    m_refusal = m_server->refusal(m_request, length);
    if (length > limits.maxBodyBytes || hugeLength) {
        refuseAndClose(m_refusal.value_or(HttpReply::error(413, QStringLiteral("요청이 너무 커요."))));
        return false;
    }
    if (expectContinue && length > 0) {
        // The client waits before sending its body: a refused one is never sent.
        if (m_refusal) {
            refuseAndClose(*m_refusal);
            return false;
        }
        if (!m_http10)
            m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
    }
    m_bodyLeft = length;
    m_request.body.reserve(length);
    return true;
}

void HttpConnection::finishBody()
{
    if (m_refusal) {
        const HttpReply refusal = *m_refusal;
        m_refusal.reset();
        m_state = State::Serving;
        reply(refusal);
        return;
    }
    m_state = State::Serving;
    m_deadline = QDeadlineTimer(QDeadlineTimer::Forever);
    m_server->m_handler(m_request, this);
}

void HttpConnection::reply(const HttpReply &reply)
{
    if (m_gone || m_state != State::Serving)
        return;
    m_request = HttpRequest{};
    m_activeAt = ++m_server->m_activity;
    if (!m_keepAlive) {
        send(reply, true);
        m_state = State::Draining;
        m_lingering = true;
        m_deadline.setRemainingTime(qMin(m_server->m_limits.idleTimeoutMs, maxDrainMs));
        m_socket->disconnectFromHost();
        return;
    }
    send(reply, false);
    m_state = State::Waiting;
    m_deadline.setRemainingTime(m_server->m_limits.idleTimeoutMs);
    if (!m_inProcess)
        readSome();
}

void HttpConnection::send(const HttpReply &reply, bool close)
{
    QByteArray out;
    out.reserve(160 + reply.fields.size() + (m_head ? 0 : reply.body.size()));
    out += statusLine(reply.status);
    out += reply.fields;
    // Every reply is private to this machine's user: never cached, never
    // sniffed into something that runs.
    out += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nContent-Length: ";
    out += QByteArray::number(reply.body.size());
    out += close ? "\r\nConnection: close\r\n\r\n" : m_http10 ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\n\r\n";
    if (!m_head)
        out += reply.body;
    m_socket->write(out);
    m_socket->flush();
}

// A refusal before the request was read whole: the reply goes out, the
// rest of what the client sends is thrown away, and the connection closes.
// The reply is taken by value: it may be the refusal kept in m_refusal, which goes first.
void HttpConnection::refuseAndClose(HttpReply reply)
{
    m_refusal.reset();
    m_request = HttpRequest{};
    m_in.clear();
    m_head = false;
    send(reply, true);
    m_state = State::Draining;
    m_drained = 0;
    m_deadline.setRemainingTime(qMin(m_server->m_limits.idleTimeoutMs, maxDrainMs));
    writtenOut();
}

void HttpConnection::writtenOut()
{
    if (m_gone)
        return;
    if (m_state == State::Draining) {
        // The refusal is out: say we are done sending, and wait for the
        // client to finish and close its side.
        if (!m_lingering && m_socket->bytesToWrite() == 0) {
            m_lingering = true;
            ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
        }
        return;
    }
    if (m_state != State::Serving && m_socket->bytesToWrite() <= writeBacklog
        && (m_socket->bytesAvailable() > 0 || !m_in.isEmpty()))
        readSome();
}

void HttpConnection::drain()
{
    while (!m_gone && m_socket->bytesAvailable() > 0) {
        m_drained += m_socket->skip(m_socket->bytesAvailable());
        if (m_drained > drainLimit)
            return closeNow();
    }
}

void HttpConnection::expire()
{
    switch (m_state) {
    case State::Waiting:
        m_state = State::Draining;
        m_lingering = true;
        m_deadline.setRemainingTime(qMin(m_server->m_limits.idleTimeoutMs, maxDrainMs));
        m_socket->disconnectFromHost();
        break;
    case State::Head:
    case State::Body:
        refuseAndClose(HttpReply::error(408, QStringLiteral("요청이 제시간에 다 오지 않았어요.")));
        break;
    case State::Serving:
        break;
    case State::Draining:
        closeNow();
        break;
    }
}

void HttpConnection::closeNow()
{
    if (m_gone)
        return;
    m_gone = true;
    m_server->forget(this);
    m_socket->abort();
    deleteLater();
}

// ---------------------------------------------------------------------------

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

bool HttpServer::isSelf(QByteArrayView authority) const
{
    static const QByteArrayView names[] = {"127.0.0.1", "localhost", "[::1]"};
    const QByteArray port = ':' + QByteArray::number(serverPort());
    for (QByteArrayView name : names) {
        if (authority.size() == name.size() + port.size() && authority.endsWith(port)
            && equalsLower(authority.first(name.size()), name))
            return true;
        if (serverPort() == 80 && equalsLower(authority, name))
            return true;
    }
    return false;
}

// Why a request is refused before its body is read, if it is. A web page in
// the user's browser can send requests here: one reached through another
// name (DNS rebinding) is refused by its Host; one that would change
// something is refused by its Origin, and by a body type that a page may send
// without asking first.
std::optional<HttpReply> HttpServer::refusal(const HttpRequest &request, qint64 bodyLength) const
{
    if (!isSelf(request.header("host")))
        return HttpReply::error(421, QStringLiteral("127.0.0.1이나 localhost 주소로만 받아요."));
    const QByteArray &method = request.method;
    if (method == "GET" || method == "HEAD" || method == "OPTIONS")
        return std::nullopt;
    int origins = 0;
    bool foreign = false;
    for (const auto &[name, value] : request.headers) {
        if (name != "origin")
            continue;
        ++origins;
        foreign = foreign || !value.startsWith("http://") || !isSelf(QByteArrayView(value).sliced(7));
    }
    if (foreign || origins > 1)
        return HttpReply::error(403, QStringLiteral("다른 사이트에서 온 요청은 받지 않아요."));
    const QByteArray type = request.header("content-type");
    if (!type.isNull() || bodyLength > 0) {
        const qsizetype semicolon = type.indexOf(';');
        if (!equalsLower(trimmed(semicolon < 0 ? QByteArrayView(type) : QByteArrayView(type).first(semicolon)),
                         "application/json"))
            return HttpReply::error(415, QStringLiteral("본문은 application/json으로 보내 주세요."));
    }
    return std::nullopt;
}

} // namespace Kovel::Demo
