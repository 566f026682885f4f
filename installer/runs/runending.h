#pragma once
// How a run ends for its child's exit status, and the sentences a failure
// shows.

#include <QString>
#include <functional>

namespace Kovel::Installer {

struct RunEnding {
    bool success = false;
    QString message;              // a failure's line, without the framing newlines
    bool offersDashboard = false; // the dashboard button is shown after this failure
};
using StatusReading = std::function<RunEnding(int status)>;

// The setup script's reading: 0 succeeds, anything else fails with
// failureMessage(); after 7 (port taken) the dashboard is offered too.
RunEnding setupEnding(int status);

// The sentence the user sees for a non-zero exit status.
QString failureMessage(int status);

} // namespace Kovel::Installer
