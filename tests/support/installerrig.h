#pragma once
// One installer for a test: a fresh state, a recording platform with a
// temporary home, a temporary bundle, an HTTP client and the registry of its
// runs, wired together.
//
//   InstallerRig<> rig;                    // Linux side
//   InstallerRig<FakeMacPlatform> mac;     // macOS side
//   runStreaming(rig.context, rig.runs, process, {});

#include "installer/core/context.h"
#include "installer/core/installerstate.h"
#include "installer/runs/runregistry.h"
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
    Kovel::Installer::RunRegistry runs;
};
