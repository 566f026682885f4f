#include "installer/actions/installrun.h"

#include "installer/actions/bundlepaths.h"
#include "installer/actions/runner.h"
#include "installer/sensor/pairing.h"
#include "installer/window/installerstate.h"
#include "platform/platform.h"

#include <QProcess>

void start(Installer &in)
{
    in.state.setRunning(true);
    in.state.setDone(false);
    in.state.setDashboardOffered(false);
    in.state.setLog(QString());
    if (in.state.role() == Role::sensor) {
        startSensor(in);
        return;
    }
    startBootstrap(in, in.state.role().rawValue());
}

void startBootstrap(Installer &in, const QString &roleValue)
{
    const QString script = appPath(in, QStringLiteral("/Contents/Resources/bootstrap.sh"));

    QProcessEnvironment env = in.platform.environment();
    env.insert(QStringLiteral("KOVEL_ROLE"), roleValue);
    env.insert(QStringLiteral("KOVEL_AUTOSTART"), QStringLiteral("1"));
    env.insert(QStringLiteral("KOVEL_ENGINE"), in.state.engine().rawValue());

    // The script's presence is not checked: a missing one is the shell's to report.
    auto *process = new QProcess;
    process->setProgram(QStringLiteral("/bin/bash"));
    process->setArguments({script});
    process->setProcessEnvironment(env);
    // Starting is asynchronous: the window keeps drawing while bash comes up.
    runStreaming(in, process, true);
}
