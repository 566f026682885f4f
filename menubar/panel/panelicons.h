#pragma once

#include <QColor>
#include <QIcon>
#include <QSize>

namespace Kovel::Bar {

// Our own monochrome icons ("checkmark.circle", "brain.head.profile"), drawn
// from the SVGs in icons/ in one colour so they follow light and dark palettes.
QIcon tintedIcon(const QString &name, const QColor &color, const QSize &size, qreal devicePixelRatio);

} // namespace Kovel::Bar
