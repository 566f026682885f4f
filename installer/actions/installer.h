#pragma once

class InstallerState;
class Platform;
class QNetworkAccessManager;

#include <QString>

// What every installer operation works on: the window's one state, the
// system's services, the installer's own bundle folder and the HTTP client.
// The program makes one at start; tests make their own with fakes.
struct Installer {
    InstallerState &state;
    Platform &platform;
    QString bundlePath;                 // the "Kovel.app" folder
    QNetworkAccessManager &network;
};
