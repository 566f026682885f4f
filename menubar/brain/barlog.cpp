#include "menubar/brain/barlog.h"

namespace Kovel::Bar {

Q_LOGGING_CATEGORY(barLog, "kovel.bar")

} // namespace Kovel::Bar
