#pragma once
// The sensor agent as a systemd user service ("io.kovel.agent.service").

#include "platform/platform.h"

#include <QString>
#include <functional>

// The unit file's text.
QString systemdAgentUnit(const SensorAgentService &agent, const QString &homeFolder);

// Writes the unit under homeFolder + "/.config/systemd/user/", then has
// `systemctl --user` reload, enable and (re)start it, without blocking;
// `finished` runs afterwards, also when no user systemd is running.
void systemdReplaceAgent(const SensorAgentService &agent, const QString &homeFolder,
                         const QString &systemctl, std::function<void()> finished);
