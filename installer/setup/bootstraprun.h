#pragma once
// The setup run of a brain: the bundled setup script.

#include "installer/core/context.h"

#include <QString>

namespace Kovel::Installer {

class RunRegistry;

// Runs the bundle's setup script with the role (`roleValue`, its raw value)
// and engine in its environment, streaming its output into the log, as a run
// of `runs`; a successful script is followed by the finishing steps (the menu
// bar client, the privacy panes, the dashboard). Returns at once.
void startBootstrap(Context &context, RunRegistry &runs, const QString &roleValue);

} // namespace Kovel::Installer
