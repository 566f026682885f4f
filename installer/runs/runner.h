#pragma once
// A child's run with its output streaming into the install log.

#include "installer/core/context.h"
#include "installer/runs/runending.h"

#include <functional>

class QProcess;

namespace Kovel::Installer {

class RunRegistry;

// Starts a configured, not yet started child and streams its merged output
// into the install log; when it ends, sets `running` false and either sets
// `done` and then calls `afterSuccess` (when given) or logs the failure
// message for its status. Returns at once; the runner owns `child` from
// here and deletes it after the run, and the run is in `runs` until its child
// is reaped. A child killed by a signal counts as status 128 + the signal's
// number. `reading` turns the status into the run's end (the setup's table
// unless the caller knows its child better). The child runs in a process
// group of its own.
void runStreaming(Context &context, RunRegistry &runs, QProcess *child, std::function<void()> afterSuccess,
                  StatusReading reading = setupEnding);

} // namespace Kovel::Installer
