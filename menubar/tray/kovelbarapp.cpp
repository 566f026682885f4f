#include "menubar/tray/kovelbarapp.h"

#include "menubar/brain/barlog.h"
#include "menubar/panel/barview.h"
#include "menubar/panel/panelicons.h"
#include "menubar/tray/popupplacement.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>

namespace Kovel::Bar {

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

// How long the panel's build waits for the icon's first frame, and, where the
// icon has no window of ours, how long after the icon was put up it comes.
constexpr int iconFrameWaitMs = 1000;
constexpr int panelWithoutIconWindowMs = 200;

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
    const QWidgetList before = QApplication::topLevelWidgets();
    m_tray->show();
    awaitIconFrame(before);
    nameTrayIcon();

    if (trayAvailable())
        return;
    m_trayWait = new QTimer(this);
    m_trayWait->setInterval(trayCheckIntervalMs);
    connect(m_trayWait, &QTimer::timeout, this, &KovelBarApp::checkTray);
    m_trayWait->start();
}

// The icon first, then the panel, so it is ready for the first click: built
// once the icon's own window (the tray's, on X11) has painted, so building it
// never holds up the icon's first frame. Where the icon has no window of ours
// (a D-Bus or macOS tray, or no tray yet) or its window never paints, a little
// later anyway.
void KovelBarApp::awaitIconFrame(const QWidgetList &before)
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (before.contains(window))
            continue;
        window->installEventFilter(this);
        m_iconWindows.append(window);
    }
    m_prepare = new QTimer(this);
    m_prepare->setSingleShot(true);
    connect(m_prepare, &QTimer::timeout, this, &KovelBarApp::preparePanel);
    m_prepare->start(m_iconWindows.isEmpty() ? panelWithoutIconWindowMs : iconFrameWaitMs);
}

void KovelBarApp::stopAwaitingIconFrame()
{
    for (const QPointer<QWidget> &window : std::as_const(m_iconWindows))
        if (window)
            window->removeEventFilter(this);
    m_iconWindows.clear();
}

void KovelBarApp::preparePanel()
{
    stopAwaitingIconFrame();
    panel();
    // Warmed on a turn of its own: each of the two is a short stall, not one long one.
    QTimer::singleShot(0, this, &KovelBarApp::warmPanel);
}

// Laid out and drawn once where no one sees it, so that the first opening
// finds its layout done and its faces (Hangul, emoji) loaded and their glyphs
// drawn. Nothing is shown and nothing is asked of the brain.
void KovelBarApp::warmPanel()
{
    if (m_panel && !m_panel->isVisible()) {
        settleLayout();
        if (m_mode != Mode::Window)
            m_panel->resize(m_panel->sizeHint());
        const qreal dpr = m_panel->devicePixelRatioF();
        // The format a window's backing store has, so the glyphs are drawn as it draws them.
        QImage image(m_panel->size() * dpr, QImage::Format_RGB32);
        image.setDevicePixelRatio(dpr);
        m_panel->render(&image);
    }
    emit panelReady();
}

// A new panel's column still has layout requests queued, and handling them
// changes its height: handled first, the panel opens at the size it keeps
// rather than growing on its first turn on screen.
void KovelBarApp::settleLayout()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
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
    settleLayout();
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
    m_tray->setIcon(icon);
#else
    m_tray->setIcon(QIcon(new DiscIconEngine));
#endif
}

void KovelBarApp::nameTrayIcon()
{
#ifndef Q_OS_MACOS
    // Trays that take an icon by name get the installed one. The X11 tray,
    // whose window came up with the icon, paints the pixels it is given and
    // has no use for a name; looking one up in the icon theme (reading the
    // theme's index) took longer than drawing the icon.
    if (!m_tray || !m_iconWindows.isEmpty())
        return;
    const QIcon drawn = m_tray->icon();
    const QIcon named = QIcon::fromTheme(themeIconName, drawn);
    if (named.cacheKey() != drawn.cacheKey())
        m_tray->setIcon(named);
#endif
}

bool KovelBarApp::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && !m_iconWindows.isEmpty() && m_iconWindows.contains(watched)) {
        // Its frame is drawn by the time the next turn comes.
        stopAwaitingIconFrame();
        m_prepare->start(0);
    }
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

} // namespace Kovel::Bar
