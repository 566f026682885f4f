#include "menubar/panel/kovelbarapp.h"

#include "menubar/brain/barlog.h"
#include "menubar/panel/barview.h"
#include "menubar/panel/panelicons.h"
#include "menubar/panel/popupplacement.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// The item's name: the tray tooltip, and the title of the panel's window.
const QString appName = QStringLiteral("KOVEL");
// The themed icon a desktop may have installed for us.
const QString themeIconName = QStringLiteral("io.kovel.KovelBar");

// A tray may come up a little after the session starts.
constexpr int trayChecks = 10;
constexpr int trayCheckIntervalMs = 300;

// A click on the icon while the popup is open first closes the popup (a click
// outside it) and then reaches the icon: that click must not open it again.
constexpr qint64 reopenGuardMs = 300;

constexpr int trayIconSide = 32;

// The single-instance channel: one line asked, one line answered.
const QByteArray showCommand = "show\n";
const QByteArray quitCommand = "quit\n";
const QByteArray doneReply = "ok\n";
constexpr int tellTimeoutMs = 3000;
constexpr int lockPollMs = 50;

QString runtimeFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

#ifndef Q_OS_MACOS
// A light head on a mid-blue disc: clear on dark panels (the common Linux
// default) and on light ones alike.
QIcon discIcon(qreal dpr)
{
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(QSize(side, side) * dpr);
        pixmap.setDevicePixelRatio(dpr);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x3d, 0x7f, 0xe0));
        painter.drawEllipse(QRectF(0.5, 0.5, side - 1.0, side - 1.0));
        const int inner = qRound(side * 0.66);
        const int offset = (side - inner) / 2;
        const QIcon head = tintedIcon(QStringLiteral("brain.head.profile"), Qt::white, QSize(inner, inner), dpr);
        painter.drawPixmap(offset, offset, head.pixmap(QSize(inner, inner), dpr));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
#endif

}

KovelBarApp::KovelBarApp(QObject *parent)
    : KovelBarApp(Environment{}, parent)
{
}

KovelBarApp::KovelBarApp(Environment environment, QObject *parent)
    : QObject(parent)
    , m_env(std::move(environment))
    , m_quit([] { QCoreApplication::quit(); })
{
    if (m_env.platformName.isEmpty())
        m_env.platformName = QGuiApplication::platformName();
}

KovelBarApp::~KovelBarApp()
{
    delete m_menu;
    delete m_panel;
    delete m_server;
    delete m_lock;
}

QString KovelBarApp::lockPath()
{
    return runtimeFolder() + QStringLiteral("/kovelbar.lock");
}

QString KovelBarApp::socketPath()
{
    return runtimeFolder() + QStringLiteral("/kovelbar.socket");
}

bool KovelBarApp::claimSingleInstance()
{
    if (!m_lock)
        m_lock = new QLockFile(lockPath());
    // A lock left by a crashed copy is taken over (its process is gone).
    if (!m_lock->tryLock(0))
        return false;
    listen();
    return true;
}

void KovelBarApp::listen()
{
    m_server = new QLocalServer;
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Ours now that we hold the lock: a socket left by a crashed copy goes.
    QLocalServer::removeServer(socketPath());
    if (!m_server->listen(socketPath()))
        qCWarning(barLog) << "cannot listen for a second start at" << socketPath() << m_server->errorString();
    connect(m_server, &QLocalServer::newConnection, this, &KovelBarApp::onConnection);
}

void KovelBarApp::onConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64)
                    socket->abort();
                return;
            }
            const QByteArray command = socket->readLine(64);
            socket->write(doneReply);
            socket->flush();
            socket->disconnectFromServer();
            if (command == showCommand) {
                qCInfo(barLog) << "a second start asked for the panel";
                showPanel();
            } else if (command == quitCommand) {
                qCInfo(barLog) << "a new start asked this copy to make way";
                QTimer::singleShot(0, this, &KovelBarApp::quit);
            }
        });
    }
}

void KovelBarApp::tell(const QByteArray &command, std::function<void(bool)> done)
{
    auto *socket = new QLocalSocket(this);
    auto finished = std::make_shared<bool>(false);
    auto finish = [socket, done, finished](bool delivered) {
        if (*finished)
            return;
        *finished = true;
        socket->abort();
        socket->deleteLater();
        done(delivered);
    };
    connect(socket, &QLocalSocket::connected, socket, [socket, command] { socket->write(command); });
    connect(socket, &QLocalSocket::readyRead, socket, [socket, finish] {
        if (socket->canReadLine())
            finish(socket->readLine() == doneReply);
    });
    connect(socket, &QLocalSocket::errorOccurred, socket, [finish] { finish(false); });
    QTimer::singleShot(tellTimeoutMs, socket, [finish] { finish(false); });
    socket->connectToServer(socketPath());
}

