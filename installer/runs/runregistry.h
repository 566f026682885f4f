#pragma once
// The runs of one installer whose child is under way, so that closing the
// installer can end them.

#include <QHash>
#include <QObject>
#include <functional>

class QProcess;

namespace Kovel::Installer {

// Owned by whoever owns the installer's runs (the controller, a test's rig);
// main thread only. A run may outlive its registry: it then just is no
// longer ended on close.
class RunRegistry
{
public:
    RunRegistry() = default;
    Q_DISABLE_COPY_MOVE(RunRegistry)

    // Keeps `child` (its run's, just about to start) until it has been
    // reaped, has failed to start or is deleted. `abandon` is called when
    // endRuns() ends it first: its run then ends with nothing more done.
    void add(QProcess *child, std::function<void()> abandon);

    // The installer is closing: ends the child of each run under way with
    // everything it started (SIGTERM to its process group, SIGKILL to what
    // is left after `graceMs`). Such a run ends with `running` false and
    // nothing else: no message, no success step. Returns false when no child
    // runs; otherwise `ended` is called on the main thread once they are all
    // gone.
    bool endRuns(std::function<void()> ended, int graceMs = 3000);

private:
    QHash<QProcess *, std::function<void()>> m_abandon;
    // Takes the registry's connections and its watch of ending groups with
    // it when it goes.
    QObject m_lifetime;
};

} // namespace Kovel::Installer
