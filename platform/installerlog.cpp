#include "platform/installerlog.h"

Q_LOGGING_CATEGORY(installerLog, "kovel.installer")
