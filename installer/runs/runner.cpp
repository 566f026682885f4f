#include "installer/runs/runner.h"

#include "installer/core/installerstate.h"
#include "installer/core/installlog.h"
#include "installer/finishing/dashboard.h"
#include "installer/finishing/menubarinstall.h"
#include "installer/finishing/permissionpanes.h"
#include "installer/runs/outputreader.h"
#include "platform/installerlog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QMetaObject>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <memory>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace Kovel::Installer {

QString failureMessage(int status)
{
    switch (status) {
    case 2:
    case 3:
    case 4:
        return QStringLiteral("⚠️ AI 엔진(Ollama) 준비에 실패했어요. 인터넷 연결을 확인하고 [시작]을 다시 눌러주세요.");
    case 5:
        return QStringLiteral("⚠️ 이 맥은 인텔 칩이라 올인원(브레인) 실행이 안 돼요. 다른 맥/서버를 브레인으로 쓰고 이 맥은 '센서'로 연결하세요.");
    case 6:
        return QStringLiteral("⚠️ 브레인 서버를 시작하지 못했어요. [시작]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요.");
    case 7:
        return QStringLiteral("⚠️ 8900 포트가 이미 사용 중이에요. 이미 실행 중이면 [대시보드 열기]를, 아니면 그 프로그램을 끄고 다시 시작하세요.");
    case 8:
        return QStringLiteral("⚠️ 디스크 공간이 부족해요(약 6GB 필요). 공간을 확보하고 [시작]을 다시 눌러주세요.");
    case 9:
        return QStringLiteral("⚠️ AI 모델 다운로드가 중간에 끊겼어요. 인터넷을 확인하고 [시작]을 다시 누르면 이어받아요.");
    case 10:
        return QStringLiteral("⚠️ AI 구독 로그인이 필요해요. 터미널에서 claude(또는 codex)를 실행해 로그인한 뒤 [시작]을 다시 눌러주세요.");
    default:
        return QStringLiteral("⚠️ 설치가 완료되지 못했어요 (코드 ") + QString::number(status)
            + QStringLiteral("). [시작]을 다시 눌러주세요. 계속 실패하면 위 로그를 알려주세요.");
    }
}

RunEnding setupEnding(int status)
{
    if (status == 0)
        return {true, {}, false};
    // The port may be taken by a brain that already runs: its dashboard is
    // then what the message sends the user to.
    return {false, failureMessage(status), status == 7};
}

namespace {

struct Run {
    Context context;
    StatusReading reading;
    QPointer<OutputReader> output;
    bool ended = false;
    // The installer is closing: the run ends with nothing more done.
    bool abandoned = false;
};

// The runs whose child has been started and not yet reaped, main thread only.
QHash<QProcess *, std::weak_ptr<Run>> &liveRuns()
{
    static QHash<QProcess *, std::weak_ptr<Run>> runs;
    return runs;
}

// Runs on the main thread after every piece of output has been handed to the log.
void finishRun(Run &run, int status, bool finishOpensDashboard)
{
    Context &context = run.context;
    context.state.setRunning(false);
    if (run.abandoned) {
        qCInfo(System::installerLog) << "run ended while the installer closes, status" << status;
        return;
    }
    const RunEnding ending = run.reading(status);
    qCInfo(System::installerLog) << "run ended with status" << status << (ending.success ? "(success)" : "(failure)");
    if (!ending.success) {
        context.state.setDone(false);
        context.state.setDashboardOffered(ending.offersDashboard);
        appendLog(context, QStringLiteral("\n") + ending.message + QStringLiteral("\n"));
        return;
    }
    context.state.setDone(true);
    if (finishOpensDashboard) {
        installMenubar(context);
        openPermissionPanes(context);
        openDashboard(context);
    }
}

} // namespace

