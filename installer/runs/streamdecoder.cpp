#include "installer/runs/streamdecoder.h"

#include <QStringDecoder>

namespace Kovel::Installer {

namespace {

bool isContinuation(char c) { return (uchar(c) & 0xC0) == 0x80; }

// How many bytes a sequence led by `c` has; 0 for a byte that leads none.
int sequenceLength(char c)
{
    const uchar u = uchar(c);
    if (u >= 0xC2 && u <= 0xDF) return 2;
    if (u >= 0xE0 && u <= 0xEF) return 3;
    if (u >= 0xF0 && u <= 0xF4) return 4;
    return 0;
}

// Length of `data` without an unfinished character at its end. The cut is
// only ever made before a lead byte, where a decoder starts afresh anyway.
qsizetype completeLength(QByteArrayView data)
{
    const qsizetype n = data.size();
    qsizetype i = n;
    while (i > 0 && n - i < 4 && isContinuation(data[i - 1]))
        --i;
    if (i == 0)
        return n;
    const qsizetype lead = i - 1;
    const int need = sequenceLength(data[lead]);
    return need > n - lead ? lead : n;
}

} // namespace

void StreamDecoder::takeHeld(QByteArray &buffer)
{
    buffer.append(m_held);
    m_held.clear();
}

void StreamDecoder::holdBack(QByteArray &buffer)
{
    const qsizetype complete = completeLength(buffer);
    m_held = buffer.sliced(complete);
    buffer.truncate(complete);
}

void StreamDecoder::decodeWhole(QByteArrayView bytes, QString &into)
{
    // Only ever given whole characters (or invalid bytes); a byte order mark
    // at the start of a piece is text like any other.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    if (!into.isDetached())
        into = QString();
    into.resize(utf8.requiredSpace(bytes.size()));
    QChar *end = utf8.appendToBuffer(into.data(), bytes);
    into.truncate(end - into.constData());
}

QString StreamDecoder::finish()
{
    // What is held is the start of one character, so one replacement for it.
    if (m_held.isEmpty())
        return {};
    m_held.clear();
    return QString(QChar::ReplacementCharacter);
}

} // namespace Kovel::Installer
