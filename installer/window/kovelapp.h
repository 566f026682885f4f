#pragma once

#include "installer/actions/installer.h"
#include "installer/window/installerstate.h"

#include <QNetworkAccessManager>
#include <QString>
#include <memory>

class ContentView;
class Platform;

// The installer program: one state, one installer over it and the one window
// showing it, titled "KOVEL 설정".
class KovelApp
{
public:
    KovelApp(Platform &platform, const QString &bundlePath, bool packaged = false);
    ~KovelApp();

    // Shows the window, centred on the screen the first time.
    void show();

    ContentView &window() { return *m_window; }
    Installer &installer() { return m_installer; }

private:
    InstallerState m_state;
    QNetworkAccessManager m_network;
    Installer m_installer;
    std::unique_ptr<ContentView> m_window;
    bool m_shown = false;
};
