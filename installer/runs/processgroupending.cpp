#include "installer/runs/processgroupending.h"

#include "platform/installerlog.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <memory>

#include <cerrno>
#include <csignal>

namespace Kovel::Installer {

void endProcessGroups(const QList<QProcess *> &children, int graceMs, QObject *owner, std::function<void()> ended)
{
    struct Ending {
        QPointer<QProcess> process;
        pid_t group;
        bool killed = false;
    };
    auto endings = std::make_shared<QList<Ending>>();
    for (QProcess *child : children)
        endings->append({child, pid_t(child->processId())});

    for (const Ending &e : std::as_const(*endings)) {
        qCInfo(System::installerLog) << "closing during a run: ending process group" << e.group;
        ::kill(-e.group, SIGTERM);
        ::kill(e.group, SIGTERM); // in case it has not made its group yet
    }
    // The child is reaped by QProcess; what else is in its group is watched
    // until it is gone or the grace time is over, then killed.
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto *watch = new QTimer(owner);
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
}

} // namespace Kovel::Installer
