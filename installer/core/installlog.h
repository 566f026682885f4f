#pragma once

#include "installer/core/context.h"

#include <QString>

namespace Kovel::Installer {

// The install log's one way in, from any thread. The text lands at the end of
// the log later, on the main thread, in the order of the calls; a call made on
// the main thread too waits until the current step has finished.
void appendLog(Context &context, const QString &text);

} // namespace Kovel::Installer
