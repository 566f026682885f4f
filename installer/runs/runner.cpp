#include "installer/runs/runner.h"

#include "installer/core/installerstate.h"
#include "installer/core/installlog.h"
#include "installer/runs/outputreader.h"
#include "installer/runs/runregistry.h"
#include "platform/installerlog.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QProcess>
#include <memory>

#include <unistd.h>

namespace Kovel::Installer {

namespace {

struct Run {
    Context context;
    StatusReading reading;
    std::function<void()> afterSuccess;
    QPointer<OutputReader> output;
    bool ended = false;
    // The installer is closing: the run ends with nothing more done.
    bool abandoned = false;

    // On the main thread, after every piece of output has been handed to the log.
    void end(int status)
    {
        context.state.setRunning(false);
        if (abandoned) {
            qCInfo(System::installerLog) << "run ended while the installer closes, status" << status;
            return;
        }
        const RunEnding ending = reading(status);
        qCInfo(System::installerLog) << "run ended with status" << status << (ending.success ? "(success)" : "(failure)");
        if (!ending.success) {
            context.state.setDone(false);
            context.state.setDashboardOffered(ending.offersDashboard);
            appendLog(context, QStringLiteral("\n") + ending.message + QStringLiteral("\n"));
            return;
        }
        context.state.setDone(true);
        if (afterSuccess)
            afterSuccess();
    }
};

} // namespace

void runStreaming(Context &context, RunRegistry &runs, QProcess *child, std::function<void()> afterSuccess,
                  StatusReading reading)
{
    // The run's state lives as long as its handlers; the context is copied
    // (it only refers to the program's one state and platform).
    auto run = std::make_shared<Run>(Run{context, std::move(reading), std::move(afterSuccess), {}, false, false});
    InstallerState *state = &context.state;

    if (!child->parent())
        child->setParent(state);

    // The output goes through a pipe of the runner's own rather than
    // QProcess's: QProcess reads without bound into buffers of its own, while
    // this one reads only as fast as the window takes the text in, and
    // decodes it off the main thread.
    auto *output = new OutputReader([state](const QString &piece) {
        // Texts queued for the log before this piece come first.
        QCoreApplication::sendPostedEvents(state, QEvent::MetaCall);
        state->appendToLog(piece);
    }, state);
    run->output = output;
    if (const QString error = output->open(); !error.isEmpty()) {
        delete output;
        child->deleteLater();
        appendLog(context, QStringLiteral("실행 오류: ") + error + QStringLiteral("\n"));
        QMetaObject::invokeMethod(state, [state] { state->setRunning(false); }, Qt::QueuedConnection);
        return;
    }
    child->setProcessChannelMode(QProcess::ForwardedChannels);
    // Standard input is the installer's own, not a pipe nobody writes to.
    child->setInputChannelMode(QProcess::ForwardedInputChannel);
    child->setChildProcessModifier([before = child->childProcessModifier(), out = output->childEnd()] {
        if (before)
            before();
        // A session and process group of its own, so everything the child
        // starts can be ended with it when the installer closes mid-run (and
        // no terminal can stop it for reading).
        ::setsid();
        // Standard output and error both into the one pipe, in the order written.
        if (::dup2(out, STDOUT_FILENO) < 0 || ::dup2(out, STDERR_FILENO) < 0)
            ::_exit(127);
    });

    QObject::connect(child, &QProcess::finished, child,
                     [run, child](int exitCode, QProcess::ExitStatus exitStatus) {
        if (run->ended)
            return;
        run->ended = true;
        // On a signal QProcess reports the signal's number; shells report 128 + it,
        // which keeps a killed child out of the table's specific sentences.
        const int status = exitStatus == QProcess::CrashExit ? 128 + exitCode : exitCode;
        child->deleteLater();
        // Whatever the child wrote goes to the log before the end step does.
        OutputReader *output = run->output;
        auto end = [run, status] {
            QMetaObject::invokeMethod(&run->context.state, [run, status] { run->end(status); }, Qt::QueuedConnection);
        };
        if (!output) {
            end();
            return;
        }
        output->finish([output, end] {
            output->deleteLater();
            end();
        });
    });

    QObject::connect(child, &QProcess::errorOccurred, child, [run, child](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || run->ended)
            return;
        run->ended = true;
        if (run->output)
            run->output->deleteLater();
        appendLog(run->context, QStringLiteral("실행 오류: ") + child->errorString() + QStringLiteral("\n"));
        InstallerState *state = &run->context.state;
        QMetaObject::invokeMethod(state, [state] { state->setRunning(false); }, Qt::QueuedConnection);
        child->deleteLater();
    });

    runs.add(child, [weak = std::weak_ptr<Run>(run)] {
        if (const std::shared_ptr<Run> abandoned = weak.lock())
            abandoned->abandoned = true;
    });
    child->start();
    output->closeChildEnd();
}

} // namespace Kovel::Installer
