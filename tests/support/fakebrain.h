#pragma once
// A scripted stand-in for the brain server, for tests only: listens on
// 127.0.0.1 at an ephemeral port, answers each request from a script and
// records every request it saw.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <functional>

class QTcpServer;
class QTcpSocket;

class FakeBrain : public QObject
{
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Request {
        QByteArray method;
        QByteArray path;     // as sent on the request line, query included
        Headers headers;     // names as sent
        QByteArray body;
        // Value of the first header with this name (case-insensitive), or a null array.
        QByteArray header(const QByteArray &name) const;
        bool hasHeader(const QByteArray &name) const;
    };

    enum class Mode {
        Normal,              // status line, headers, whole body
        Drop,                // close the connection without answering
        HeadersThenSilence,  // headers promising a body that never comes
        Trickle,             // headers, then the body a few bytes at a time
        ResetMidBody,        // headers and half the body, then abort
        Hold,                // never answer: the request stays open until the client goes
        Endless,             // headers, then body bytes for as long as the client reads
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        int delayMs = 0;          // before anything is sent
        Mode mode = Mode::Normal;
        int trickleBytes = 1;     // Trickle: bytes per step
        int trickleIntervalMs = 50;
        Headers headers;          // extra response headers (Set-Cookie, Location, ...)
        // Endless: the Content-Length to announce; below 0 the body is chunked.
        qint64 announcedLength = -1;

        static Reply json(const QByteArray &body, int status = 200) { Reply r; r.status = status; r.body = body; return r; }
        static Reply text(const QByteArray &body, int status = 200) { Reply r; r.status = status; r.body = body; r.contentType = "text/plain; charset=utf-8"; return r; }
        static Reply drop() { Reply r; r.mode = Mode::Drop; return r; }
    };

    using Handler = std::function<Reply(const Request &)>;

    explicit FakeBrain(QObject *parent = nullptr);
    ~FakeBrain() override;

    quint16 port() const;
    QString url() const;                        // "http://127.0.0.1:<port>"

    // Scripted answers, keyed by method and exact path. Later calls replace earlier ones.
    void on(const QByteArray &method, const QByteArray &path, const Reply &reply);
    void on(const QByteArray &method, const QByteArray &path, Handler handler);
    // Answer for anything unscripted (default: 404 with a JSON error body).
    void otherwise(Handler handler);

    QList<Request> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // Spins the event loop until at least n requests have arrived, or the deadline passes.
    bool waitForRequests(int n, int timeoutMs = 5000);

    // Stops listening and drops every open connection, so later requests are refused.
    void shutDown();

    // Requests answered with Mode::Hold whose connection the client still holds.
    int heldOpen() const;
    // Endless bodies still being sent, and how many body bytes they sent in all.
    int endlessOpen() const { return m_endless; }
    qint64 endlessBytes() const { return m_endlessBytes; }

signals:
    void requestReceived(const FakeBrain::Request &request);

private:
    struct Connection;
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void respond(QTcpSocket *socket, const Request &request);
    void send(QPointer<QTcpSocket> socket, const Reply &reply);
    void stream(QPointer<QTcpSocket> socket, const Reply &reply, const QByteArray &head);

    QTcpServer *m_server;
    QList<QPair<QByteArray, Handler>> m_routes;
    Handler m_otherwise;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<QPointer<QTcpSocket>> m_held;
    int m_endless = 0;
    qint64 m_endlessBytes = 0;
};
