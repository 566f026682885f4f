#pragma once
// What the installer window's buttons do, in one place: the start button hands
// a fresh run to the setup script or to pairing by the chosen role, and
// closing the window ends the runs under way first.

#include "installer/core/context.h"
#include "installer/runs/runregistry.h"

#include <functional>

namespace Kovel::Installer {

class Controller
{
public:
    explicit Controller(Context &context) : m_context(context) {}

    // Begins a fresh run (running, not done, empty log) and hands it on by role.
    void start();
    void connectAIs();
    void openDashboard();
    // Ends a run's child before the window may close; false when none runs,
    // otherwise `ended` is called once it has ended.
    bool endRuns(std::function<void()> ended);

private:
    Context &m_context;
    // The setup and connection runs this installer has under way.
    RunRegistry m_runs;
};

} // namespace Kovel::Installer
