#pragma once
// The brain's web dashboard: the local brain's, or for a sensor the paired
// brain's. Main thread only.

#include "installer/core/context.h"
#include "installer/core/role.h"

#include <QString>

namespace Kovel::Installer {

// Opens the brain's web dashboard in the browser.
void openDashboard(Context &context);

// The text handed to the URL parser by openDashboard().
QString dashboardAddress(Role role, const QString &serverURL);

} // namespace Kovel::Installer
