#include "menubar/panel/panelicons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resource lives in a static library, so it has to be registered by hand.
static void registerIcons()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(panelicons);
        return true;
    }();
    Q_UNUSED(done);
}

namespace Kovel::Bar {

QIcon tintedIcon(const QString &name, const QColor &color, const QSize &size, qreal devicePixelRatio)
{
    registerIcons();
    QSvgRenderer renderer(QStringLiteral(":/kovel/icons/%1.svg").arg(name));
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pixmap(size * dpr);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        // Keep the drawing's coverage, replace its colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
    }
    pixmap.setDevicePixelRatio(dpr);
    QIcon icon(pixmap);
    return icon;
}

} // namespace Kovel::Bar
