#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

// UTF-8 text of one output stream read in arbitrary pieces: a character split
// across reads comes out whole once its last byte arrives, invalid bytes
// become U+FFFD, and nothing else is changed or lost.
class StreamDecoder
{
public:
    QString decode(QByteArrayView bytes) { return m_decoder.decode(bytes); }
    // End of the stream: a character cut off by it becomes U+FFFD.
    QString finish();

private:
    // The converter keeps the bytes of an unfinished character in its state.
    struct Utf8 : QStringDecoder {
        // A byte order mark at the start is output too, kept like any other text.
        Utf8() : QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom) {}
        bool holdsPartialCharacter() const { return state.remainingChars > 0; }
        void reset() { resetState(); }
    };
    Utf8 m_decoder;
};
