#pragma once

#include "demo/loopstore.h"

#include <QString>

namespace Kovel::Demo {

// Today's briefing: the sample schedule, the most pressing open loops and a
// line of yesterday's context, as text ready to show.
QString composeBriefing(const LoopStore &loops);

} // namespace Kovel::Demo
