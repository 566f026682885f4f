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

private:
    // Only ever given whole characters (or invalid bytes); a byte order mark
    // at the start of a read is text like any other.
    QStringDecoder m_utf8{QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom};
    QByteArray m_held;
};
