// Kovel, the installer: one window that sets this machine up as a brain, a
// sensor or both, and connects its AI tools.

#include "installer/core/bundlepaths.h"
#include "installer/window/contentview.h"
#include "installer/window/kovelapp.h"
#include "platform/linux/linuxplatform.h"
#include "platform/mac/macplatform.h"

#include <QApplication>

using namespace Kovel;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The system's side of the installer, for the process's life.
#ifdef Q_OS_MACOS
    System::MacPlatform platform;
#else
    System::LinuxPlatform platform;
#endif
    const QString bundle = Installer::bundleFolderOfRunningProgram();
    Installer::KovelApp kovel(platform, bundle, Installer::isPackagedBundle(bundle));
    // Closing mid-run hides the window until the run's child has ended;
    // only then does the installer quit.
    QObject::connect(&kovel.window(), &Installer::ContentView::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    kovel.show();
    return app.exec();
}
