#include "installer/runs/outputreader.h"

#include "platform/installerlog.h"

#include <QSocketNotifier>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Kovel::Installer {

OutputReader::OutputReader(std::function<void(const QString &)> piece, QObject *parent)
    : QObject(parent), m_piece(std::move(piece))
{
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &OutputReader::decoded);
}

OutputReader::~OutputReader()
{
    closeAll();
    // A piece still on the worker owns its buffers and drops them there.
}

QString OutputReader::open()
{
    int ends[2];
#if defined(Q_OS_LINUX)
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
#else
    if (::pipe(ends) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
#endif
    m_readEnd = ends[0];
    m_childEnd = ends[1];
    ::fcntl(m_readEnd, F_SETFL, ::fcntl(m_readEnd, F_GETFL) | O_NONBLOCK);
#if defined(F_SETPIPE_SZ)
    // With the default 64 KB a child that prints fast would wait for the
    // window many times a frame.
    ::fcntl(m_readEnd, F_SETPIPE_SZ, pipeBytes);
#endif
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OutputReader::readable);
    return {};
}

void OutputReader::closeChildEnd()
{
    if (m_childEnd >= 0)
        ::close(m_childEnd);
    m_childEnd = -1;
}

void OutputReader::closeAll()
{
    closeChildEnd();
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_readEnd >= 0)
        ::close(m_readEnd);
    m_readEnd = -1;
}

// Reads what the pipe has into `buffer`, after what it holds, up to `limit`
// bytes in all. False at the end of the pipe or on an error.
bool OutputReader::readInto(QByteArray &buffer, qsizetype limit)
{
    qsizetype size = buffer.size();
    buffer.resize(limit);
    bool open = true;
    while (size < limit) {
        const ssize_t got = ::read(m_readEnd, buffer.data() + size, size_t(limit - size));
        if (got > 0) {
            size += got;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (got < 0)
            qCWarning(System::installerLog) << "reading the child's output failed:" << std::strerror(errno);
        open = false;
        break;
    }
    buffer.resize(size);
    return open;
}

void OutputReader::readable()
{
    if (m_readEnd < 0 || !m_waiting.isEmpty())
        return;
    QByteArray buffer;
    if (!m_spareBytes.empty()) {
        buffer = std::move(m_spareBytes.back());
        m_spareBytes.pop_back();
    } else {
        buffer.reserve(pieceBytes + 4);
    }
    // The start of a character cut off by the last read comes first.
    buffer.resize(0);
    m_utf8.takeHeld(buffer);
    if (!readInto(buffer, pieceBytes + buffer.size()))
        m_eof = true;
    m_utf8.holdBack(buffer);
    if (!buffer.isEmpty())
        m_waiting = std::move(buffer);
    else
        m_spareBytes.push_back(std::move(buffer));
    sendWaiting();
    updateNotifier();
}

void OutputReader::updateNotifier()
{
    if (m_notifier)
        m_notifier->setEnabled(!m_eof && !m_finishing && m_waiting.isEmpty());
}

void OutputReader::sendWaiting()
{
    if (m_decoding || m_waiting.isEmpty())
        return;
    QString text;
    if (!m_spareTexts.empty()) {
        text = std::move(m_spareTexts.back());
        m_spareTexts.pop_back();
    }
    m_decoding = true;
    m_watcher.setFuture(QtConcurrent::run([bytes = std::move(m_waiting), text = std::move(text)]() mutable {
        StreamDecoder::decodeWhole(bytes, text);
        return Decoded{std::move(bytes), std::move(text)};
    }));
    m_waiting = QByteArray();
}

void OutputReader::decoded()
{
    if (!m_decoding)
        return;
    m_decoding = false;
    // Taken, not copied: the buffers then have one owner and are used again.
    // (A piece whose decoding was cancelled has no result: nothing to show.)
    Decoded d;
    if (m_watcher.future().resultCount() > 0)
        d = m_watcher.future().takeResult();
    if (!d.text.isEmpty())
        m_piece(d.text);
    // Kept for the next pieces (at most one of each waits or decodes).
    d.bytes.resize(0);
    if (m_spareBytes.size() < 2)
        m_spareBytes.push_back(std::move(d.bytes));
    if (m_spareTexts.size() < 2)
        m_spareTexts.push_back(std::move(d.text));
    sendWaiting();
    if (m_finishing) {
        if (!m_decoding && m_waiting.isEmpty())
            end();
        return;
    }
    updateNotifier();
}

void OutputReader::finish(std::function<void()> done)
{
    m_done = std::move(done);
    m_finishing = true;
    updateNotifier();
    // What the child wrote before it ended is in the pipe: at most its size,
    // so this reads a bounded amount even if something it started writes on.
    if (m_readEnd >= 0 && !m_eof) {
        QByteArray rest = std::move(m_waiting);
        m_waiting = QByteArray();
        m_utf8.takeHeld(rest);
        if (!readInto(rest, rest.size() + 4 * qsizetype(pipeBytes)))
            m_eof = true;
        m_utf8.holdBack(rest);
        m_waiting = std::move(rest);
    }
    closeAll();
    sendWaiting();
    if (!m_decoding)
        end();
}

void OutputReader::end()
{
    if (!m_done)
        return;
    closeAll();
    // A character the end of the output cut off is one replacement.
    if (const QString tail = m_utf8.finish(); !tail.isEmpty())
        m_piece(tail);
    auto done = std::move(m_done);
    m_done = nullptr;
    done();
}

} // namespace Kovel::Installer
