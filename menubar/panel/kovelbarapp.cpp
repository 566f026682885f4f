#include "menubar/panel/kovelbarapp.h"

#include "menubar/panel/barview.h"
#include "menubar/panel/panelicons.h"
#include "menubar/panel/popupplacement.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QLockFile>
#include <QMenu>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// The item's name: the tray tooltip, and the title of the fallback window.
const QString appName = QStringLiteral("KOVEL");

// A tray may come up a little after the session starts.
constexpr int trayChecks = 10;
constexpr int trayCheckIntervalMs = 300;

// A click on the icon while the popup is open first closes the popup (a click
// outside it) and then reaches the icon: that click must not open it again.
constexpr qint64 reopenGuardMs = 300;

constexpr int trayIconSide = 32;

}

KovelBarApp::KovelBarApp(QObject *parent)
    : QObject(parent)
{
}

KovelBarApp::~KovelBarApp()
{
    delete m_menu;
    delete m_panel;
    delete m_lock;
}

bool KovelBarApp::claimSingleInstance()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    m_lock = new QLockFile(folder + QStringLiteral("/kovelbar.lock"));
    // A lock left by a crashed copy is taken over (its process is gone).
    return m_lock->tryLock(0);
}

void KovelBarApp::start()
{
    m_panel = new BarView;
    m_panel->setWindowTitle(appName);
    m_panel->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    m_panel->installEventFilter(this);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setToolTip(appName);
    // Some trays show nothing, or ignore clicks, without a menu.
    m_menu = new QMenu;
    m_menu->addAction(QStringLiteral("패널 열기"), this, &KovelBarApp::showPanel);
    m_menu->addAction(BarView::quitLabel(), m_panel, &BarView::quit);
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            togglePanel();
    });
    updateTrayIcon();
    // Shown even before a tray exists: it docks by itself once one starts.
    m_tray->show();

    if (QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayWait = new QTimer(this);
    m_trayWait->setInterval(trayCheckIntervalMs);
    connect(m_trayWait, &QTimer::timeout, this, &KovelBarApp::checkTray);
    m_trayWait->start();
}

void KovelBarApp::checkTray()
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayWait->stop();
        return;
    }
    if (++m_trayChecks < trayChecks)
        return;
    m_trayWait->stop();
    useWindow();
}

void KovelBarApp::useWindow()
{
    m_windowed = true;
    m_panel->setWindowFlags(Qt::Window);
    m_panel->setWindowTitle(appName);
    showPanel();
}

void KovelBarApp::togglePanel()
{
    if (!m_panel)
        return;
    if (m_panel->isVisible() && !m_windowed) {
        m_panel->hide();
        return;
    }
    if (!m_windowed && m_sinceHidden.isValid() && m_sinceHidden.elapsed() < reopenGuardMs)
        return;
    showPanel();
}

void KovelBarApp::showPanel()
{
    if (!m_panel)
        return;
    if (m_windowed) {
        if (m_panel->isMinimized())
            m_panel->showNormal();
        m_panel->show();
        m_panel->raise();
        m_panel->activateWindow();
        return;
    }
    m_panel->resize(m_panel->sizeHint());
    placePopup();
    m_panel->show();
    m_panel->activateWindow();
}

void KovelBarApp::placePopup()
{
    const QRect icon = m_tray ? m_tray->geometry() : QRect();
    const QPoint cursor = QCursor::pos();
    QScreen *screen = QGuiApplication::screenAt(icon.isEmpty() ? cursor : icon.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    m_panel->move(popupPosition(icon, cursor, m_panel->size(), screen->availableGeometry()));
}

void KovelBarApp::updateTrayIcon()
{
    if (!m_tray)
        return;
#ifdef Q_OS_MACOS
    // A template image: the menu bar colours it for light and dark itself.
    QIcon icon = tintedIcon(QStringLiteral("brain.head.profile"), Qt::black,
                            QSize(trayIconSide, trayIconSide), qApp->devicePixelRatio());
    icon.setIsMask(true);
#else
    const QIcon icon = tintedIcon(QStringLiteral("brain.head.profile"),
                                  m_panel->palette().color(QPalette::WindowText),
                                  QSize(trayIconSide, trayIconSide), qApp->devicePixelRatio());
#endif
    m_tray->setIcon(icon);
}

bool KovelBarApp::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_panel) {
        switch (event->type()) {
        case QEvent::Hide:
            m_sinceHidden.start();
            break;
        case QEvent::Resize:
            // Grown or shrunk by new content: keep it attached to the icon.
            if (!m_windowed && m_panel->isVisible())
                placePopup();
            break;
        case QEvent::PaletteChange:
            updateTrayIcon();
            break;
        case QEvent::Close:
            // Without a tray the window is the only way back in: closing it ends the program.
            if (m_windowed && !QSystemTrayIcon::isSystemTrayAvailable())
                QTimer::singleShot(0, m_panel, &BarView::quit);
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
