#pragma once

#include "installer/core/context.h"

#include <QString>
#include <functional>

class QProcess;

namespace Kovel::Installer {

// How a run ends for its exit status.
struct RunEnding {
    bool success = false;
    QString message;              // a failure's line, without the framing newlines
    bool offersDashboard = false; // the dashboard button is shown after this failure
};
using StatusReading = std::function<RunEnding(int status)>;

// The setup script's reading: 0 succeeds, anything else fails with
// failureMessage(); after 7 (port taken) the dashboard is offered too.
RunEnding setupEnding(int status);

// Starts a configured, not yet started child and streams its merged output
// into the install log; when it ends, sets `running` false and either sets
// `done` (status 0, then the finishing operations when `finishOpensDashboard`)
// or logs the failure message for its status. Returns at once; the runner owns
// `process` from here and deletes it after the run.
// A child killed by a signal counts as status 128 + the signal's number.
// `reading` turns the status into the run's end (the setup's table unless
// the caller knows its child better). The child runs in a process group of
// its own.
void runStreaming(Context &context, QProcess *process, bool finishOpensDashboard,
                  StatusReading reading = setupEnding);

// The installer is closing: ends the child of each run under way on `in`
// with everything it started (SIGTERM to its process group, SIGKILL to what
// is left after `graceMs`). Such a run ends with `running` false and nothing
// else: no message, no finishing step. Returns false when no child runs;
// otherwise `ended` is called on the main thread once they are all gone.
bool endRuns(Context &context, std::function<void()> ended, int graceMs = 3000);

// The sentence the user sees for a non-zero exit status.
QString failureMessage(int status);

} // namespace Kovel::Installer
