#include "demo/http/tcpstream.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Kovel::Demo {

namespace {
#ifdef MSG_NOSIGNAL
const int sendFlags = MSG_NOSIGNAL;
#else
const int sendFlags = 0;   // SO_NOSIGPIPE is set on the socket instead
#endif
// Once this much of the kept output has gone, it is dropped from the front.
const qsizetype compactAfter = 64 * 1024;

bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
}

TcpStream::TcpStream(qintptr descriptor, QObject *parent)
    : QObject(parent),
      m_fd(int(descriptor)),
      m_readNotifier(descriptor, QSocketNotifier::Read),
      m_writeNotifier(descriptor, QSocketNotifier::Write)
{
    m_writeNotifier.setEnabled(false);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#ifdef SO_NOSIGPIPE
    ::setsockopt(m_fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        m_peer = QHostAddress(reinterpret_cast<const sockaddr *>(&address));
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &TcpStream::readable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &TcpStream::flush);
}

TcpStream::~TcpStream()
{
    abort();
}

qint64 TcpStream::readInto(QByteArray &buffer, qint64 max)
{
    if (m_fd < 0 || m_failed || m_inputEnded || max <= 0)
        return 0;
    const qsizetype old = buffer.size();
    buffer.resize(old + max);
    ssize_t got;
    do
        got = ::recv(m_fd, buffer.data() + old, size_t(max), 0);
    while (got < 0 && errno == EINTR);
    buffer.resize(old + qMax<ssize_t>(got, 0));
    if (got > 0)
        return got;
    if (got == 0) {
        m_inputEnded = true;
        m_readNotifier.setEnabled(false);
    } else if (!wouldBlock()) {
        fail();
    }
    return 0;
}

qint64 TcpStream::skip(qint64 max)
{
    char scratch[16 * 1024];
    qint64 skipped = 0;
    while (m_fd >= 0 && !m_failed && !m_inputEnded && skipped < max) {
        const ssize_t got = ::recv(m_fd, scratch, size_t(qMin<qint64>(sizeof scratch, max - skipped)), 0);
        if (got > 0) {
            skipped += got;
        } else if (got == 0) {
            m_inputEnded = true;
            m_readNotifier.setEnabled(false);
        } else if (errno != EINTR) {
            if (!wouldBlock())
                fail();
            break;
        }
    }
    return skipped;
}

void TcpStream::write(QByteArrayView bytes)
{
    if (m_fd < 0 || m_failed || m_shutdownAsked || bytes.isEmpty())
        return;
    if (bytesToWrite() == 0) {
        ssize_t sent;
        do
            sent = ::send(m_fd, bytes.data(), size_t(bytes.size()), sendFlags);
        while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            if (!wouldBlock())
                return fail();
            sent = 0;
        }
        if (sent == bytes.size())
            return;
        bytes = bytes.sliced(sent);
    }
    m_out.append(bytes.data(), bytes.size());
    m_writeNotifier.setEnabled(true);
}

void TcpStream::flush()
{
    if (m_fd < 0 || m_failed)
        return;
    while (bytesToWrite() > 0) {
        const ssize_t sent = ::send(m_fd, m_out.constData() + m_outSent, size_t(bytesToWrite()), sendFlags);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (!wouldBlock())
                return fail();
            break;
        }
        m_outSent += sent;
    }
    if (bytesToWrite() == 0) {
        m_out.clear();
        m_outSent = 0;
        m_writeNotifier.setEnabled(false);
        if (m_shutdownAsked)
            endOutput();
    } else if (m_outSent >= compactAfter) {
        m_out.remove(0, m_outSent);
        m_outSent = 0;
    }
    emit written();
}

void TcpStream::shutdownOutput()
{
    if (m_shutdownAsked)
        return;
    m_shutdownAsked = true;
    if (bytesToWrite() == 0)
        endOutput();
}

void TcpStream::endOutput()
{
    if (m_fd < 0 || m_failed || m_outputEnded)
        return;
    m_outputEnded = true;
    ::shutdown(m_fd, SHUT_WR);
}

void TcpStream::abort()
{
    if (m_fd < 0)
        return;
    // The notifiers let go of the descriptor before it is closed, and its number reused.
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    ::close(m_fd);
    m_fd = -1;
    m_out.clear();
    m_outSent = 0;
}

void TcpStream::setReading(bool on)
{
    if (m_fd >= 0 && !m_failed)
        m_readNotifier.setEnabled(on && !m_inputEnded);
}

void TcpStream::fail()
{
    if (m_failed)
        return;
    m_failed = true;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_out.clear();
    m_outSent = 0;
    // Told later, so no caller finds its connection gone in the middle of a call.
    QMetaObject::invokeMethod(this, [this] { emit failed(); }, Qt::QueuedConnection);
}

} // namespace Kovel::Demo
