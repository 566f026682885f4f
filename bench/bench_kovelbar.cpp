// KovelBar as menubar/tray/main.cpp starts it, with two lines on stdout for
// bench_startup:
//   SHOWN <monotonic seconds>              once the panel is first on screen
//   REFRESHED <monotonic seconds> <RSS KiB> once its first refresh has ended, then quits
//
//   bench_kovelbar            no tray (offscreen): the panel opens as a window
//                             once the program has given up waiting for a tray
//   bench_kovelbar --at-once  the panel opened as soon as the program is up,
//                             the way a click on the tray icon opens it
//   bench_kovelbar --tray     with a tray on the display:
//                             ICON <monotonic seconds>   the tray icon's first paint
//                             CLICK <seconds> PANEL <seconds>  a click's handling to the
//                             panel's first frame, once the program is idle; then quits

#include "bench/benchreport.h"
#include "menubar/brain/brain.h"
#include "menubar/panel/barview.h"
#include "menubar/tray/kovelbarapp.h"

#include <QApplication>
#include <QTimer>

using namespace Kovel::Bar;

int main(int argc, char *argv[])
{
    Bench::App app(argc, argv);
    const bool atOnce = argc > 1 && qstrcmp(argv[1], "--at-once") == 0;
    QApplication::setApplicationName(QStringLiteral("KovelBar"));
    QApplication::setQuitOnLastWindowClosed(false);

    const bool tray = argc > 1 && qstrcmp(argv[1], "--tray") == 0;
    // The tray icon's window, painted: its first paint is when it is drawn.
    struct IconPaint : QObject {
        bool seen = false;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (!seen && e->type() == QEvent::Paint && o->isWidgetType()
                && qstrcmp(o->metaObject()->className(), "QSystemTrayIconSys") == 0) {
                seen = true;
                std::printf("ICON %.6f\n", Bench::monotonicSeconds());
                std::fflush(stdout);
            }
            return false;
        }
    } iconPaint;
    if (tray)
        app.installEventFilter(&iconPaint);

    KovelBarApp kovelBar;
    if (!kovelBar.singleInstance().claim())
        return 2;
    kovelBar.start();

    if (tray) {
        // A second after start, with the icon drawn and the program idle, the
        // tray's click: what the icon's activation does, timed to the panel's
        // first frame.
        QTimer::singleShot(1000, &app, [&] {
            BarView *panel = kovelBar.popup().panel();
            const double click = Bench::monotonicSeconds();
            app.onFirstFrame(panel, [click] {
                std::printf("CLICK %.6f PANEL %.6f\n", click, Bench::monotonicSeconds());
                std::fflush(stdout);
                QTimer::singleShot(0, [] { QCoreApplication::quit(); });
            });
            kovelBar.popup().togglePanel();
        });
        return app.exec();
    }
    BarView *panel = kovelBar.popup().panel();
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
        kovelBar.popup().showPanel();
    return app.exec();
}
