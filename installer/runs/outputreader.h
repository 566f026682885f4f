#pragma once

#include "installer/runs/streamdecoder.h"

#include <QByteArray>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class QSocketNotifier;

namespace Kovel::Installer {

// A child's output, read from a pipe of its own and decoded as UTF-8 on a
// worker thread, handed over on the main thread in order, one piece at a
// time (see StreamDecoder for how pieces are cut and decoded).
//
// The pipe is read a piece at a time, and only while at most one piece
// is being decoded and one is waiting: a child that prints faster than the
// window takes its output waits for it, and nothing piles up in between.
// Buffers go round between the reader and the worker, so a flood of output
// touches the same memory again instead of fresh pages.
class OutputReader : public QObject
{
    Q_OBJECT
public:
    // `piece` is called on the main thread with each decoded piece; it may
    // keep a copy (a kept copy only costs the reuse of that buffer).
    explicit OutputReader(std::function<void(const QString &piece)> piece, QObject *parent = nullptr);
    ~OutputReader() override;

    // Makes the pipe; "" or the error text.
    QString open();
    // The end the child writes to (standard output and error in the child;
    // closed on exec everywhere else).
    int childEnd() const { return m_childEnd; }
    // The child has been started (or failed to start): the reader's copy of
    // the child's end is closed, so the pipe ends when the child's copies do.
    void closeChildEnd();

    // The child is gone: what is in the pipe now is read and handed over,
    // then `done` is called (on the main thread, after the last piece). A
    // process it left behind that still holds the pipe is not waited for.
    void finish(std::function<void()> done);

    // A piece's text is appended to the log in one turn: a quarter of a
    // megabyte keeps that turn to a few milliseconds even where the log's
    // fresh pages are slow to come by.
    static constexpr qsizetype pieceBytes = 256 << 10;
    static constexpr int pipeBytes = 1 << 20;

private:
    struct Decoded {
        QByteArray bytes;
        QString text;
    };

    void readable();
    bool readInto(QByteArray &buffer, qsizetype limit);
    void sendWaiting();
    void decoded();
    void end();
    void closeAll();
    void updateNotifier();

    std::function<void(const QString &)> m_piece;
    std::function<void()> m_done;
    int m_readEnd = -1;
    int m_childEnd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QFutureWatcher<Decoded> m_watcher;
    bool m_decoding = false;
    QByteArray m_waiting;     // read and cut, not yet sent to the worker
    StreamDecoder m_utf8;     // holds the start of a character the next read completes
    std::vector<QByteArray> m_spareBytes;
    std::vector<QString> m_spareTexts;
    bool m_eof = false;
    bool m_finishing = false;
};

} // namespace Kovel::Installer
