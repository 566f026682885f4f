#pragma once
// A raw HTTP client for tests: sends exactly the bytes given and reads the
// replies one by one, every wait on a signal with a deadline.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>
#include <utility>

namespace RawHttp {

struct Reply {
    int status = 0;   // 0: no whole reply before the deadline
    QList<std::pair<QByteArray, QByteArray>> headers;   // names in lower case
    QByteArray body;

    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers)
            if (key == name)
                return value;
        return {};
    }
};

// A request with the Host this server accepts, unless the extra lines say otherwise.
inline QByteArray request(quint16 port, const QByteArray &method, const QByteArray &path,
                          const QByteArray &extraLines = {}, const QByteArray &body = {},
                          bool withHost = true)
{
    QByteArray out = method + ' ' + path + " HTTP/1.1\r\n";
    if (withHost && !extraLines.toLower().startsWith("host:") && !extraLines.toLower().contains("\nhost:"))
        out += "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    out += extraLines;
    if (!body.isEmpty())
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return out + "\r\n" + body;
}

class Client
{
public:
    // from: the local address to connect from; any when null.
    explicit Client(quint16 port, const QHostAddress &from = {}, const QHostAddress &to = QHostAddress(QHostAddress::LocalHost))
    {
        if (!from.isNull())
            m_socket.bind(from);
        m_socket.connectToHost(to, port);
    }

    bool connected(int timeoutMs = 5000)
    {
        return m_socket.state() == QAbstractSocket::ConnectedState || m_socket.waitForConnected(timeoutMs);
    }
    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }
    QTcpSocket &socket() { return m_socket; }
    // Says the request is complete: no more bytes from this side, replies still read.
    void finishSending()
    {
        while (m_socket.bytesToWrite() > 0 && m_socket.waitForBytesWritten(5000)) {
        }
        ::shutdown(int(m_socket.socketDescriptor()), SHUT_WR);
    }

    // The next whole reply (interim 100 replies skipped).
    Reply next(int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            Reply reply;
            const qsizetype end = m_in.indexOf("\r\n\r\n");
            if (end >= 0) {
                const QList<QByteArray> lines = m_in.left(end).split('\n');
                const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
                reply.status = statusLine.value(1).toInt();
                qint64 length = 0;
                for (qsizetype i = 1; i < lines.size(); ++i) {
                    const QByteArray line = lines[i].trimmed();
                    const qsizetype colon = line.indexOf(':');
                    reply.headers.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
                    if (reply.headers.last().first == "content-length")
                        length = reply.headers.last().second.toLongLong();
                }
                if (reply.status == 100) {
                    m_in.remove(0, end + 4);
                    continue;
                }
                if (m_in.size() >= end + 4 + length) {
                    reply.body = m_in.mid(end + 4, length);
                    m_in.remove(0, end + 4 + length);
                    return reply;
                }
            }
            if (!waitForBytes(deadline))
                return Reply{};
        }
    }

    // True once the server has closed the connection, whatever it sent before.
    bool closedByServer(int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (m_socket.state() == QAbstractSocket::ConnectedState) {
            QSignalSpy closed(&m_socket, &QTcpSocket::disconnected);
            if (!closed.wait(int(qMax<qint64>(1, deadline.remainingTime()))) && deadline.hasExpired())
                return false;
            m_in += m_socket.readAll();
        }
        return true;
    }

private:
    bool waitForBytes(const QDeadlineTimer &deadline)
    {
        if (m_socket.bytesAvailable() == 0) {
            if (m_socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired())
                return false;
            // Whichever comes first: bytes, the end of the connection, or the deadline.
            QEventLoop loop;
            QObject::connect(&m_socket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
            QObject::connect(&m_socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
            QTimer::singleShot(qMax<qint64>(1, deadline.remainingTime()), &loop, &QEventLoop::quit);
            loop.exec();
        }
        const QByteArray got = m_socket.readAll();
        m_in += got;
        return !got.isEmpty();
    }

    QTcpSocket m_socket;
    QByteArray m_in;
};

} // namespace RawHttp
