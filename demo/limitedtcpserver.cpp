#include "demo/limitedtcpserver.h"

#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace {
const qint64 headerRoom = 16 * 1024;
// After refusing a request: how much more is read and thrown away, and for how long.
const qint64 drainLimit = 64 * 1024 * 1024;
const int drainMs = 10000;

QByteArray tooLargeReply()
{
    const QByteArray body = QStringLiteral("{\"error\":\"요청이 너무 커요.\"}").toUtf8();
    return "HTTP/1.1 413 Payload Too Large\r\n"
           "Content-Type: application/json\r\n"
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n"
           "Connection: close\r\n\r\n" + body;
}
}

void LimitedTcpServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Bytes received since the last reply went out: the request in progress
    // (the HTTP server reads everything that arrives, so each readyRead brings
    // only new bytes). Checked before the HTTP server's own reader, which is
    // connected after this one.
    auto received = std::make_shared<qint64>(0);
    auto rejected = std::make_shared<bool>(false);
    const qint64 limit = m_maxBodyBytes + headerRoom;
    connect(socket, &QTcpSocket::bytesWritten, socket, [received, rejected] {
        if (!*rejected)
            *received = 0;
    });
    connect(socket, &QTcpSocket::readyRead, socket, [socket, received, rejected, limit] {
        if (*rejected) {
            // Drain what still comes, so the HTTP layer never sees it. Closing
            // at once would reset a client still sending its body before it
            // read the reply; it closes itself once it has the reply. A client
            // that keeps on sending is cut off.
            *received += socket->bytesAvailable();
            socket->read(socket->bytesAvailable());
            if (*received > drainLimit)
                socket->abort();
            return;
        }
        *received += socket->bytesAvailable();
        if (*received <= limit)
            return;
        *rejected = true;
        socket->read(socket->bytesAvailable());
        socket->write(tooLargeReply());
        QTimer::singleShot(drainMs, socket, [socket] { socket->abort(); });
    });
    addPendingConnection(socket);
}
