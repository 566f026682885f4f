#pragma once

#include <QString>

namespace Kovel::Text {

// The first `count` user-perceived characters (grapheme clusters) of `text`:
// a Hangul syllable, an emoji with its modifiers or a flag counts as one, so a
// cut never splits a character the user sees as one.
QString leadingGraphemes(const QString &text, int count);

} // namespace Kovel::Text
