#include "menubar/tray/kovelbarapp.h"

#include "menubar/brain/barlog.h"
#include "menubar/tray/panelwarmup.h"
#include "menubar/tray/trayicon.h"
#include "menubar/tray/traywait.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>

namespace Kovel::Bar {

KovelBarApp::KovelBarApp(QObject *parent)
    : KovelBarApp(Environment{}, parent)
{
}

KovelBarApp::KovelBarApp(Environment environment, QObject *parent)
    : QObject(parent)
    , m_env(std::move(environment))
    , m_popup(m_env.platformName.isEmpty() ? QGuiApplication::platformName() : m_env.platformName)
    , m_quit([] { QCoreApplication::quit(); })
{
    connect(&m_instance, &SingleInstance::showRequested, &m_popup, &PopupController::showPanel);
    connect(&m_instance, &SingleInstance::quitRequested, this, &KovelBarApp::quit);
    connect(&m_popup, &PopupController::quitRequested, this, &KovelBarApp::quit);
    connect(&m_popup, &PopupController::windowClosed, this, [this] {
        // Without a tray the window is the only way back in: closing it ends the program.
        if (!trayAvailable())
            QTimer::singleShot(0, this, &KovelBarApp::quit);
    });
}

void KovelBarApp::launch(bool replace)
{
    if (m_instance.claim()) {
        start();
        return;
    }
    qCInfo(barLog).noquote() << "KovelBar is already running (its lock" << SingleInstance::lockPath() << "is held);"
                             << (replace ? "asking it to quit" : "showing its panel");
    if (!replace) {
        m_instance.ask(SingleInstance::Request::Show, [this](bool delivered) {
            if (!delivered)
                qCWarning(barLog) << "the running copy did not answer at" << SingleInstance::socketPath();
            emit exitRequested(0);
        });
        return;
    }
    m_instance.ask(SingleInstance::Request::Quit, [this](bool delivered) {
        if (!delivered)
            qCWarning(barLog) << "the running copy did not answer at" << SingleInstance::socketPath()
                              << "- waiting for its lock";
        m_instance.claimWhenFree(m_env.lockWaitMs, [this](bool claimed) {
            if (claimed) {
                start();
                return;
            }
            qCWarning(barLog) << "the running copy still holds" << SingleInstance::lockPath() << "after"
                              << m_env.lockWaitMs << "ms; giving up";
            emit exitRequested(1);
        });
    });
}

bool KovelBarApp::trayAvailable() const
{
    return m_env.trayAvailable ? m_env.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void KovelBarApp::start()
{
    m_popup.followIcon();
    auto *tray = new TrayIcon(this);
    connect(tray, &TrayIcon::clicked, &m_popup, &PopupController::togglePanel);
    connect(tray, &TrayIcon::openRequested, &m_popup, &PopupController::showPanel);
    connect(tray, &TrayIcon::quitRequested, this, &KovelBarApp::quit);
    m_popup.setIconGeometry([tray] { return tray->geometry(); });

    // The icon first, then the panel, so it is ready for the first click.
    auto *warmup = new PanelWarmup(&m_popup, this);
    connect(warmup, &PanelWarmup::ready, this, &KovelBarApp::panelReady);
    const QList<QWidget *> iconWindows = tray->show();
    warmup->start(iconWindows);
    // The X11 tray, whose window came up with the icon, paints the pixels it
    // is given; the others may take the installed icon by name.
    if (iconWindows.isEmpty())
        tray->useThemedIcon();

    auto *trayWait = new TrayWait([this] { return trayAvailable(); }, this);
    connect(trayWait, &TrayWait::gaveUp, this, [this] {
        m_popup.standAlone();
        m_popup.showPanel();
    });
    trayWait->start();
}

void KovelBarApp::quit()
{
    m_quit();
}

} // namespace Kovel::Bar
