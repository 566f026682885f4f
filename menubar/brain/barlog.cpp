#include "menubar/brain/barlog.h"

Q_LOGGING_CATEGORY(barLog, "kovel.bar")
