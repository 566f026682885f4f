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
#include <QProcess>

template <class PlatformType = FakePlatform>
struct InstallerRig {
    Kovel::Installer::InstallerState state;
    PlatformType platform;
    TempBundle bundle;
    QNetworkAccessManager network;
    Kovel::Installer::Context context{state, platform, bundle.path(), network};
    Kovel::Installer::RunRegistry runs;
};

// A child that runs `script` in bash, configured and not yet started.
inline QProcess *shellChild(const QString &script)
{
    auto *child = new QProcess;
    child->setProgram(QStringLiteral("/bin/bash"));
    child->setArguments({QStringLiteral("-c"), script});
    return child;
}

// What the start button does to the state before a run is handed on.
template <class Rig>
void beginRun(Rig &rig)
{
    rig.state.setRunning(true);
    rig.state.setDone(false);
}
