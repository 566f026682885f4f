#pragma once
// Ending children that lead process groups of their own together with
// everything they started.

#include <QList>
#include <functional>

class QObject;
class QProcess;

namespace Kovel::Installer {

// SIGTERM to each child's process group now, SIGKILL to what is left of a
// group after `graceMs`. The children are reaped by their QProcess; `ended`
// is called on the main thread once every child has been reaped and every
// group is gone or killed. The watch lives under `owner` and stops with it.
void endProcessGroups(const QList<QProcess *> &children, int graceMs, QObject *owner,
                      std::function<void()> ended);

} // namespace Kovel::Installer
