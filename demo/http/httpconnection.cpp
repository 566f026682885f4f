#include "demo/http/httpconnection.h"

#include "demo/http/httpserver.h"
#include "demo/http/requestparser.h"
#include "demo/http/requestpolicy.h"

#include <limits>
#include <utility>

namespace Kovel::Demo {

namespace {
// A refused body is read and thrown away up to this much, so the client
// reads the refusal instead of a reset; a client that keeps sending is cut off.
const qint64 drainLimit = 64 * 1024 * 1024;
const int maxDrainMs = 10000;
// Thrown away in one go at most, so others are not kept waiting meanwhile.
const qint64 drainChunk = 1024 * 1024;
// Replies not yet taken by a client that does not read: no further request
// of its is read until it takes them.
const qint64 writeBacklog = 256 * 1024;
const qint64 readChunk = 64 * 1024;
const int chunksPerTurn = 4;
}

HttpConnection::HttpConnection(HttpServer *server, qintptr descriptor)
    : QObject(server), m_server(server), m_stream(descriptor)
{
    m_deadline.setRemainingTime(server->m_limits.idleTimeoutMs);
    m_activeAt = ++server->m_activity;
    connect(&m_stream, &TcpStream::readable, this, &HttpConnection::readSome);
    connect(&m_stream, &TcpStream::written, this, &HttpConnection::writtenOut);
    connect(&m_stream, &TcpStream::failed, this, &HttpConnection::closeNow);
}

// Whether the next request may be read: none is being answered, and the
// client takes its replies.
bool HttpConnection::ready() const
{
    return !m_gone && m_state != State::Serving && m_state != State::Draining
        && m_stream.bytesToWrite() <= writeBacklog;
}

void HttpConnection::readSome()
{
    if (m_gone)
        return;
    if (m_state == State::Draining)
        return drain();
    m_activeAt = ++m_server->m_activity;
    const qint64 bufferLimit = m_server->m_limits.maxHeaderBytes + m_server->m_limits.maxBodyBytes + 4;
    // What was read along with an earlier request comes first.
    if (!m_in.isEmpty() && ready())
        process();
    // A few chunks at a time: a client that keeps sending waits for the next
    // turn of the event loop, behind everyone else.
    for (int chunks = 0; chunks < chunksPerTurn && ready(); ++chunks) {
        const qint64 room = bufferLimit - m_in.size();
        if (room <= 0 || m_stream.readInto(m_in, qMin(room, readChunk)) == 0)
            break;
        process();
    }
    if (m_state == State::Draining)
        return drain();
    // The client has sent all it will: once every request of it is answered, close.
    if (ready() && m_stream.inputEnded())
        return closeAfterOutput();
    // Read on only when a request may be; the rest waits in the system meanwhile.
    m_stream.setReading(ready() && m_in.size() < bufferLimit);
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
            const bool ok = takeHead(QByteArrayView(m_in).first(end + 2));
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

// Takes the request line and header fields just read, up to the blank line.
// False when the request was refused and the connection is closing.
bool HttpConnection::takeHead(QByteArrayView text)
{
    RequestHead head = parseRequestHead(text);
    m_refusal.reset();
    if (head.refusal) {
        refuseAndClose(std::move(*head.refusal));
        return false;
    }
    m_request = std::move(head.request);
    m_request.peer = m_stream.peerAddress();
    m_http10 = head.http10;
    m_keepAlive = head.keepAlive;
    m_head = m_request.method == "HEAD";

    const qint64 length = head.bodyLength;
    m_refusal = requestRefusal(m_request, length, m_server->port());
    if (length > m_server->m_limits.maxBodyBytes || length == std::numeric_limits<qint64>::max()) {
        refuseAndClose(m_refusal.value_or(HttpReply::error(413, QStringLiteral("요청이 너무 커요."))));
        return false;
    }
    if (head.expectContinue && length > 0) {
        // The client waits before sending its body: a refused one is never sent.
        if (m_refusal) {
            refuseAndClose(*m_refusal);
            return false;
        }
        if (!m_http10)
            m_stream.write("HTTP/1.1 100 Continue\r\n\r\n");
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
        return closeAfterOutput();
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
    m_stream.write(out);
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
    closeAfterOutput();
}

// No more requests on this connection: what is owed goes out, then this
// side says it is done, and what the client still sends is thrown away until
// it is done too, so it reads every reply rather than a reset.
void HttpConnection::closeAfterOutput()
{
    m_state = State::Draining;
    m_in.clear();
    m_drained = 0;
    m_deadline.setRemainingTime(qMin(m_server->m_limits.idleTimeoutMs, maxDrainMs));
    m_stream.shutdownOutput();
    drain();
}

void HttpConnection::writtenOut()
{
    if (m_gone)
        return;
    if (m_state == State::Draining)
        return drain();
    if (ready())
        readSome();
}

void HttpConnection::drain()
{
    if (m_gone)
        return;
    m_drained += m_stream.skip(qMin(drainChunk, drainLimit + 1 - m_drained));
    if (m_drained > drainLimit || (m_stream.inputEnded() && m_stream.bytesToWrite() == 0))
        return closeNow();
    m_stream.setReading(true);
}

void HttpConnection::expire()
{
    switch (m_state) {
    case State::Waiting:
        closeAfterOutput();
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
    m_stream.abort();
    deleteLater();
}

} // namespace Kovel::Demo
