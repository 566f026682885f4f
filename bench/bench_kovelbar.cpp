// KovelBar as menubar/panel/main.cpp starts it, with two lines on stdout for
// bench_startup:
//   SHOWN <monotonic seconds>              once the panel is first on screen
//   REFRESHED <monotonic seconds> <RSS KiB> once its first refresh has ended, then quits
//
//   bench_kovelbar            no tray (offscreen): the panel opens as a window
//                             once the program has given up waiting for a tray
//   bench_kovelbar --at-once  the panel opened as soon as the program is up,
//                             the way a click on the tray icon opens it

#include "bench/benchreport.h"
#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/panel/kovelbarapp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    Bench::App app(argc, argv);
    const bool atOnce = argc > 1 && qstrcmp(argv[1], "--at-once") == 0;
    QApplication::setApplicationName(QStringLiteral("KovelBar"));
    QApplication::setQuitOnLastWindowClosed(false);

    KovelBarApp kovelBar;
    if (!kovelBar.claimSingleInstance())
        return 2;
    kovelBar.start();

    BarView *panel = kovelBar.panel();
    app.onFirstFrame(panel, [] {
        std::printf("SHOWN %.6f\n", Bench::monotonicSeconds());
        std::fflush(stdout);
    });
    QObject::connect(panel->brain(), &Brain::refreshEnded, &app, [] {
        std::printf("REFRESHED %.6f %lld\n", Bench::monotonicSeconds(), Bench::rssKiB());
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    if (atOnce)
        kovelBar.showPanel();
    return app.exec();
}
