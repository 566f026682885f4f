#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <optional>
#include <utility>

class QTcpSocket;

namespace Kovel::Demo {

// One request as the connection read it: framing checked, body whole.
struct HttpRequest {
    QByteArray method;
    QByteArray path;                                   // the target up to any "?"
    QList<std::pair<QByteArray, QByteArray>> headers;  // names in lower case
    QByteArray body;
    QHostAddress peer;

    // The first value of a header (name in lower case), or a null array.
    QByteArray header(QByteArrayView name) const;
};

// A reply before framing: the connection adds the status line,
// Content-Length and Connection. Cheap to copy, so ready replies can be kept.
struct HttpReply {
    int status = 200;
    QByteArray fields;   // further header lines, each ending in "\r\n"
    QByteArray body;

    static HttpReply json(const QByteArray &body, int status = 200);
    // {"error": message}
    static HttpReply error(int status, const QString &message);
};

class HttpServer;

// One client connection: reads requests one at a time, hands each to the
// server's handler and writes its reply, then reads the next.
class HttpConnection : public QObject
{
    Q_OBJECT
public:
    // The reply to the request last handed out. Once only; later calls are ignored.
    void reply(const HttpReply &reply);

private:
    friend class HttpServer;
    enum class State {
        Waiting,    // for the first byte of a request
        Head,       // reading the request line and header fields
        Body,       // reading (or throwing away) a body of known length
        Serving,    // the handler has the request
        Draining,   // refused: throwing away what still comes before closing
    };

    HttpConnection(HttpServer *server, QTcpSocket *socket);
    void readSome();
    void process();
    bool parseHead();
    void finishBody();
    void send(const HttpReply &reply, bool close);
    void refuseAndClose(HttpReply reply);
    void writtenOut();
    void drain();
    void expire();
    void closeNow();

    HttpServer *m_server;
    QTcpSocket *m_socket;
    State m_state = State::Waiting;
    QByteArray m_in;
    HttpRequest m_request;
    qint64 m_bodyLeft = 0;
    bool m_keepAlive = true;
    bool m_http10 = false;
    bool m_head = false;              // HEAD: the reply goes without its body
    bool m_closeAfterReply = false;
    bool m_lingering = false;         // the reply went; only waiting for the client to stop
    std::optional<HttpReply> m_refusal;   // sent once the refused body is skipped
    qint64 m_drained = 0;
    bool m_inProcess = false;
    bool m_gone = false;
    QDeadlineTimer m_deadline;        // when this connection is dropped in its present state
    qint64 m_activeAt = 0;            // the server's activity count at its last read or reply
};

// An HTTP/1.1 server on 127.0.0.1 with bounds on everything a client controls:
// request size, time to send a request or to be idle, and open connections.
// Requests whose Host is not this server as the loopback address or
// "localhost", and state-changing requests from a foreign Origin or with a
// body that is not JSON, are refused before their body is read.
class HttpServer : public QTcpServer
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

    // Listens on 127.0.0.1 only; port 0 picks a free one. Returns the port, or 0.
    quint16 listenLocal(quint16 port);
    qsizetype openConnections() const { return m_connections.size(); }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    friend class HttpConnection;
    std::optional<HttpReply> refusal(const HttpRequest &request, qint64 bodyLength) const;
    bool isSelf(QByteArrayView authority) const;
    void forget(HttpConnection *connection);
    bool makeRoom();
    void sweep();

    Limits m_limits;
    Handler m_handler;
    QList<HttpConnection *> m_connections;
    QTimer m_sweep;
    qint64 m_activity = 0;   // a counter, so the least recently active is known without clocks
};

} // namespace Kovel::Demo
