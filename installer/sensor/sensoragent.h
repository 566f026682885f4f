#pragma once
// Turning a paired identity into a running sensor: the per-user service that
// keeps the sensor agent running, then the same finish as a successful setup.

#include <QString>

struct Installer;

// Has the platform's service manager replace any earlier agent with one for
// this identity, without blocking; then, on the main thread, installs the menu
// bar client, opens the privacy panes, logs the completion line and ends the
// run as a success (also when the service manager failed).
void installSensorAgent(Installer &in, const QString &server, const QString &deviceID, const QString &apiKey);
