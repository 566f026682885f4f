#pragma once
// The two collection permissions the sensor needs. Main thread only.

#include "installer/core/context.h"

namespace Kovel::Installer {

// Asks, in the log, for the two collection permissions and opens their panes
// where the system has them.
void openPermissionPanes(Context &context);

} // namespace Kovel::Installer
