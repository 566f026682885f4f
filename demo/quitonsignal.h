#pragma once

class QCoreApplication;

namespace Kovel::Demo {

// Makes SIGTERM and SIGINT end the event loop, so the server stops by
// returning from main and lets go of everything it holds in order.
void quitOnSignals(QCoreApplication &app);

} // namespace Kovel::Demo
