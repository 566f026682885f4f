#include "installer/window/kovelapp.h"

#include "installer/window/contentview.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

namespace Kovel::Installer {

KovelApp::KovelApp(System::Platform &platform, const QString &bundlePath, bool packaged)
    : m_context{m_state, platform, bundlePath, m_network, packaged},
      m_controller(m_context),
      m_window(std::make_unique<ContentView>(
          m_state, ContentActions{[this] { m_controller.start(); }, [this] { m_controller.openDashboard(); },
                                  [this] { m_controller.connectAIs(); },
                                  [this](std::function<void()> closeAgain) { return m_controller.endRuns(std::move(closeAgain)); }}))
{
    m_window->setWindowTitle(QStringLiteral("KOVEL 설정"));
    // Ties the window to the installer's desktop entry (its icon and name).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.kovel.Kovel"));
}

KovelApp::~KovelApp() = default;

void KovelApp::show()
{
    if (!m_shown) {
        m_shown = true;
        // Opens at its natural size (the log a few lines tall), never below
        // the minimum nor beyond the screen, in the middle of the screen.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QSize size = m_window->sizeHint().expandedTo(m_window->minimumSize());
        size = size.boundedTo(screen.size()).expandedTo(m_window->minimumSize());
        m_window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, screen));
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace Kovel::Installer
