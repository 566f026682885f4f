#pragma once
// Runs service manager commands one after the other without blocking.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace Kovel::System {

struct Command {
    QString program;
    QStringList arguments;
    // Its failure is expected and harmless (unloading what is not loaded).
    bool mayFail = false;
};

// Starts each command once the one before it has ended, then calls `finished`
// on this thread, never from inside this call. Children share this process's
// standard input, environment and working folder; their output is kept so a
// failure can be told in their own words. The first command that must not fail
// and does (non-zero status, a crash, or it could not be started) ends the
// chain: `finished` gets a text naming the command and what it said; "" when
// every command did its part.
void runOneAfterAnother(QList<Command> commands, std::function<void(const QString &error)> finished);

// Calls `finished` with `error` on this thread once the current step is over,
// as runOneAfterAnother would have.
void finishLater(std::function<void(const QString &error)> finished, const QString &error);

} // namespace Kovel::System
