#include "menubar/tray/popupplacement.h"

#include <algorithm>

namespace Kovel::Bar {

QPoint popupPosition(const QRect &icon, const QPoint &cursor, const QSize &panel, const QRect &available)
{
    const QRect anchor = icon.isEmpty() ? QRect(cursor, QSize(1, 1)) : icon;
    int x = anchor.x() + (anchor.width() - panel.width()) / 2;
    int y = anchor.y() + anchor.height();
    // QRect::bottom() is y + height - 1, so compare against one past it.
    const int floor = available.y() + available.height();
    if (y + panel.height() > floor && anchor.y() - panel.height() >= available.y())
        y = anchor.y() - panel.height();
    x = std::clamp(x, available.x(), std::max(available.x(), available.x() + available.width() - panel.width()));
    y = std::clamp(y, available.y(), std::max(available.y(), floor - panel.height()));
    return QPoint(x, y);
}

} // namespace Kovel::Bar
