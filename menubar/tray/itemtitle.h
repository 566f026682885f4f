#pragma once
// The menu bar item's name: the tray icon's tooltip, and the title of the
// panel's window where the panel is one.

#include <QString>

namespace Kovel::Bar {

inline QString itemTitle()
{
    return QStringLiteral("KOVEL");
}

} // namespace Kovel::Bar
