#pragma once
// KovelBar's messages for people who debug, on stderr (the journal keeps them
// for an autostarted program): what the panel keeps silent by design.

#include <QLoggingCategory>

namespace Kovel::Bar {

Q_DECLARE_LOGGING_CATEGORY(barLog)

} // namespace Kovel::Bar
