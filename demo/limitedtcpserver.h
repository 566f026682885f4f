#pragma once

#include <QTcpServer>

class QTcpSocket;

// A listener that cuts off any request larger than a limit before the HTTP
// layer buffers it: the HTTP server of this Qt version keeps a whole body in
// memory, however large, before a handler sees it. An oversized request gets
// 413 with a JSON error and the connection is closed.
class LimitedTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    // maxBodyBytes: the largest body accepted; the header gets some room on top.
    explicit LimitedTcpServer(qint64 maxBodyBytes, QObject *parent = nullptr)
        : QTcpServer(parent), m_maxBodyBytes(maxBodyBytes) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    qint64 m_maxBodyBytes;
};
