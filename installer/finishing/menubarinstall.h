#pragma once
// Installing and starting the menu bar client shipped in the bundle. Main
// thread only.

#include "installer/core/context.h"

namespace Kovel::Installer {

// Copies the client shipped in the bundle over the installed one, registers it
// to start at login, starts it (a running copy quits for it) and says so in
// the log; a step that fails says so with a warning line instead. Without a
// client in the bundle nothing at all happens. The installed client is
// replaced only by a complete copy; when the copy fails (or is refused, in a
// folder of another user) nothing is registered or started. Installed by the
// package, the bundle's own client is registered and started, nothing is copied.
// True when every step went ahead (no warning line), or there was nothing to install.
bool installMenubar(Context &context);

} // namespace Kovel::Installer
