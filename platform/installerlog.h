#pragma once
// The installer's messages for people who debug, on stderr (the journal keeps
// them): what the window keeps out of the install log by design.

#include <QLoggingCategory>

namespace Kovel::System {

Q_DECLARE_LOGGING_CATEGORY(installerLog)

} // namespace Kovel::System
