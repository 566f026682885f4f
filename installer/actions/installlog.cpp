#include "installer/actions/installlog.h"

#include "installer/window/installerstate.h"

#include <QMetaObject>

void appendLog(Installer &in, const QString &text)
{
    InstallerState *state = &in.state;
    QMetaObject::invokeMethod(state, [state, text] { state->appendToLog(text); }, Qt::QueuedConnection);
}
