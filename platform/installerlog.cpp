#include "platform/installerlog.h"

namespace Kovel::System {

Q_LOGGING_CATEGORY(installerLog, "kovel.installer")

} // namespace Kovel::System
