#pragma once

#include "installer/actions/installer.h"

#include <QString>

class QProcess;

// Starts a configured, not yet started child and streams its merged output
// into the install log; when it ends, sets `running` false and either sets
// `done` (status 0, then the finishing operations when `finishOpensDashboard`)
// or logs the failure message for its status. Returns at once; the runner owns
// `process` from here and deletes it after the run.
// A child killed by a signal counts as status 128 + the signal's number.
void runStreaming(Installer &in, QProcess *process, bool finishOpensDashboard);

// The sentence the user sees for a non-zero exit status.
QString failureMessage(int status);
