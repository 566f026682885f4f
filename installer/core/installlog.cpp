#include "installer/core/installlog.h"

#include "installer/core/installerstate.h"

#include <QMetaObject>

namespace Kovel::Installer {

void appendLog(Context &context, const QString &text)
{
    InstallerState *state = &context.state;
    QMetaObject::invokeMethod(state, [state, text] { state->appendToLog(text); }, Qt::QueuedConnection);
}

} // namespace Kovel::Installer
