#pragma once

#include "demo/loopstore.h"

#include <QByteArray>

namespace Kovel::Demo {

// The dashboard page: the open loops and a button that asks for a pairing
// code. Self-contained HTML, no outside assets.
QByteArray dashboardPage(const LoopStore &loops, qsizetype pairedDevices, qint64 codeLifetimeMs);
// The header lines the page is sent with: its type, and a policy that lets
// it run only its own script and never be framed.
QByteArray dashboardFields();

} // namespace Kovel::Demo
