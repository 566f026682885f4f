#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

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
    QString decode(QByteArrayView bytes);
    // End of the stream: a character cut off by it becomes U+FFFD.
    QString finish();

    // The same, for a reader that keeps its own buffers: the length of
    // `bytes` without an unfinished character at its end (what is left is
    // put before the next bytes read), ...
    static qsizetype wholeLength(QByteArrayView bytes);
    // ... and such whole characters decoded into `into`, whose memory is
    // reused when nothing else shares it. Safe on any thread.
    static void decodeWhole(QByteArrayView bytes, QString &into);

private:
    // Only ever given whole characters (or invalid bytes); a byte order mark
    // at the start of a read is text like any other.
    QStringDecoder m_utf8{QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom};
    QByteArray m_held;
};
