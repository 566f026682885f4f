#include "installer/setup/bootstraprun.h"

#include "installer/core/bundlepaths.h"
#include "installer/core/installerstate.h"
#include "installer/finishing/dashboard.h"
#include "installer/finishing/menubarinstall.h"
#include "installer/finishing/permissionpanes.h"
#include "installer/runs/runner.h"
#include "platform/platform.h"

#include <QProcess>

namespace Kovel::Installer {

void startBootstrap(Context &context, RunRegistry &runs, const QString &roleValue)
{
    const QString script = appPath(context, QStringLiteral("/Contents/Resources/bootstrap.sh"));

    QProcessEnvironment env = context.platform.environment();
    env.insert(QStringLiteral("KOVEL_ROLE"), roleValue);
    env.insert(QStringLiteral("KOVEL_AUTOSTART"), QStringLiteral("1"));
    env.insert(QStringLiteral("KOVEL_ENGINE"), context.state.engine().rawValue());

    // The script's presence is not checked: a missing one is the shell's to report.
    auto *process = new QProcess;
    process->setProgram(QStringLiteral("/bin/bash"));
    process->setArguments({script});
    process->setProcessEnvironment(env);
    // Starting is asynchronous: the window keeps drawing while bash comes up.
    runStreaming(context, runs, process, [context]() mutable {
        installMenubar(context);
        openPermissionPanes(context);
        openDashboard(context);
    });
}

} // namespace Kovel::Installer
