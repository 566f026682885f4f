// Kovel, the installer: one window that sets this machine up as a brain, a
// sensor or both, and connects its AI tools.

#include "installer/actions/bundlepaths.h"
#include "installer/window/contentview.h"
#include "installer/window/kovelapp.h"
#include "platform/platform.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString bundle = bundleFolderOfRunningProgram();
    KovelApp kovel(Platform::current(), bundle, isPackagedBundle(bundle));
    // Closing mid-run hides the window until the run's child has ended;
    // only then does the installer quit.
    QObject::connect(&kovel.window(), &ContentView::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    kovel.show();
    return app.exec();
}
