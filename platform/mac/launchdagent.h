#pragma once
// The sensor agent as a launchd per-user agent ("io.kovel.agent").

#include "platform/platform.h"

#include <QString>
#include <functional>

namespace Kovel::System {

// The agent's property list text, exactly as launchd is to read it.
QString launchdAgentPlist(const SensorAgentService &agent, const QString &homeFolder);

// Writes the property list under homeFolder + "/Library/LaunchAgents/" (made
// 0755 when missing), then runs `launchctl` "bootout" and "bootstrap" one
// after the other in the user's "gui/<uid>" domain, without blocking.
// `finished` gets "" or what failed: the folder or the file (then launchctl is
// not run and a loaded agent stays as it was), or bootstrap. A failing bootout
// is expected (nothing loaded yet) and not a failure.
void launchdReplaceAgent(const SensorAgentService &agent, const QString &homeFolder, uint userId,
                         const QString &launchctl, std::function<void(const QString &error)> finished);

} // namespace Kovel::System
