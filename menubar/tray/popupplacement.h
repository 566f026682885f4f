#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace Kovel::Bar {

// Where the panel goes as a popup: centred under the tray icon, or above it
// when there is no room below (a tray at the bottom of the screen), kept
// inside the screen's available area. Without an icon rectangle (some trays
// report none) the cursor stands in for it.
QPoint popupPosition(const QRect &icon, const QPoint &cursor, const QSize &panel, const QRect &available);

} // namespace Kovel::Bar
