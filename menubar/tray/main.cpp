#include "menubar/tray/kovelbarapp.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KovelBar"));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.kovel.KovelBar"));
    // A tray program: hiding the panel must not end it; only "종료" does.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption replace(QStringLiteral("replace"),
                                     QStringLiteral("Ask a running copy to quit, then run in its place."));
    parser.addOption(replace);
    parser.process(app);

    Kovel::Bar::KovelBarApp kovelBar;
    // Started twice (at login and by the installer): the second copy shows
    // the first one's panel and leaves, or with --replace takes its place.
    QObject::connect(&kovelBar, &Kovel::Bar::KovelBarApp::exitRequested, &app,
                     [](int status) { QCoreApplication::exit(status); }, Qt::QueuedConnection);
    kovelBar.launch(parser.isSet(replace));
    return app.exec();
}