void KovelBarApp::launch(bool replace)
{
    if (claimSingleInstance()) {
        start();
        return;
    }
    qCInfo(barLog).noquote() << "KovelBar is already running (its lock" << lockPath() << "is held);"
                             << (replace ? "asking it to quit" : "showing its panel");
    if (!replace) {
        tell(showCommand, [this](bool delivered) {
            if (!delivered)
                qCWarning(barLog) << "the running copy did not answer at" << socketPath();
            emit exitRequested(0);
        });
        return;
    }
    tell(quitCommand, [this](bool delivered) {
        if (!delivered)
            qCWarning(barLog) << "the running copy did not answer at" << socketPath() << "- waiting for its lock";
        waitForLock();
    });
}

void KovelBarApp::waitForLock()
{
    auto *poll = new QTimer(this);
    poll->setInterval(lockPollMs);
    QElapsedTimer waited;
    waited.start();
    connect(poll, &QTimer::timeout, this, [this, poll, waited] {
        if (claimSingleInstance()) {
            poll->deleteLater();
            start();
            return;
        }
        if (waited.elapsed() < m_env.lockWaitMs)
            return;
        poll->deleteLater();
        qCWarning(barLog) << "the running copy still holds" << lockPath() << "after" << m_env.lockWaitMs << "ms; giving up";
        emit exitRequested(1);
    });
    poll->start();
}

bool KovelBarApp::trayAvailable() const
{
    return m_env.trayAvailable ? m_env.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

KovelBarApp::Mode KovelBarApp::trayMode() const
{
    // A Wayland client cannot place a window, so a popup would land wherever
    // the compositor likes and keep no grab.
    return m_env.platformName.startsWith(QLatin1String("wayland")) ? Mode::TrayWindow : Mode::Popup;
}

void KovelBarApp::start()
{
    m_mode = trayMode();
    m_tray = new QSystemTrayIcon(this);
    m_tray->setToolTip(appName);
    // Some trays show nothing, or ignore clicks, without a menu.
    m_menu = new QMenu;
    m_menu->addAction(QStringLiteral("패널 열기"), this, &KovelBarApp::showPanel);
    m_menu->addAction(BarView::quitLabel(), this, &KovelBarApp::quit);
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            togglePanel();
    });
    updateTrayIcon();
    // Shown even before a tray exists: it docks by itself once one starts.
    m_tray->show();
    // The icon first; the panel right after, so it is ready for the first click.
    QMetaObject::invokeMethod(this, [this] { panel(); }, Qt::QueuedConnection);

    if (trayAvailable())
        return;
    m_trayWait = new QTimer(this);
    m_trayWait->setInterval(trayCheckIntervalMs);
    connect(m_trayWait, &QTimer::timeout, this, &KovelBarApp::checkTray);
    m_trayWait->start();
}

BarView *KovelBarApp::panel()
{
    if (m_panel)
        return m_panel;
    m_panel = new BarView;
    m_panel->setQuitter([this] { quit(); });
    m_panel->setDismisser([this] { dismiss(); });
    m_panel->installEventFilter(this);
    setMode(m_mode);
    return m_panel;
}

void KovelBarApp::setMode(Mode mode)
{
    m_mode = mode;
    if (!m_panel)
        return;
    const Qt::WindowFlags flags = mode == Mode::Popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window;
    if (m_panel->windowFlags() != flags)
        m_panel->setWindowFlags(flags);
    m_panel->setWindowTitle(appName);
}

void KovelBarApp::checkTray()
{
    if (trayAvailable()) {
        m_trayWait->stop();
        return;
    }
    if (++m_trayChecks < trayChecks)
        return;
    m_trayWait->stop();
    setMode(Mode::Window);
    showPanel();
}

void KovelBarApp::togglePanel()
{
    // A click on the icon means there is a tray now, even if there was none
    // when the window opened: from here on the panel goes with the icon.
    if (m_mode == Mode::Window) {
        if (m_trayWait)
            m_trayWait->stop();
        setMode(trayMode());
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

void KovelBarApp::showPanel()
{
    BarView *view = panel();
    if (m_mode == Mode::Window) {
        if (view->isMinimized())
            view->showNormal();
        view->show();
        view->raise();
        view->activateWindow();
        return;
    }
    view->resize(view->sizeHint());
    placePanel();
    view->show();
    // Once more on screen: a window that just changed kind may still have
    // placed itself by its old frame.
    placePanel();
    view->raise();
    view->activateWindow();
}

void KovelBarApp::dismiss()
{
    if (!m_panel)
        return;
    // Without a tray the window is the only way back in: put it aside, not away.
    if (m_mode == Mode::Window)
        m_panel->showMinimized();
    else
        m_panel->hide();
}

void KovelBarApp::quit()
{
    m_quit();
}

void KovelBarApp::placePanel()
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
    // Trays that take an icon by name get the installed one.
    const QIcon icon = QIcon::fromTheme(themeIconName, discIcon(qApp->devicePixelRatio()));
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
            if (m_mode == Mode::Popup && m_panel->isVisible())
                placePanel();
            break;
        case QEvent::Close:
            // Without a tray the window is the only way back in: closing it ends the program.
            if (m_mode == Mode::Window && !trayAvailable())
                QTimer::singleShot(0, this, &KovelBarApp::quit);
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
