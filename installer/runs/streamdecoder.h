#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace Kovel::Installer {

// UTF-8 text of one output stream read in arbitrary pieces: a character split
// across reads comes out whole once its last byte arrives, invalid bytes
// become U+FFFD, and nothing else is changed or lost. The result is the same
// as decoding the whole stream at once.
//
// The bytes of an unfinished character are held back here rather than in
// QStringDecoder's state: Qt 6.4 loses the byte after an interrupted sequence
// when it resumes from that state, and has no way to flush it at the end.
class StreamDecoder
{
public:
    // In steps, for a reader that keeps its own buffers: what was held back
    // is appended to `buffer` (the bytes read next go after it); then an
    // unfinished character at the end of what was read is held back from it;
    // then what is left, whole characters, is decoded into `into`, whose
    // memory is reused when nothing else shares it (on any thread).
    void takeHeld(QByteArray &buffer);
    void holdBack(QByteArray &buffer);
    static void decodeWhole(QByteArrayView bytes, QString &into);
    // End of the stream: a character cut off by it becomes U+FFFD.
    QString finish();

private:
    QByteArray m_held;
};

} // namespace Kovel::Installer
