#pragma once
// The start button's run: pairing for a sensor, the bundled setup script for
// a brain.

#include "installer/actions/installer.h"

#include <QString>

// Begins a fresh run (running, not done, empty log) and hands it on by role.
void start(Installer &in);

// Runs the bundle's setup script with the role (`roleValue`, its raw value)
// and engine in its environment, streaming its output into the log; a
// successful script is followed by the finishing steps. Returns at once.
void startBootstrap(Installer &in, const QString &roleValue);
