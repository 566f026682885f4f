#pragma once
// Turning a paired identity into a running sensor: the agent program copied
// to a home of its own, the per-user service that keeps it running, then the
// same finish as a successful setup.

#include <QString>

namespace Kovel::Installer {

struct Context;

// Copies the bundle's agent program to the platform's agent folder (unless
// the installer runs from the package, whose agent is used where it lies) and
// has the service manager replace any earlier agent with one for this
// identity, without blocking. Then, on the main thread: when all of that
// worked, installs the menu bar client, asks for the privacy permissions where
// the system has such panes, logs the completion line (one without "완료" when
// the client was not installed and registered whole) and ends the run as a
// success; otherwise logs a warning with what failed, in the file's or the
// service manager's own words (saying so where the agent is registered and
// only not started now), and ends the run without success.
void installSensorAgent(Context &context, const QString &server, const QString &deviceID, const QString &apiKey);

} // namespace Kovel::Installer
