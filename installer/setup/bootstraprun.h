#pragma once
// The setup run of a brain: the bundled setup script.

#include "installer/core/context.h"

#include <QString>

namespace Kovel::Installer {

// Runs the bundle's setup script with the role (`roleValue`, its raw value)
// and engine in its environment, streaming its output into the log; a
// successful script is followed by the finishing steps. Returns at once.
void startBootstrap(Context &context, const QString &roleValue);

} // namespace Kovel::Installer
