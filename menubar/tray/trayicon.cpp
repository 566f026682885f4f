#include "menubar/tray/trayicon.h"

#include "menubar/panel/barview.h"
#include "menubar/panel/panelicons.h"
#include "menubar/tray/itemtitle.h"

#include <QApplication>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace Kovel::Bar {

namespace {

#ifdef Q_OS_MACOS
constexpr int templateSide = 32;

// A template image: the menu bar colours it for light and dark itself.
QIcon drawnIcon()
{
    QIcon icon = tintedIcon(QStringLiteral("brain.head.profile"), Qt::black,
                            QSize(templateSide, templateSide), qApp->devicePixelRatio());
    icon.setIsMask(true);
    return icon;
}
#else
// The themed icon a desktop may have installed for us.
const QString themeIconName = QStringLiteral("io.kovel.KovelBar");

// A light head on a mid-blue disc: clear on dark panels (the common Linux
// default) and on light ones alike. Drawn only at the sizes a tray asks for,
// when it asks: drawing every size up front held up the icon's first frame.
class DiscIconEngine : public QIconEngine
{
public:
    QIconEngine *clone() const override { return new DiscIconEngine(*this); }
    QString key() const override { return QStringLiteral("KovelDisc"); }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        // What trays that take pixmaps (over D-Bus) are offered.
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode, QIcon::State) override { return drawn(actualSize(size, {}, {}).width()); }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(rect.width(), rect.height());
        if (side <= 0)
            return;
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QRect square(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2, side, side);
        painter->drawPixmap(square, drawn(qRound(side * dpr)));
    }

private:
    // One square of `side` device pixels, kept for the next paint.
    QPixmap drawn(int side)
    {
        if (side <= 0)
            return {};
        for (const QPixmap &made : std::as_const(m_made))
            if (made.width() == side)
                return made;
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x3d, 0x7f, 0xe0));
        painter.drawEllipse(QRectF(0.5, 0.5, side - 1.0, side - 1.0));
        const int inner = qRound(side * 0.66);
        const int offset = (side - inner) / 2;
        const QIcon head = tintedIcon(QStringLiteral("brain.head.profile"), Qt::white, QSize(inner, inner), 1.0);
        painter.drawPixmap(offset, offset, head.pixmap(QSize(inner, inner), 1.0));
        painter.end();
        m_made.append(pixmap);
        return pixmap;
    }

    QList<QPixmap> m_made;
};

QIcon drawnIcon()
{
    return QIcon(new DiscIconEngine);
}
#endif

}

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent)
    , m_icon(new QSystemTrayIcon(this))
    , m_menu(std::make_unique<QMenu>())
{
    m_icon->setToolTip(itemTitle());
    // Some trays show nothing, or ignore clicks, without a menu.
    m_menu->addAction(QStringLiteral("패널 열기"), this, &TrayIcon::openRequested);
    m_menu->addAction(BarView::quitLabel(), this, &TrayIcon::quitRequested);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            emit clicked();
    });
    m_icon->setIcon(drawnIcon());
}

TrayIcon::~TrayIcon() = default;

QList<QWidget *> TrayIcon::show()
{
    const QWidgetList before = QApplication::topLevelWidgets();
    m_icon->show();
    QList<QWidget *> windows;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (!before.contains(window))
            windows.append(window);
    return windows;
}

void TrayIcon::useThemedIcon()
{
#ifndef Q_OS_MACOS
    // Looked up only when asked: reading the icon theme's index takes longer
    // than drawing the icon, and the X11 tray, which paints the pixels it is
    // given, has no use for a name.
    const QIcon drawn = m_icon->icon();
    const QIcon named = QIcon::fromTheme(themeIconName, drawn);
    if (named.cacheKey() != drawn.cacheKey())
        m_icon->setIcon(named);
#endif
}

QRect TrayIcon::geometry() const
{
    return m_icon->geometry();
}

} // namespace Kovel::Bar
