#pragma once
// The sensor agent as a systemd user service ("io.kovel.agent.service").

#include "platform/platform.h"

#include <QProcessEnvironment>
#include <QString>
#include <functional>

namespace Kovel::System {

// An XDG base folder: `variable` from the environment when it holds an
// absolute path (the XDG rule), else the home folder followed by
// `underHome` (e.g. "/.config").
QString xdgBaseFolder(const QProcessEnvironment &environment, const QString &homeFolder,
                      const QString &variable, const QString &underHome);

// Where the agent's API key is kept, under the XDG config folder: a file only
// the user can read, so the key is on no command line.
QString systemdAgentKeyFile(const QString &configFolder);

// The unit file's text. The agent reads its key from `keyFile`; its output
// goes to the journal.
QString systemdAgentUnit(const SensorAgentService &agent, const QString &keyFile);

// Writes the key file (0600, in a folder made 0700) and the unit under
// configFolder + "/systemd/user/", then has `systemctl --user` reload, enable
// and (re)start it, without blocking. `finished` gets no error, or what
// failed: a folder or file (then systemctl is not run), or the first systemctl
// run that failed or could not start. When only the restart failed, the unit
// is enabled all the same and starts at the next login (`startsAtLogin`).
void systemdReplaceAgent(const SensorAgentService &agent, const QString &configFolder,
                         const QString &systemctl, std::function<void(const AgentServiceResult &result)> finished);

} // namespace Kovel::System
