#include "platform/commandchain.h"

#include <QProcess>
#include <QTimer>
#include <memory>

namespace {

void runFrom(std::shared_ptr<QList<Command>> commands, qsizetype next, std::function<void()> finished)
{
    if (next >= commands->size()) {
        if (finished)
            finished();
        return;
    }

    const Command &command = commands->at(next);
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);

    // finished() and errorOccurred(FailedToStart) are the two ways a run ends;
    // a crash reports both, so only the first one moves on.
    auto moved = std::make_shared<bool>(false);
    auto moveOn = [=] {
        if (*moved)
            return;
        *moved = true;
        process->deleteLater();
        // Never from inside start(): the caller always gets control back first.
        QTimer::singleShot(0, [=] { runFrom(commands, next + 1, finished); });
    };
    QObject::connect(process, &QProcess::finished, process, [moveOn](int, QProcess::ExitStatus) { moveOn(); });
    QObject::connect(process, &QProcess::errorOccurred, process, [moveOn](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            moveOn();
    });
    process->start(command.program, command.arguments);
}

} // namespace

void runOneAfterAnother(QList<Command> commands, std::function<void()> finished)
{
    auto shared = std::make_shared<QList<Command>>(std::move(commands));
    QTimer::singleShot(0, [shared, finished = std::move(finished)] { runFrom(shared, 0, finished); });
}
