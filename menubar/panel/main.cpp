#include "menubar/panel/kovelbarapp.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KovelBar"));
    // A tray program: hiding the panel must not end it; only "종료" does.
    QApplication::setQuitOnLastWindowClosed(false);

    KovelBarApp kovelBar;
    // Started twice (at login and by the installer): the second copy leaves quietly.
    if (!kovelBar.claimSingleInstance())
        return 0;
    kovelBar.start();
    return app.exec();
}
