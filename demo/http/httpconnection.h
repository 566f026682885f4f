#pragma once

#include "demo/http/httpmessages.h"
#include "demo/http/tcpstream.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QObject>
#include <optional>

namespace Kovel::Demo {

class HttpServer;

// One client connection: reads requests one at a time, hands each to the
// server's handler and writes its reply, then reads the next. A client that
// has finished sending is still answered, then the connection closes.
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
        Draining,   // no more requests: the last reply goes out, what still comes is thrown away
    };

    HttpConnection(HttpServer *server, qintptr descriptor);
    bool ready() const;
    void readSome();
    void process();
    bool takeHead(QByteArrayView text);
    void finishBody();
    void send(const HttpReply &reply, bool close);
    void refuseAndClose(HttpReply reply);
    void closeAfterOutput();
    void writtenOut();
    void drain();
    void expire();
    void closeNow();

    HttpServer *m_server;
    TcpStream m_stream;
    State m_state = State::Waiting;
    QByteArray m_in;
    HttpRequest m_request;
    qint64 m_bodyLeft = 0;
    bool m_keepAlive = true;
    bool m_http10 = false;
    bool m_head = false;              // HEAD: the reply goes without its body
    std::optional<HttpReply> m_refusal;   // sent once the refused body is skipped
    qint64 m_drained = 0;
    bool m_inProcess = false;
    bool m_gone = false;
    QDeadlineTimer m_deadline;        // when this connection is dropped in its present state
    qint64 m_activeAt = 0;            // the server's activity count at its last read or reply
};

} // namespace Kovel::Demo
