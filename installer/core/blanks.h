#pragma once

#include <QString>

namespace Kovel::Installer {

// `text` without blanks at either end: space separators (U+0020, U+00A0,
// U+3000, ...) and the tab. Newlines and other control characters stay.
QString trimBlanks(const QString &text);

} // namespace Kovel::Installer