void runStreaming(Context &context, QProcess *process, bool finishOpensDashboard, StatusReading reading)
{
    // The run's state lives as long as its handlers; the Installer is copied
    // (it only refers to the program's one state and platform).
    auto run = std::make_shared<Run>(Run{context, std::move(reading), {}, false, false});
    InstallerState *state = &context.state;

    if (!process->parent())
        process->setParent(state);

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
        process->deleteLater();
        appendLog(context, QStringLiteral("실행 오류: ") + error + QStringLiteral("\n"));
        QMetaObject::invokeMethod(state, [state] { state->setRunning(false); }, Qt::QueuedConnection);
        return;
    }
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // Standard input is the installer's own, not a pipe nobody writes to.
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    process->setChildProcessModifier([before = process->childProcessModifier(), out = output->childEnd()] {
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

    QObject::connect(process, &QProcess::finished, process,
                     [run, process, finishOpensDashboard](int exitCode, QProcess::ExitStatus exitStatus) {
        if (run->ended)
            return;
        run->ended = true;
        liveRuns().remove(process);
        // On a signal QProcess reports the signal's number; shells report 128 + it,
        // which keeps a killed child out of the table's specific sentences.
        const int status = exitStatus == QProcess::CrashExit ? 128 + exitCode : exitCode;
        process->deleteLater();
        // Whatever the child wrote goes to the log before the end step does.
        OutputReader *output = run->output;
        auto end = [run, status, finishOpensDashboard] {
            QMetaObject::invokeMethod(&run->context.state, [run, status, finishOpensDashboard] {
                finishRun(*run, status, finishOpensDashboard);
            }, Qt::QueuedConnection);
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

    QObject::connect(process, &QProcess::errorOccurred, process, [run, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || run->ended)
            return;
        run->ended = true;
        liveRuns().remove(process);
        if (run->output)
            run->output->deleteLater();
        appendLog(run->context, QStringLiteral("실행 오류: ") + process->errorString() + QStringLiteral("\n"));
        InstallerState *state = &run->context.state;
        QMetaObject::invokeMethod(state, [state] { state->setRunning(false); }, Qt::QueuedConnection);
        process->deleteLater();
    });
    QObject::connect(process, &QObject::destroyed, [process] { liveRuns().remove(process); });

    liveRuns().insert(process, run);
    process->start();
    output->closeChildEnd();
}

bool endRuns(Context &context, std::function<void()> ended, int graceMs)
{
    struct Ending {
        QPointer<QProcess> process;
        pid_t group;
        bool killed = false;
    };
    auto endings = std::make_shared<QList<Ending>>();
    for (auto it = liveRuns().cbegin(); it != liveRuns().cend(); ++it) {
        const std::shared_ptr<Run> run = it.value().lock();
        if (!run || &run->context.state != &context.state || run->ended || it.key()->processId() <= 0)
            continue;
        run->abandoned = true;
        endings->append({it.key(), pid_t(it.key()->processId())});
    }
    if (endings->isEmpty())
        return false;

    for (const Ending &e : std::as_const(*endings)) {
        qCInfo(System::installerLog) << "closing during a run: ending process group" << e.group;
        ::kill(-e.group, SIGTERM);
        ::kill(e.group, SIGTERM); // in case it has not made its group yet
    }
    // The child is reaped by QProcess; what else is in its group is watched
    // until it is gone or the grace time is over, then killed.
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto *watch = new QTimer(&context.state);
    watch->setInterval(50);
    QObject::connect(watch, &QTimer::timeout, watch, [watch, endings, clock, graceMs, ended = std::move(ended)] {
        bool left = false;
        for (Ending &e : *endings) {
            const bool childGone = !e.process || e.process->state() == QProcess::NotRunning;
            const bool groupGone = ::kill(-e.group, 0) != 0 && errno == ESRCH;
            if (!e.killed && clock->elapsed() >= graceMs && !(childGone && groupGone)) {
                qCWarning(System::installerLog) << "process group" << e.group << "still running after"
                                        << graceMs << "ms: killing it";
                ::kill(-e.group, SIGKILL);
                ::kill(e.group, SIGKILL);
                e.killed = true;
            }
            if (!childGone || (!groupGone && !e.killed))
                left = true;
        }
        if (left)
            return;
        watch->stop();
        watch->deleteLater();
        if (ended)
            ended();
    });
    watch->start();
    return true;
}

} // namespace Kovel::Installer
