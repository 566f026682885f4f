// The sensor agent as the service manager starts it:
//   kovel agent --server URL --device-id ID --api-key KEY
// It holds its identity and stays up until it is told to stop; collecting is
// not its job yet.

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

int stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const auto n = ::write(stopPipe[1], &byte, 1);
}

bool installStopHandlers()
{
    if (::pipe(stopPipe) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

const char usage[] = "usage: kovel agent --server URL --device-id ID --api-key KEY\n";

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();

    // The one command line the installer writes, in its order.
    if (args.size() != 8 || args[1] != QLatin1String("agent") || args[2] != QLatin1String("--server")
        || args[4] != QLatin1String("--device-id") || args[6] != QLatin1String("--api-key")) {
        std::fputs("kovel: unexpected command line\n", stderr);
        std::fputs(usage, stderr);
        return 2;
    }
    // Neither the key nor any password in the address goes to the log files.
    const QString server = QUrl(args[3]).toString(QUrl::RemoveUserInfo);
    const QString deviceID = args[5];

    if (!installStopHandlers()) {
        std::fputs("kovel: cannot set up signal handling\n", stderr);
        return 1;
    }
    QSocketNotifier stop(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, [] {
        std::fputs("kovel agent stopped\n", stdout);
        std::fflush(stdout);
        QCoreApplication::quit();
    });

    std::printf("kovel agent started: server %s, device %s\n", qUtf8Printable(server), qUtf8Printable(deviceID));
    std::fflush(stdout);
    return app.exec();
}
