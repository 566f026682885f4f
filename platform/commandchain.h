#pragma once
// Runs service manager commands one after the other without blocking.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

struct Command {
    QString program;
    QStringList arguments;
};

// Starts each command once the one before it has ended, then calls `finished`
// on this thread. Children share this process's standard channels, environment
// and working folder. Exit statuses are not read; a command that cannot be
// started is skipped.
void runOneAfterAnother(QList<Command> commands, std::function<void()> finished);
