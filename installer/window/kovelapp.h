#pragma once

#include "installer/controller/installercontroller.h"
#include "installer/core/context.h"
#include "installer/core/installerstate.h"

#include <QNetworkAccessManager>
#include <QString>
#include <memory>

namespace Kovel::System { class Platform; }

namespace Kovel::Installer {

class ContentView;

// The installer program: one state, the context over it, the controller of
// its buttons (which keeps the runs under way) and the one window showing it,
// titled "KOVEL 설정".
class KovelApp
{
public:
    KovelApp(System::Platform &platform, const QString &bundlePath, bool packaged = false);
    ~KovelApp();

    // Shows the window, centred on the screen the first time.
    void show();

    ContentView &window() { return *m_window; }
    Context &context() { return m_context; }

private:
    InstallerState m_state;
    QNetworkAccessManager m_network;
    Context m_context;
    Controller m_controller;
    std::unique_ptr<ContentView> m_window;
    bool m_shown = false;
};

} // namespace Kovel::Installer
