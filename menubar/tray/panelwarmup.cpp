#include "menubar/tray/panelwarmup.h"

#include "menubar/panel/barview.h"
#include "menubar/tray/popupcontroller.h"

#include <QEvent>
#include <QImage>
#include <QTimer>
#include <QWidget>

namespace Kovel::Bar {

namespace {

// How long the build waits for the icon's first frame, and, where the icon
// has no window of ours (a D-Bus or macOS tray, or no tray yet), how long
// after the icon was put up it comes anyway.
constexpr int iconFrameWaitMs = 1000;
constexpr int withoutIconWindowMs = 200;

}

PanelWarmup::PanelWarmup(PopupController *popup, QObject *parent)
    : QObject(parent)
    , m_popup(popup)
    , m_build(new QTimer(this))
{
    m_build->setSingleShot(true);
    connect(m_build, &QTimer::timeout, this, &PanelWarmup::build);
}

void PanelWarmup::start(const QList<QWidget *> &iconWindows)
{
    for (QWidget *window : iconWindows) {
        window->installEventFilter(this);
        m_iconWindows.append(window);
    }
    m_build->start(m_iconWindows.isEmpty() ? withoutIconWindowMs : iconFrameWaitMs);
}

bool PanelWarmup::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && !m_iconWindows.isEmpty() && m_iconWindows.contains(watched)) {
        // Its frame is drawn by the time the next turn comes.
        stopWatchingIcon();
        m_build->start(0);
    }
    return QObject::eventFilter(watched, event);
}

void PanelWarmup::stopWatchingIcon()
{
    for (const QPointer<QWidget> &window : std::as_const(m_iconWindows))
        if (window)
            window->removeEventFilter(this);
    m_iconWindows.clear();
}

void PanelWarmup::build()
{
    stopWatchingIcon();
    m_popup->panel();
    // Warmed on a turn of its own: each of the two is a short stall, not one long one.
    QTimer::singleShot(0, this, &PanelWarmup::warm);
}

void PanelWarmup::warm()
{
    BarView *panel = m_popup->panel();
    // One opened already (a click before it was ready) is left as it is.
    if (!panel->isVisible()) {
        m_popup->fitForOpening();
        const qreal dpr = panel->devicePixelRatioF();
        // The format a window's backing store has, so the glyphs are drawn as it draws them.
        QImage image(panel->size() * dpr, QImage::Format_RGB32);
        image.setDevicePixelRatio(dpr);
        panel->render(&image);
    }
    emit ready();
}

} // namespace Kovel::Bar
