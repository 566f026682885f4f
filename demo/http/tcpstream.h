#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>

namespace Kovel::Demo {

// One accepted TCP connection, read and written on its descriptor directly.
// Unlike QTcpSocket, the end of what the client sends does not close it: a
// client may shut its sending side once its request is out and still be
// answered.
class TcpStream : public QObject
{
    Q_OBJECT
public:
    // Takes the descriptor over; it is closed with this stream at the latest.
    explicit TcpStream(qintptr descriptor, QObject *parent = nullptr);
    ~TcpStream() override;
    TcpStream(const TcpStream &) = delete;
    TcpStream &operator=(const TcpStream &) = delete;

    QHostAddress peerAddress() const { return m_peer; }

    // Appends what has arrived, at most max bytes; returns how many. 0 when
    // nothing is waiting, the client has finished sending, or the stream failed.
    qint64 readInto(QByteArray &buffer, qint64 max);
    // Throws away what has arrived, at most max bytes; returns how many.
    qint64 skip(qint64 max);
    bool inputEnded() const { return m_inputEnded; }

    // Sends what the connection takes now and keeps the rest for later.
    void write(QByteArrayView bytes);
    qint64 bytesToWrite() const { return m_out.size() - m_outSent; }
    // Nothing more is sent once what is kept has gone; the client sees the end.
    void shutdownOutput();
    // Closes at once; what is kept is dropped.
    void abort();

    // Whether readable() is wanted. Off, what the client sends waits in the system.
    void setReading(bool on);

signals:
    void readable();   // bytes, or the end of the client's input, are waiting
    void written();    // kept bytes went out
    void failed();     // reset or broken: nothing more goes either way (emitted later, never from a call)

private:
    void flush();
    void fail();
    void endOutput();

    int m_fd;
    QHostAddress m_peer;
    QSocketNotifier m_readNotifier;
    QSocketNotifier m_writeNotifier;
    QByteArray m_out;
    qsizetype m_outSent = 0;
    bool m_inputEnded = false;
    bool m_failed = false;
    bool m_shutdownAsked = false;
    bool m_outputEnded = false;
};

} // namespace Kovel::Demo
