#pragma once
// The steps after a successful setup: the menu bar client installed and
// started, the privacy panes opened, the dashboard opened. Main thread only.

#include "installer/core/context.h"

#include <QString>

#include "installer/core/role.h"

namespace Kovel::Installer {

// Copies the client shipped in the bundle over the installed one, registers it
// to start at login, starts it (a running copy quits for it) and says so in
// the log; a step that fails says so with a warning line instead. Without a
// client in the bundle nothing at all happens. The installed client is
// replaced only by a complete copy. Installed by the package, the bundle's own
// client is registered and started, nothing is copied.
void installMenubar(Context &context);

// Asks, in the log, for the two collection permissions and opens their panes
// where the system has them.
void openPermissionPanes(Context &context);

// Opens the brain's web dashboard in the browser.
void openDashboard(Context &context);

// The text handed to the URL parser by openDashboard().
QString dashboardAddress(Role role, const QString &serverURL);

} // namespace Kovel::Installer
