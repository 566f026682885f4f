#include "menubar/tray/popupcontroller.h"

#include "menubar/panel/barview.h"
#include "menubar/tray/itemtitle.h"
#include "menubar/tray/popupplacement.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

namespace Kovel::Bar {

namespace {

// A click on the icon while the popup is open first closes the popup (a click
// outside it) and then reaches the icon: that click must not open it again.
constexpr qint64 reopenGuardMs = 300;

// A new panel's column still has layout requests queued, and handling them
// changes its height: handled first, the panel opens at the size it keeps
// rather than growing on its first turn on screen.
void settleLayout()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

}

PopupController::PopupController(const QString &platformName, QObject *parent)
    : QObject(parent)
    , m_platformName(platformName)
{
}

PopupController::~PopupController()
{
    delete m_panel;
}

BarView *PopupController::panel()
{
    if (m_panel)
        return m_panel;
    m_panel = new BarView;
    m_panel->setQuitter([this] { emit quitRequested(); });
    m_panel->setDismisser([this] { dismiss(); });
    m_panel->installEventFilter(this);
    setMode(m_mode);
    return m_panel;
}

PopupController::Mode PopupController::iconMode() const
{
    // A Wayland client cannot place a window, so a popup would land wherever
    // the compositor likes and keep no grab.
    return m_platformName.startsWith(QLatin1String("wayland")) ? Mode::TrayWindow : Mode::Popup;
}

void PopupController::followIcon()
{
    setMode(iconMode());
}

void PopupController::standAlone()
{
    setMode(Mode::Window);
}

void PopupController::setMode(Mode mode)
{
    m_mode = mode;
    if (!m_panel)
        return;
    const Qt::WindowFlags flags = mode == Mode::Popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window;
    if (m_panel->windowFlags() != flags)
        m_panel->setWindowFlags(flags);
    m_panel->setWindowTitle(itemTitle());
}

void PopupController::fitForOpening()
{
    BarView *view = panel();
    settleLayout();
    // A window of its own keeps the size the user gave it.
    if (m_mode != Mode::Window)
        view->resize(view->sizeHint());
}

void PopupController::togglePanel()
{
    // A click on the icon means there is a tray now, even if there was none
    // when the window opened: from here on the panel goes with the icon.
    if (m_mode == Mode::Window) {
        followIcon();
        showPanel();
        return;
    }
    BarView *view = panel();
    if (view->isVisible()) {
        view->hide();
        return;
    }
    if (m_mode == Mode::Popup && m_sinceHidden.isValid() && m_sinceHidden.elapsed() < reopenGuardMs)
        return;
    showPanel();
}

void PopupController::showPanel()
{
    BarView *view = panel();
    fitForOpening();
    if (m_mode == Mode::Window) {
        if (view->isMinimized())
            view->showNormal();
        view->show();
        view->raise();
        view->activateWindow();
        return;
    }
    m_anchor = currentAnchor();
    placePanel();
    view->show();
    // Once more on screen: a window that just changed kind may still have
    // placed itself by its old frame.
    placePanel();
    view->raise();
    view->activateWindow();
}

void PopupController::dismiss()
{
    if (!m_panel)
        return;
    // Without a tray the window is the only way back in: put it aside, not away.
    if (m_mode == Mode::Window)
        m_panel->showMinimized();
    else
        m_panel->hide();
}

PopupController::Anchor PopupController::currentAnchor() const
{
    return {m_iconGeometry ? m_iconGeometry() : QRect(), QCursor::pos()};
}

void PopupController::placePanel()
{
    const QRect &icon = m_anchor.icon;
    QScreen *screen = QGuiApplication::screenAt(icon.isEmpty() ? m_anchor.cursor : icon.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    m_panel->move(popupPosition(icon, m_anchor.cursor, m_panel->size(), screen->availableGeometry()));
}

bool PopupController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_panel) {
        switch (event->type()) {
        case QEvent::Hide:
            m_sinceHidden.start();
            break;
        case QEvent::Resize:
            // Grown or shrunk by new content: keep it attached to the icon,
            // wherever the tray and the pointer say that is now.
            if (m_mode == Mode::Popup && m_panel->isVisible()) {
                m_anchor = currentAnchor();
                placePanel();
            }
            break;
        case QEvent::Close:
            if (m_mode == Mode::Window)
                emit windowClosed();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace Kovel::Bar
