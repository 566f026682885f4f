#include "installer/actions/streamdecoder.h"

QString StreamDecoder::finish()
{
    if (!m_decoder.holdsPartialCharacter())
        return {};
    m_decoder.reset();
    return QString(QChar::ReplacementCharacter);
}
