#include "platform/commandchain.h"

#include "platform/installerlog.h"

#include <QProcess>
#include <QTimer>
#include <memory>

namespace Kovel::System {

namespace {

// Enough of a command's own words for the log; the rest is noise.
constexpr qsizetype keptOutput = 4096;

using Finished = std::function<void(const QString &error)>;

QString commandLine(const Command &command)
{
    return (QStringList{command.program} + command.arguments).join(QLatin1Char(' '));
}

QString failureText(const Command &command, const QByteArray &output, const QString &why)
{
    const QString said = QString::fromUtf8(output).trimmed();
    QString text = commandLine(command) + QStringLiteral(": ");
    if (!said.isEmpty())
        text += said + QStringLiteral(" (") + why + QLatin1Char(')');
    else
        text += why;
    return text;
}

void runFrom(std::shared_ptr<QList<Command>> commands, qsizetype next, Finished finished)
{
    if (next >= commands->size()) {
        if (finished)
            finished(QString());
        return;
    }

    const Command &command = commands->at(next);
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    auto output = std::make_shared<QByteArray>();
    QObject::connect(process, &QProcess::readyRead, process, [process, output] {
        const QByteArray chunk = process->readAll();
        if (output->size() < keptOutput)
            output->append(chunk.left(keptOutput - output->size()));
    });

    // finished() and errorOccurred(FailedToStart) are the two ways a run ends;
    // a crash reports both, so only the first one moves on.
    auto moved = std::make_shared<bool>(false);
    auto moveOn = [=](const QString &failure) {
        if (*moved)
            return;
        *moved = true;
        process->deleteLater();
        const Command &ran = commands->at(next);
        qCDebug(installerLog).noquote() << commandLine(ran) << "->" << (failure.isEmpty() ? QStringLiteral("ok") : failure)
                                        << QString::fromUtf8(*output).trimmed();
        // Never from inside start(): the caller always gets control back first.
        if (!failure.isEmpty() && !ran.mayFail) {
            const QString error = failureText(ran, *output, failure);
            QTimer::singleShot(0, [finished, error] {
                if (finished)
                    finished(error);
            });
            return;
        }
        QTimer::singleShot(0, [=] { runFrom(commands, next + 1, finished); });
    };
    QObject::connect(process, &QProcess::finished, process, [process, output, moveOn](int code, QProcess::ExitStatus status) {
        output->append(process->readAll().left(qMax<qsizetype>(0, keptOutput - output->size())));
        if (status == QProcess::CrashExit)
            moveOn(QStringLiteral("crashed"));
        else if (code != 0)
            moveOn(QStringLiteral("exit status %1").arg(code));
        else
            moveOn(QString());
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, moveOn](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            moveOn(process->errorString());
    });
    process->start(command.program, command.arguments);
}

} // namespace

void runOneAfterAnother(QList<Command> commands, Finished finished)
{
    auto shared = std::make_shared<QList<Command>>(std::move(commands));
    QTimer::singleShot(0, [shared, finished = std::move(finished)] { runFrom(shared, 0, finished); });
}

void finishLater(Finished finished, const QString &error)
{
    QTimer::singleShot(0, [finished = std::move(finished), error] {
        if (finished)
            finished(error);
    });
}

} // namespace Kovel::System
