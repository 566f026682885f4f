#pragma once
// One installer for a test: a fresh state, a recording platform with a
// temporary home, a temporary bundle and an HTTP client, wired together.
//
//   InstallerRig<> rig;                    // Linux side
//   InstallerRig<FakeMacPlatform> mac;     // macOS side
//   runStreaming(rig.in, process, true);

#include "installer/core/context.h"
#include "installer/core/installerstate.h"
#include "tests/support/fakeplatform.h"
#include "tests/support/tempbundle.h"

#include <QNetworkAccessManager>

template <class PlatformType = FakePlatform>
struct InstallerRig {
    Kovel::Installer::InstallerState state;
    PlatformType platform;
    TempBundle bundle;
    QNetworkAccessManager network;
    Kovel::Installer::Context context{state, platform, bundle.path(), network};
};
