#pragma once

#include <QString>

class QNetworkAccessManager;

namespace Kovel::System { class Platform; }

namespace Kovel::Installer {

class InstallerState;

// What every installer operation works on: the window's one state, the
// system's services, the installer's own bundle folder and the HTTP client.
// The program makes one at start; tests make their own with fakes.
struct Context {
    InstallerState &state;
    System::Platform &platform;
    QString bundlePath;                 // the "Kovel.app" folder
    QNetworkAccessManager &network;
    // Installed by the system's package manager: what the package installed is
    // used where it lies, nothing of it is copied into the home (a copy would go
    // stale at the next upgrade).
    bool packaged = false;
};

} // namespace Kovel::Installer
