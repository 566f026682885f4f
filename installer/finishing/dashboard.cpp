#include "installer/finishing/dashboard.h"

#include "common/brainaddress.h"
#include "installer/core/blanks.h"
#include "installer/core/installerstate.h"
#include "platform/installerlog.h"
#include "platform/platform.h"

#include <QUrl>

namespace Kovel::Installer {

QString dashboardAddress(Role role, const QString &serverURL)
{
    const QString base = role == Role::sensor && !serverURL.isEmpty()
        ? trimBlanks(serverURL)
        : QString::fromLatin1(defaultBrainAddress);
    return base + QStringLiteral("/");
}

void openDashboard(Context &context)
{
    const QUrl url(dashboardAddress(context.state.role(), context.state.serverURL()), QUrl::StrictMode);
    // Without a scheme there is no page to open, only a path for the file manager.
    if (!url.isValid() || url.isRelative()) {
        qCInfo(System::installerLog) << "dashboard address does not parse, nothing opened:"
                                     << dashboardAddress(context.state.role(), context.state.serverURL());
        return;
    }
    context.platform.openUrl(url);
}

} // namespace Kovel::Installer
