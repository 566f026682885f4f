#include "installer/controller/installercontroller.h"

#include "installer/aitools/aiconnect.h"
#include "installer/core/installerstate.h"
#include "installer/finishing/dashboard.h"
#include "installer/sensor/pairing.h"
#include "installer/setup/bootstraprun.h"

namespace Kovel::Installer {

void Controller::start()
{
    InstallerState &state = m_context.state;
    state.setRunning(true);
    state.setDone(false);
    state.setDashboardOffered(false);
    state.setLog(QString());
    if (state.role() == Role::sensor) {
        startSensor(m_context);
        return;
    }
    startBootstrap(m_context, m_runs, state.role().rawValue());
}

void Controller::connectAIs()
{
    Installer::connectAIs(m_context, m_runs);
}

void Controller::openDashboard()
{
    Installer::openDashboard(m_context);
}

bool Controller::endRuns(std::function<void()> ended)
{
    return m_runs.endRuns(std::move(ended));
}

} // namespace Kovel::Installer
