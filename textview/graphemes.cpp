#include "textview/graphemes.h"

#include <QTextBoundaryFinder>

namespace Kovel::Text {

QString leadingGraphemes(const QString &text, int count)
{
    if (count <= 0)
        return QString();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int seen = 0; seen < count; ++seen) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
    }
    return text.left(end);
}

} // namespace Kovel::Text
